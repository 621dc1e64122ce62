// The service host on Windows: the service control manager's dispatcher when the manager started
// the process, else the console, where Ctrl-C, Ctrl-Break and closing the window stop the service.
#include "platform/ServiceHost.h"

#include <winsock2.h>
// After winsock2.h, which must come first; tlhelp32.h needs windows.h before it.
#include <windows.h>
// The process list, to find the parent process.
#include <tlhelp32.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <system_error>

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

// The one service of this process: what the manager's callbacks, which take no context of ours
// when they start, reach.
struct HostedService {
  ServiceEvents* events = nullptr;
  ControlQueue controls;
  SERVICE_STATUS_HANDLE statusHandle = nullptr;
  SERVICE_STATUS status{};
  int exitCode = 0;
};

HostedService gService;

// How long the manager waits for a pending state before it gives up on the service.
constexpr DWORD kWaitHintMs = 5000;

// A non-zero exitCode, with STOPPED, is the service's own code of failure: the manager shows it
// and applies the recovery actions.
void ReportStatus(DWORD state, int exitCode = 0) {
  SERVICE_STATUS& status = gService.status;
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwWin32ExitCode = exitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                       state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
  status.dwControlsAccepted =
      state == SERVICE_START_PENDING || state == SERVICE_STOPPED
          ? 0
          : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
  status.dwWaitHint = pending ? kWaitHintMs : 0;
  status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
  ::SetServiceStatus(gService.statusHandle, &status);
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
// service's exit code. With report, every change of state is told to the manager.
int RunControls(ServiceEvents& events, bool report) {
  ServiceController controller(events);
  controller.Start();
  if (report) ReportStatus(StateOf(controller.State()), controller.ExitCode());
  while (controller.State() != ServiceState::Stopped) {
    controller.Control(gService.controls.Take());
    if (report) ReportStatus(StateOf(controller.State()), controller.ExitCode());
  }
  return controller.ExitCode();
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
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
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  // The name is ignored for a service that has its own process.
  gService.statusHandle = ::RegisterServiceCtrlHandlerExW(L"", ServiceControlHandler, nullptr);
  if (gService.statusHandle == nullptr) return;
  ReportStatus(SERVICE_START_PENDING);
  gService.exitCode = RunControls(*gService.events, true);
}

BOOL WINAPI ConsoleControlHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      gService.controls.Post(ServiceControl::Stop);
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
  ::SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);
  const int exitCode = RunControls(events, false);
  ::SetConsoleCtrlHandler(ConsoleControlHandler, FALSE);
  return exitCode;
}

}  // namespace kelvora::platform
