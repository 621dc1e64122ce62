// The outbox of sales-API reports: durable records, their deletion once answered, and the worker
// that delivers what is left.
#include "protocol/SaleReportOutbox.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/Guid.h"
#include "platform/LocalTime.h"
#include "platform/PrivateDirectory.h"
#include "platform/Utf8Path.h"
#include "protocol/Json.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::protocol {
namespace {

constexpr std::chrono::milliseconds kLongestWait = std::chrono::minutes(30);
constexpr std::string_view kExtension = ".json";

// A name that sorts in the order the reports were made and never repeats: UTC time, process id
// and a number counted within the process.
std::string NewRecordName() {
  static std::atomic<unsigned> counter{0};
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  platform::BreakDownTime(now, /*utc=*/true, utc);
  char time[32];
  std::strftime(time, sizeof time, "%Y%m%dT%H%M%SZ", &utc);
  return std::string(time) + "_" + std::to_string(::getpid()) + "_" +
         tef::PreencheZeros(++counter, 8) + std::string(kExtension);
}

// An event id goes into a request header: only letters, digits, '-', '_' and '.', and not too
// long, so a record edited by hand cannot inject a header or a line.
bool IsSafeEventId(std::string_view id) {
  if (id.empty() || id.size() > 64) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '_' || c == '.';
  });
}

std::optional<TSaleReport> ReadRecord(const std::string& record) {
  const std::optional<Json> json = ParseJson(platform::ReadFileBytes(record));
  if (!json || !json->is_object()) return std::nullopt;
  const auto url = json->find("url");
  const auto body = json->find("body");
  if (url == json->end() || !url->is_string() || body == json->end() || !body->is_string()) {
    return std::nullopt;
  }
  TSaleReport report{url->get<std::string>(), body->get<std::string>(), {}};
  const auto eventId = json->find("event_id");
  if (eventId == json->end()) {
    // Written before reports had event ids: its file name is unique and never changes.
    report.EventId = platform::PathFromUtf8(record).stem().string();
  } else if (eventId->is_string()) {
    report.EventId = eventId->get<std::string>();
  }
  if (!IsSafeEventId(report.EventId)) return std::nullopt;
  return report;
}

}  // namespace

std::string NewReportEventId() {
  std::string id = platform::NewGuidText();
  if (id.empty()) {
    // No random bytes to be had: a record name is unique as well.
    id = NewRecordName();
    id.resize(id.size() - kExtension.size());
  }
  std::transform(id.begin(), id.end(), id.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return id;
}

TSaleReportOutbox::TSaleReportOutbox(std::filesystem::path directory, TDeliver deliver, TLog log,
                                     std::chrono::milliseconds firstRetry)
    : directory_(std::move(directory)),
      deliver_(std::move(deliver)),
      log_(std::move(log)),
      firstRetry_(firstRetry) {}

TSaleReportOutbox::~TSaleReportOutbox() {
  Stop();
}

void TSaleReportOutbox::Start() {
  {
    const std::lock_guard lock(lock_);
    stop_ = false;
  }
  std::error_code ignored;
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(directory_, ignored)) {
    if (entry.path().extension() == kExtension) left.push_back(entry.path().string());
  }
  std::sort(left.begin(), left.end());
  for (std::string& record : left) {
    Enqueue({std::move(record), std::chrono::steady_clock::now(), firstRetry_});
  }
}

void TSaleReportOutbox::Stop() {
  {
    const std::lock_guard lock(lock_);
    stop_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::string TSaleReportOutbox::Keep(const TSaleReport& report) {
  // The reports hold sale data: their folder is the owner's and its group's only.
  if (std::error_code failed; !platform::CreatePrivateDirectories(directory_, failed)) {
    throw std::system_error(failed, "Cannot create directory " + directory_.string());
  }
  if (!IsSafeEventId(report.EventId)) {
    throw std::invalid_argument("Invalid report event id: " + report.EventId);
  }
  Json record = Json::object();
  record["url"] = report.CallbackURL;
  record["body"] = report.Body;
  record["event_id"] = report.EventId;
  const std::string path = (directory_ / NewRecordName()).string();
  platform::ReplaceFileBytes(path, WriteJson(record), /*durable=*/true);
  return path;
}

void TSaleReportOutbox::Answered(const std::string& record, TReportDelivery answer) {
  if (record.empty()) return;
  if (answer == TReportDelivery::Refused) {
    std::filesystem::path refused = platform::PathFromUtf8(record);
    refused.replace_extension(".recusado");
    std::error_code failed;
    std::filesystem::rename(platform::PathFromUtf8(record), refused, failed);
    if (!failed) platform::FlushToStableStorage(refused.string());
    log_("Registro de transação recusado pela API, guardado em: " +
         (failed ? record : refused.string()));
    return;
  }
  if (!platform::DeleteFileAndSync(record)) {
    log_("Não foi possível apagar o registro de transação já entregue à API: " + record);
  }
}

void TSaleReportOutbox::RetryLater(const std::string& record) {
  if (record.empty()) return;
  Enqueue({record, std::chrono::steady_clock::now() + firstRetry_, 2 * firstRetry_});
}

void TSaleReportOutbox::Enqueue(Pending pending) {
  {
    const std::lock_guard lock(lock_);
    if (stop_) return;
    const auto later = std::upper_bound(
        queue_.begin(), queue_.end(), pending.Due,
        [](std::chrono::steady_clock::time_point due, const Pending& p) { return due < p.Due; });
    queue_.insert(later, std::move(pending));
    if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
  }
  wake_.notify_all();
}

// Delivers each report when it falls due, one at a time, asleep in between.
void TSaleReportOutbox::Work() {
  std::unique_lock lock(lock_);
  while (!stop_) {
    if (queue_.empty()) {
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      continue;
    }
    const auto due = queue_.front().Due;
    if (due > std::chrono::steady_clock::now()) {
      wake_.wait_until(lock, due);
      continue;
    }
    Pending next = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    Deliver(std::move(next));
    lock.lock();
  }
}

void TSaleReportOutbox::Deliver(Pending pending) {
  std::optional<TSaleReport> report;
  try {
    if (!std::filesystem::exists(platform::PathFromUtf8(pending.Record))) return;
    report = ReadRecord(pending.Record);
  } catch (const std::exception&) {
    // Read as unreadable below.
  }
  if (!report) {
    // Kept as it is: a record nobody can read is for a person to look at, not to delete.
    log_("Registro de transação para a API ilegível: " + pending.Record);
    return;
  }
  const TReportDelivery answer = deliver_(*report, stop_);
  if (answer != TReportDelivery::Unanswered) {
    if (answer == TReportDelivery::Accepted) {
      log_("Transação pendente registrada na API: " + pending.Record);
    }
    Answered(pending.Record, answer);
    return;
  }
  pending.Due = std::chrono::steady_clock::now() + pending.Wait;
  pending.Wait = std::min(2 * pending.Wait, kLongestWait);
  Enqueue(std::move(pending));
}

}  // namespace kelvora::protocol
