// The ledger file with the Windows API: appends under a whole-file lock and FlushFileBuffers,
// reads with ReadFile at an offset from where the last read stopped.
#include <windows.h>

#include <cstdint>
#include <string>

#include "Ledger.h"

namespace kelvora::sim {
namespace {

// Owns one open file handle.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Reads up to size bytes at offset at: the count read, 0 at the end, -1 on a failure.
long long readAt(HANDLE file, char* into, std::size_t size, std::int64_t at) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(at) & 0xFFFFFFFF);
  where.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(at) >> 32);
  DWORD got = 0;
  if (!::ReadFile(file, into, static_cast<DWORD>(size), &got, &where)) {
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

// Like WriteFile but makes sure the whole of `data` is written before returning.
bool writeAll(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    DWORD written = 0;
    if (!::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
        written == 0) {
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

// The length of the file up to and including its last LF; nothing when it cannot be read.
std::optional<LONGLONG> completeLength(HANDLE file, LONGLONG size) {
  char block[4096];
  for (LONGLONG end = size; end > 0;) {
    const LONGLONG start = end > static_cast<LONGLONG>(sizeof block) ? end - sizeof block : 0;
    const auto want = static_cast<DWORD>(end - start);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(start & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(start >> 32);
    DWORD got = 0;
    if (!::ReadFile(file, block, want, &got, &at) || got != want) return std::nullopt;
    for (auto i = want; i > 0; --i) {
      if (block[i - 1] == '\n') return start + i;
    }
    end = start;
  }
  return 0;
}

}  // namespace

bool Ledger::append(const Event& event) const {
  const Handle file(::CreateFileW(file_.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  // Another process sharing the library's folder may append at the same moment; the lock goes
  // with the handle.
  OVERLAPPED whole{};
  if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    return false;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return false;
  // A line that a crash cut short was never reported to anyone: drop it rather than let the new
  // event complete it into something that looks like a whole line.
  const auto end = completeLength(file.get(), size.QuadPart);
  if (!end) return false;
  LARGE_INTEGER position{};
  position.QuadPart = *end;
  if (!::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) ||
      (*end != size.QuadPart && !::SetEndOfFile(file.get()))) {
    return false;
  }
  return writeAll(file.get(), event.line() + "\n") && ::FlushFileBuffers(file.get());
}

const LedgerSummary* Ledger::read() {
  // Shared for deletion too, so that the file can still be deleted or replaced while it is read.
  const Handle file(::CreateFileW(file_.wstring().c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return nullptr;
    restart();  // deleted: the server starts from nothing
    return &summary_;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return nullptr;
  }
  const FileIdentity identity{
      info.dwVolumeSerialNumber,
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  const auto size = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  return take(identity, size, [&](char* into, std::size_t count, std::int64_t at) {
    return readAt(file.get(), into, count, at);
  });
}

}  // namespace kelvora::sim
