// The configuration file's reader: a table of texts and the entries read from them, on every
// system; on Linux, the same reader compared with Debian's inih, whose rules it keeps, over the
// table and over random texts made of the characters that matter to an INI reader.
#include "platform/IniParse.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <ini.h>

#include <cstdio>
#endif

namespace kelvora::platform {
namespace {

using Entries = std::vector<std::string>;  // "[section] name=value"

Entries Parse(std::string_view text) {
  Entries entries;
  ParseIniText(text, [&](std::string_view section, std::string_view name, std::string_view value) {
    entries.push_back("[" + std::string(section) + "] " + std::string(name) + "=" +
                      std::string(value));
  });
  return entries;
}

const std::string kLong(300, 'x');

const struct {
  std::string_view name;
  std::string text;
  Entries expected;
} kCases[] = {
    {"inline comments need a blank before ';'",
     "[s]\nk1=v1 ;c\nk2=v2;kept\nk3 = \"q\" ; c\nk4= ;c\n",
     {"[s] k1=v1", "[s] k2=v2;kept", "[s] k3=\"q\"", "[s] k4="}},
    {"comments, ':' and '=' in values, blanks around names and values",
     "; top\n# hash\n[s]\n  ; indented comment\nk : v\nk6 = a = b\nk7\t=\tx\n",
     {"[s] k=v", "[s] k6=a = b", "[s] k7=x"}},
    {"a byte-order mark and CRLF line ends",
     "\xEF\xBB\xBF[s]\r\npdv_number=3\r\n",
     {"[s] pdv_number=3"}},
    {"a mark anywhere but the start is text", "[s]\n\xEF\xBB\xBFk=1\n", {"[s] \xEF\xBB\xBFk=1"}},
    {"an indented line continues the entry before it, not a section",
     "[s]\nk=1\n\n; c\n  more ;c\n[t]\n  ind=1\n",
     {"[s] k=1", "[s] k=more ;c", "[t] ind=1"}},
    {"errors are skipped: no separator, a comment in the name, an unclosed section",
     "[s]\nnoeq\nk9 ;=1\n[bad\nk=1\n",
     {"[s] k=1"}},
    {"text after a section's ']' is ignored; its name is kept as written",
     "[ s ] junk\nk=1\n[a ;c]\nk=2\n",
     {"[ s ] k=1", "[ s ] k=2"}},
    {"a long line is read in pieces of 199 bytes",
     "[s]\nk=" + kLong + "=tail\nafter=1\n",
     {"[s] k=" + kLong.substr(0, 197), "[s] " + kLong.substr(0, 103) + "=tail", "[s] after=1"}},
    {"a NUL byte ends the line's text", std::string("[s]\nk=ab\0cd\nz=1\n", 16), {"[s] k=ab", "[s] z=1"}},
    {"no final line break", "[s]\nk=1", {"[s] k=1"}},
};

TEST(ParseIniText, ReadsEachCaseByTheReadersRules) {
  for (const auto& c : kCases) EXPECT_EQ(Parse(c.text), c.expected) << c.name;
}

TEST(ParseIniText, CutsLongSectionNamesAndContinuedNames) {
  const std::string name(60, 'n');
  EXPECT_EQ(Parse("[" + name + "]\n" + name + "=1\n  x\n"),
            (Entries{"[" + name.substr(0, 49) + "] " + name + "=1",
                     "[" + name.substr(0, 49) + "] " + name.substr(0, 49) + "=x"}));
}

#ifndef _WIN32
Entries ParseWithInih(const std::string& text) {
  Entries entries;
  std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  if (text.empty()) return entries;
  ini_parse_file(
      file,
      [](void* user, const char* section, const char* name, const char* value) {
        static_cast<Entries*>(user)->push_back("[" + std::string(section) + "] " + name + "=" +
                                               value);
        return 1;
      },
      &entries);
  std::fclose(file);
  return entries;
}

TEST(ParseIniText, ReadsAsInihDoes) {
  for (const auto& c : kCases) EXPECT_EQ(Parse(c.text), ParseWithInih(c.text)) << c.name;

  // Random texts of the characters an INI reader treats specially, with long runs now and then.
  std::mt19937 random(20261211);
  const std::string alphabet = "ab[]=:;# \t\r\n\n\n\"\xEF\xBB\xBF";
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 400)(random);
    while (static_cast<int>(text.size()) < length) {
      const char c = alphabet[random() % alphabet.size()];
      text.append(random() % 40 == 0 ? 120 : 1, c);
    }
    ASSERT_EQ(Parse(text), ParseWithInih(text)) << testing::PrintToString(text);
  }
}
#endif

}  // namespace
}  // namespace kelvora::platform
