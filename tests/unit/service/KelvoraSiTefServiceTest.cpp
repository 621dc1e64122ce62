// The service module: creation and release of the data module, the log lines of its events, a
// listener that cannot start, and the command line.
#include "service/KelvoraSiTefService.h"

#include "platform/ServiceHost.h"
#include "service/ServiceProgram.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

namespace kelvora::service {
namespace {

using testing::TempDir;

class RecordingDataModule final : public MessageHandler {
 public:
  RecordingDataModule(TKelvoraSiTefService& service, std::vector<std::string>& record)
      : record_(record) {
    record_.push_back("created with " + service.Options().ConfigFile.filename().string());
    service.GravaLog("data module created");
  }
  ~RecordingDataModule() override { record_.push_back("released"); }
  void RouteTargeting(std::string_view, Connection&) override {}
  void OnExecuteEnd(Connection&) override {}
  void OnDisconnect(Connection&) override {}

 private:
  std::vector<std::string>& record_;
};

// The texts of the service log's lines, without their time stamps.
std::vector<std::string> LogTexts(const TKelvoraSiTefService& service) {
  std::ifstream in(service.Log().FileFor(platform::Now()), std::ios::binary);
  std::vector<std::string> texts;
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with('\r')) line.pop_back();
    const size_t end = line.find("] ");
    texts.push_back(end == std::string::npos ? line : line.substr(end + 2));
  }
  return texts;
}

TServiceOptions OptionsIn(const TempDir& base) {
  return {base.Path(), 0, base.Path() / "SvcKelvoraSiTef.ini"};
}

TEST(TKelvoraSiTefService, OwnsTheDataModuleFromCreationToDestruction) {
  TempDir base;
  std::vector<std::string> record;
  {
    TKelvoraSiTefService service(OptionsIn(base), [&](TKelvoraSiTefService& s) {
      return std::make_unique<RecordingDataModule>(s, record);
    });
    EXPECT_EQ(record, (std::vector<std::string>{"created with SvcKelvoraSiTef.ini"}));
    EXPECT_EQ(service.Config().FileName(), base.Path() / "SvcKelvoraSiTef.ini");
  }
  EXPECT_EQ(record, (std::vector<std::string>{"created with SvcKelvoraSiTef.ini", "released"}));
}

TEST(TKelvoraSiTefService, ReadsItsTwoSettingsFromItsConfigurationFileAtEachUse) {
  TempDir base;
  TKelvoraSiTefService service(OptionsIn(base), [](TKelvoraSiTefService&) {
    return std::make_unique<IgnoringMessageHandler>();
  });
  EXPECT_EQ(service.PdvNumber(), 0);
  EXPECT_FALSE(service.QrCodeOnPinpad());
  std::ofstream(base.Path() / "SvcKelvoraSiTef.ini") << "[Sitef]\npdv_number=0x1A\n"
                                                        "qrcode_on_pinpad=2\n";
  EXPECT_EQ(service.PdvNumber(), 26);
  EXPECT_TRUE(service.QrCodeOnPinpad());
}

TEST(TKelvoraSiTefService, AListenerThatCannotStartFailsTheStartWithItsReasonInTheLog) {
  TempDir base;  // no Certificado directory
  TKelvoraSiTefService service(OptionsIn(base), [](TKelvoraSiTefService&) {
    return std::make_unique<IgnoringMessageHandler>();
  });
  service.ServiceStop();  // a stop before any start only logs
  try {
    service.ServiceStart();
    ADD_FAILURE() << "the start did not fail";
  } catch (const platform::ServiceFailure& failure) {
    EXPECT_EQ(failure.Code, TKelvoraSiTefService::kListenFailureExitCode);
  }
  const std::vector<std::string> texts = LogTexts(service);
  ASSERT_EQ(texts.size(), 4u);
  const std::string certificate = (base.Path() / "Certificado" / "server_cert.pem").string();
  EXPECT_EQ(texts[0], "O servi\xE7o foi parado.");
  EXPECT_EQ(texts[1], "Iniciando servidor socket.");
  EXPECT_TRUE(texts[2].starts_with("Could not load certificate " + certificate)) << texts[2];
  EXPECT_EQ(texts[3], "O servidor socket n\xE3o p\xF4" "de ser iniciado: o servi\xE7o ser\xE1 "
                      "encerrado com falha (c\xF3" "digo 3).");
}

