// The calling contract of the SiTef library as the simulator enforces it: what each export accepts,
// and the error it returns for a call that breaks the contract instead of going on with it.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace kelvora::sim {

// The size of the buffer of the interactive loop, answer and terminating NUL included.
constexpr int kLoopBufferSize = 20001;

// A buffer argument: where it is and how many bytes the caller says it holds.
struct Buffer {
  const char* data = nullptr;
  int size = 0;
};

// One argument as the caller passed it: a NUL-terminated text (null when the pointer was),
// a number, an out pointer, or the loop's buffer.
using Value = std::variant<const char*, long long, const void*, Buffer>;

// One broken rule: the export, the argument (empty for a call made out of order), the value as
// the caller gave it (shortened, empty where it could hold what a log must not keep) and what was
// wrong, with the error the export returns for it.
struct Violation {
  std::string function;
  std::string argument;
  std::string value;
  std::string problem;
  int result = 0;
};

// Checks the arguments of a call to `function` against the rules of that export; nothing when
// every rule holds. Arguments are given by the names the rules use (see Contract.cpp).
std::optional<Violation> checkArguments(
    std::string_view function, std::initializer_list<std::pair<std::string_view, Value>> arguments);

// The call-order rules: any export but the configuration needs a configured library, and the loop
// may be continued only while a dialogue is in progress.
Violation callBeforeConfiguration(std::string_view function);
Violation continueWithoutDialogue();

}  // namespace kelvora::sim
