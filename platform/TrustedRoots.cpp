// Linux: browsers keep trust stores of their own (NSS databases per user, Chrome's, Firefox's), so
// there is no machine-wide store to put the local CA in; README says how to import it.
#include "platform/TrustedRoots.h"

#include <stdexcept>

namespace kelvora::platform {
namespace {

[[noreturn]] void NoMachineStore() {
  throw std::runtime_error(
      "this system has no machine-wide store of trusted roots that every browser reads: import "
      "ca_cert.pem into the browser instead");
}

}  // namespace

TrustedRootChange TrustOnlyRoot(std::string_view, std::string_view, std::string_view) {
  NoMachineStore();
}

int RemoveTrustedRoots(std::string_view) {
  NoMachineStore();
}

}  // namespace kelvora::platform
