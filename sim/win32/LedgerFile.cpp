// Appending to the ledger with the Windows API: a whole-file lock against other processes,
// FlushFileBuffers for durability.
#include <windows.h>

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

}  // namespace kelvora::sim
