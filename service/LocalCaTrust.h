// Makes the browsers of the till trust the service's local CA, by adding it to the machine's
// trusted roots (Windows), and takes it out again.
#pragma once

#include <filesystem>
#include <string>

namespace kelvora::service {

enum class TLocalCaTrust {
  Added,        // the CA is now trusted
  AlreadyThere, // it was trusted already
  NotOurs,      // ca_cert.pem is not a local CA this program made: the roots were left as they are
};

struct TLocalCaTrustResult {
  TLocalCaTrust Outcome = TLocalCaTrust::NotOurs;
  int Removed = 0;  // earlier local CAs taken out of the trusted roots
};

// Trusts dir/ca_cert.pem when it is a local CA this program made (self-signed, a CA, held by name
// constraints to the loopback names, with its family's common name), and removes every earlier
// one, so that a renewal leaves exactly one. A store's own certificate authority is never added:
// nothing here limits what it may vouch for. Throws std::runtime_error when the file cannot be
// read as a certificate or the trusted roots cannot be changed.
TLocalCaTrustResult TrustLocalCa(const std::filesystem::path& dir);

// Removes every local CA this program made from the trusted roots; returns how many.
int UntrustLocalCa();

}  // namespace kelvora::service
