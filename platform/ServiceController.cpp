// Which service control request reaches which service event, whatever host delivers the requests.
#include "platform/ServiceHost.h"

#include <cstdio>
#include <exception>

namespace kelvora::platform {
namespace {

// Runs one event; a failure is reported on stderr and the framework carries on as if it worked,
// except a ServiceFailure, whose code is returned (0 otherwise).
template <typename Event>
int RunEvent(const char* name, Event&& event) {
  try {
    event();
  } catch (const ServiceFailure& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
    return e.Code != 0 ? e.Code : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unknown error\n", name);
  }
  return 0;
}

}  // namespace

void ServiceController::Start() {
  if (state_ != ServiceState::Stopped) return;
  state_ = ServiceState::Running;
  if (const int code = RunEvent("ServiceStart", [this] { events_.ServiceStart(); })) {
    StopAfterFailure(code);
  }
}

void ServiceController::StopAfterFailure(int code) {
  exitCode_ = code;
  RunEvent("ServiceStop", [this] { events_.ServiceStop(); });
  state_ = ServiceState::Stopped;
}

void ServiceController::Control(ServiceControl control) {
  switch (control) {
    case ServiceControl::Stop:
      if (state_ == ServiceState::Stopped) return;
      RunEvent("ServiceStop", [this] { events_.ServiceStop(); });
      state_ = ServiceState::Stopped;
      return;
    case ServiceControl::Pause:
      if (state_ != ServiceState::Running) return;
      RunEvent("ServicePause", [this] { events_.ServicePause(); });
      state_ = ServiceState::Paused;
      return;
    case ServiceControl::Continue:
      if (state_ != ServiceState::Paused) return;
      state_ = ServiceState::Running;
      if (const int code = RunEvent("ServiceContinue", [this] { events_.ServiceContinue(); })) {
        StopAfterFailure(code);
      }
      return;
    case ServiceControl::Resume:
      if (state_ == ServiceState::Stopped) return;
      if (const int code = RunEvent("ServiceResume", [this] { events_.ServiceResume(); })) {
        StopAfterFailure(code);
      }
      return;
  }
}

}  // namespace kelvora::platform
