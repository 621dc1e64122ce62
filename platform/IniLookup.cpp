// The INI reader on Linux: inih finds the first value of a key, names compared without regard
// to case.
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

std::optional<std::string> TIniFile::Find(std::string_view section, std::string_view key) const {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName_.c_str(), "rb"));
  if (!file) return std::nullopt;
  Lookup lookup{section, key, std::nullopt};
  ini_parse_file(file.get(), OnEntry, &lookup);
  return lookup.value;
}

}  // namespace kelvora::platform
