// The catalogue of the service's events, the Windows message table that must name the same ids,
// and what an event carries into the system log.
#include "service/SystemEvents.h"

#include "RecordingSystemLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace kelvora::service {
namespace {

using testing::RecordedEntries;
using testing::RecordingSystemLog;

// The SymbolicName the message table gives an event name: "payment-approved" is
// KELVORA_PAYMENT_APPROVED.
std::string SymbolicName(std::string_view name) {
  std::string symbol = "KELVORA_";
  for (const char c : name) symbol += c == '-' ? '_' : static_cast<char>(std::toupper(c));
  return symbol;
}

// MessageId -> SymbolicName of every message in the .mc file.
std::map<uint32_t, std::string> MessageTable() {
  std::ifstream in(KELVORA_EVENTS_MC, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string mc = text.str();
  const std::regex message(R"(MessageId=(\d+)\s+Severity=\w+\s+Facility=\w+\s+SymbolicName=(\w+))");
  std::map<uint32_t, std::string> table;
  for (std::sregex_iterator it(mc.begin(), mc.end(), message), end; it != end; ++it) {
    table.emplace(static_cast<uint32_t>(std::stoul((*it)[1])), (*it)[2]);
  }
  return table;
}

TEST(SystemEvents, EveryEventHasItsOwnIdAndNameAndItsMessageInTheWindowsTable) {
  std::set<uint32_t> ids;
  std::set<std::string_view> names;
  std::map<uint32_t, std::string> expected;
  for (const TSystemEventType& type : SystemEventTypes()) {
    EXPECT_TRUE(ids.insert(static_cast<uint32_t>(type.Id)).second) << type.Name;
    EXPECT_TRUE(names.insert(type.Name).second) << type.Name;
    expected.emplace(static_cast<uint32_t>(type.Id), SymbolicName(type.Name));
  }
  // Windows shows a number with no text for an id its message table lacks.
  EXPECT_EQ(MessageTable(), expected);
}

TEST(SystemEvents, AnEventCarriesItsIdNameSeverityAndFieldsWithControlCharactersEscaped) {
  auto entries = std::make_shared<RecordedEntries>();
  const TSystemEvents events(std::make_unique<RecordingSystemLog>(entries));
  events.Report(TSystemEventId::SaleReportFailed, "Erro ao registrar transação na API: a\r\nb",
                {{"NSU", "12\n3"}});
  const auto recorded = entries->Entries();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].EventId, 400u);
  EXPECT_EQ(recorded[0].EventName, "sale-report-failed");
  EXPECT_EQ(recorded[0].Severity, platform::SystemLogSeverity::Error);
  // A text from the API must not forge a second journal line or event.
  EXPECT_EQ(recorded[0].Message, "Erro ao registrar transação na API: a\\r\\nb");
  EXPECT_EQ(recorded[0].Fields, (std::map<std::string, std::string>{{"NSU", "12\\n3"}}));
}

}  // namespace
}  // namespace kelvora::service
