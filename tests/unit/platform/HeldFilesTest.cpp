// Files held for a moment by another program without sharing, as antivirus and backup programs
// hold them: each file operation of the service waits for the file rather than failing (a lost
// log line, a backup or an outbox record not written); one held for good still fails.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/FileSystem.h"

namespace kelvora::platform {
namespace {

// Opens the file with no sharing at all, as a scanner does, until released.
class ExclusiveHolder {
 public:
  explicit ExclusiveHolder(const std::filesystem::path& file)
      : handle_(::CreateFileW(file.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~ExclusiveHolder() { Release(); }
  bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (Held()) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

TEST(HeldFiles, EachOperationWaitsForAFileHeldForAMoment) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "kelvora-held-file.json";
  const struct {
    const char* name;
    std::function<void(const std::string&)> operation;
  } cases[] = {
      {"append", [](const std::string& path) { AppendFileBytes(path, "line\n"); }},
      {"replace", [](const std::string& path) { ReplaceFileBytes(path, "{}", true); }},
      {"read", [](const std::string& path) { ReadFileBytes(path); }},
      {"delete", [](const std::string& path) { EXPECT_TRUE(DeleteFileAndSync(path)); }},
  };
  for (const auto& c : cases) {
    ReplaceFileBytes(file.string(), "before\n", false);
    ExclusiveHolder holder(file);
    ASSERT_TRUE(holder.Held()) << c.name;
    std::thread release([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      holder.Release();
    });
    EXPECT_NO_THROW(c.operation(file.string())) << c.name;
    release.join();
  }
  std::filesystem::remove(file);
}

TEST(HeldFiles, AFileHeldForGoodStillFails) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "kelvora-held-for-good.log";
  ReplaceFileBytes(file.string(), "before\n", false);
  {
    const ExclusiveHolder holder(file);
    ASSERT_TRUE(holder.Held());
    EXPECT_THROW(AppendFileBytes(file.string(), "line\n"), std::system_error);
  }
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace kelvora::platform
