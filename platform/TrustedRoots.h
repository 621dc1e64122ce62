// The machine's trusted root certification authorities, which the browsers of the till consult:
// Windows' local-machine "Root" store. The service's local CA goes there so that Chrome, Edge and
// Firefox connect to the service without a manual step; Linux has no one store that every browser
// reads, so there the functions refuse.
#pragma once

#include <string_view>

namespace kelvora::platform {

struct TrustedRootChange {
  bool Added = false;  // false when the certificate was there already
  int Removed = 0;     // earlier certificates of the family taken out
};

// Makes `der` (one DER certificate) the only trusted root of its family: every self-signed
// certificate whose subject common name begins with familyPrefix. The new one is added first, with
// friendlyName for the certificate managers, and only then are the others removed, so that a
// failure half-way never leaves the browsers without a CA they trust. Throws std::runtime_error
// with the reason (not an administrator, no store on this system).
TrustedRootChange TrustOnlyRoot(std::string_view der, std::string_view familyPrefix,
                                std::string_view friendlyName);

// Removes every certificate of the family from the trusted roots; returns how many.
int RemoveTrustedRoots(std::string_view familyPrefix);

}  // namespace kelvora::platform
