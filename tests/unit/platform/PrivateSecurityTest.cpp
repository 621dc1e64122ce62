// The access list of the service's private files on Windows: the service's own SID (computed as
// Windows computes it, checked against a SID Windows publishes) and never an entry for the
// administrator who ran the installer.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/PrivateDirectory.h"
#include "platform/win32/PrivateSecurity.h"

namespace kelvora::platform {
namespace {

TEST(PrivateSecurity, ComputesAServiceSidAsWindowsDoes) {
  // The SID of "NT SERVICE\TrustedInstaller", on every Windows since Vista; case does not count.
  const std::wstring trustedInstaller =
      L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  EXPECT_EQ(win32::ServiceSid(L"TrustedInstaller"), trustedInstaller);
  EXPECT_EQ(win32::ServiceSid(L"trustedinstaller"), trustedInstaller);
}

// Read from the descriptor new files are made with: Wine keeps a file's own descriptor only where
// the file system has extended attributes, so the file's would not show it everywhere.
TEST(PrivateSecurity, PrivateFilesGrantTheNamedServiceSid) {
  SetPrivateFilesService("KelvoraSiTefService");
  for (SECURITY_ATTRIBUTES* attributes : {win32::PrivateFileSecurity(), win32::PrivateFolderSecurity()}) {
    ASSERT_NE(attributes, nullptr);
    LPWSTR text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        attributes->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
        nullptr));
    const std::wstring sddl = text;
    ::LocalFree(text);
    const std::string shown(sddl.begin(), sddl.end());
    EXPECT_EQ(sddl.rfind(L"D:P", 0), 0u) << shown << ": nothing inherited from the folder above";
    for (const std::wstring& sid : {win32::ServiceSid(L"KelvoraSiTefService"), std::wstring(L"SY"),
                                    std::wstring(L"BA")}) {
      EXPECT_NE(sddl.find(L";;;" + sid + L")"), std::wstring::npos) << shown;
    }
  }
}

}  // namespace
}  // namespace kelvora::platform
