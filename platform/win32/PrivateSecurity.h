// The access Windows gives the files and folders the service keeps to itself (logs, backups,
// reports, keys): the counterpart of the owner-and-group modes they get on Linux.
#pragma once

#include <windows.h>

namespace kelvora::platform::win32 {

// Security attributes for a new private file or folder: full control for the local system account
// the service runs as, for the administrators and for the user running the program; nothing for
// anyone else, and nothing inherited from the folder above (a folder under Program Files would
// otherwise let every local user read sale data). Folders pass the same access on to what is
// created in them. Null when the descriptor cannot be built, which leaves the folder's inherited
// access: a payment is never refused its backup for the sake of its permissions.
SECURITY_ATTRIBUTES* PrivateFileSecurity();
SECURITY_ATTRIBUTES* PrivateFolderSecurity();

}  // namespace kelvora::platform::win32
