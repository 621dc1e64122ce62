// Makes the local CA and the localhost server certificate with OpenSSL's EVP and X509 calls.
#include "service/Certificates.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/FileSystem.h"
#include "platform/PrivateDirectory.h"
#include "service/PrivateWorkDir.h"

namespace kelvora::service {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
using BigNum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

// Throws the failed step with OpenSSL's own reason, and leaves its error queue empty.
[[noreturn]] void Fail(const std::string& step) {
  std::string reason = step;
  if (const unsigned long code = ERR_peek_last_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    reason += ": " + std::string(text);
  }
  ERR_clear_error();
  throw std::runtime_error(reason);
}

PKey NewP256Key() {
  PKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) Fail("cannot make an EC P-256 key");
  return key;
}

// A version-3 certificate with a random positive 159-bit serial, valid from an hour ago (a clock
// set back a little must not reject it) for the given days in all, that hour included: browsers
// refuse a locally trusted certificate whose whole span exceeds 825 days.
Certificate NewCertificate(const std::string& commonName, EVP_PKEY* key, int days) {
  std::time_t backdated = std::time(nullptr) - 3600;
  Certificate certificate(X509_new());
  BigNum serial(BN_new());
  if (!certificate || !serial || X509_set_version(certificate.get(), X509_VERSION_3) != 1 ||
      BN_rand(serial.get(), 159, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
      BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())) == nullptr ||
      X509_time_adj_ex(X509_getm_notBefore(certificate.get()), 0, 0, &backdated) == nullptr ||
      X509_time_adj_ex(X509_getm_notAfter(certificate.get()), days, 0, &backdated) == nullptr ||
      X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate.get()), "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                                 0) != 1 ||
      X509_set_pubkey(certificate.get(), key) != 1) {
    Fail("cannot make the certificate " + commonName);
  }
  return certificate;
}

// Adds one extension written as in an OpenSSL configuration file ("critical, CA:TRUE").
void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  if (!extension || X509_add_ext(certificate, extension.get(), -1) != 1) {
    Fail(std::string("cannot add the extension ") + OBJ_nid2sn(nid));
  }
}

std::string CertificateToPem(X509* certificate) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1)
    Fail("cannot write a certificate as PEM");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

std::string KeyToPem(EVP_PKEY* key) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
    Fail("cannot write the private key as PEM");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

// The moment of the run in UTC, carried in the CA's name so that a browser holding a CA imported
// from an earlier run tells the two apart.
std::string UtcStamp() {
  const std::time_t now = std::time(nullptr);
  // The command runs on one thread, so the shared result of gmtime is safe here.
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return text;
}

}  // namespace

void GenerateCertificates(const std::filesystem::path& dir, const TCertificateOptions& options) {
  namespace fs = std::filesystem;
  if (options.Days < 1 || options.Days > kMaxCertificateDays) {
    throw std::runtime_error("the validity must be 1 to " + std::to_string(kMaxCertificateDays) +
                             " days");
  }
  const std::string_view names[] = {kCaCertificateFile, kServerCertificateFile, kServerKeyFile};
  if (!options.Force) {
    for (std::string_view name : names) {
      std::error_code ignored;
      if (fs::exists(fs::symlink_status(dir / name, ignored))) {
        throw std::runtime_error((dir / name).string() +
                                 " already exists; nothing was written (--force replaces the set)");
      }
    }
  }
  std::error_code error;
  // Whatever the caller's umask: another local user must not be able to swap a file in the folder
  // or plant a library beside the service in the base folder above it.
  if (!platform::CreatePrivateDirectories(dir, error)) {
    throw std::runtime_error("cannot create " + dir.string() + ": " + error.message());
  }

  const PKey caKey = NewP256Key();
  const Certificate ca =
      NewCertificate(std::string(kLocalCaNamePrefix) + UtcStamp(), caKey.get(), options.Days);
  if (X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get())) != 1)
    Fail("cannot name the CA");
  AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical, CA:TRUE, pathlen:0");
  AddExtension(ca.get(), ca.get(), NID_key_usage, "critical, keyCertSign, cRLSign");
  AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
  AddExtension(ca.get(), ca.get(), NID_name_constraints,
               "critical, permitted;DNS:localhost, permitted;IP:127.0.0.0/255.0.0.0, "
               "permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
  if (X509_sign(ca.get(), caKey.get(), EVP_sha256()) == 0) Fail("cannot sign the CA");

  const PKey serverKey = NewP256Key();
  const Certificate server = NewCertificate("localhost", serverKey.get(), options.Days);
  if (X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get())) != 1)
    Fail("cannot name the server certificate's issuer");
  AddExtension(server.get(), ca.get(), NID_basic_constraints, "critical, CA:FALSE");
  AddExtension(server.get(), ca.get(), NID_key_usage, "critical, digitalSignature");
  AddExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(server.get(), ca.get(), NID_subject_alt_name, "DNS:localhost, IP:127.0.0.1, IP:::1");
  AddExtension(server.get(), ca.get(), NID_subject_key_identifier, "hash");
  AddExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid");
  if (X509_sign(server.get(), caKey.get(), EVP_sha256()) == 0)
    Fail("cannot sign the server certificate");

  // The files are assembled in a private folder and renamed into place, so that a reader never
  // sees half a file and the key is never readable by others, not even for a moment.
  const TPrivateWorkDir work(dir);
  constexpr fs::perms kPublic = fs::perms::owner_read | fs::perms::owner_write |
                                fs::perms::group_read | fs::perms::others_read;
  constexpr fs::perms kPrivate = fs::perms::owner_read | fs::perms::owner_write;
  const fs::path files[] = {
      work.Write(kCaCertificateFile, CertificateToPem(ca.get()), kPublic),
      work.Write(kServerCertificateFile, CertificateToPem(server.get()), kPublic),
      work.Write(kServerKeyFile, KeyToPem(serverKey.get()), kPrivate),
  };
  for (const fs::path& file : files) {
    platform::FlushToStableStorage(file.string());
    fs::rename(file, dir / file.filename(), error);
    if (error) {
      throw std::runtime_error("cannot write " + (dir / file.filename()).string() + ": " +
                               error.message());
    }
  }
  platform::FlushToStableStorage((dir / kServerKeyFile).string());
}

}  // namespace kelvora::service
