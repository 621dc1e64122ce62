// Which service control request reaches which service event, whatever host delivers the requests.
#include "platform/ServiceHost.h"

#include <cstdio>
#include <exception>

namespace kelvora::platform {
namespace {

// Runs one event; a failure is reported on stderr and the framework carries on as if it worked.
template <typename Event>
void RunEvent(const char* name, Event&& event) {
  try {
    event();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unknown error\n", name);
  }
}

}  // namespace

void ServiceController::Start() {
  if (state_ != ServiceState::Stopped) return;
  RunEvent("ServiceStart", [this] { events_.ServiceStart(); });
  state_ = ServiceState::Running;
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
      RunEvent("ServiceContinue", [this] { events_.ServiceContinue(); });
      state_ = ServiceState::Running;
      return;
  }
}

}  // namespace kelvora::platform
