// The local machine's "Root" store through the CryptoAPI. Only administrators may change it; the
// installer runs elevated. A certificate added there as an administrator is trusted by every user
// of the machine without the confirmation the current user's store asks for.
#include "platform/TrustedRoots.h"

#include "platform/win32/WideText.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvora::platform {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  const DWORD error = ::GetLastError();
  std::string text = what + ": " + win32::ErrorText(error);
  if (error == ERROR_ACCESS_DENIED) text += " (run it as an administrator)";
  throw std::runtime_error(text);
}

struct StoreCloser {
  void operator()(void* store) const { ::CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct ContextFreer {
  void operator()(const CERT_CONTEXT* context) const { ::CertFreeCertificateContext(context); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

Store OpenMachineRoot() {
  Store store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                              CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG,
                              L"Root"));
  if (!store) Fail("cannot open the machine's trusted root certificates");
  return store;
}

bool IsSelfSigned(const CERT_CONTEXT* certificate) {
  return ::CertCompareCertificateName(X509_ASN_ENCODING, &certificate->pCertInfo->Subject,
                                      &certificate->pCertInfo->Issuer) != FALSE;
}

std::wstring CommonName(const CERT_CONTEXT* certificate) {
  wchar_t name[256] = {};
  ::CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0,
                       const_cast<char*>(szOID_COMMON_NAME), name, std::size(name));
  return name;
}

bool SameEncoding(const CERT_CONTEXT* certificate, std::string_view der) {
  // As bytes: a char compared with a BYTE would differ for every byte above 0x7F.
  return certificate->cbCertEncoded == der.size() &&
         std::memcmp(certificate->pbCertEncoded, der.data(), der.size()) == 0;
}

// Every self-signed certificate of the family in the store but `keep` (a DER encoding, or empty).
std::vector<Context> Family(HCERTSTORE store, std::string_view familyPrefix,
                            std::string_view keep) {
  const std::wstring prefix = win32::Widen(familyPrefix);
  std::vector<Context> found;
  const CERT_CONTEXT* certificate = nullptr;
  while ((certificate = ::CertEnumCertificatesInStore(store, certificate)) != nullptr) {
    if (!IsSelfSigned(certificate) || CommonName(certificate).rfind(prefix, 0) != 0) continue;
    if (!keep.empty() && SameEncoding(certificate, keep)) continue;
    found.emplace_back(::CertDuplicateCertificateContext(certificate));
  }
  return found;
}

// Deletes each one; the enumeration is over, so no context of it is in use any more.
int Remove(std::vector<Context> certificates) {
  int removed = 0;
  for (Context& certificate : certificates) {
    // CertDeleteCertificateFromStore frees the context it is given, whether it succeeds or not.
    if (!::CertDeleteCertificateFromStore(certificate.release())) {
      Fail("cannot remove an earlier local CA from the machine's trusted root certificates");
    }
    ++removed;
  }
  return removed;
}

// Writes the deletions through to the registry now. A store that saves each change at once, as
// Windows' registry stores do, ignores the request; Wine's defers deletions to the store's last
// release, which never comes while its own chain engine holds the Root store, and would lose
// them at exit.
void Commit(HCERTSTORE store) {
  if (!::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
    Fail("cannot save the machine's trusted root certificates");
  }
}

}  // namespace

TrustedRootChange TrustOnlyRoot(std::string_view der, std::string_view familyPrefix,
                                std::string_view friendlyName) {
  const Store store = OpenMachineRoot();
  TrustedRootChange change;
  const Context candidate(::CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
  if (!candidate) Fail("cannot read the local CA's certificate");
  const Context existing(::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                      CERT_FIND_EXISTING, candidate.get(), nullptr));
  if (!existing) {
    const CERT_CONTEXT* added = nullptr;
    if (!::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING,
                                            reinterpret_cast<const BYTE*>(der.data()),
                                            static_cast<DWORD>(der.size()),
                                            CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
      Fail("cannot add the local CA to the machine's trusted root certificates");
    }
    const Context addedContext(added);
    std::wstring name = win32::Widen(friendlyName);
    CRYPT_DATA_BLOB blob{static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)),
                         reinterpret_cast<BYTE*>(name.data())};
    // Only the name certmgr.msc shows: the certificate is trusted without it.
    ::CertSetCertificateContextProperty(added, CERT_FRIENDLY_NAME_PROP_ID, 0, &blob);
    change.Added = true;
  }
  change.Removed = Remove(Family(store.get(), familyPrefix, der));
  Commit(store.get());
  return change;
}

int RemoveTrustedRoots(std::string_view familyPrefix) {
  const Store store = OpenMachineRoot();
  const int removed = Remove(Family(store.get(), familyPrefix, {}));
  Commit(store.get());
  return removed;
}

}  // namespace kelvora::platform
