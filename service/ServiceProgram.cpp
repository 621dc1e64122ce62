// main() of the service: the command line, then the service host or the installer.
#include "service/ServiceProgram.h"

#include "service/Certificates.h"
#include "service/JwtSecretFile.h"
#include "service/LocalCaTrust.h"

#include "protocol/OperationsReport.h"

#include "platform/LibrarySearch.h"
#include "platform/Paths.h"
#include "platform/PrivateDirectory.h"
#include "platform/ProgramArguments.h"
#include "platform/ServiceHost.h"
#include "platform/ServiceInstaller.h"
#include "platform/Utf8Path.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvora::service {
namespace {

bool IsCommand(std::string_view argument, std::string_view command) {
  if (argument.starts_with('-') || argument.starts_with('/')) argument.remove_prefix(1);
  if (argument.size() != command.size()) return false;
  for (size_t i = 0; i < argument.size(); ++i) {
    char c = argument[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != command[i]) return false;
  }
  return true;
}

uint16_t ParsePort(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > 65535) {
    throw std::invalid_argument("invalid port: " + std::string(text));
  }
  return static_cast<uint16_t>(value);
}

int ParseDays(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 ||
      value > kMaxCertificateDays) {
    throw std::invalid_argument("invalid number of days: " + std::string(text));
  }
  return value;
}

// The commands of the command line, and for those that name a folder or a file, the error when it
// is missing.
struct TCommandWord {
  std::string_view Word;
  TProgramCommand Command;
  std::string_view MissingTarget;
};
constexpr TCommandWord kCommandWords[] = {
    {"install", TProgramCommand::Install, {}},
    {"uninstall", TProgramCommand::Uninstall, {}},
    {"generate-certificates", TProgramCommand::GenerateCertificates,
     "generate-certificates needs a directory"},
    {"generate-secret", TProgramCommand::GenerateSecret,
     "generate-secret needs the configuration file"},
    {"trust-certificate", TProgramCommand::TrustCertificate,
     "trust-certificate needs the certificates' directory"},
    {"untrust-certificate", TProgramCommand::UntrustCertificate, {}},
    {"operations", TProgramCommand::Operations, {}},
};

const TCommandWord* CommandNamed(std::string_view argument) {
  for (const TCommandWord& word : kCommandWords) {
    if (IsCommand(argument, word.Word)) return &word;
  }
  return nullptr;
}

const TCommandWord* CommandWord(TProgramCommand command) {
  for (const TCommandWord& word : kCommandWords) {
    if (word.Command == command) return &word;
  }
  return nullptr;
}

// The commands that work on files or on the machine's trusted roots alone, without the service.
bool IsSetupCommand(TProgramCommand command) {
  return command == TProgramCommand::GenerateCertificates ||
         command == TProgramCommand::GenerateSecret ||
         command == TProgramCommand::TrustCertificate ||
         command == TProgramCommand::UntrustCertificate || command == TProgramCommand::Operations;
}

// A day written YYYY-MM-DD, when it is a real one.
platform::TDateTime ParseDay(std::string_view text) {
  const auto number = [text](size_t from, size_t length) {
    int value = 0;
    const auto [end, error] =
        std::from_chars(text.data() + from, text.data() + from + length, value);
    return error == std::errc() && end == text.data() + from + length ? value : -1;
  };
  std::optional<platform::TDateTime> day;
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    day = platform::TryEncodeDate(number(0, 4), number(5, 2), number(8, 2));
  }
  if (!day)
    throw std::invalid_argument("--date needs a day written YYYY-MM-DD: " + std::string(text));
  return *day;
}

// The setup commands that name a folder or a file.
bool TakesTarget(TProgramCommand command) {
  const TCommandWord* word = CommandWord(command);
  return word != nullptr && !word->MissingTarget.empty();
}

void GenerateCertificatesCommand(const TProgramArguments& arguments) {
  TCertificateOptions options;
  options.Days = arguments.Days.value_or(kMaxCertificateDays);
  options.Force = arguments.Force;
  GenerateCertificates(*arguments.Target, options);
  std::printf("Wrote %s, %s and %s in %s (valid %d days)\n", kCaCertificateFile.data(),
              kServerCertificateFile.data(), kServerKeyFile.data(),
              arguments.Target->string().c_str(), options.Days);
#ifdef _WIN32
  // A new CA: the browsers trust the new server certificate only once it replaces the old one.
  std::printf("Run trust-certificate %s so that the browsers trust the new CA\n",
              arguments.Target->string().c_str());
#endif
}

