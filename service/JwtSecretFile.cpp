// Writes the installation's random token key into the configuration file, once.
#include "service/JwtSecretFile.h"

#include <openssl/rand.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "service/PrivateWorkDir.h"

namespace kelvora::service {
namespace {

constexpr std::string_view kSection = "security";
constexpr std::string_view kKey = "jwt_secret";

bool IsKeyCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// The section a "[name]" line opens, or nullopt for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

bool IsKeyLine(std::string_view line) {
  const size_t equals = line.find('=');
  return equals != std::string_view::npos && EqualsIgnoringCase(Trim(line.substr(0, equals)), kKey);
}

// The file's text with the key placed as EnsureJwtSecret describes.
std::string WithKey(const std::string& text, const std::string& key) {
  const std::string newline = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string keyLine = std::string(kKey) + "=" + key;
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    const size_t stop = end == std::string::npos ? text.size() : end;
    std::string line = text.substr(start, stop - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = stop + 1;
  }
  bool inSection = false;
  std::optional<size_t> header;
  bool placed = false;
  for (size_t i = 0; i < lines.size() && !placed; ++i) {
    if (const auto section = SectionOf(lines[i])) {
      inSection = EqualsIgnoringCase(*section, kSection);
      if (inSection && !header) header = i;
    } else if (inSection && IsKeyLine(lines[i])) {
      lines[i] = keyLine;
      placed = true;
    }
  }
  if (!placed && header) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*header) + 1, keyLine);
  } else if (!placed) {
    if (!lines.empty()) lines.emplace_back();
    lines.push_back("[" + std::string(kSection) + "]");
    lines.push_back(keyLine);
  }
  std::string result;
  for (const std::string& line : lines) result += line + newline;
  return result;
}

}  // namespace

std::string NewJwtSecret() {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string secret;
  while (secret.size() < 32) {
    unsigned char bytes[64];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random bytes available");
    for (unsigned char byte : bytes) {
      // 248 is the largest multiple of 62 that fits a byte: larger bytes would favour some letters.
      if (byte < 248 && secret.size() < 32) secret += kAlphabet[byte % kAlphabet.size()];
    }
  }
  return secret;
}

TJwtSecretResult EnsureJwtSecret(const std::filesystem::path& iniFile) {
  namespace fs = std::filesystem;
  const std::string current = platform::TIniFile(iniFile).ReadString(kSection, kKey, "");
  if (!current.empty()) {
    if (current.size() == 32 && std::all_of(current.begin(), current.end(), IsKeyCharacter)) {
      return TJwtSecretResult::Kept;
    }
    throw std::runtime_error(iniFile.string() +
                             " sets a [security] jwt_secret that is not 32 ASCII letters and "
                             "digits; it was left as it is");
  }
  std::error_code error;
  const fs::file_status status = fs::symlink_status(iniFile, error);
  if (fs::is_symlink(status)) {
    throw std::runtime_error(iniFile.string() + " is a symbolic link; no key was written");
  }
  const bool exists = fs::exists(status);
  const std::string text = exists ? platform::ReadFileBytes(iniFile.string()) : std::string();
  const fs::perms permissions =
      exists ? status.permissions() : fs::perms::owner_read | fs::perms::owner_write;

  const std::string key = NewJwtSecret();
  const fs::path parent = iniFile.has_parent_path() ? iniFile.parent_path() : fs::path(".");
  const TPrivateWorkDir work(parent);
  const fs::path written = work.Write(iniFile.filename().string(), WithKey(text, key), permissions);
  // The service must read back exactly this key; a file laid out in a way this writer did not
  // foresee is left untouched rather than half-changed.
  if (platform::TIniFile(written).ReadString(kSection, kKey, "") != key) {
    throw std::runtime_error("could not place [security] jwt_secret in " + iniFile.string() +
                             "; it was left as it is");
  }
  platform::FlushToStableStorage(written.string());
  fs::rename(written, iniFile, error);
  if (error) throw std::runtime_error("cannot write " + iniFile.string() + ": " + error.message());
  platform::FlushToStableStorage(iniFile.string());
  return TJwtSecretResult::Written;
}

}  // namespace kelvora::service
