// Registration with the service control manager: CreateServiceW (or, for a service already
// there, ChangeServiceConfigW, so an upgrade gets the whole configuration), the recovery actions,
// DeleteService, and the service's description.
#include "platform/ServiceInstaller.h"

#include <windows.h>

#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "platform/win32/WideText.h"

namespace kelvora::platform {
namespace {

// Owns one handle of the service control manager.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  ScHandle& operator=(ScHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~ScHandle() {
    if (handle_ != nullptr) ::CloseServiceHandle(handle_);
  }
  SC_HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + win32::ErrorText(::GetLastError()));
}

SC_HANDLE OpenManager() {
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) Fail("Cannot open the service control manager");
  return manager;
}

// The command line of the service: each argument quoted, so paths with blanks stay whole.
std::wstring CommandLine(const std::vector<std::string>& arguments) {
  std::wstring line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += L' ';
    line += L'"' + win32::Widen(argument) + L'"';
  }
  return line;
}

// After a crash, or a stop that reports a failure (a port it cannot listen on), the service
// control manager starts the service again after 5 s, then 30 s, then every 60 s, counting the
// failures afresh after a day without one; without these a till stays without payments until
// someone restarts it by hand. A manager that does not know these settings (Wine's refuses them
// as an invalid level) gets the service without them, with a warning.
void SetRecoveryActions(SC_HANDLE service, const std::string& name) {
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 5'000}, {SC_ACTION_RESTART, 30'000},
                         {SC_ACTION_RESTART, 60'000}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 24 * 60 * 60;
  failure.cActions = static_cast<DWORD>(std::size(actions));
  failure.lpsaActions = actions;
  SERVICE_FAILURE_ACTIONS_FLAG onFailedStop{TRUE};
  if (::ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) &&
      ::ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onFailedStop)) {
    return;
  }
  if (::GetLastError() != ERROR_INVALID_LEVEL) {
    Fail("Cannot set the recovery actions of the service " + name);
  }
  std::fprintf(stderr,
               "Warning: this service control manager has no recovery actions; %s will not be "
               "restarted after a failure\n",
               name.c_str());
}

// How long Windows' shutdown waits for the service to stop before it ends the process: a payment
// in progress when the till is shut down reaches its end (the customer's card answered, the
// confirmation sent) rather than being cut off in the library.
constexpr DWORD kPreshutdownTimeoutMs = 180'000;

void SetPreshutdownTimeout(SC_HANDLE service, const std::string& name) {
  SERVICE_PRESHUTDOWN_INFO info{kPreshutdownTimeoutMs};
  if (::ChangeServiceConfig2W(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &info)) return;
  if (::GetLastError() != ERROR_INVALID_LEVEL) {
    Fail("Cannot set the pre-shutdown time of the service " + name);
  }
  std::fprintf(stderr,
               "Warning: this service control manager has no pre-shutdown time; Windows may end "
               "%s before a payment in progress ends\n",
               name.c_str());
}

// The service runs as the local system account, which its vendor's library and pin-pad drivers
// expect; what it may do is narrowed instead: a service SID of its own in its token (its private
// files grant that SID), and only the privileges it uses (all others removed from the token).
void SetLeastPrivilege(SC_HANDLE service, const std::string& name) {
  SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
  wchar_t privileges[] = L"SeChangeNotifyPrivilege\0SeCreateGlobalPrivilege\0";
  SERVICE_REQUIRED_PRIVILEGES_INFOW required{privileges};
  if (::ChangeServiceConfig2W(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid) &&
      ::ChangeServiceConfig2W(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required)) {
    return;
  }
  if (::GetLastError() != ERROR_INVALID_LEVEL) {
    Fail("Cannot narrow the privileges of the service " + name);
  }
  std::fprintf(stderr,
               "Warning: this service control manager has no service SIDs or required "
               "privileges; %s keeps every privilege of its account\n",
               name.c_str());
}

}  // namespace

void InstallService(const ServiceRegistration& registration) {
  const ScHandle manager(OpenManager());
  const std::wstring name = win32::Widen(registration.Name);
  const std::wstring display = win32::Widen(registration.DisplayName);
  const std::wstring command = CommandLine(registration.CommandLine);
  ScHandle service(::CreateServiceW(manager.Get(), name.c_str(), display.c_str(),
                                    SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                    nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service && ::GetLastError() == ERROR_SERVICE_EXISTS) {
    // An upgrade or a repair: the existing registration is brought to this program's, path
    // included, rather than left as an older version made it.
    service = ScHandle(::OpenServiceW(manager.Get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) Fail("Cannot open the service " + registration.Name);
    if (!::ChangeServiceConfigW(service.Get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                nullptr, nullptr, display.c_str())) {
      Fail("Cannot update the service " + registration.Name);
    }
  }
  if (!service) Fail("Cannot install the service " + registration.Name);
  SetRecoveryActions(service.Get(), registration.Name);
  SetPreshutdownTimeout(service.Get(), registration.Name);
  SetLeastPrivilege(service.Get(), registration.Name);
}

void UninstallService(std::string_view name) {
  const ScHandle manager(OpenManager());
  const ScHandle service(
      ::OpenServiceW(manager.Get(), win32::Widen(name).c_str(), SERVICE_STOP | DELETE));
  if (!service) Fail("Cannot open the service " + std::string(name));
  if (!::DeleteService(service.Get())) Fail("Cannot uninstall the service " + std::string(name));
}

// Through the service control manager, which keeps it as the registry's Description value.
bool SetServiceDescription(std::string_view name, std::string_view description) {
  const ScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  const ScHandle service(
      ::OpenServiceW(manager.Get(), win32::Widen(name).c_str(), SERVICE_CHANGE_CONFIG));
  if (!service) return false;
  std::wstring text = win32::Widen(description);
  SERVICE_DESCRIPTIONW value{text.data()};
  return ::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION, &value) != FALSE;
}

}  // namespace kelvora::platform