TEST(ParseProgramArguments, ReadsOptionsAndCommands) {
  struct Case {
    std::vector<const char*> arguments;
    TProgramCommand command;
    std::optional<uint16_t> port;
    bool silent;
  };
  const Case cases[] = {
      {{}, TProgramCommand::Run, std::nullopt, false},
      {{"--port", "8443"}, TProgramCommand::Run, 8443, false},
      {{"--port", "8443", "install"}, TProgramCommand::Install, 8443, false},
      {{"/INSTALL", "/SILENT"}, TProgramCommand::Install, std::nullopt, true},
      {{"-uninstall", "--port", "1"}, TProgramCommand::Uninstall, 1, false},
      {{"Uninstall", "silent"}, TProgramCommand::Uninstall, std::nullopt, true},
  };
  for (const Case& c : cases) {
    const TProgramArguments parsed = ParseProgramArguments(c.arguments);
    EXPECT_EQ(parsed.Command, c.command);
    EXPECT_EQ(parsed.Port, c.port);
    EXPECT_EQ(parsed.Silent, c.silent);
  }
  const TProgramArguments based =
      ParseProgramArguments(std::vector<const char*>{"--base-dir", "/srv/x/../kelvora"});
  EXPECT_EQ(based.BaseDir, std::filesystem::absolute("/srv/kelvora"));
}

TEST(ParseProgramArguments, ReadsTheSetupCommands) {
  struct Case {
    std::vector<const char*> arguments;
    TProgramCommand command;
    const char* target;
    bool force;
    std::optional<int> days;
  };
  const Case cases[] = {
      {{"generate-certificates", "/srv/Certificado"},
       TProgramCommand::GenerateCertificates,
       "/srv/Certificado",
       false,
       std::nullopt},
      {{"--force", "GENERATE-CERTIFICATES", "--days", "30", "C:\\Kelvora\\Certificado"},
       TProgramCommand::GenerateCertificates,
       "C:\\Kelvora\\Certificado",
       true,
       30},
      {{"/generate-secret", "SvcKelvoraSiTef.ini"},
       TProgramCommand::GenerateSecret,
       "SvcKelvoraSiTef.ini",
       false,
       std::nullopt},
      {{"trust-certificate", "C:\\Kelvora\\Certificado"},
       TProgramCommand::TrustCertificate,
       "C:\\Kelvora\\Certificado",
       false,
       std::nullopt},
      {{"/UNTRUST-CERTIFICATE"}, TProgramCommand::UntrustCertificate, nullptr, false, std::nullopt},
  };
  for (const Case& c : cases) {
    const TProgramArguments parsed = ParseProgramArguments(c.arguments);
    EXPECT_EQ(parsed.Command, c.command);
    EXPECT_EQ(parsed.Target, c.target ? std::optional(std::filesystem::path(c.target))
                                      : std::nullopt);
    EXPECT_EQ(parsed.Force, c.force);
    EXPECT_EQ(parsed.Days, c.days);
  }
}

TEST(ParseProgramArguments, RefusesWhatItDoesNotKnow) {
  const std::vector<std::vector<const char*>> cases = {
      {"--port"},
      {"--port", "65536"},
      {"--port", "-1"},
      {"--port", "80x"},
      {"--base-dir"},
      {"--base-dir", ""},
      {"start"},
      {"install", "uninstall"},
      {"--PORT", "8443"},
      {"generate-certificates"},
      {"generate-secret", "a.ini", "b.ini"},
      {"--force", "install"},
      {"generate-secret", "--days", "30", "a.ini"},
      {"generate-certificates", "--days", "0", "dir"},
      {"generate-certificates", "--days", "826", "dir"},
      {"install", "dir"},
      {"trust-certificate"},
      {"untrust-certificate", "dir"},
      {"trust-certificate", "--force", "dir"},
  };
  for (const auto& arguments : cases) {
    EXPECT_THROW(ParseProgramArguments(arguments), std::invalid_argument) << arguments[0];
  }
}

}  // namespace
}  // namespace kelvora::service
