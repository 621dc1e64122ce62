// GUID text form of the random identifiers.
#include "platform/Guid.h"

#include <gtest/gtest.h>

#include <regex>

namespace kelvora::platform {
namespace {

TEST(Guid, IsAnUpperCaseVersion4UuidAndNeverRepeats) {
  const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  const std::string first = NewGuidText();
  const std::string second = NewGuidText();
  EXPECT_TRUE(std::regex_match(first, form)) << first;
  EXPECT_TRUE(std::regex_match(second, form)) << second;
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace kelvora::platform
