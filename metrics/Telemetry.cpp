// The service's metrics on prometheus-cpp: counters and histograms fed by the events, gauges built
// at each scrape from the probe and from what the events last set. Counters and histograms are
// lock-free on the paths the payment takes; the event state has one small lock.
#include "metrics/TelemetryState.h"

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <mutex>

#include "metrics/CertificateExpiry.h"
#include "metrics/PendingFiles.h"
#include "platform/FileVersion.h"

namespace kelvora::metrics {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

constexpr std::array kOperations{"payment", "cancellation", "reprint"};
constexpr std::array kOutcomes{"approved", "refused", "cancelled", "failed"};
constexpr std::array kReportResults{"accepted", "refused", "unanswered"};
constexpr std::array kConnectionRejections{"origin", "limit", "handshake", "tls"};
constexpr std::array kSessionRefusals{"unauthorized", "secret", "invalid"};

// Taken when the program is loaded, before main: the process's start, whenever the first event
// or scrape comes.
const std::chrono::system_clock::time_point kProcessStart = std::chrono::system_clock::now();

// A library call ranges from a millisecond (a status query) to the minutes a customer takes at
// the pin-pad inside ContinuaFuncaoSiTefInterativo.
const prometheus::Histogram::BucketBoundaries kLibraryCallBuckets{
    0.001, 0.005, 0.01, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120};
// A whole dialogue: a reprint takes seconds, a payment with a card or PIX up to minutes.
const prometheus::Histogram::BucketBoundaries kDialogueBuckets{1,  2.5, 5,   10,  20, 30,
                                                               45, 60,  120, 300, 600};

template <size_t N>
std::array<prometheus::Counter*, N> AddEach(prometheus::Family<prometheus::Counter>& family,
                                            const std::string& label,
                                            const std::array<const char*, N>& values) {
  std::array<prometheus::Counter*, N> counters{};
  for (size_t i = 0; i < N; ++i) counters[i] = &family.Add({{label, values[i]}});
  return counters;
}

prometheus::Family<prometheus::Counter>& CounterFamily(prometheus::Registry& registry,
                                                       const std::string& name,
                                                       const std::string& help) {
  return prometheus::BuildCounter().Name(name).Help(help).Register(registry);
}

class TTelemetry {
 public:
  static TTelemetry& Get() {
    static TTelemetry telemetry;
    return telemetry;
  }

  prometheus::Registry Registry;
  prometheus::Family<prometheus::Counter>& Transactions =
      CounterFamily(Registry, "kelvora_transactions_total",
                    "Payment, cancellation and reprint dialogues by outcome.");
  std::array<std::array<prometheus::Counter*, kOutcomes.size()>, kOperations.size()>
      TransactionCounters{};
  prometheus::Histogram& Dialogue =
      prometheus::BuildHistogram()
          .Name("kelvora_dialogue_duration_seconds")
          .Help("Duration of a payment, cancellation or reprint dialogue, request to outcome.")
          .Register(Registry)
          .Add({}, kDialogueBuckets);
  prometheus::Family<prometheus::Histogram>& LibraryCalls =
      prometheus::BuildHistogram()
          .Name("kelvora_library_call_duration_seconds")
          .Help("Duration of the calls into the SiTef library, by exported function.")
          .Register(Registry);
  std::array<prometheus::Counter*, kReportResults.size()> ReportAttempts =
      AddEach(CounterFamily(Registry, "kelvora_sales_report_attempts_total",
                            "Posts of approved payments to the sales API, by result."),
              "result", kReportResults);
  std::array<prometheus::Counter*, kConnectionRejections.size()> RejectedConnections =
      AddEach(CounterFamily(Registry, "kelvora_rejected_connections_total",
                            "Connections closed before a session could start, by reason."),
              "reason", kConnectionRejections);
  std::array<prometheus::Counter*, kSessionRefusals.size()> RefusedSessions =
      AddEach(CounterFamily(Registry, "kelvora_sessions_refused_total",
                            "Session starts refused, by reason."),
              "reason", kSessionRefusals);

  mutable std::mutex StateLock;
  TEventState State;  // under StateLock

 private:
  TTelemetry() {
    for (size_t operation = 0; operation < kOperations.size(); ++operation) {
      for (size_t outcome = 0; outcome < kOutcomes.size(); ++outcome) {
        TransactionCounters[operation][outcome] = &Transactions.Add(
            {{"operation", kOperations[operation]}, {"outcome", kOutcomes[outcome]}});
      }
    }
    State.StartTime = SecondsSinceEpoch(kProcessStart);
  }
};

double Seconds(Duration duration) {
  return std::chrono::duration<double>(duration).count();
}

void Update(const std::function<void(TEventState&)>& change) {
  TTelemetry& telemetry = TTelemetry::Get();
  const std::lock_guard lock(telemetry.StateLock);
  change(telemetry.State);
}

MetricFamily Gauge(std::string name, std::string help, double value,
                   std::vector<ClientMetric::Label> labels = {}) {
  ClientMetric metric;
  metric.label = std::move(labels);
  metric.gauge.value = value;
  return {std::move(name), std::move(help), MetricType::Gauge, {metric}};
}

// The build and the library in one series: the library's version is read from its file, so a
// fleet sees which tills run which library before any payment has loaded it.
MetricFamily BuildInfo(const TEventState& state, const TServiceProbe& probe) {
  const std::string file =
      !state.LibraryFile.empty() ? state.LibraryFile : probe.LibraryFile.string();
  const std::string version = platform::ReadFileVersion(file).value_or("");
  return Gauge("kelvora_build_info", "The service's version and the SiTef library's, always 1.", 1,
               {{"version", KELVORA_VERSION},
                {"library_version", version},
                {"simulator", version.ends_with("-sim") ? "true" : "false"}});
}

}  // namespace

