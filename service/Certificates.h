// The service's own certificate files: a local CA for localhost and the server certificate it
// signs, made with OpenSSL alone so that no command-line tool is needed on the store's machine.
#pragma once

#include <filesystem>
#include <string_view>

namespace kelvora::service {

// The three files the TLS listener reads from its certificate folder.
inline constexpr std::string_view kCaCertificateFile = "ca_cert.pem";
inline constexpr std::string_view kServerCertificateFile = "server_cert.pem";
inline constexpr std::string_view kServerKeyFile = "server_key.pem";

// Every local CA this program makes has a common name that begins with this, followed by the
// moment it was made: the family the machine's trusted roots are kept to one member of.
inline constexpr std::string_view kLocalCaNamePrefix = "Kelvora TEF Server local CA ";

// Apple's clients refuse server certificates valid longer than this, even under a local CA.
inline constexpr int kMaxCertificateDays = 825;

struct TCertificateOptions {
  int Days = kMaxCertificateDays;  // validity of the CA and of the server certificate
  bool Force = false;              // replace files that already exist
};

// Writes ca_cert.pem, server_cert.pem and server_key.pem into dir, made when missing with every
// missing folder above it as rwxr-x--- whatever the umask (on Windows with the service's private
// access list). The server certificate names localhost, 127.0.0.1 and ::1, is for server
// authentication only and carries an ECDSA P-256 key, written as unencrypted PEM with owner-only
// permissions; the certificates are rw-r--r--. The CA may vouch only for those loopback names,
// and its private key is never written: once the server certificate is signed nothing else can
// be, so a browser that trusts the CA cannot be shown a forged certificate for any other site.
// Without options.Force an existing file of the set is an error and nothing is written. Throws
// std::runtime_error with the reason.
void GenerateCertificates(const std::filesystem::path& dir, const TCertificateOptions& options);

}  // namespace kelvora::service
