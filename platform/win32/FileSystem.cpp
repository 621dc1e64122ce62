// Windows implementation of the file-system services: FindFirstFileW for the search,
// FlushFileBuffers and write-through MoveFileExW for durability, wide paths throughout, and new
// files private to the service.
#include "platform/FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/win32/FileSystem.h"
#include "platform/win32/PrivateSecurity.h"
#include "platform/win32/WideText.h"

namespace kelvora::platform {
namespace {

[[noreturn]] void ThrowError(DWORD error, const std::string& what, const std::string& path) {
  throw std::system_error(static_cast<int>(error), std::system_category(), what + " " + path);
}

// Owns one file handle; closed when it goes away.
class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() {
    if (Valid()) ::CloseHandle(handle_);
  }
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

 private:
  HANDLE handle_;
};

// Antivirus and backup programs open the files the service writes (the logs, the backups of
// pending payments, the sales-API outbox) for a moment, often without sharing: the call that
// meets them is tried again for up to about two seconds before its error counts. Any other error
// counts at once.
constexpr int kHeldRetries = 12;

bool IsHeldByAnother(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

// Calls attempt (true on success, GetLastError set on failure) until it succeeds, fails for
// another reason than a file held by another program, or has been tried kHeldRetries times.
template <class Attempt>
bool RetryWhileHeld(Attempt attempt) {
  DWORD wait = 20;
  for (int tried = 1;; ++tried) {
    if (attempt()) return true;
    const DWORD error = ::GetLastError();
    if (!IsHeldByAnother(error) || tried == kHeldRetries) return false;
    ::Sleep(wait);
    wait = std::min<DWORD>(2 * wait, 250);
    ::SetLastError(error);
  }
}

// Files are shared for reading, writing and deletion, as the POSIX calls they replace allow.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A file the call creates gets the service's private access; an existing one keeps its own.
UniqueHandle OpenFile(const std::wstring& path, DWORD access, DWORD disposition) {
  HANDLE file = INVALID_HANDLE_VALUE;
  RetryWhileHeld([&] {
    file = ::CreateFileW(path.c_str(), access, kShareAll, win32::PrivateFileSecurity(),
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  return UniqueHandle(file);
}

// Writes every byte; false with GetLastError set on failure.
bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// The directory part of a mask as it is written, so found names carry it ("dir\" or "dir/").
std::string MaskDirectory(const std::string& mask) {
  const size_t slash = mask.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : mask.substr(0, slash + 1);
}

wchar_t LowerAscii(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Whether a long name matches a mask of '*' and '?', letters compared as Windows compares names.
bool MatchesMask(std::wstring_view name, std::wstring_view mask) {
  size_t n = 0, m = 0, starMask = std::wstring_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == L'?' || LowerAscii(mask[m]) == LowerAscii(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == L'*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::wstring_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == L'*') ++m;
  return m == mask.size();
}

}  // namespace

std::vector<std::string> FindFiles(const std::string& mask) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW(win32::Widen(mask).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  const std::string directory = MaskDirectory(mask);
  // Windows also matches the mask against 8.3 short names, so "*.tef" finds "x.tefx" (short name
  // X~1.TEF): each long name is matched again.
  const std::wstring pattern = win32::Widen(mask.substr(directory.size()));
  do {
    const std::wstring_view base = found.cFileName;
    if (base != L"." && base != L".." && MatchesMask(base, pattern)) {
      names.push_back(directory + win32::Narrow(base));
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFileBytes(const std::string& path) {
  const UniqueHandle file = OpenFile(win32::Widen(path), GENERIC_READ, OPEN_EXISTING);
  if (!file.Valid()) ThrowError(::GetLastError(), "Cannot open file", path);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
      ThrowError(::GetLastError(), "Cannot read file", path);
    }
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return bytes;
}

void ReplaceFileBytes(const std::string& path, std::string_view bytes, bool durable) {
  const std::filesystem::path target(win32::Widen(path));
  const std::wstring temporary =
      (target.parent_path() / (L"." + target.filename().wstring() + L".tmp")).wstring();
  {
    // A leftover of an interrupted write is removed first: overwriting it would keep its access.
    ::DeleteFileW(temporary.c_str());
    const UniqueHandle file = OpenFile(temporary, GENERIC_WRITE, CREATE_NEW);
    if (!file.Valid()) ThrowError(::GetLastError(), "Cannot create file", path);
    if (!WriteAll(file.Get(), bytes)) {
      const DWORD error = ::GetLastError();
      ::DeleteFileW(temporary.c_str());
      ThrowError(error, "Cannot write file", path);
    }
    // The data must be on disk before the rename makes it the file's content; a failed flush is
    // ignored like every other flush failure (the write itself succeeded).
    if (durable) ::FlushFileBuffers(file.Get());
  }
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
  if (!RetryWhileHeld([&] { return ::MoveFileExW(temporary.c_str(), target.wstring().c_str(), flags); })) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    ThrowError(error, "Cannot create file", path);
  }
  // The renamed file flushed as well: on NTFS that writes its new directory entry, so the
  // replacement itself survives a power cut, not only the data.
  if (durable) FlushToStableStorage(path);
}

namespace win32 {

HANDLE OpenForAppending(const std::wstring& path) {
  HANDLE file = INVALID_HANDLE_VALUE;
  RetryWhileHeld([&] {
    file = ::CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA, kShareAll,
                         PrivateFileSecurity(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  return file;
}

}  // namespace win32

void AppendFileBytes(const std::string& path, std::string_view bytes) {
  const UniqueHandle file(win32::OpenForAppending(win32::Widen(path)));
  if (!file.Valid()) ThrowError(::GetLastError(), "Cannot open file", path);
  // Waits while another appender writes: an exclusive lock on the whole file, released at close.
  OVERLAPPED whole{};
  if (!::LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    ThrowError(::GetLastError(), "Cannot write file", path);
  }
  const bool written = WriteAll(file.Get(), bytes);
  const DWORD error = ::GetLastError();
  ::UnlockFileEx(file.Get(), 0, MAXDWORD, MAXDWORD, &whole);
  if (!written) ThrowError(error, "Cannot write file", path);
}

bool DeleteFileAndSync(const std::string& path) {
  const std::wstring name = win32::Widen(path);
  if (RetryWhileHeld([&] { return ::DeleteFileW(name.c_str()); })) return true;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void FlushToStableStorage(const std::string& path) noexcept {
  const UniqueHandle file = OpenFile(win32::Widen(path), GENERIC_WRITE, OPEN_EXISTING);
  if (file.Valid()) ::FlushFileBuffers(file.Get());
}

}  // namespace kelvora::platform
