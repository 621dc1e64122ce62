// The lookup of one key in the configuration file, by the reader's rules on every system.
#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/IniParse.h"

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

}  // namespace

std::optional<std::string> TIniFile::Find(std::string_view section, std::string_view key) const {
  std::string text;
  try {
    text = ReadFileBytes(fileName_.string());
  } catch (const std::exception&) {
    return std::nullopt;  // no file, or one that cannot be read: every key takes its default
  }
  std::optional<std::string> found;
  ParseIniText(text, [&](std::string_view inSection, std::string_view name, std::string_view value) {
    if (!found && EqualsIgnoringCase(inSection, section) && EqualsIgnoringCase(name, key)) {
      found = value;
    }
  });
  return found;
}

}  // namespace kelvora::platform
