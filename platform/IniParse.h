// The rules by which the configuration file is read, the same on every system: those of the inih
// reader as Linux distributions build it, so a file a technician writes reads the same on Linux
// and on Windows (whose own profile functions keep "; comments" in values and read UTF-8 as ANSI).
#pragma once

#include <functional>
#include <string_view>

namespace kelvora::platform {

// Calls onEntry(section, name, value) for every entry of an INI text, in file order:
// - a UTF-8 byte-order mark at the start is skipped; lines end at '\n' ("\r\n" too), and a line
//   longer than 199 bytes is read in pieces of 199, each piece read as a line of its own; a NUL
//   byte ends a line's text;
// - blanks around a line are ignored; a line whose first character is ';' or '#' is a comment;
// - "[name]" starts a section (the name as written, cut to 49 bytes; text after ']' ignored);
// - "name=value" or "name:value" is an entry: blanks around the name and the value are removed,
//   and a ';' that follows a blank starts a comment (in the value, and in the name, which makes
//   the line an error); the value's quotes are kept;
// - an indented line that follows an entry (blank lines and comments between them allowed, not a
//   section) continues it: onEntry is called again with the entry's name (cut to 49 bytes) and
//   the line as its value, inline comment and all;
// - any other line is an error and is skipped.
using TIniEntryHandler =
    std::function<void(std::string_view section, std::string_view name, std::string_view value)>;
void ParseIniText(std::string_view text, const TIniEntryHandler& onEntry);

}  // namespace kelvora::platform
