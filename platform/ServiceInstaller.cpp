// systemd unit files for the service: written atomically, so a crash never leaves half a unit.
#include "platform/ServiceInstaller.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

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
       << "ExecStart=" << exec << "\n"
       << "Restart=no\n"
       << "\n"
       << "[Install]\n"
       << "WantedBy=" << kWantedBy << "\n";
  return text.str();
}

void InstallService(const ServiceRegistration& registration,
                    const std::filesystem::path& unitDirectory) {
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
