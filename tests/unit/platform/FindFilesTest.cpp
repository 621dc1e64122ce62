// File searches by mask, as the TEF component makes them for its backups: the same names on both
// systems, whatever short names Windows keeps ("*.tef" must not find "b.tefx", whose 8.3 name
// B~1.TEF Windows' own search matches).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/unit/support/TempDir.h"

namespace kelvora::platform {
namespace {

TEST(FindFiles, FindsTheLongNamesThatMatchTheMask) {
  const testing::TempDir dir;
  for (const char* name : {"a.tef", "b.tefx", ".h.tef", "d.te", "e.tef.bak"}) {
    ReplaceFileBytes((dir.Path() / name).string(), "x", false);
  }
  const std::string base = dir.Path().string() + "/";
  const struct {
    const char* mask;
    std::vector<std::string> names;
  } cases[] = {
      {"*.tef", {".h.tef", "a.tef"}},
      {"?.tef", {"a.tef"}},
      {"*.te?", {".h.tef", "a.tef"}},
      {"*.tef*", {".h.tef", "a.tef", "b.tefx", "e.tef.bak"}},
      {"x*", {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> expected;
    for (const std::string& name : c.names) expected.push_back(base + name);
    EXPECT_EQ(FindFiles(base + c.mask), expected) << c.mask;
  }
}

}  // namespace
}  // namespace kelvora::platform
