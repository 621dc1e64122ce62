// The health check: 503 exactly when the till cannot take payments (listener down, library not
// loadable), and each part's state in the JSON.
#include "metrics/Health.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

#include "ProbeFixture.h"
#include "tests/unit/support/TempDir.h"

namespace kelvora::metrics {
namespace {

using testing::ProbeOf;
using testing::TProbeValues;

TEST(BuildHealth, Answers503OnlyWhenTheTillCannotTakePayments) {
  const kelvora::testing::TempDir base;
  const struct {
    const char* Name;
    bool ListenerUp;
    TLibraryState Library;
    std::optional<bool> Pinpad;
    int Status;
  } cases[] = {
      {"all well", true, TLibraryState::Loaded, true, 200},
      {"library not loaded yet", true, TLibraryState::NotLoaded, std::nullopt, 200},
      {"pin-pad absent at the last check", true, TLibraryState::Loaded, false, 200},
      {"listener down", false, TLibraryState::Loaded, true, 503},
      {"library not loadable", true, TLibraryState::LoadFailed, std::nullopt, 503},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TProbeValues values;
    values.ListenerUp = c.ListenerUp;
    TEventState state;
    state.Library = c.Library;
    state.PinpadPresent = c.Pinpad;
    const THealth health =
        BuildHealth(ProbeOf(values, base.Path()), state, std::chrono::system_clock::now());
    EXPECT_EQ(health.Status, c.Status);
    const nlohmann::json body = nlohmann::json::parse(health.Body);
    EXPECT_EQ(body["status"], c.Status == 200 ? "ok" : "unavailable");
    EXPECT_EQ(body["listener"]["up"], c.ListenerUp);
  }
}

TEST(BuildHealth, ReportsEachPart) {
  const kelvora::testing::TempDir base;
  std::filesystem::create_directories(base.Path() / "TEF" / "RegistrosAPI");
  std::ofstream(base.Path() / "TEF" / "KoCliSiTef_CliSiTef_001.tef") << "x";
  std::ofstream(base.Path() / "TEF" / "RegistrosAPI" / "a.json") << "{}";
  std::ofstream(base.Path() / "TEF" / "RegistrosAPI" / "b.json") << "{}";
  TProbeValues values;
  TEventState state;
  state.Library = TLibraryState::LoadFailed;
  // A loader's text with a byte that is not UTF-8 must not stop the answer.
  state.LibraryError = "cannot open /x/\xff.dll";
  state.PinpadPresent = false;
  state.PinpadCheckedAt = 1767225600;  // 2026-01-01T00:00:00Z
  state.LastError = "Falha ao carregar a biblioteca do SiTef";
  state.LastErrorAt = 1767225660;
  const THealth health =
      BuildHealth(ProbeOf(values, base.Path()), state, std::chrono::system_clock::now());
  const nlohmann::json body = nlohmann::json::parse(health.Body);
  EXPECT_EQ(body["listener"], (nlohmann::json{{"up", true}, {"port", 8443}}));
  EXPECT_EQ(body["library"]["state"], "load_failed");
  EXPECT_EQ(body["library"]["error"], "cannot open /x/\xEF\xBF\xBD.dll");
  EXPECT_EQ(body["pinpad"],
            (nlohmann::json{{"present", false}, {"checked_at", "2026-01-01T00:00:00Z"}}));
  EXPECT_EQ(body["backups"]["pending"], 1);
  EXPECT_EQ(body["sales_reports"]["pending"], 2);
  EXPECT_EQ(body["last_error"],
            (nlohmann::json{{"message", state.LastError}, {"at", "2026-01-01T00:01:00Z"}}));
}

}  // namespace
}  // namespace kelvora::metrics
