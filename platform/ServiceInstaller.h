// Registration of a service. On Linux with systemd: its unit file, enabled for the multi-user
// target (the automatic start type), and the unit's Description= as the service description. On
// Windows with the service control manager: an automatic service in its own process under the
// local system account, and the registry's Description value.
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
};

#ifdef _WIN32
void InstallService(const ServiceRegistration& registration);
void UninstallService(std::string_view name);
bool SetServiceDescription(std::string_view name, std::string_view description);
#else
// Where units are written: $KELVORA_SYSTEMD_DIR when set and not empty, else /etc/systemd/system.
std::filesystem::path SystemdUnitDirectory();

// Writes (or rewrites) the unit file and the multi-user.target.wants link that enables it.
// Throws std::runtime_error with the failure when the files cannot be written. systemd reads the
// new unit at its next daemon-reload.
void InstallService(const ServiceRegistration& registration,
                    const std::filesystem::path& unitDirectory = SystemdUnitDirectory());

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
