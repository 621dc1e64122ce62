// Builds the private security descriptors once per process from the running user's SID.
#include "platform/win32/PrivateSecurity.h"

#include <sddl.h>

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PrivateDirectory.h"
#include "platform/win32/WideText.h"

namespace kelvora::platform::win32 {
namespace {

// The running user's SID as text ("S-1-5-18" for the local system account); empty if unknown.
std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::wstring text;
  std::string buffer(size, '\0');
  if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    LPWSTR sid = nullptr;
    if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
      text = sid;
      ::LocalFree(sid);
    }
  }
  ::CloseHandle(token);
  return text;
}

// Whether the program runs with the administrators' rights (elevated, or as the system).
bool RunsAsAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  ::FreeSid(administrators);
  return member != FALSE;
}

std::mutex gLock;
std::wstring gServiceSid;  // under gLock

// Lives for the whole process: the attributes are handed to every file creation.
class PrivateDescriptor {
 public:
  explicit PrivateDescriptor(const wchar_t* inheritance) {
    // D:P is a protected DACL: the entries of the folder above are not inherited.
    std::wstring sddl =
        std::wstring(L"D:P(A;") + inheritance + L";FA;;;SY)(A;" + inheritance + L";FA;;;BA)";
    const std::wstring& service = gServiceSid;
    if (!service.empty()) sddl += std::wstring(L"(A;") + inheritance + L";FA;;;" + service + L")";
    // The technician who ran the installer is an administrator and needs no entry of their own:
    // one would keep them in control of the key after their rights are gone.
    const std::wstring user = RunsAsAdministrator() ? std::wstring() : CurrentUserSid();
    if (!user.empty()) sddl += std::wstring(L"(A;") + inheritance + L";FA;;;" + user + L")";
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                               &descriptor_, nullptr)) {
      attributes_ = {sizeof attributes_, descriptor_, FALSE};
    }
  }
  PrivateDescriptor(const PrivateDescriptor&) = delete;
  PrivateDescriptor& operator=(const PrivateDescriptor&) = delete;
  ~PrivateDescriptor() { ::LocalFree(descriptor_); }

  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

// The descriptors of files and of folders, built at their first use and again after the service's
// SID is named; each lives until the process ends, as the attributes handed out point into it.
struct Descriptors {
  PrivateDescriptor File{L""};
  // Object and container inherit: files and subfolders made inside get the same access.
  PrivateDescriptor Folder{L"OICI"};
};

std::vector<std::unique_ptr<Descriptors>> gDescriptors;  // under gLock; the last is current

Descriptors& CurrentDescriptors() {
  const std::lock_guard lock(gLock);
  if (gDescriptors.empty()) gDescriptors.push_back(std::make_unique<Descriptors>());
  return *gDescriptors.back();
}

}  // namespace

SECURITY_ATTRIBUTES* PrivateFileSecurity() {
  return CurrentDescriptors().File.Attributes();
}

SECURITY_ATTRIBUTES* PrivateFolderSecurity() {
  return CurrentDescriptors().Folder.Attributes();
}

std::wstring ServiceSid(std::wstring_view serviceName) {
  std::wstring upper(serviceName);
  ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  std::string bytes;
  for (wchar_t c : upper) {
    bytes += static_cast<char>(c & 0xff);
    bytes += static_cast<char>((c >> 8) & 0xff);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr) ||
      length != 20) {
    return {};
  }
  std::wstring sid = L"S-1-5-80";
  for (int i = 0; i < 5; ++i) {
    const uint32_t part = static_cast<uint32_t>(digest[4 * i]) |
                          static_cast<uint32_t>(digest[4 * i + 1]) << 8 |
                          static_cast<uint32_t>(digest[4 * i + 2]) << 16 |
                          static_cast<uint32_t>(digest[4 * i + 3]) << 24;
    sid += L"-" + std::to_wstring(part);
  }
  return sid;
}

}  // namespace kelvora::platform::win32

namespace kelvora::platform {

void SetPrivateFilesService(std::string_view serviceName) {
  const std::wstring sid = win32::ServiceSid(win32::Widen(serviceName));
  const std::lock_guard lock(win32::gLock);
  win32::gServiceSid = sid;
  win32::gDescriptors.push_back(std::make_unique<win32::Descriptors>());
}

}  // namespace kelvora::platform
