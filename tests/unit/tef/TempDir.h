// The shared temporary directory, under the name the TEF tests use.
#pragma once

#include "tests/unit/support/TempDir.h"

namespace kelvora::tef::testing {
using ::kelvora::testing::TempDir;
}  // namespace kelvora::tef::testing