double SecondsSinceEpoch(std::chrono::system_clock::time_point time) {
  return std::chrono::duration<double>(time.time_since_epoch()).count();
}

void CountTransaction(TOperation operation, TOutcome outcome) {
  TTelemetry::Get()
      .TransactionCounters[static_cast<size_t>(operation)][static_cast<size_t>(outcome)]
      ->Increment();
}

void ObserveDialogue(Duration duration) {
  TTelemetry::Get().Dialogue.Observe(Seconds(duration));
}

void ObserveLibraryCall(std::string_view function, Duration duration) {
  TTelemetry& telemetry = TTelemetry::Get();
  telemetry.LibraryCalls.Add({{"function", std::string(function)}}, kLibraryCallBuckets)
      .Observe(Seconds(duration));
}

void CountSalesReportAttempt(TReportResult result) {
  TTelemetry::Get().ReportAttempts[static_cast<size_t>(result)]->Increment();
}

void CountRejectedConnection(TConnectionRejection reason) {
  TTelemetry::Get().RejectedConnections[static_cast<size_t>(reason)]->Increment();
}

void CountSessionRefused(TSessionRefusal reason) {
  TTelemetry::Get().RefusedSessions[static_cast<size_t>(reason)]->Increment();
}

void NotePinpadPresence(bool present) {
  const double now = SecondsSinceEpoch(std::chrono::system_clock::now());
  Update([&](TEventState& state) {
    state.PinpadPresent = present;
    state.PinpadCheckedAt = now;
  });
}

void NoteLibraryLoaded(const std::string& file) {
  Update([&](TEventState& state) {
    state.Library = TLibraryState::Loaded;
    state.LibraryFile = file;
    state.LibraryError.clear();
  });
}

void NoteLibraryLoadFailure(std::string_view reason) {
  Update([&](TEventState& state) {
    state.Library = TLibraryState::LoadFailed;
    state.LibraryError = reason;
  });
  NoteError("Falha ao carregar a biblioteca do SiTef: " + std::string(reason));
}

void NoteCertificate(const std::filesystem::path& pemFile) {
  const std::optional<double> notAfter = CertificateNotAfter(pemFile);
  Update([&](TEventState& state) { state.CertificateNotAfter = notAfter; });
}

void NoteError(std::string_view text) {
  const double now = SecondsSinceEpoch(std::chrono::system_clock::now());
  Update([&](TEventState& state) {
    state.LastError = text;
    state.LastErrorAt = now;
  });
}

TEventState EventState() {
  TTelemetry& telemetry = TTelemetry::Get();
  const std::lock_guard lock(telemetry.StateLock);
  return telemetry.State;
}

std::vector<MetricFamily> CollectMetrics(const TServiceProbe& probe) {
  const TEventState state = EventState();
  const auto now = std::chrono::system_clock::now();
  const TPendingFiles backups = PendingBackups(probe.BackupDirectory, now);
  const TPendingFiles reports = PendingSalesReports(probe.OutboxDirectory, now);

  std::vector<MetricFamily> families = TTelemetry::Get().Registry.Collect();
  families.push_back(BuildInfo(state, probe));
  families.push_back(Gauge("kelvora_up", "1 while the service answers.", 1));
  families.push_back(Gauge("kelvora_start_time_seconds",
                           "When the service process started, in seconds since 1970.",
                           state.StartTime));
  families.push_back(Gauge("kelvora_listener_up",
                           "1 while the TLS WebSocket listener accepts pages.",
                           probe.ListenerUp() ? 1 : 0));
  families.push_back(Gauge("kelvora_connections", "Open WebSocket connections.",
                           static_cast<double>(probe.Connections())));
  families.push_back(
      Gauge("kelvora_sessions", "Sessions kept.", static_cast<double>(probe.Sessions())));
  families.push_back(Gauge("kelvora_dialogue_running",
                           "1 while a TEF operation holds the SiTef library.",
                           probe.DialogueRunning() ? 1 : 0));
  if (state.PinpadPresent) {
    families.push_back(Gauge("kelvora_pinpad_present",
                             "The pin-pad as the last presence check found it (1 present).",
                             *state.PinpadPresent ? 1 : 0));
  }
  families.push_back(Gauge("kelvora_library_loaded", "1 once the SiTef library has been loaded.",
                           state.Library == TLibraryState::Loaded ? 1 : 0));
  families.push_back(Gauge("kelvora_library_load_failed",
                           "1 when the last attempt to load the SiTef library failed.",
                           state.Library == TLibraryState::LoadFailed ? 1 : 0));
  families.push_back(Gauge("kelvora_pending_backups",
                           "Approved payments backed up and not yet confirmed in the library.",
                           static_cast<double>(backups.Count)));
  families.push_back(Gauge("kelvora_oldest_pending_backup_age_seconds",
                           "Age of the oldest pending backup (0 when none).",
                           backups.OldestAgeSeconds));
  families.push_back(Gauge("kelvora_sales_reports_pending",
                           "Reports of approved payments the sales API has not taken yet.",
                           static_cast<double>(reports.Count)));
  families.push_back(Gauge("kelvora_oldest_sales_report_age_seconds",
                           "Age of the oldest report waiting for the sales API (0 when none).",
                           reports.OldestAgeSeconds));
  if (state.CertificateNotAfter) {
    families.push_back(Gauge("kelvora_certificate_expiry_timestamp_seconds",
                             "When the TLS listener's certificate expires (notAfter).",
                             *state.CertificateNotAfter));
  }
  return families;
}

}  // namespace kelvora::metrics
