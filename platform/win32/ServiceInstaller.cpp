// Registration with the service control manager: CreateServiceW, DeleteService, and the
// service's Description value in the registry.
#include "platform/ServiceInstaller.h"

#include <windows.h>

#include <stdexcept>

#include "platform/win32/WideText.h"

namespace kelvora::platform {
namespace {

// Owns one handle of the service control manager.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
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

}  // namespace

void InstallService(const ServiceRegistration& registration) {
  const ScHandle manager(OpenManager());
  const std::wstring name = win32::Widen(registration.Name);
  const std::wstring display = win32::Widen(registration.DisplayName);
  const std::wstring command = CommandLine(registration.CommandLine);
  const ScHandle service(::CreateServiceW(manager.Get(), name.c_str(), display.c_str(),
                                          SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                          SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                          nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) Fail("Cannot install the service " + registration.Name);
}

void UninstallService(std::string_view name) {
  const ScHandle manager(OpenManager());
  const ScHandle service(
      ::OpenServiceW(manager.Get(), win32::Widen(name).c_str(), SERVICE_STOP | DELETE));
  if (!service) Fail("Cannot open the service " + std::string(name));
  if (!::DeleteService(service.Get())) Fail("Cannot uninstall the service " + std::string(name));
}

bool SetServiceDescription(std::string_view name, std::string_view description) {
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + win32::Widen(name);
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY,
                      &opened) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring text = win32::Widen(description);
  const LSTATUS written = ::RegSetValueExW(opened, L"Description", 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(text.c_str()),
                                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(opened);
  return written == ERROR_SUCCESS;
}

}  // namespace kelvora::platform
