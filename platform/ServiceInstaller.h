// Registration of a service. On Linux with systemd: its unit file, hardened and run by an account
// of its own, enabled for the multi-user target (the automatic start type), and the unit's
// Description= as the service description. On Windows with the service control manager: an
// automatic service in its own process under the local system account, and the registry's
// Description value.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora::platform {

struct ServiceRegistration {
  std::string Name;                      // the unit is Name + ".service"
  std::string DisplayName;               // the unit's Description= until a description is written
  std::vector<std::string> CommandLine;  // the executable's absolute path, then its arguments
  std::filesystem::path BaseDir;         // the only folder the service may write to
  std::string User;                      // the account it runs as; empty: ServiceAccount()
  std::string Group;                     // that account's group
};

#ifdef _WIN32
void InstallService(const ServiceRegistration& registration);
void UninstallService(std::string_view name);
bool SetServiceDescription(std::string_view name, std::string_view description);
#else
// The account the service runs as: $KELVORA_SERVICE_USER when set and not empty, else kelvora
// (the user the Debian package makes). Fills User and Group of registration from the account
// database. Throws std::runtime_error when the user does not exist or is root, since a service
// that takes payments from the network must not run with every privilege.
void ResolveServiceAccount(ServiceRegistration& registration);

// Where the Debian package puts its unit: $KELVORA_PACKAGED_UNIT_DIRS (folders separated by ":")
// when set and not empty, else /usr/lib/systemd/system and /lib/systemd/system.
std::vector<std::filesystem::path> PackagedUnitDirectories();

// Where units are written: $KELVORA_SYSTEMD_DIR when set and not empty, else /etc/systemd/system.
std::filesystem::path SystemdUnitDirectory();

// Writes (or rewrites) the unit file and the multi-user.target.wants link that enables it, the
// account resolved first when the registration names none. Throws std::runtime_error with the
// reason when a packaged unit of the same name exists in packagedDirectories (a second unit would
// hide the package's one, and both would fight over the port), when the account is not usable or
// when the files cannot be written. systemd reads the new unit at its next daemon-reload.
void InstallService(
    ServiceRegistration registration,
    const std::filesystem::path& unitDirectory = SystemdUnitDirectory(),
    const std::vector<std::filesystem::path>& packagedDirectories = PackagedUnitDirectories());

// Removes the unit file and its link. Throws std::runtime_error when the service is not installed
// or the files cannot be removed.
void UninstallService(std::string_view name,
                      const std::filesystem::path& unitDirectory = SystemdUnitDirectory());

// Sets the unit's Description= of an installed service; returns false, writing nothing, when the
// unit does not exist or cannot be rewritten.
bool SetServiceDescription(std::string_view name, std::string_view description,
                           const std::filesystem::path& unitDirectory = SystemdUnitDirectory());

// The unit file text for a registration (exposed for tests).
std::string ServiceUnitText(const ServiceRegistration& registration);
#endif

}  // namespace kelvora::platform
