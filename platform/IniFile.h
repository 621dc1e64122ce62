// The configuration file: a Windows-style profile (INI) file read afresh at every call, with the
// integer and boolean rules of the Windows profile functions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::platform {

// Parses an integer as the profile functions do: optional sign, then decimal digits or
// hexadecimal digits after "0x", "0X" or "$". Decimal text must fit a 32-bit signed integer;
// hexadecimal text may use all 32 bits ($FFFFFFFF is -1). Blanks around the text are ignored.
// Anything else gives nullopt.
std::optional<int32_t> ParseProfileInteger(std::string_view text);

class TIniFile {
 public:
  explicit TIniFile(std::filesystem::path fileName) : fileName_(std::move(fileName)) {}

  const std::filesystem::path& FileName() const { return fileName_; }

  // The value of key in section, or defaultValue when the file, the section or the key is
  // missing. Section and key names are compared without regard to case; the first occurrence in
  // the file counts. Blanks around the value and one pair of enclosing quotes are removed. The
  // file is read anew at every call, so an edit takes effect at the next read.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;

  // The value read as an integer (ParseProfileInteger); defaultValue when it is missing or is not
  // an integer.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;

  // The value read as an integer: non-zero is true. Text that is not an integer ("true") gives
  // defaultValue.
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

 private:
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;

  std::filesystem::path fileName_;
};

}  // namespace kelvora::platform
