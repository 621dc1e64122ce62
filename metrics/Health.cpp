// The health check's JSON.
#include "metrics/Health.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ctime>

#include "metrics/PendingFiles.h"

namespace kelvora::metrics {
namespace {

using Json = nlohmann::ordered_json;

// Seconds since 1970 as UTC text, 2026-01-05T13:30:00Z.
Json UtcText(double seconds) {
  if (seconds <= 0) return nullptr;
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &time);
#else
  gmtime_r(&time, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

Json Pending(const TPendingFiles& files) {
  return {{"pending", files.Count},
          {"oldest_age_seconds", static_cast<int64_t>(files.OldestAgeSeconds)}};
}

const char* LibraryStateName(TLibraryState state) {
  switch (state) {
    case TLibraryState::Loaded:
      return "loaded";
    case TLibraryState::LoadFailed:
      return "load_failed";
    default:
      return "not_loaded";
  }
}

}  // namespace

THealth BuildHealth(const TServiceProbe& probe, const TEventState& state,
                    std::chrono::system_clock::time_point now) {
  const bool listenerUp = probe.ListenerUp();
  const bool libraryUsable = state.Library != TLibraryState::LoadFailed;
  Json library = {{"state", LibraryStateName(state.Library)}};
  if (!state.LibraryError.empty()) library["error"] = state.LibraryError;
  Json body = {
      {"status", listenerUp && libraryUsable ? "ok" : "unavailable"},
      {"listener", {{"up", listenerUp}, {"port", listenerUp ? probe.ListenerPort() : 0}}},
      {"library", library},
      {"pinpad",
       {{"present", state.PinpadPresent ? Json(*state.PinpadPresent) : Json(nullptr)},
        {"checked_at", UtcText(state.PinpadCheckedAt)}}},
      {"backups", Pending(PendingBackups(probe.BackupDirectory, now))},
      {"sales_reports", Pending(PendingSalesReports(probe.OutboxDirectory, now))},
      {"last_error", state.LastError.empty()
                         ? Json(nullptr)
                         : Json{{"message", state.LastError}, {"at", UtcText(state.LastErrorAt)}}},
  };
  // A loader's text may hold bytes of a file name that are not UTF-8: they are replaced, never
  // allowed to stop the answer.
  return {listenerUp && libraryUsable ? 200 : 503,
          body.dump(-1, ' ', false, Json::error_handler_t::replace)};
}

}  // namespace kelvora::metrics
