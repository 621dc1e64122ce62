// The access Windows gives the files and folders the service keeps to itself (logs, backups,
// reports, keys): the counterpart of the owner-and-group modes they get on Linux.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kelvora::platform::win32 {

// Security attributes for a new private file or folder: full control for the local system account
// the service runs as, for the administrators, for the service's own SID (once
// SetPrivateFilesService named it) and for the user running the program when that user is not an
// administrator already (a console run by a non-administrator); nothing for
// anyone else, and nothing inherited from the folder above (a folder under Program Files would
// otherwise let every local user read sale data). Folders pass the same access on to what is
// created in them. Null when the descriptor cannot be built, which leaves the folder's inherited
// access: a payment is never refused its backup for the sake of its permissions.
SECURITY_ATTRIBUTES* PrivateFileSecurity();
SECURITY_ATTRIBUTES* PrivateFolderSecurity();

// The SID Windows gives a service's account, "NT SERVICE\<name>", as text: S-1-5-80 followed by
// the SHA-1 of the upper-case UTF-16 name read as five numbers. Computed, so it is known before
// the service is registered (when the installer makes the key and the certificates).
std::wstring ServiceSid(std::wstring_view serviceName);

}  // namespace kelvora::platform::win32
