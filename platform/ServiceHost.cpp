// Signals to service events: a signalfd read by the thread that runs the service.
#include "platform/ServiceHost.h"

#include <pthread.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <system_error>

namespace kelvora::platform {
namespace {

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) sigaddset(&set, signal);
  return set;
}

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

ServiceHost::ServiceHost() {
  const sigset_t set = ControlSignals();
  if (const int rc = pthread_sigmask(SIG_BLOCK, &set, &previousMask_); rc != 0) {
    throw std::system_error(rc, std::generic_category(), "pthread_sigmask");
  }
  signals_.Reset(signalfd(-1, &set, SFD_CLOEXEC));
  if (!signals_) {
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    throw std::system_error(error, std::generic_category(), "signalfd");
  }
  std::signal(SIGPIPE, SIG_IGN);
}

ServiceHost::~ServiceHost() {
  signals_.Reset();
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void ServiceHost::Run(ServiceEvents& events) {
  ServiceController controller(events);
  controller.Start();
  while (controller.State() != ServiceState::Stopped) {
    signalfd_siginfo info{};
    const ssize_t got = ::read(signals_.Get(), &info, sizeof info);
    if (got < 0 && errno == EINTR) continue;
    if (got != static_cast<ssize_t>(sizeof info)) {
      throw std::system_error(errno, std::generic_category(), "read signalfd");
    }
    switch (info.ssi_signo) {
      case SIGTERM:
      case SIGINT:
        controller.Control(ServiceControl::Stop);
        break;
      case SIGUSR1:
        controller.Control(ServiceControl::Pause);
        break;
      case SIGUSR2:
        controller.Control(ServiceControl::Continue);
        break;
      default:
        break;
    }
  }
}

}  // namespace kelvora::platform
