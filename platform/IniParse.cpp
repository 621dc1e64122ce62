// The INI reader of the configuration file.
#include "platform/IniParse.h"

#include <algorithm>
#include <string>

namespace kelvora::platform {
namespace {

constexpr size_t kLinePiece = 199;  // bytes of a line read at once
constexpr size_t kMaxName = 49;     // bytes kept of a section name and of a continued entry's name
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

// Where the text stops: at the first of `stops`, or at a ';' that follows a blank (an inline
// comment), or at its end.
size_t FindStopOrComment(std::string_view text, std::string_view stops) {
  bool afterBlank = false;
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (stops.find(c) != std::string_view::npos || (afterBlank && c == ';')) return at;
    afterBlank = IsBlank(c);
  }
  return text.size();
}

std::string_view Cut(std::string_view text, size_t length) {
  return text.substr(0, std::min(text.size(), length));
}

}  // namespace

void ParseIniText(std::string_view text, const TIniEntryHandler& onEntry) {
  std::string section;
  std::string lastName;  // of the entry an indented line continues; empty: none
  bool firstLine = true;
  while (!text.empty()) {
    const size_t lineEnd = text.find('\n');
    const size_t length = std::min(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1,
                                   kLinePiece);
    std::string_view line = text.substr(0, length);
    text.remove_prefix(length);
    line = line.substr(0, line.find('\0'));
    if (firstLine && line.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
      line.remove_prefix(kByteOrderMark.size());
    }
    firstLine = false;

    const std::string_view start = TrimLeft(TrimRight(line));
    const bool indented = start.data() != line.data();
    if (start.empty() || start.front() == ';' || start.front() == '#') continue;
    if (indented && !lastName.empty()) {
      onEntry(section, lastName, start);
      continue;
    }
    if (start.front() == '[') {
      const std::string_view rest = start.substr(1);
      const size_t end = FindStopOrComment(rest, "]");
      if (end < rest.size() && rest[end] == ']') {
        section = Cut(rest.substr(0, end), kMaxName);
        lastName.clear();
      }
      continue;
    }
    const size_t separator = FindStopOrComment(start, "=:");
    if (separator == start.size() || (start[separator] != '=' && start[separator] != ':')) continue;
    const std::string_view name = TrimRight(start.substr(0, separator));
    std::string_view value = start.substr(separator + 1);
    value = TrimRight(TrimLeft(value.substr(0, FindStopOrComment(value, {}))));
    onEntry(section, name, value);
    lastName = Cut(name, kMaxName);
  }
}

}  // namespace kelvora::platform
