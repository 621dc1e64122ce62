// The journal of operations: its line format, its durable appends and its reading back.
#include "protocol/OperationJournal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/Guid.h"
#include "platform/PrivateDirectory.h"
#include "platform/Utf8Path.h"

namespace kelvora::protocol {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kInterruptedAtStart =
    "O serviço terminou durante a operação; nada foi cobrado.";

struct TStatusName {
  TOperationStatus Status;
  std::string_view Name;
  std::string_view Event;  // the event that ends an operation in this status; empty: none does
};

constexpr TStatusName kStatuses[] = {
    {TOperationStatus::Running, "running", "requested"},
    {TOperationStatus::Approved, "approved", "approved"},
    {TOperationStatus::Confirmed, "confirmed", "confirmed"},
    {TOperationStatus::Undone, "undone", "undone"},
    {TOperationStatus::Refused, "refused", "refused"},
    {TOperationStatus::Canceled, "canceled", "canceled"},
    {TOperationStatus::Interrupted, "interrupted", "interrupted"},
};

std::optional<TOperationStatus> StatusOfEvent(std::string_view event) {
  for (const TStatusName& status : kStatuses) {
    if (status.Event == event) return status.Status;
  }
  return std::nullopt;
}

// UTC with milliseconds, as the other times the service writes.
std::string UtcText(platform::TDateTime utc) {
  return platform::FormatDateTime("yyyy-mm-dd\"T\"hh:nn:ss.zzz\"Z\"", utc);
}

std::string Text(const Json& record, const char* name) {
  const auto found = record.find(name);
  return found != record.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// Whole and non-negative amounts and counts come back as written; anything else reads as 0.
int64_t Integer(const Json& record, const char* name) {
  const auto found = record.find(name);
  return found != record.end() && found->is_number_integer() ? found->get<int64_t>() : 0;
}

platform::Currency Amount(const Json& record) {
  const auto found = record.find("amount");
  if (found == record.end() || !found->is_number()) return {};
  const double value = found->get<double>();
  if (!std::isfinite(value) || std::fabs(value) > 1e12) return {};
  return platform::Currency::FromCents(std::llround(value * 100.0));
}

Json AmountJson(platform::Currency amount) {
  return static_cast<double>(amount.Raw()) / 10000.0;
}

}  // namespace

std::string_view KindName(TOperationKind kind) {
  return kind == TOperationKind::Cancellation ? "cancellation" : "payment";
}

std::string_view StatusName(TOperationStatus status) {
  for (const TStatusName& entry : kStatuses) {
    if (entry.Status == status) return entry.Name;
  }
  return "";
}

bool ValidIdempotencyKey(std::string_view key) {
  if (key.empty() || key.size() > 64) return false;
  for (const char c : key) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::string IdempotencyKeyOf(const Json& member) {
  std::string key;
  if (member.is_string()) {
    key = member.get<std::string>();
  } else if (member.is_number_integer()) {
    key = ValueAsText(member);
  }
  if (!ValidIdempotencyKey(key)) throw std::invalid_argument(std::string(kIdempotencyKeyError));
  return key;
}

TOperationJournal::TOperationJournal(fs::path baseDir, const platform::Clock& clock)
    : baseDir_(std::move(baseDir)), clock_(clock) {}

fs::path TOperationJournal::FileOf(const fs::path& baseDir, platform::TDateTime day) {
  return baseDir / "Log" / platform::FormatDateTime("mm-yyyy", day) /
         ("Operacoes-" + platform::FormatDateTime("dd-mm-yyyy", day) + ".log");
}

bool TOperationJournal::Apply(std::string_view line,
                              std::map<std::string, TJournalOperation>& operations,
                              std::vector<std::string>* order) {
  const std::optional<Json> record = ParseJson(line);
  if (!record || !record->is_object()) return false;
  const std::string id = Text(*record, "operation_id");
  const std::string event = Text(*record, "event");
  if (id.empty() || event.empty()) return false;
  const std::string time = Text(*record, "time");

  if (event == "requested") {
    if (operations.contains(id)) return true;
    TJournalOperation operation;
    operation.Id = id;
    operation.Key = Text(*record, "idempotency_key");
    operation.Kind = Text(*record, "kind") == "cancellation" ? TOperationKind::Cancellation
                                                             : TOperationKind::Payment;
    operation.SaleId = static_cast<int32_t>(Integer(*record, "sale_id"));
    operation.Amount = Amount(*record);
    operation.Installments = static_cast<int32_t>(Integer(*record, "installments"));
    operation.RequestedAt = time;
    operation.UpdatedAt = time;
    const std::string local = Text(*record, "local_time");
    operation.RequestedLocal = 0;
    if (local.size() >= 19) {
      const auto number = [&local](size_t from, size_t length) {
        return std::atoi(local.substr(from, length).c_str());
      };
      operation.RequestedLocal =
          platform::TryEncodeDateTime({number(0, 4), number(5, 2), number(8, 2), number(11, 2),
                                       number(14, 2), number(17, 2), 0})
              .value_or(0);
    }
    operations.emplace(id, std::move(operation));
    if (order != nullptr) order->push_back(id);
    return true;
  }

  const auto found = operations.find(id);
  if (found == operations.end()) return true;  // its request lies in a day no longer read
  TJournalOperation& operation = found->second;
  operation.UpdatedAt = time;
  if (event == "reported") {
    operation.ReportSent = true;
    operation.PaymentId = Integer(*record, "payment_id");
    return true;
  }
  if (event == "report_pending") {
    operation.ReportSent = operation.ReportSent.value_or(false);
    const std::string reportEvent = Text(*record, "report_event_id");
    if (!reportEvent.empty()) operation.ReportEventId = reportEvent;
    return true;
  }
  const std::optional<TOperationStatus> status = StatusOfEvent(event);
  if (!status) return true;  // an event of a later version: kept on disk, not understood here
  // What happened to the money (approved, confirmed, undone) always stands; an ending without
  // money (refused, cancelled, interrupted) only ends an operation still running, so that it can
  // never hide a payment kept in a backup or already settled.
  const bool settlement = *status == TOperationStatus::Approved ||
                          *status == TOperationStatus::Confirmed ||
                          *status == TOperationStatus::Undone;
  if (!settlement && operation.Status != TOperationStatus::Running) return true;
  operation.Status = *status;
  const std::string reason = Text(*record, "reason");
  if (!reason.empty()) operation.Reason = reason;
  for (auto [name, field] : {std::pair{"card_number", &TJournalOperation::CardNumber},
                             std::pair{"nsu", &TJournalOperation::Nsu},
                             std::pair{"authorizer_nsu", &TJournalOperation::AuthorizerNsu}}) {
    const std::string value = Text(*record, name);
    if (!value.empty()) operation.*field = value;
  }
  if (*status == TOperationStatus::Confirmed) {
    const auto result = record->find("result");
    if (result != record->end() && result->is_object()) operation.Result = *result;
    operation.CompanyId = static_cast<int32_t>(Integer(*record, "company_id"));
    if (!operation.ReportSent) operation.ReportSent = false;
  }
  return true;
}

void TOperationJournal::ReadFile(const fs::path& file,
                                 std::map<std::string, TJournalOperation>& operations,
                                 std::vector<std::string>* order) {
  std::string content;
  try {
    content = platform::ReadFileBytes(file.string());
  } catch (const std::system_error&) {
    return;  // no operation that day
  }
  size_t start = 0;
  while (start < content.size()) {
    const size_t end = content.find('\n', start);
    // A last line without its end is a record a crash cut short: it never happened.
    if (end == std::string::npos) break;
    Apply(std::string_view(content).substr(start, end - start), operations, order);
    start = end + 1;
  }
}

void TOperationJournal::Load(const std::function<bool(const std::string&)>& isBackedUp) {
  std::vector<std::string> interrupted;
  {
    std::lock_guard lock(lock_);
    if (loaded_) return;
    loaded_ = true;
    const platform::TDateTime today = std::floor(platform::Now(clock_));
    for (int back = kRememberedDays - 1; back >= 0; --back) {
      ReadFile(FileOf(baseDir_, today - back), operations_, nullptr);
    }
    for (const auto& [id, operation] : operations_) {
      Index(operation);
      if (operation.Status == TOperationStatus::Running ||
          operation.Status == TOperationStatus::Approved) {
        interrupted.push_back(id);
      }
    }
  }
  for (const std::string& id : interrupted) {
    const std::optional<TJournalOperation> operation = Find(id);
    TJournalEvent event("interrupted", std::string(kInterruptedAtStart));
    if (isBackedUp(id)) {
      // Approved and kept in its backup (the crash came before its approval was recorded, or
      // before its confirmation): the next initialisation settles it.
      if (operation && operation->Status == TOperationStatus::Approved) continue;
      event = TJournalEvent("approved");
    } else if (operation && operation->Status == TOperationStatus::Approved) {
      // Approved, and its backup is gone: a reversal records "undone" before it reaches the
      // library, so only a confirmation can have settled it, with its record cut off by a crash.
      // Taken as confirmed: a page told otherwise would charge the sale a second time.
      event = TJournalEvent("confirmed",
                            "Confirmada antes de uma parada do serviço; consulte o log TEF.");
    }
    Record(id, event);
  }
}

void TOperationJournal::Index(const TJournalOperation& operation) {
  if (!operation.Key.empty()) byKey_[operation.Key] = operation.Id;
  std::vector<std::string>& ofSale = bySale_[operation.SaleId];
  if (std::find(ofSale.begin(), ofSale.end(), operation.Id) == ofSale.end()) {
    ofSale.push_back(operation.Id);
  }
  if (!operation.ReportEventId.empty()) byReportEvent_[operation.ReportEventId] = operation.Id;
}

void TOperationJournal::Append(const std::string& operationId, const TJournalEvent& event,
                               const TJournalOperation* requested) {
  const platform::TDateTime local = platform::Now(clock_);
  Json record = Json::object();
  record["time"] = UtcText(platform::NowUTC(clock_));
  record["operation_id"] = operationId;
  record["event"] = event.Event;
  if (requested != nullptr) {
    record["local_time"] = platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", local);
    record["kind"] = std::string(KindName(requested->Kind));
    if (!requested->Key.empty()) record["idempotency_key"] = requested->Key;
    record["sale_id"] = requested->SaleId;
    record["amount"] = AmountJson(requested->Amount);
    record["installments"] = requested->Installments;
  }
  if (!event.Reason.empty()) record["reason"] = event.Reason;
  if (!event.CardNumber.empty()) record["card_number"] = event.CardNumber;
  if (!event.Nsu.empty()) record["nsu"] = event.Nsu;
  if (!event.AuthorizerNsu.empty()) record["authorizer_nsu"] = event.AuthorizerNsu;
  if (!event.ReportEventId.empty()) record["report_event_id"] = event.ReportEventId;
  if (event.PaymentId) record["payment_id"] = *event.PaymentId;
  if (event.CompanyId) record["company_id"] = *event.CompanyId;
  if (event.Result.is_object()) record["result"] = event.Result;

  const fs::path file = FileOf(baseDir_, local);
  std::error_code ignored;
  platform::CreatePrivateDirectories(file.parent_path(), ignored);
  const std::string text = WriteJson(record);
  const std::string path = file.string();
  std::string line = text + "\n";
  if (!cleanFiles_.contains(path)) {
    // A line a crash cut short must stay alone on its line, where reading skips it.
    std::string content;
    try {
      content = platform::ReadFileBytes(path);
    } catch (const std::system_error&) {
      // No file yet: the first line starts it.
    }
    if (!content.empty() && content.back() != '\n') line.insert(0, "\n");
  }
  platform::AppendFileBytes(path, line);
  platform::FlushToStableStorage(path);
  cleanFiles_.insert(path);
  Apply(text, operations_, nullptr);
}

TJournalOperation TOperationJournal::Begin(TOperationKind kind, std::string_view key,
                                           int32_t saleId, platform::Currency amount,
                                           int32_t installments) {
  TJournalOperation operation;
  operation.Id = platform::NewGuidText();
  operation.Key = std::string(key);
  operation.Kind = kind;
  operation.SaleId = saleId;
  operation.Amount = amount;
  operation.Installments = installments;
  std::lock_guard lock(lock_);
  Append(operation.Id, TJournalEvent("requested"), &operation);
  Index(operations_.at(operation.Id));
  return operations_.at(operation.Id);
}

void TOperationJournal::Record(const std::string& operationId, const TJournalEvent& event) {
  std::lock_guard lock(lock_);
  if (!operations_.contains(operationId)) return;
  try {
    Append(operationId, event, nullptr);
    Index(operations_.at(operationId));
  } catch (const std::exception& e) {
    if (log_) {
      log_("Não foi possível registrar o evento \"" + event.Event + "\" da operação " +
           operationId + " no diário de operações: " + e.what());
    }
  }
}

void TOperationJournal::RecordReportByEvent(const std::string& reportEventId, int64_t paymentId) {
  std::string operationId;
  {
    std::lock_guard lock(lock_);
    const auto found = byReportEvent_.find(reportEventId);
    if (found == byReportEvent_.end()) return;
    operationId = found->second;
  }
  TJournalEvent reported("reported");
  reported.PaymentId = paymentId;
  Record(operationId, reported);
}

std::optional<TJournalOperation> TOperationJournal::Find(const std::string& operationId) const {
  std::lock_guard lock(lock_);
  const auto found = operations_.find(operationId);
  if (found == operations_.end()) return std::nullopt;
  return found->second;
}

std::optional<TJournalOperation> TOperationJournal::FindByKey(std::string_view key) const {
  std::lock_guard lock(lock_);
  const auto id = byKey_.find(key);
  if (id == byKey_.end()) return std::nullopt;
  return operations_.at(id->second);
}

std::vector<TJournalOperation> TOperationJournal::ForSale(int32_t saleId) const {
  std::lock_guard lock(lock_);
  std::vector<TJournalOperation> found;
  const auto ids = bySale_.find(saleId);
  if (ids == bySale_.end()) return found;
  for (const std::string& id : ids->second) found.push_back(operations_.at(id));
  return found;
}

std::vector<TJournalOperation> TOperationJournal::ReadDay(const fs::path& baseDir,
                                                          platform::TDateTime day) {
  std::map<std::string, TJournalOperation> operations;
  std::vector<std::string> order;
  ReadFile(FileOf(baseDir, day), operations, &order);
  ReadFile(FileOf(baseDir, day + 1), operations, nullptr);
  std::vector<TJournalOperation> found;
  for (const std::string& id : order) found.push_back(operations.at(id));
  return found;
}

}  // namespace kelvora::protocol
