// Whether a file or folder is the service's alone, asserted the same way on both systems.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
// These need windows.h before them.
#include <aclapi.h>
#include <sddl.h>
#endif

namespace kelvora::testing {

// On Linux: the mode is exactly linuxMode. On Windows: the access list lets nobody in but the
// local system account, the administrators and the running user (Wine reports the other bits of
// a Unix mode as an entry for Everyone, so a file left with the default access fails there too).
inline ::testing::AssertionResult IsPrivate(const std::filesystem::path& path,
                                            std::filesystem::perms linuxMode) {
#ifdef _WIN32
  (void)linuxMode;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return ::testing::AssertionFailure() << "no access list for " << path.string();
  }
  HANDLE token = nullptr;
  ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
  char user[256];
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, user, sizeof user, &size);
  ::CloseHandle(token);
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  if (dacl == nullptr) result = ::testing::AssertionFailure() << path.string() << " is open to all";
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    ::GetAce(dacl, i, &entry);
    if (static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
    if (::IsWellKnownSid(sid, WinLocalSystemSid) ||
        ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        ::EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid)) {
      continue;
    }
    LPWSTR text = nullptr;
    ::ConvertSidToStringSidW(sid, &text);
    result = ::testing::AssertionFailure()
             << path.string() << " lets " << std::filesystem::path(text).string() << " in";
    ::LocalFree(text);
  }
  ::LocalFree(descriptor);
  return result;
#else
  const std::filesystem::perms mode =
      std::filesystem::status(path).permissions() & std::filesystem::perms::all;
  if (mode == linuxMode) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << path.string() << " has mode " << std::oct << static_cast<unsigned>(mode) << ", not "
         << static_cast<unsigned>(linuxMode);
#endif
}

}  // namespace kelvora::testing
