// The generated certificate set: a client trusting only ca_cert.pem accepts server_cert.pem for the
// loopback names and nothing else, the key matches and stays private, existing files are safe.
#include "service/Certificates.h"
#include "service/LocalCaTrust.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/unit/service/TempDir.h"
#include "tests/unit/support/PrivateAccess.h"

namespace kelvora::service {
namespace {

using kelvora::testing::IsPrivate;
using testing::TempDir;
namespace fs = std::filesystem;

struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

Certificate LoadCertificate(const fs::path& file) {
  std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.string().c_str(), "rb"), std::fclose);
  if (!in) throw std::runtime_error("cannot open " + file.string());
  return Certificate(PEM_read_X509(in.get(), nullptr, nullptr, nullptr));
}

// Verifies the server certificate against the CA alone, as a TLS client would for `name`: an
// IP address when it parses as one, a host name otherwise.
bool Verifies(const fs::path& dir, const std::string& name) {
  const Certificate ca = LoadCertificate(dir / kCaCertificateFile);
  const Certificate server = LoadCertificate(dir / kServerCertificateFile);
  std::unique_ptr<X509_STORE, void (*)(X509_STORE*)> store(X509_STORE_new(), X509_STORE_free);
  std::unique_ptr<X509_STORE_CTX, void (*)(X509_STORE_CTX*)> context(X509_STORE_CTX_new(),
                                                                     X509_STORE_CTX_free);
  X509_STORE_add_cert(store.get(), ca.get());
  X509_STORE_CTX_init(context.get(), store.get(), server.get(), nullptr);
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
  X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
  if (X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) != 1) {
    X509_VERIFY_PARAM_set1_host(param, name.c_str(), 0);
  }
  return X509_verify_cert(context.get()) == 1;
}

TEST(GenerateCertificates, MakesASetThatVerifiesOnlyForLoopbackNames) {
  TempDir temp;
  const fs::path dir = temp.Path() / "Certificado";  // made by the call
  GenerateCertificates(dir, {});

  const struct {
    const char* name;
    bool verifies;
  } cases[] = {
      {"localhost", true},    {"127.0.0.1", true},  {"::1", true},
      {"example.com", false}, {"127.0.0.2", false}, {"localhost.example.com", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Verifies(dir, c.name), c.verifies) << c.name;

  // The key is the server certificate's, unencrypted (no pass phrase is asked for), owner-only.
  std::unique_ptr<FILE, int (*)(FILE*)> in(
      std::fopen((dir / kServerKeyFile).string().c_str(), "rb"), std::fclose);
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(
      PEM_read_PrivateKey(in.get(), nullptr, nullptr, const_cast<char*>("")), EVP_PKEY_free);
  ASSERT_TRUE(key);
  EXPECT_TRUE(EVP_PKEY_is_a(key.get(), "EC"));
  EXPECT_EQ(X509_check_private_key(LoadCertificate(dir / kServerCertificateFile).get(), key.get()),
            1);
  EXPECT_TRUE(IsPrivate(dir / kServerKeyFile, fs::perms::owner_read | fs::perms::owner_write));

  // Only the three files are left: the CA's key and the work folder are gone.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 3);
}

// The whole span, the hour of back-dating included, is the days asked: at most 825.
TEST(GenerateCertificates, ValidityIsTheDaysAskedInAll) {
  TempDir temp;
  for (int asked : {30, kMaxCertificateDays}) {
    const fs::path dir = temp.Path() / std::to_string(asked);
    GenerateCertificates(dir, {asked, false});
    for (std::string_view name : {kCaCertificateFile, kServerCertificateFile}) {
      const Certificate certificate = LoadCertificate(dir / name);
      int days = 0;
      int seconds = 0;
      ASSERT_EQ(ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(certificate.get()),
                               X509_get0_notAfter(certificate.get())),
                1);
      EXPECT_EQ(days, asked) << name;
      EXPECT_EQ(seconds, 0) << name;
      int ago = 0;
      ASSERT_EQ(ASN1_TIME_diff(&days, &ago, X509_get0_notBefore(certificate.get()), nullptr), 1);
      EXPECT_EQ(days, 0) << name;
      EXPECT_NEAR(ago, 3600, 60) << name << ": back-dated an hour";
    }
  }
  for (int days : {0, -1, kMaxCertificateDays + 1}) {
    EXPECT_THROW(GenerateCertificates(temp.Path() / "other", {days, false}), std::runtime_error);
  }
}

