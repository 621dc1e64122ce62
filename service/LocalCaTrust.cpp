// Reads the local CA with OpenSSL and hands its DER encoding to the platform's trusted roots.
#include "service/LocalCaTrust.h"

#include "platform/FileSystem.h"
#include "platform/TrustedRoots.h"
#include "service/Certificates.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace kelvora::service {
namespace {

// The name certificate managers (certmgr.msc) show for it.
constexpr std::string_view kFriendlyName = "Kelvora TEF Server (localhost)";

struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

Certificate ReadCertificate(const std::filesystem::path& file) {
  const std::string pem = platform::ReadFileBytes(file.string());
  const std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
  Certificate certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!certificate) throw std::runtime_error(file.string() + " holds no PEM certificate");
  return certificate;
}

std::string CommonName(X509* certificate) {
  char name[256] = {};
  if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name,
                                sizeof name) < 0) {
    return {};
  }
  return name;
}

bool IsOurLocalCa(X509* certificate) {
  // X509_check_ca also caches the extensions, which the flag tests below read.
  if (X509_check_ca(certificate) != 1) return false;
  if ((X509_get_extension_flags(certificate) & EXFLAG_SS) == 0) return false;
  const int constraints = X509_get_ext_by_NID(certificate, NID_name_constraints, -1);
  if (constraints < 0 ||
      X509_EXTENSION_get_critical(X509_get_ext(certificate, constraints)) != 1) {
    return false;
  }
  return CommonName(certificate).starts_with(kLocalCaNamePrefix);
}

}  // namespace

TLocalCaTrustResult TrustLocalCa(const std::filesystem::path& dir) {
  const Certificate certificate = ReadCertificate(dir / kCaCertificateFile);
  if (!IsOurLocalCa(certificate.get())) return {};
  // Encoded into a buffer of ours: OPENSSL_free would carry this file's build path into the
  // program.
  const int length = i2d_X509(certificate.get(), nullptr);
  if (length <= 0) throw std::runtime_error("cannot encode the local CA");
  std::string encoded(static_cast<size_t>(length), '\0');
  auto* out = reinterpret_cast<unsigned char*>(encoded.data());
  if (i2d_X509(certificate.get(), &out) != length) {
    throw std::runtime_error("cannot encode the local CA");
  }
  const platform::TrustedRootChange change =
      platform::TrustOnlyRoot(encoded, kLocalCaNamePrefix, kFriendlyName);
  return {change.Added ? TLocalCaTrust::Added : TLocalCaTrust::AlreadyThere, change.Removed};
}

int UntrustLocalCa() {
  return platform::RemoveTrustedRoots(kLocalCaNamePrefix);
}

}  // namespace kelvora::service
