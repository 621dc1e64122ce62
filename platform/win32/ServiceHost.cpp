// The service host on Windows: the service control manager's dispatcher when the manager started
// the process, else the console, where Ctrl-C, Ctrl-Break and closing the window stop the service.
#include "platform/ServiceHost.h"

#include <winsock2.h>
// After winsock2.h, which must come first; tlhelp32.h needs windows.h before it.
#include <windows.h>
// The process list, to find the parent process.
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace kelvora::platform {
namespace {

// The control requests waiting for the thread that runs the service events. The manager's handler
// and the console handler run on threads of their own and only post here.
class ControlQueue {
 public:
  void Post(ServiceControl control) {
    {
      const std::lock_guard lock(mutex_);
      pending_.push_back(control);
    }
    ready_.notify_one();
  }

  ServiceControl Take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !pending_.empty(); });
    const ServiceControl control = pending_.front();
    pending_.pop_front();
    return control;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<ServiceControl> pending_;
};

// How long the manager waits for the next sign of progress of a pending state before it gives up
// on the service, and how often that sign is given while the state lasts.
constexpr DWORD kWaitHintMs = 5000;
constexpr std::chrono::seconds kProgressEvery{1};

bool IsPending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
}

// The service's status as the manager sees it. A stop may wait for a payment in progress to end,
// for minutes: while a state is pending, a thread of its own advances the checkpoint every second,
// so the manager (and services.msc, and Windows' shutdown) sees progress instead of a service
// that hangs (error 1053). It sleeps while no state is pending.
class StatusReporter {
 public:
  void Open(SERVICE_STATUS_HANDLE handle) {
    handle_ = handle;
    progress_ = std::thread([this] { AdvanceWhilePending(); });
  }

  // A non-zero exitCode, with STOPPED, is the service's own code of failure: the manager shows it
  // and applies the recovery actions.
  void Report(DWORD state, int exitCode = 0) {
    {
      const std::lock_guard lock(mutex_);
      status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
      status_.dwCurrentState = state;
      status_.dwWin32ExitCode = exitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
      status_.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
      // Pre-shutdown rather than shutdown alone: Windows then waits for the stop (up to the
      // pre-shutdown time the installation sets) instead of ending the process mid-payment.
      // Power events: a till that slept, or that was "shut down" with Fast Startup and resumed,
      // must not go on with what it read before.
      status_.dwControlsAccepted = state == SERVICE_START_PENDING || state == SERVICE_STOPPED
                                       ? 0
                                       : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE |
                                             SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN |
                                             SERVICE_ACCEPT_POWEREVENT;
      status_.dwWaitHint = IsPending(state) ? kWaitHintMs : 0;
      status_.dwCheckPoint = IsPending(state) ? status_.dwCheckPoint + 1 : 0;
      ::SetServiceStatus(handle_, &status_);
    }
    changed_.notify_all();
  }

