// The TLS server settings of the listener: TLS 1.3 with OpenSSL's suites and, unless only 1.3 is
// asked for, TLS 1.2 with ECDHE and AEAD cipher suites; the certificate, its unencrypted key and
// the CA list from the Certificado directory; no client certificates.
#pragma once

#include <openssl/ssl.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace kelvora::service {

struct SslCtxDeleter {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxDeleter>;
using SslPtr = std::unique_ptr<SSL, SslDeleter>;

// A TLS setting or file the listener cannot use; it keeps the listener from activating.
class ETlsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCertificateFiles {
  std::filesystem::path Certificate;     // PEM, the server certificate (and any chain after it)
  std::filesystem::path PrivateKey;      // PEM, not encrypted: no pass phrase is supplied
  std::filesystem::path CACertificates;  // PEM, loaded as the trusted certificate list

  // The fixed files under baseDir: Certificado/server_cert.pem, server_key.pem and ca_cert.pem.
  static TCertificateFiles In(const std::filesystem::path& baseDir);
};

// The oldest TLS version the listener accepts ([server] tls_min_version).
enum class TTlsMinVersion { Tls12, Tls13 };

// Builds the server context. Throws ETlsError naming the file or setting that failed, with
// OpenSSL's reason.
SslCtxPtr CreateServerContext(const TCertificateFiles& files,
                              TTlsMinVersion minVersion = TTlsMinVersion::Tls12);

// The text of the calling thread's OpenSSL error queue ("" when empty); the queue is cleared.
std::string TakeOpenSslErrors();

}  // namespace kelvora::service
