// The service framework. On Linux the process runs in the foreground (under systemd), and POSIX
// signals stand for the service control requests (SIGTERM/SIGINT stop, SIGUSR1 pauses, SIGUSR2
// continues, SIGHUP says the machine resumed from sleep). On Windows the service control manager
// sends them; started from a console the program runs in the foreground and Ctrl-C stops it.
#pragma once

#include <stdexcept>
#include <string>

#ifndef _WIN32
#include "platform/UniqueFd.h"

#include <csignal>
#endif

namespace kelvora::platform {

// The events a service module answers. They run on the thread that runs the host; each is
// reported to the framework as successful whatever it does.
class ServiceEvents {
 public:
  virtual ~ServiceEvents() = default;
  virtual void ServiceStart() = 0;
  virtual void ServiceStop() = 0;
  virtual void ServicePause() = 0;
  virtual void ServiceContinue() = 0;
  // The machine resumed from sleep or hibernation (Windows' Fast Startup boots by resuming, so
  // a "shut down" till comes back this way too): what the service read at its start may be stale.
  virtual void ServiceResume() = 0;
  virtual void ServiceAfterInstall() = 0;
};

// Thrown by ServiceStart or ServiceContinue when the service cannot serve at all (it cannot listen
// for pages): the framework runs ServiceStop and ends the service with Code as its own exit code,
// so that the service control manager or systemd shows the failure and applies its recovery
// actions, instead of a service that looks running and serves nothing.
class ServiceFailure : public std::runtime_error {
 public:
  ServiceFailure(int code, const std::string& what) : std::runtime_error(what), Code(code) {}
  int Code;
};

enum class ServiceControl { Stop, Pause, Continue, Resume };
enum class ServiceState { Stopped, Running, Paused };

// Which control request reaches which event, given the service's state: pause only while running,
// continue only while paused, stop and resume while running or paused; any other request is
// ignored, as the Windows service control manager refuses it. An event that throws is reported on
// stderr and counts as done, except a ServiceFailure, which stops the service with its code.
class ServiceController {
 public:
  explicit ServiceController(ServiceEvents& events) : events_(events) {}

  // Stopped -> Running through ServiceStart.
  void Start();
  void Control(ServiceControl control);
  ServiceState State() const { return state_; }
  // 0, or the code of the ServiceFailure that stopped the service.
  int ExitCode() const { return exitCode_; }

 private:
  // Runs ServiceStop after a failure and keeps its code.
  void StopAfterFailure(int code);

  ServiceEvents& events_;
  ServiceState state_ = ServiceState::Stopped;
  int exitCode_ = 0;
};

// Owns the signal descriptor that carries the control requests. Construct it first in main(),
// before any thread starts: it blocks SIGTERM, SIGINT, SIGUSR1, SIGUSR2 and SIGHUP in the calling
// thread, and threads created afterwards inherit the mask, so only the host ever sees them.
// SIGPIPE is ignored for the whole process, so a write to a closed socket fails instead of
// killing it.
class ServiceHost {
 public:
  ServiceHost();
  ~ServiceHost();
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // Starts the service, then blocks until a control request arrives and applies one at a time
  // until a stop; returns after ServiceStop has run, with the service's exit code (0, or that of
  // the ServiceFailure that stopped it). Nothing runs while no request arrives.
  int Run(ServiceEvents& events);

#ifndef _WIN32
 private:
  sigset_t previousMask_{};
  UniqueFd signals_;
#endif
};

}  // namespace kelvora::platform