  // Ends the progress thread; the last report (STOPPED) comes after this.
  void Close() {
    {
      const std::lock_guard lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
    if (progress_.joinable()) progress_.join();
  }

 private:
  void AdvanceWhilePending() {
    std::unique_lock lock(mutex_);
    while (!closed_) {
      if (!IsPending(status_.dwCurrentState)) {
        changed_.wait(lock);
        continue;
      }
      const DWORD state = status_.dwCurrentState;
      const DWORD checkpoint = status_.dwCheckPoint;
      changed_.wait_for(lock, kProgressEvery);
      if (!closed_ && status_.dwCurrentState == state && status_.dwCheckPoint == checkpoint) {
        ++status_.dwCheckPoint;
        ::SetServiceStatus(handle_, &status_);
      }
    }
  }

  SERVICE_STATUS_HANDLE handle_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  SERVICE_STATUS status_{};
  bool closed_ = false;
  std::thread progress_;
};

// The one service of this process: what the manager's callbacks, which take no context of ours
// when they start, reach.
struct HostedService {
  ServiceEvents* events = nullptr;
  ControlQueue controls;
  StatusReporter status;
  std::atomic<int> exitCode{0};
};

HostedService gService;

void ReportStatus(DWORD state, int exitCode = 0) {
  gService.status.Report(state, exitCode);
}

DWORD StateOf(ServiceState state) {
  switch (state) {
    case ServiceState::Running:
      return SERVICE_RUNNING;
    case ServiceState::Paused:
      return SERVICE_PAUSED;
    case ServiceState::Stopped:
      break;
  }
  return SERVICE_STOPPED;
}

// Runs the events: start, then one control request at a time until a stop; returns the
// service's exit code once ServiceStop has run and released what it holds. With report, every
// change of state but the last (STOPPED, the caller's) is told to the manager.
int RunControls(ServiceEvents& events, bool report) {
  ServiceController controller(events);
  controller.Start();
  while (controller.State() != ServiceState::Stopped) {
    if (report) ReportStatus(StateOf(controller.State()));
    controller.Control(gService.controls.Take());
  }
  return controller.ExitCode();
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_PRESHUTDOWN:
    case SERVICE_CONTROL_SHUTDOWN:
      ReportStatus(SERVICE_STOP_PENDING);
      gService.controls.Post(ServiceControl::Stop);
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      ReportStatus(SERVICE_PAUSE_PENDING);
      gService.controls.Post(ServiceControl::Pause);
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      ReportStatus(SERVICE_CONTINUE_PENDING);
      gService.controls.Post(ServiceControl::Continue);
      return NO_ERROR;
    case SERVICE_CONTROL_POWEREVENT:
      // Sent on every resume, whether or not a user is there to see it; the other power events
      // (a suspend coming, the battery) need nothing, and a suspend is never refused.
      if (eventType == PBT_APMRESUMEAUTOMATIC) gService.controls.Post(ServiceControl::Resume);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  // The name is ignored for a service that has its own process.
  const SERVICE_STATUS_HANDLE handle =
      ::RegisterServiceCtrlHandlerExW(L"", ServiceControlHandler, nullptr);
  if (handle == nullptr) return;
  gService.status.Open(handle);
  ReportStatus(SERVICE_START_PENDING);
  const int exitCode = RunControls(*gService.events, true);
  gService.status.Close();
  // Only now, with the service's objects released, is it STOPPED: an installer that waits for
  // that state then finds the files free, and the dispatcher in main() may return at once.
  gService.exitCode = exitCode;
  ReportStatus(SERVICE_STOPPED, exitCode);
}

// Set once the console program's service has stopped.
HANDLE gConsoleStopped = nullptr;

BOOL WINAPI ConsoleControlHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      gService.controls.Post(ServiceControl::Stop);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Windows ends the process as soon as this returns: the stop must have run first, or a
      // closed console window would cut a payment off in the library.
      gService.controls.Post(ServiceControl::Stop);
      ::WaitForSingleObject(gConsoleStopped, INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

// Whether the service control manager started this process: its parent is services.exe. Asking
// the dispatcher instead would block for a long while in a console on some systems before it
// reports that no manager is there.
bool StartedByServiceManager() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const DWORD self = ::GetCurrentProcessId();
  DWORD parent = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more && parent == 0;
       more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  bool byManager = false;
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more && parent != 0;
       more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == parent) {
      byManager = ::lstrcmpiW(entry.szExeFile, L"services.exe") == 0;
      break;
    }
  }
  ::CloseHandle(snapshot);
  return byManager;
}

}  // namespace

ServiceHost::ServiceHost() {
  // The listener and the HTTP client both use Winsock, which needs starting once per process.
  WSADATA data{};
  if (const int rc = ::WSAStartup(MAKEWORD(2, 2), &data); rc != 0) {
    throw std::system_error(rc, std::system_category(), "WSAStartup");
  }
}

ServiceHost::~ServiceHost() {
  ::WSACleanup();
}

int ServiceHost::Run(ServiceEvents& events) {
  gService.events = &events;
  if (StartedByServiceManager()) {
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L""), ServiceMain}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherW(table)) return gService.exitCode;
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "StartServiceCtrlDispatcherW");
  }
  // Not started by the service control manager: a console program in the foreground.
  gConsoleStopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);
  const int exitCode = RunControls(events, false);
  ::SetEvent(gConsoleStopped);
  ::SetConsoleCtrlHandler(ConsoleControlHandler, FALSE);
  return exitCode;
}

}  // namespace kelvora::platform
