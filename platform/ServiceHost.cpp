// Signals to service events: a signalfd read by the thread that runs the service.
#include "platform/ServiceHost.h"

#include <pthread.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <system_error>

namespace kelvora::platform {
namespace {

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP}) sigaddset(&set, signal);
  return set;
}

}  // namespace

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

int ServiceHost::Run(ServiceEvents& events) {
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
      case SIGHUP:
        controller.Control(ServiceControl::Resume);
        break;
      default:
        break;
    }
  }
  return controller.ExitCode();
}

}  // namespace kelvora::platform
