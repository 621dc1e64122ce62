// systemd unit files for the service: written atomically, so a crash never leaves half a unit.
#include "platform/ServiceInstaller.h"

#include <grp.h>
#include <pwd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "platform/ServiceHardening.h"

namespace kelvora::platform {
namespace {

constexpr std::string_view kWantedBy = "multi-user.target";

std::filesystem::path UnitPath(std::string_view name, const std::filesystem::path& directory) {
  return directory / (std::string(name) + ".service");
}

std::filesystem::path WantsLinkPath(std::string_view name, const std::filesystem::path& directory) {
  return directory / (std::string(kWantedBy) + ".wants") / (std::string(name) + ".service");
}

// A value as systemd reads it literally: "%" starts a specifier and line breaks end the setting.
std::string UnitValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '%') {
      out += "%%";
    } else if (c == '\r' || c == '\n') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

// One ExecStart= word, quoted so that blanks, quotes, backslashes, "%" and "$" reach the program
// unchanged.
std::string ExecWord(std::string_view word) {
  std::string out = "\"";
  for (char c : word) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '%':
        out += "%%";
        break;
      case '$':
        out += "$$";
        break;
      default:
        out += c;
        break;
    }
  }
  return out + "\"";
}

// One path of ReadWritePaths=, quoted so that blanks, quotes, backslashes and "%" stay part of it.
std::string PathWord(std::string_view path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

// Replaces path's content with text through a temporary file and a rename.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) throw std::runtime_error("Cannot write " + temporary.string());
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    throw std::runtime_error("Cannot write " + path.string());
  }
}

}  // namespace

std::filesystem::path SystemdUnitDirectory() {
  const char* overridden = std::getenv("KELVORA_SYSTEMD_DIR");
  if (overridden != nullptr && *overridden != '\0') return overridden;
  return "/etc/systemd/system";
}

std::vector<std::filesystem::path> PackagedUnitDirectories() {
  const char* overridden = std::getenv("KELVORA_PACKAGED_UNIT_DIRS");
  if (overridden == nullptr || *overridden == '\0') {
    return {"/usr/lib/systemd/system", "/lib/systemd/system"};
  }
  std::vector<std::filesystem::path> directories;
  std::string_view list = overridden;
  while (!list.empty()) {
    const size_t colon = list.find(':');
    if (colon != 0) directories.emplace_back(list.substr(0, colon));
    list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
  }
  return directories;
}

void ResolveServiceAccount(ServiceRegistration& registration) {
  const char* overridden = std::getenv("KELVORA_SERVICE_USER");
  const std::string name = overridden != nullptr && *overridden != '\0' ? overridden : "kelvora";
  std::vector<char> buffer(16384);
  passwd user{};
  passwd* found = nullptr;
  if (getpwnam_r(name.c_str(), &user, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    throw std::runtime_error("The user " + name +
                             " does not exist: create it (adduser --system --group " + name +
                             "), give it the base directory, and install again.");
  }
  if (user.pw_uid == 0) {
    throw std::runtime_error(
        "The service must not run as root: choose another user in "
        "KELVORA_SERVICE_USER.");
  }
  group primary{};
  group* groupFound = nullptr;
  std::vector<char> groupBuffer(16384);
  if (getgrgid_r(user.pw_gid, &primary, groupBuffer.data(), groupBuffer.size(), &groupFound) != 0 ||
      groupFound == nullptr) {
    throw std::runtime_error("The group of the user " + name + " does not exist.");
  }
  registration.User = name;
  registration.Group = primary.gr_name;
}

std::string ServiceUnitText(const ServiceRegistration& registration) {
  std::string exec;
  for (const std::string& word : registration.CommandLine) {
    if (!exec.empty()) exec += ' ';
    exec += ExecWord(word);
  }
  std::ostringstream text;
  text << "[Unit]\n"
       << "Description=" << UnitValue(registration.DisplayName) << "\n"
       << "After=network.target\n"
       << "\n"
       << "[Service]\n"
       << "Type=simple\n"
       << "User=" << UnitValue(registration.User) << "\n"
       << "Group=" << UnitValue(registration.Group) << "\n"
       << "WorkingDirectory=" << UnitValue(registration.BaseDir.string()) << "\n"
       << "ExecStart=" << exec << "\n"
       // systemctl reload: the settings read again, the library set up afresh at the next use.
       << "ExecReload=/bin/kill -HUP $MAINPID\n"
       << "ReadWritePaths=" << PathWord(registration.BaseDir.string()) << "\n"
       << kServiceHardening << "\n"
       << "[Install]\n"
       << "WantedBy=" << kWantedBy << "\n";
  return text.str();
}

void InstallService(ServiceRegistration registration, const std::filesystem::path& unitDirectory,
                    const std::vector<std::filesystem::path>& packagedDirectories) {
  for (const std::filesystem::path& directory : packagedDirectories) {
    const std::filesystem::path packaged = UnitPath(registration.Name, directory);
    std::error_code ec;
    if (std::filesystem::exists(packaged, ec)) {
      throw std::runtime_error("The kelvora-tef-server package installed " + packaged.string() +
                               ": manage the service with systemctl instead of install.");
    }
  }
  if (registration.User.empty()) ResolveServiceAccount(registration);
  const std::filesystem::path unit = UnitPath(registration.Name, unitDirectory);
  const std::filesystem::path link = WantsLinkPath(registration.Name, unitDirectory);
  std::error_code ec;
  std::filesystem::create_directories(link.parent_path(), ec);
  if (ec)
    throw std::runtime_error("Cannot create " + link.parent_path().string() + ": " + ec.message());
  WriteFileAtomically(unit, ServiceUnitText(registration));
  std::filesystem::remove(link, ec);
  std::filesystem::create_symlink(unit, link, ec);
  if (ec) throw std::runtime_error("Cannot create " + link.string() + ": " + ec.message());
}

void UninstallService(std::string_view name, const std::filesystem::path& unitDirectory) {
  const std::filesystem::path unit = UnitPath(name, unitDirectory);
  std::error_code ec;
  if (!std::filesystem::exists(unit, ec)) {
    throw std::runtime_error("The specified service does not exist as an installed service.");
  }
  std::filesystem::remove(WantsLinkPath(name, unitDirectory), ec);
  if (ec)
    throw std::runtime_error("Cannot remove the link of " + unit.string() + ": " + ec.message());
  std::filesystem::remove(unit, ec);
  if (ec) throw std::runtime_error("Cannot remove " + unit.string() + ": " + ec.message());
}

bool SetServiceDescription(std::string_view name, std::string_view description,
                           const std::filesystem::path& unitDirectory) {
  const std::filesystem::path unit = UnitPath(name, unitDirectory);
  std::ifstream in(unit, std::ios::binary);
  if (!in) return false;
  const std::string line = "Description=" + UnitValue(description);
  std::string text;
  bool inUnitSection = false;
  bool written = false;
  for (std::string current; std::getline(in, current);) {
    if (current.starts_with("[")) {
      if (inUnitSection && !written) {
        text += line + "\n";
        written = true;
      }
      inUnitSection = current == "[Unit]";
    } else if (inUnitSection && current.starts_with("Description=")) {
      if (written) continue;
      current = line;
      written = true;
    }
    text += current + "\n";
  }
  if (!written) text += (inUnitSection ? "" : "[Unit]\n") + line + "\n";
  try {
    WriteFileAtomically(unit, text);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace kelvora::platform
