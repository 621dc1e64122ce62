// Reports of confirmed payments that the sales API has not answered yet, kept on disk until it
// does. A payment is confirmed in the SiTef library before the API hears of it; without this, a
// crash during the API call, or an API that cannot be reached at that moment, would leave a
// payment taken from the card that the sales system never learns of.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace kelvora::protocol {

// What became of one attempt to deliver a report.
enum class TReportDelivery {
  Accepted,    // the API took the report
  Refused,     // the API refused it for good (the refusal is logged)
  Unanswered,  // no answer, or one that asks to come back later: the report is kept for a retry
};

// One report as kept on disk: the API's base address, the exact body to post, and the id the API
// de-duplicates it by, the same on every attempt (sent as the Kelvora-Event-Id header).
struct TSaleReport {
  std::string CallbackURL;
  std::string Body;
  std::string EventId;
};

// A new event id: a random UUID in lower case.
std::string NewReportEventId();

// Each report is a file of its own, <directory>/<UTC time>_<process>_<number>.json, written
// durably before the API is called and deleted once the API has taken it. One the API refuses for
// good is renamed to .recusado beside the others, for a person to look at. Reports left by an
// earlier process are delivered by a worker thread once Start is called (the service's start:
// installing or removing the service never sends anything); a report whose call
// went unanswered is handed to the same worker, which tries again after 30 s, then waits twice as
// long after each failure, up to 30 min. The worker thread exists only once there is something
// to deliver, and sleeps while there is nothing. Since a report is deleted only after the API's
// answer, the API may receive one report twice (its answer lost to a crash or a time limit); the
// body and the event id are the same each time, so the sales side can recognise the report by its
// event id (and the payment by its NSU). A record written before reports had event ids gets one
// from its file name, stable across attempts.
class TSaleReportOutbox {
 public:
  // Delivers one report; stop is set when the outbox is being destroyed, and a delivery in
  // progress should then give up as soon as it can (Unanswered).
  using TDeliver =
      std::function<TReportDelivery(const TSaleReport& report, const std::atomic<bool>& stop)>;
  using TLog = std::function<void(std::string_view)>;

  TSaleReportOutbox(std::filesystem::path directory, TDeliver deliver, TLog log,
                    std::chrono::milliseconds firstRetry = std::chrono::seconds(30));
  // Stop.
  ~TSaleReportOutbox();

  // Hands the reports on disk (left by an earlier process, or by a Stop) to the worker.
  void Start();
  // Stops the worker, abandoning a delivery in progress within about a second; what is on disk
  // stays for the next Start. Reports answered later are left on disk as well.
  void Stop();
  TSaleReportOutbox(const TSaleReportOutbox&) = delete;
  TSaleReportOutbox& operator=(const TSaleReportOutbox&) = delete;

  // Writes the report to disk, durably, and returns its file; throws std::system_error when it
  // cannot be written (the caller still calls the API: the report is then only not kept). The
  // report's event id must be set.
  std::string Keep(const TSaleReport& report);
  // The API answered the report kept in record: it is deleted when accepted, set aside when
  // refused. An empty record (the report could not be kept) is ignored, here and below.
  void Answered(const std::string& record, TReportDelivery answer);
  // The API did not answer the report kept in record: the worker will try again later.
  void RetryLater(const std::string& record);

  // The directory of the reports.
  const std::filesystem::path& Directory() const { return directory_; }

 private:
  struct Pending {
    std::string Record;
    std::chrono::steady_clock::time_point Due;
    std::chrono::milliseconds Wait;  // before the next attempt, should this one fail
  };

  void Enqueue(Pending pending);
  void Work();
  void Deliver(Pending pending);

  const std::filesystem::path directory_;
  const TDeliver deliver_;
  const TLog log_;
  const std::chrono::milliseconds firstRetry_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;  // under lock_, in the order of their due times
  std::thread worker_;         // started by the first Enqueue
};

}  // namespace kelvora::protocol