void TrustCertificateCommand(const TProgramArguments& arguments) {
  const TLocalCaTrustResult result = TrustLocalCa(*arguments.Target);
  const std::string file = (*arguments.Target / kCaCertificateFile).string();
  switch (result.Outcome) {
    case TLocalCaTrust::Added:
      std::printf("Added %s to the machine's trusted root certificates\n", file.c_str());
      break;
    case TLocalCaTrust::AlreadyThere:
      std::printf("%s was already among the machine's trusted root certificates\n", file.c_str());
      break;
    case TLocalCaTrust::NotOurs:
      std::printf(
          "Left the machine's trusted root certificates as they are: %s is not a local CA "
          "made by this program\n",
          file.c_str());
      break;
  }
  if (result.Removed > 0) {
    std::printf("Removed %d earlier local CA(s) from them\n", result.Removed);
  }
}

// Runs a setup command. The secret itself is never printed: it would end up in installer logs
// and terminal scroll-back.
int RunSetupCommand(const TProgramArguments& arguments) {
  try {
    switch (arguments.Command) {
      case TProgramCommand::GenerateCertificates:
        GenerateCertificatesCommand(arguments);
        break;
      case TProgramCommand::GenerateSecret:
        if (EnsureJwtSecret(*arguments.Target) == TJwtSecretResult::Written) {
          std::printf("Wrote a new [security] jwt_secret to %s\n",
                      arguments.Target->string().c_str());
        } else {
          std::printf("Kept the [security] jwt_secret of %s\n", arguments.Target->string().c_str());
        }
        break;
      case TProgramCommand::TrustCertificate:
        TrustCertificateCommand(arguments);
        break;
      case TProgramCommand::UntrustCertificate:
        std::printf("Removed %d local CA(s) from the machine's trusted root certificates\n",
                    UntrustLocalCa());
        break;
      case TProgramCommand::Operations: {
        const std::filesystem::path baseDir =
            std::filesystem::absolute(arguments.BaseDir.value_or(platform::ExecutableDirectory()));
        const std::string report = protocol::OperationsReport(
            baseDir, *arguments.Date,
            arguments.JsonFormat ? protocol::TReportFormat::Json : protocol::TReportFormat::Csv);
        std::fwrite(report.data(), 1, report.size(), stdout);
        break;
      }
      default:
        break;
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

void PrintUsage(const char* program) {
  std::fprintf(stderr,
               "%s\nUsage: %s [--port N] [--base-dir DIR]\n"
               "       %s [--port N] [--base-dir DIR] install [silent]\n"
               "       %s uninstall [silent]\n"
               "       %s generate-certificates [--force] [--days N] DIR\n"
               "       %s generate-secret INI\n"
               "       %s trust-certificate DIR\n"
               "       %s untrust-certificate\n"
               "       %s [--base-dir DIR] operations --date YYYY-MM-DD [--format csv|json]\n",
               std::string(TKelvoraSiTefService::kTitle).c_str(), program, program, program,
               program, program, program, program, program);
}

// The command line the installed unit runs: this executable with the same options.
std::vector<std::string> UnitCommandLine(const TProgramArguments& arguments) {
  std::vector<std::string> line{platform::ExecutablePath().string()};
  if (arguments.Port) {
    line.push_back("--port");
    line.push_back(std::to_string(*arguments.Port));
  }
  if (arguments.BaseDir) {
    line.push_back("--base-dir");
    line.push_back(arguments.BaseDir->string());
  }
  return line;
}

}  // namespace

TProgramArguments ParseProgramArguments(std::span<const char* const> arguments) {
  TProgramArguments parsed;
  bool commandSeen = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    auto value = [&]() -> std::string_view {
      if (i + 1 >= arguments.size())
        throw std::invalid_argument(std::string(argument) + " needs a value");
      return arguments[++i];
    };
    if (argument == "--port") {
      parsed.Port = ParsePort(value());
    } else if (argument == "--base-dir") {
      const std::string_view directory = value();
      if (directory.empty()) throw std::invalid_argument("--base-dir needs a directory");
      parsed.BaseDir =
          std::filesystem::absolute(platform::PathFromUtf8(directory)).lexically_normal();
    } else if (const TCommandWord* named = commandSeen ? nullptr : CommandNamed(argument)) {
      parsed.Command = named->Command;
      commandSeen = true;
    } else if (argument == "--force") {
      parsed.Force = true;
    } else if (argument == "--days") {
      parsed.Days = ParseDays(value());
    } else if (argument == "--date") {
      parsed.Date = ParseDay(value());
    } else if (argument == "--format") {
      const std::string_view format = value();
      if (format != "csv" && format != "json") {
        throw std::invalid_argument("--format is csv or json: " + std::string(format));
      }
      parsed.JsonFormat = format == "json";
    } else if (TakesTarget(parsed.Command) && !parsed.Target && !argument.empty() &&
               !argument.starts_with('-')) {
      parsed.Target = platform::PathFromUtf8(argument);
    } else if (IsCommand(argument, "silent")) {
      parsed.Silent = true;
    } else {
      throw std::invalid_argument("unknown argument: " + std::string(argument));
    }
  }
  if (TakesTarget(parsed.Command) && !parsed.Target) {
    throw std::invalid_argument(std::string(CommandWord(parsed.Command)->MissingTarget));
  }
  if ((parsed.Force || parsed.Days) && parsed.Command != TProgramCommand::GenerateCertificates) {
    throw std::invalid_argument("--force and --days belong to generate-certificates");
  }
  if (parsed.Command == TProgramCommand::Operations && !parsed.Date) {
    throw std::invalid_argument("operations needs --date YYYY-MM-DD");
  }
  if ((parsed.Date || parsed.JsonFormat) && parsed.Command != TProgramCommand::Operations) {
    throw std::invalid_argument("--date and --format belong to operations");
  }
  return parsed;
}

int RunServiceProgram(int argc, char** argv,
                      const TKelvoraSiTefService::DataModuleFactory& createDataModule) {
  // Before any private file exists: the key and certificates the installer makes, and the logs
  // and backups, are the service account's, not the technician's who ran the installer.
  platform::SetPrivateFilesService(TKelvoraSiTefService::kServiceName);
  const std::vector<std::string> text = platform::ProgramArguments(argc, argv);
  std::vector<const char*> words;
  for (size_t i = 1; i < text.size(); ++i) words.push_back(text[i].c_str());
  TProgramArguments arguments;
  try {
    arguments = ParseProgramArguments(words);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "%s\n", e.what());
    PrintUsage(argv[0]);
    return 2;
  }
  if (IsSetupCommand(arguments.Command)) return RunSetupCommand(arguments);
  try {
    // First, before any thread exists, so that every thread inherits the blocked control signals.
    platform::ServiceHost host;
    TServiceOptions options;
    // Absolute, since the working folder may become the base directory.
    options.BaseDir =
        std::filesystem::absolute(arguments.BaseDir.value_or(platform::ExecutableDirectory()));
    options.Port = arguments.Port.value_or(443);
    options.ConfigFile = platform::ConfigFilePath(options.BaseDir);
    TKelvoraSiTefService service(options, createDataModule);
    switch (arguments.Command) {
      case TProgramCommand::Run:
        platform::RestrictLibrarySearch(options.BaseDir);
        return host.Run(service);
      case TProgramCommand::Install:
        platform::InstallService({std::string(TKelvoraSiTefService::kServiceName),
                                  std::string(TKelvoraSiTefService::kDisplayName),
                                  UnitCommandLine(arguments),
                                  options.BaseDir,
                                  {},
                                  {}});
        service.ServiceAfterInstall();
        if (!arguments.Silent) std::printf("Service installed successfully\n");
        return 0;
      case TProgramCommand::Uninstall:
        platform::UninstallService(TKelvoraSiTefService::kServiceName);
        if (!arguments.Silent) std::printf("Service uninstalled successfully\n");
        return 0;
      case TProgramCommand::GenerateCertificates:
      case TProgramCommand::GenerateSecret:
      case TProgramCommand::TrustCertificate:
      case TProgramCommand::UntrustCertificate:
      case TProgramCommand::Operations:
        break;  // run above, before the service module exists
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  return 1;
}

}  // namespace kelvora::service
