// Builds the private security descriptors once per process from the running user's SID.
#include "platform/win32/PrivateSecurity.h"

#include <sddl.h>

#include <string>

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

// Lives for the whole process: the attributes are handed to every file creation.
class PrivateDescriptor {
 public:
  explicit PrivateDescriptor(const wchar_t* inheritance) {
    // D:P is a protected DACL: the entries of the folder above are not inherited.
    std::wstring sddl =
        std::wstring(L"D:P(A;") + inheritance + L";FA;;;SY)(A;" + inheritance + L";FA;;;BA)";
    const std::wstring user = CurrentUserSid();
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

}  // namespace

SECURITY_ATTRIBUTES* PrivateFileSecurity() {
  static PrivateDescriptor descriptor(L"");
  return descriptor.Attributes();
}

SECURITY_ATTRIBUTES* PrivateFolderSecurity() {
  // Object and container inherit: files and subfolders made inside get the same access.
  static PrivateDescriptor descriptor(L"OICI");
  return descriptor.Attributes();
}

}  // namespace kelvora::platform::win32
