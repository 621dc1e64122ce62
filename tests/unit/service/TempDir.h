// The shared temporary directory, under the name the service tests use.
#pragma once

#include "tests/unit/support/TempDir.h"

namespace kelvora::service::testing {
using ::kelvora::testing::TempDir;
}  // namespace kelvora::service::testing
