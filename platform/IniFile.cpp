// Reading of profile (INI) files with inih, and the profile functions' integer rules on top.
#include "platform/IniFile.h"

#include <ini.h>

#include <cstdio>
#include <memory>

namespace kelvora::platform {
namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What the inih callback looks for, and the first value it found.
struct Lookup {
  std::string_view section;
  std::string_view key;
  std::optional<std::string> value;
};

int OnEntry(void* user, const char* section, const char* name, const char* value) {
  auto& lookup = *static_cast<Lookup*>(user);
  if (!lookup.value && EqualsIgnoringCase(section, lookup.section) &&
      EqualsIgnoringCase(name, lookup.key)) {
    lookup.value = value;
  }
  return 1;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::optional<int32_t> ParseProfileInteger(std::string_view text) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  uint64_t magnitude = 0;
  if (text.starts_with("0x") || text.starts_with("0X") || text.starts_with("$")) {
    text.remove_prefix(text.front() == '$' ? 1 : 2);
    if (text.empty()) return std::nullopt;
    for (char c : text) {
      const int digit = HexDigit(c);
      if (digit < 0) return std::nullopt;
      magnitude = magnitude * 16 + static_cast<uint64_t>(digit);
      if (magnitude > 0xFFFFFFFFu) return std::nullopt;
    }
    const auto bits = static_cast<uint32_t>(negative ? 0u - magnitude : magnitude);
    return static_cast<int32_t>(bits);
  }
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
    if (magnitude > 2147483648u) return std::nullopt;
  }
  if (negative) return static_cast<int32_t>(-static_cast<int64_t>(magnitude));
  if (magnitude > 2147483647u) return std::nullopt;
  return static_cast<int32_t>(magnitude);
}

std::optional<std::string> TIniFile::Find(std::string_view section, std::string_view key) const {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName_.c_str(), "rb"));
  if (!file) return std::nullopt;
  Lookup lookup{section, key, std::nullopt};
  ini_parse_file(file.get(), OnEntry, &lookup);
  return lookup.value;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  const std::optional<std::string> found = Find(section, key);
  if (!found) return std::string(defaultValue);
  std::string_view value = TrimBlanks(*found);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int32_t defaultValue) const {
  return ParseProfileInteger(ReadString(section, key, "")).value_or(defaultValue);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

}  // namespace kelvora::platform
