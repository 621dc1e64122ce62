// The listener's SSL_CTX, built once per activation.
#include "service/TlsContext.h"

#include <openssl/err.h>

#include <array>

namespace kelvora::service {
namespace {

// In OpenSSL's own order of preference among these suites.
constexpr const char* kCipherList =
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256";

[[noreturn]] void Fail(const std::string& what) {
  const std::string reason = TakeOpenSslErrors();
  throw ETlsError(reason.empty() ? what : what + ": " + reason);
}

}  // namespace

TCertificateFiles TCertificateFiles::In(const std::filesystem::path& baseDir) {
  const std::filesystem::path directory = baseDir / "Certificado";
  return {directory / "server_cert.pem", directory / "server_key.pem", directory / "ca_cert.pem"};
}

std::string TakeOpenSslErrors() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    std::array<char, 256> buffer{};
    ERR_error_string_n(code, buffer.data(), buffer.size());
    if (!text.empty()) text += "; ";
    text += buffer.data();
  }
  return text;
}

SslCtxPtr CreateServerContext(const TCertificateFiles& files, TTlsMinVersion minVersion) {
  ERR_clear_error();
  SslCtxPtr context(SSL_CTX_new(TLS_server_method()));
  if (!context) Fail("Could not create the TLS context");
  const int oldest = minVersion == TTlsMinVersion::Tls13 ? TLS1_3_VERSION : TLS1_2_VERSION;
  if (SSL_CTX_set_min_proto_version(context.get(), oldest) != 1 ||
      SSL_CTX_set_max_proto_version(context.get(), TLS1_3_VERSION) != 1) {
    Fail("Could not restrict TLS to versions 1.2 and 1.3");
  }
  // TLS 1.3 keeps OpenSSL's default suites, every one of them AEAD with forward secrecy. For TLS
  // 1.2, forward secrecy and authenticated encryption only: ECDHE key exchange with AES-GCM or
  // ChaCha20-Poly1305, for ECDSA or RSA certificates; no CBC and no static-RSA suites. Every
  // current browser offers these. The server's order decides, so a client that also offers
  // weaker suites still gets the first of ours it supports.
  if (SSL_CTX_set_cipher_list(context.get(), kCipherList) != 1) {
    Fail("Could not set the TLS cipher suites");
  }
  SSL_CTX_set_options(context.get(), SSL_OP_CIPHER_SERVER_PREFERENCE);
  if (SSL_CTX_use_certificate_chain_file(context.get(), files.Certificate.string().c_str()) != 1) {
    Fail("Could not load certificate " + files.Certificate.string());
  }
  // No pass phrase: an encrypted key fails here instead of OpenSSL prompting on a terminal.
  SSL_CTX_set_default_passwd_cb(context.get(), [](char*, int, int, void*) { return 0; });
  if (SSL_CTX_use_PrivateKey_file(context.get(), files.PrivateKey.string().c_str(),
                                  SSL_FILETYPE_PEM) != 1) {
    Fail("Could not load key " + files.PrivateKey.string());
  }
  if (SSL_CTX_check_private_key(context.get()) != 1) {
    Fail("The key " + files.PrivateKey.string() + " does not match the certificate");
  }
  if (SSL_CTX_load_verify_locations(context.get(), files.CACertificates.string().c_str(),
                                    nullptr) != 1) {
    Fail("Could not load root certificate " + files.CACertificates.string());
  }
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  // Each socket read takes whatever has arrived, up to a whole buffer, instead of one record header
  // and then its body: requests sent back to back cost one system call, not two each. Reads that
  // must not block ask SSL_has_pending, which counts what was read ahead.
  SSL_CTX_set_read_ahead(context.get(), 1);
  return context;
}

}  // namespace kelvora::service
