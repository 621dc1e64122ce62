// The program entry shared by the service executable and the test hosts: the command line, the
// service host, and installation as a systemd unit.
#pragma once

#include "platform/DateTime.h"
#include "service/KelvoraSiTefService.h"

#include <optional>
#include <span>
#include <string>

namespace kelvora::service {

enum class TProgramCommand {
  Run,
  Install,
  Uninstall,
  GenerateCertificates,
  GenerateSecret,
  TrustCertificate,    // the local CA of a folder into the machine's trusted roots
  UntrustCertificate,  // every local CA out of them
  Operations,          // the day's operations from the journal, for the store's closing
};

struct TProgramArguments {
  TProgramCommand Command = TProgramCommand::Run;
  std::optional<uint16_t> Port;                  // --port N
  std::optional<std::filesystem::path> BaseDir;  // --base-dir DIR
  bool Silent = false;  // "silent": no confirmation text on install/uninstall
  std::optional<std::filesystem::path> Target;  // the folder or file a setup command works on
  bool Force = false;                           // --force: generate-certificates replaces a set
  std::optional<int> Days;                      // --days N: validity of generated certificates
  std::optional<platform::TDateTime> Date;      // --date YYYY-MM-DD: the day of operations
  bool JsonFormat = false;                      // --format json (csv by default)
};

// Parses "[--port N] [--base-dir DIR] [install|uninstall] [silent]",
// "generate-certificates [--force] [--days N] DIR", "generate-secret INI",
// "trust-certificate DIR", "untrust-certificate" and
// "[--base-dir DIR] operations --date YYYY-MM-DD [--format csv|json]" (the commands in any
// case, with an optional leading "-" or "/", as the Windows switches are written). Throws
// std::invalid_argument with the reason for anything else.
TProgramArguments ParseProgramArguments(std::span<const char* const> arguments);

// Runs the program: builds the service module with the data module from createDataModule, then
// installs, uninstalls, or runs it in the foreground until SIGTERM or SIGINT. Returns the exit
// code: 0 on success (also after a stop signal), 1 when install, uninstall or a generate command
// failed, 2 for a bad command line. The setup commands (generate-*, trust-certificate,
// untrust-certificate) do their work and return without building the service module.
int RunServiceProgram(int argc, char** argv,
                      const TKelvoraSiTefService::DataModuleFactory& createDataModule);

}  // namespace kelvora::service
