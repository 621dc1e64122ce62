// What the service tells its monitoring: the events the rest of the program reports in one line
// each (a transaction's outcome, a library call's duration, a refused connection...), and the
// endpoint that serves them to Prometheus with the state read at scrape time. Nothing here
// carries card data, a sale id or any other value of one sale.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::metrics {

enum class TOperation { Payment, Cancellation, Reprint };
enum class TOutcome { Approved, Refused, Cancelled, Failed };
// What became of one post of a report to the sales API.
enum class TReportResult { Accepted, Refused, Unanswered };
// Why the listener closed a connection before any session could start on it.
enum class TConnectionRejection { Origin, Limit, Handshake, Tls };
// Why a session start was refused: a token that does not verify or has expired, an installation
// whose token key is unusable, a request or claims that cannot be read.
enum class TSessionRefusal { Unauthorized, Secret, Invalid };

using Duration = std::chrono::steady_clock::duration;

void CountTransaction(TOperation operation, TOutcome outcome);
void ObserveDialogue(Duration duration);
void ObserveLibraryCall(std::string_view function, Duration duration);
void CountSalesReportAttempt(TReportResult result);
void CountRejectedConnection(TConnectionRejection reason);
void CountSessionRefused(TSessionRefusal reason);
// The pin-pad as the last presence check found it.
void NotePinpadPresence(bool present);
// The SiTef library file was loaded (file is its full name), or could not be (reason is the
// loader's text).
void NoteLibraryLoaded(const std::string& file);
void NoteLibraryLoadFailure(std::string_view reason);
// The certificate the TLS listener started with: its notAfter, read from the PEM file.
void NoteCertificate(const std::filesystem::path& pemFile);
// The last failure worth a look from whoever watches the till (shown by the health check).
void NoteError(std::string_view text);

// Counts one payment, cancellation or reprint dialogue when it goes out of scope, with its
// duration and the outcome set last (failed unless told otherwise).
class TTransactionTally {
 public:
  explicit TTransactionTally(TOperation operation)
      : operation_(operation), start_(std::chrono::steady_clock::now()) {}
  ~TTransactionTally();
  TTransactionTally(const TTransactionTally&) = delete;
  TTransactionTally& operator=(const TTransactionTally&) = delete;

  TOutcome Outcome = TOutcome::Failed;

 private:
  TOperation operation_;
  std::chrono::steady_clock::time_point start_;
};

// The outcome of a dialogue that ended without an error: approved when it confirmed a payment,
// cancelled when the client cancelled it, refused otherwise.
TOutcome OutcomeOf(bool approved, bool cancelled);

// The state of the service that the endpoint reads at each scrape, from the scraping thread: each
// function must be safe to call from any thread and cheap.
struct TServiceProbe {
  std::function<bool()> ListenerUp;
  std::function<uint16_t()> ListenerPort;
  std::function<size_t()> Connections;
  std::function<size_t()> Sessions;
  std::function<bool()> DialogueRunning;
  std::filesystem::path LibraryFile;      // where the library is, until a load names its file
  std::filesystem::path BackupDirectory;  // backups of approved, unconfirmed payments
  std::filesystem::path OutboxDirectory;  // reports the sales API has not answered yet
};

// [metrics] as the service read it: where to listen and the bearer token a request must carry
// (empty: none).
struct TEndpointSettings {
  bool Ipv6 = false;
  std::array<uint8_t, 16> Address{};  // network order; 4 bytes for IPv4
  std::string AddressText;            // for the log
  uint16_t Port = 0;
  std::string Token;
};

// The listener of /metrics and /health. Stopped when destroyed.
class TMetricsEndpoint {
 public:
  virtual ~TMetricsEndpoint() = default;
  // The port listened on (the system's choice when the settings say 0).
  virtual uint16_t Port() const = 0;
};

using TLogLine = std::function<void(std::string_view)>;

// Starts the endpoint; throws std::runtime_error with the reason when it cannot listen. A build
// without the metrics library logs that [metrics] is ignored and returns nothing.
std::unique_ptr<TMetricsEndpoint> StartMetricsEndpoint(const TEndpointSettings& settings,
                                                       TServiceProbe probe, TLogLine log);

}  // namespace kelvora::metrics
