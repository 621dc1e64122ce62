// The Windows file handles behind the file-system services, where their access rights matter
// beyond what Wine checks.
#pragma once

#include <windows.h>

#include <string>

namespace kelvora::platform::win32 {

// Opens a file for appending, creating it with the service's private access when it is new:
// every write lands at the end (FILE_APPEND_DATA without FILE_WRITE_DATA), and the handle also
// has read access, which LockFileEx requires of the handle it locks. Windows refuses the lock on a
// handle opened with FILE_APPEND_DATA alone, though Wine does not, and every log line would be
// lost. INVALID_HANDLE_VALUE with GetLastError set on failure; the caller closes the handle.
HANDLE OpenForAppending(const std::wstring& path);

}  // namespace kelvora::platform::win32
