// The certificate's notAfter through OpenSSL.
#include "metrics/CertificateExpiry.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include "platform/FileSystem.h"

namespace kelvora::metrics {

std::optional<double> CertificateNotAfter(const std::filesystem::path& pemFile) {
  std::string pem;
  try {
    pem = platform::ReadFileBytes(pemFile.string());
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const std::unique_ptr<BIO, decltype(&BIO_free)> input(
      BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
  if (!input) return std::nullopt;
  const std::unique_ptr<X509, decltype(&X509_free)> certificate(
      PEM_read_bio_X509(input.get(), nullptr, nullptr, nullptr), &X509_free);
  if (!certificate) return std::nullopt;
  // The difference from the epoch, which ASN1_TIME_diff gives in days and seconds.
  const std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> epoch(ASN1_TIME_set(nullptr, 0),
                                                                    &ASN1_TIME_free);
  int days = 0;
  int seconds = 0;
  if (!epoch ||
      ASN1_TIME_diff(&days, &seconds, epoch.get(), X509_get0_notAfter(certificate.get())) != 1) {
    return std::nullopt;
  }
  return static_cast<double>(days) * 86400.0 + seconds;
}

}  // namespace kelvora::metrics
