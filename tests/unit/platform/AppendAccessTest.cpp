// The access rights of the handle the logs are appended through, read back from the kernel object:
// Windows locks a file only through a handle with read or write-data access, while Wine locks any
// handle, so a line appearing under Wine proves nothing by itself.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/FileSystem.h"
#include "platform/win32/FileSystem.h"

namespace kelvora::platform {
namespace {

ACCESS_MASK GrantedAccess(HANDLE handle) {
  PUBLIC_OBJECT_BASIC_INFORMATION information{};
  ULONG length = 0;
  const NTSTATUS status = ::NtQueryObject(handle, ObjectBasicInformation, &information,
                                          sizeof information, &length);
  EXPECT_GE(status, 0) << "NtQueryObject";
  return information.GrantedAccess;
}

TEST(AppendAccess, TheAppendHandleCanBeLockedAndOnlyAppends) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "kelvora-append-access.log";
  std::filesystem::remove(file);
  HANDLE handle = win32::OpenForAppending(file.wstring());
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  const ACCESS_MASK access = GrantedAccess(handle);
  // LockFileEx's documented requirement (GENERIC_READ or GENERIC_WRITE), and appends only: with
  // FILE_WRITE_DATA a write would go to the file pointer instead of the end.
  EXPECT_EQ(access & FILE_READ_DATA, static_cast<ACCESS_MASK>(FILE_READ_DATA));
  EXPECT_EQ(access & FILE_APPEND_DATA, static_cast<ACCESS_MASK>(FILE_APPEND_DATA));
  EXPECT_EQ(access & FILE_WRITE_DATA, 0u);
  OVERLAPPED whole{};
  EXPECT_TRUE(::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));
  ::UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
  ::CloseHandle(handle);

  AppendFileBytes(file.string(), "primeira\r\n");
  AppendFileBytes(file.string(), "segunda\r\n");
  EXPECT_EQ(ReadFileBytes(file.string()), "primeira\r\nsegunda\r\n");
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace kelvora::platform