TEST(GenerateCertificates, KeepsExistingFilesUnlessForced) {
  for (std::string_view existing : {kCaCertificateFile, kServerCertificateFile, kServerKeyFile}) {
    TempDir temp;
    const std::string file = temp.Write(std::string(existing), "operator's own");
    EXPECT_THROW(GenerateCertificates(temp.Path(), {}), std::runtime_error) << existing;
    EXPECT_EQ(TempDir::Read(file), "operator's own");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(temp.Path())) ++entries;
    EXPECT_EQ(entries, 1) << existing;

    GenerateCertificates(temp.Path(), {kMaxCertificateDays, true});
    EXPECT_NE(TempDir::Read(file), "operator's own");
    EXPECT_TRUE(Verifies(temp.Path(), "localhost"));
  }
}

// A self-signed CA with the given common name, with or without name constraints, as PEM.
std::string SelfSignedCa(const std::string& commonName, bool constrained) {
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC",
                                                                       "P-256"),
                                                     EVP_PKEY_free);
  Certificate ca(X509_new());
  X509_set_version(ca.get(), X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(ca.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(ca.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(ca.get()), 86400);
  X509_set_pubkey(ca.get(), key.get());
  X509_NAME_add_entry_by_txt(X509_get_subject_name(ca.get()), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
  X509V3_CTX context;
  X509V3_set_ctx(&context, ca.get(), ca.get(), nullptr, nullptr, 0);
  std::vector<std::pair<int, const char*>> extensions = {
      {NID_basic_constraints, "critical, CA:TRUE"}, {NID_key_usage, "critical, keyCertSign"}};
  if (constrained) extensions.emplace_back(NID_name_constraints, "critical, permitted;DNS:localhost");
  for (const auto& [nid, value] : extensions) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(ca.get(), extension, -1);
    X509_EXTENSION_free(extension);
  }
  X509_sign(ca.get(), key.get(), EVP_sha256());
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  PEM_write_bio_X509(bio.get(), ca.get());
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

// Only a CA this program made, held to the loopback names, is ever put among the trusted roots: a
// store's own CA in the folder may vouch for any site.
TEST(TrustLocalCa, LeavesTheRootsAloneForACertificateItDidNotMake) {
  TempDir temp;
  GenerateCertificates(temp.Path() / "made", {});
  const struct {
    const char* name;
    std::string pem;
  } cases[] = {
      {"our name without name constraints", SelfSignedCa(std::string(kLocalCaNamePrefix) + "x", false)},
      {"name constraints under another name", SelfSignedCa("Loja Central CA", true)},
      {"the server certificate", TempDir::Read((temp.Path() / "made" / kServerCertificateFile).string())},
  };
  for (const auto& c : cases) {
    const fs::path dir = temp.Path() / c.name;
    fs::create_directory(dir);
    temp.Write(std::string(c.name) + "/" + std::string(kCaCertificateFile), c.pem);
    EXPECT_EQ(TrustLocalCa(dir).Outcome, TLocalCaTrust::NotOurs) << c.name;
  }

  fs::create_directory(temp.Path() / "not-pem");
  temp.Write("not-pem/ca_cert.pem", "not a certificate");
  EXPECT_THROW(TrustLocalCa(temp.Path() / "not-pem"), std::runtime_error);
  EXPECT_THROW(TrustLocalCa(temp.Path() / "missing"), std::runtime_error);
#ifndef _WIN32
  // A CA of its own reaches the trusted roots, which Linux does not have (Windows' store is
  // checked by the installer's test, on a machine of its own).
  try {
    TrustLocalCa(temp.Path() / "made");
    ADD_FAILURE() << "a local CA was trusted on Linux";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr("no machine-wide store"));
  }
#endif
}

}  // namespace
}  // namespace kelvora::service
