// The day's operations as CSV or JSON, with the totals a store's closing adds up.
#include "protocol/OperationsReport.h"

#include <map>
#include <vector>

#include "protocol/OperationJournal.h"

namespace kelvora::protocol {
namespace {

// Two decimals with a point, as spreadsheets and accounting imports read amounts.
std::string AmountText(platform::Currency amount) {
  const int64_t cents = amount.ToCents();
  const int64_t whole = (cents < 0 ? -cents : cents) / 100;
  const int64_t rest = (cents < 0 ? -cents : cents) % 100;
  return std::string(cents < 0 ? "-" : "") + std::to_string(whole) + "." + (rest < 10 ? "0" : "") +
         std::to_string(rest);
}

// A CSV field: quoted when it holds a separator, a quote or a line end; a leading character a
// spreadsheet would run as a formula is neutralised with a quote.
std::string CsvField(std::string text) {
  if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@')) {
    text.insert(0, "'");
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string ReportState(const TJournalOperation& operation) {
  if (!operation.ReportSent) return "";
  return *operation.ReportSent ? "sent" : "pending";
}

struct TTotal {
  int Count = 0;
  platform::Currency Amount;
};

// Totals by kind and final status, in a fixed order.
std::map<std::pair<std::string, std::string>, TTotal> Totals(
    const std::vector<TJournalOperation>& operations) {
  std::map<std::pair<std::string, std::string>, TTotal> totals;
  for (const TJournalOperation& operation : operations) {
    TTotal& total =
        totals[{std::string(KindName(operation.Kind)), std::string(StatusName(operation.Status))}];
    ++total.Count;
    total.Amount = platform::Currency::FromRaw(total.Amount.Raw() + operation.Amount.Raw());
  }
  return totals;
}

std::string Csv(const std::vector<TJournalOperation>& operations) {
  std::string text =
      "time,sale_id,kind,amount,installments,nsu,authorizer_nsu,status,report,idempotency_key\n";
  for (const TJournalOperation& operation : operations) {
    text += CsvField(platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", operation.RequestedLocal)) +
            "," + std::to_string(operation.SaleId) + "," + std::string(KindName(operation.Kind)) +
            "," + AmountText(operation.Amount) + "," + std::to_string(operation.Installments) +
            "," + CsvField(operation.Nsu) + "," + CsvField(operation.AuthorizerNsu) + "," +
            std::string(StatusName(operation.Status)) + "," + ReportState(operation) + "," +
            CsvField(operation.Key) + "\n";
  }
  text += "\ntotal,kind,status,count,amount\n";
  for (const auto& [group, total] : Totals(operations)) {
    text += "total," + group.first + "," + group.second + "," + std::to_string(total.Count) + "," +
            AmountText(total.Amount) + "\n";
  }
  return text;
}

std::string JsonReport(platform::TDateTime day, const std::vector<TJournalOperation>& operations) {
  Json report = Json::object();
  report["date"] = platform::FormatDateTime("yyyy-mm-dd", day);
  Json list = Json::array();
  for (const TJournalOperation& operation : operations) {
    Json element = Json::object();
    element["time"] = platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", operation.RequestedLocal);
    element["sale_id"] = operation.SaleId;
    element["kind"] = std::string(KindName(operation.Kind));
    element["amount"] = static_cast<double>(operation.Amount.Raw()) / 10000.0;
    element["installments"] = operation.Installments;
    element["nsu"] = operation.Nsu;
    element["authorizer_nsu"] = operation.AuthorizerNsu;
    element["status"] = std::string(StatusName(operation.Status));
    element["report"] = ReportState(operation);
    element["idempotency_key"] = operation.Key;
    list.push_back(std::move(element));
  }
  report["operations"] = std::move(list);
  Json totals = Json::array();
  for (const auto& [group, total] : Totals(operations)) {
    Json element = Json::object();
    element["kind"] = group.first;
    element["status"] = group.second;
    element["count"] = total.Count;
    element["amount"] = static_cast<double>(total.Amount.Raw()) / 10000.0;
    totals.push_back(std::move(element));
  }
  report["totals"] = std::move(totals);
  return WriteJson(report) + "\n";
}

}  // namespace

std::string OperationsReport(const std::filesystem::path& baseDir, platform::TDateTime day,
                             TReportFormat format) {
  const std::vector<TJournalOperation> operations = TOperationJournal::ReadDay(baseDir, day);
  return format == TReportFormat::Json ? JsonReport(day, operations) : Csv(operations);
}

}  // namespace kelvora::protocol
