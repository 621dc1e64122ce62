// Random identifiers in the GUID text form.
#pragma once

#include <string>

namespace kelvora::platform {

// A new version-4 UUID from 16 bytes of OpenSSL's random generator, written as 36 upper-case
// characters in groups of 8, 4, 4, 4 and 12 without braces. Empty when no random bytes can be had.
std::string NewGuidText();

}  // namespace kelvora::platform
