// The journal of operations: one durable line per event of every payment and cancellation (asked
// for, approved, confirmed, undone, refused, cancelled, interrupted, reported to the sales API), so
// that a page that lost its connection, was reloaded or outlived a restart of the service can ask
// what became of its payment, and the store can list the day's operations at its closing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Currency.h"
#include "platform/DateTime.h"
#include "protocol/Json.h"

namespace kelvora::protocol {

// The answer to a key a page may not use, and the prefix of the answer when the journal cannot
// record an operation (which then does not start).
inline constexpr std::string_view kIdempotencyKeyError =
    "O campo \"idempotency_key\" deve ter de 1 a 64 caracteres: letras, dígitos, \"_\" ou \"-\".";
inline constexpr std::string_view kJournalUnavailableError =
    "Não foi possível registrar a operação no diário: ";

enum class TOperationKind { Payment, Cancellation };

// Where an operation stands. Only Running and Approved are not final; an Approved operation is a
// payment kept in a backup that the next initialisation confirms (or undoes).
enum class TOperationStatus {
  Running,
  Approved,
  Confirmed,
  Undone,
  Refused,
  Canceled,
  Interrupted
};

std::string_view KindName(TOperationKind kind);
std::string_view StatusName(TOperationStatus status);

// An idempotency key as a page may send it: 1 to 64 letters, digits, "_" or "-".
bool ValidIdempotencyKey(std::string_view key);

// The "idempotency_key" member of a request, checked: a JSON string or integer whose text is a
// valid key. Anything else (null, true, an object, a bad text) raises kIdempotencyKeyError: a page
// that sent null by mistake must not share the key "null" between all its sales.
std::string IdempotencyKeyOf(const Json& member);

// What the journal knows of one operation, folded from its events.
struct TJournalOperation {
  std::string Id;   // the service's own id of the operation
  std::string Key;  // the page's idempotency key; empty when it sent none
  TOperationKind Kind = TOperationKind::Payment;
  int32_t SaleId = 0;
  platform::Currency Amount;
  int32_t Installments = 0;
  TOperationStatus Status = TOperationStatus::Running;
  std::string Reason;
  std::string CardNumber;  // masked as the response record keeps it
  std::string Nsu;
  std::string AuthorizerNsu;
  std::string RequestedAt;  // UTC, 2026-12-11T13:30:00.123Z
  std::string UpdatedAt;
  platform::TDateTime RequestedLocal = 0;  // the till's local time of the request
  // For a confirmed operation: whether the sales API took its report, and the id it gave.
  std::optional<bool> ReportSent;
  int64_t PaymentId = 0;
  int32_t CompanyId = 0;
  std::string ReportEventId;
  // The approved result the page was sent (without the sales API's ids); null otherwise.
  Json Result;

  bool Ended() const {
    return Status != TOperationStatus::Running && Status != TOperationStatus::Approved;
  }
};

// One event as it goes into the journal; the members that do not apply stay empty.
struct TJournalEvent {
  explicit TJournalEvent(std::string event, std::string reason = {})
      : Event(std::move(event)), Reason(std::move(reason)) {}

  std::string Event;  // "requested", "approved", "confirmed", "undone", "refused", "canceled",
                      // "interrupted", "reported", "report_pending"
  std::string Reason;
  std::string CardNumber, Nsu, AuthorizerNsu;
  std::string ReportEventId;
  std::optional<int64_t> PaymentId;
  std::optional<int32_t> CompanyId;
  Json Result;
};

// The journal's files are <base>/Log/MM-YYYY/Operacoes-DD-MM-YYYY.log, named for the local day of
// the events they hold, one compact JSON object a line. A line is appended and flushed to stable
// storage before the caller goes on, so the page never hears of an event the journal could lose;
// a line cut short by a crash is ignored when read back (and the next line starts on a line of
// its own). Keys and operations of the last kRememberedDays days are held in memory.
class TOperationJournal {
 public:
  static constexpr int kRememberedDays = 31;

  TOperationJournal(std::filesystem::path baseDir, const platform::Clock& clock);

  // Reads back the files of the remembered days (once; later calls do nothing). An operation
  // found running was ended by a stop or a crash of an earlier process: it is recorded as
  // interrupted, unless it had been approved and its backup (named by isBackedUp) is still on disk,
  // in which case the next initialisation settles it.
  void Load(const std::function<bool(const std::string& operationId)>& isBackedUp);

  // Records a new operation; returns it with its id. Throws std::system_error when the line
  // cannot be written: nothing may start that the journal cannot tell of.
  TJournalOperation Begin(TOperationKind kind, std::string_view key, int32_t saleId,
                          platform::Currency amount, int32_t installments);
  // Records an event of a known operation. Never throws: the event has happened already, and a
  // journal that cannot be written is said in the service log by log.
  void Record(const std::string& operationId, const TJournalEvent& event);
  // The operation a report event id belongs to, marked as reported with paymentId.
  void RecordReportByEvent(const std::string& reportEventId, int64_t paymentId);

  std::optional<TJournalOperation> Find(const std::string& operationId) const;
  std::optional<TJournalOperation> FindByKey(std::string_view key) const;
  // The remembered operations of a sale, oldest first.
  std::vector<TJournalOperation> ForSale(int32_t saleId) const;

  // Where a failure to write is said.
  void SetLog(std::function<void(std::string_view)> log) { log_ = std::move(log); }

  // The file of one local day.
  static std::filesystem::path FileOf(const std::filesystem::path& baseDir,
                                      platform::TDateTime day);
  // The operations whose request lies on one local day, folded from that day's file and the
  // next one's (an operation may end after midnight), in the order they were asked for.
  static std::vector<TJournalOperation> ReadDay(const std::filesystem::path& baseDir,
                                                platform::TDateTime day);

 private:
  // Folds one line into operations; false for a line that is not a whole record.
  static bool Apply(std::string_view line, std::map<std::string, TJournalOperation>& operations,
                    std::vector<std::string>* order);
  static void ReadFile(const std::filesystem::path& file,
                       std::map<std::string, TJournalOperation>& operations,
                       std::vector<std::string>* order);
  // Writes one record for the operation, now; throws std::system_error.
  void Append(const std::string& operationId, const TJournalEvent& event,
              const TJournalOperation* requested);
  void Index(const TJournalOperation& operation);

  const std::filesystem::path baseDir_;
  const platform::Clock& clock_;
  std::function<void(std::string_view)> log_;
  mutable std::mutex lock_;
  bool loaded_ = false;
  std::map<std::string, TJournalOperation> operations_;  // by id
  std::map<std::string, std::string, std::less<>> byKey_;
  std::map<int32_t, std::vector<std::string>> bySale_;  // ids in request order
  std::map<std::string, std::string> byReportEvent_;
  std::set<std::string> cleanFiles_;  // files known to end with a whole line
};

}  // namespace kelvora::protocol
