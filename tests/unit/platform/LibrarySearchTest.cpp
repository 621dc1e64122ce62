// The service's DLL search order, as the loader applies it: a DLL loaded by name comes from the
// library's folder, never from PATH or the working folder, where anyone may have put one.
#include "platform/LibrarySearch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace kelvora::platform {
namespace {

TEST(LibrarySearch, ADllByNameComesFromTheLibraryFolderOnly) {
  const std::filesystem::path root = std::filesystem::temp_directory_path() / "kelvora-search";
  std::filesystem::remove_all(root);
  const std::filesystem::path base = root / "base";
  const std::filesystem::path onPath = root / "on-path";
  std::filesystem::create_directories(base / "dll");
  std::filesystem::create_directories(onPath);
  std::filesystem::copy_file(SIMULATOR_DLL, base / "dll" / "kelvora-in-dll.dll");
  std::filesystem::copy_file(SIMULATOR_DLL, onPath / "kelvora-on-path.dll");
  std::filesystem::copy_file(SIMULATOR_DLL, base / "kelvora-in-working-folder.dll");
  ::SetEnvironmentVariableW(L"PATH", onPath.wstring().c_str());
  const std::filesystem::path workingFolder = std::filesystem::current_path();

  RestrictLibrarySearch(base);

  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), base));
  HMODULE fromDll = ::LoadLibraryW(L"kelvora-in-dll.dll");
  EXPECT_NE(fromDll, nullptr);
  EXPECT_EQ(::LoadLibraryW(L"kelvora-on-path.dll"), nullptr);
  EXPECT_EQ(::LoadLibraryW(L"kelvora-in-working-folder.dll"), nullptr);
  if (fromDll != nullptr) ::FreeLibrary(fromDll);
  std::filesystem::current_path(workingFolder);
}

}  // namespace
}  // namespace kelvora::platform
