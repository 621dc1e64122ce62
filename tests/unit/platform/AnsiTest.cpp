// Windows-1252 conversion in both directions.
#include "platform/Ansi.h"

#include <gtest/gtest.h>

namespace kelvora::platform {
namespace {

struct AnsiCase {
  std::string utf8;
  std::string ansi_bytes;
};

TEST(Ansi, ConvertsBothWays) {
  const AnsiCase cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"é", "\xE9"},
      {"Ação €", "A\xE7\xE3o \x80"},
      {"“aspas”", "\x93" "aspas\x94"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RawBytes(ToAnsi(c.utf8)), c.ansi_bytes) << c.utf8;
    EXPECT_EQ(FromAnsi(AnsiBytes(c.ansi_bytes)), c.utf8) << c.utf8;
  }
}

TEST(Ansi, CharactersOutsideTheCodePageAreLostAsQuestionMarks) {
  EXPECT_EQ(RawBytes(ToAnsi("a\xE4\xB8\xAD" "b")), "a?b");      // a CJK character
  EXPECT_EQ(RawBytes(ToAnsi("a\xF0\x9F\x98\x80" "b")), "a?b");  // an emoji
  EXPECT_EQ(RawBytes(ToAnsi("a\xFF" "b")), "a?b");              // invalid UTF-8
}

TEST(Ansi, UndefinedBytesDecodeToControlCharacters) {
  EXPECT_EQ(FromAnsi(AnsiBytes("\x81\x8D\x8F\x90\x9D")), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
}

}  // namespace
}  // namespace kelvora::platform
