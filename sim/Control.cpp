// The optional control file CliSiTefSim.ini, read with inih.
#include "Control.h"

#include <ini.h>

#include <charconv>
#include <string_view>

namespace kelvora::sim {
namespace {

std::optional<int> wholeNumber(std::string_view text) {
  int value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || ptr != end || text.empty()) return std::nullopt;
  return value;
}

// Counts and delays cannot be negative; a negative value leaves the default in place.
void setNonNegative(int& target, std::string_view text) {
  if (const auto v = wholeNumber(text); v && *v >= 0) target = *v;
}

int onEntry(void* user, const char* section, const char* name, const char* value) {
  auto& control = *static_cast<Control*>(user);
  const std::string_view s = section, n = name, v = value;
  if (s == "pinpad" && n == "status") {
    if (const auto status = wholeNumber(v)) control.pinpadStatus = *status;
  } else if (s == "config" && n == "result") {
    control.configResult = wholeNumber(v);
  } else if (s == "dialog" && n == "card_polls") {
    setNonNegative(control.cardPolls, v);
  } else if (s == "dialog" && n == "typed_card") {
    if (const auto typed = wholeNumber(v)) control.typedCard = *typed != 0;
  } else if (s == "dialog" && n == "pix_polls") {
    setNonNegative(control.pixPolls, v);
  } else if (s == "dialog" && n == "scenario") {
    control.scenario = v;
  } else if (s == "delay" && n == "continue_ms") {
    setNonNegative(control.continueDelayMs, v);
  } else if (s == "delay" && n == "finalize_ms") {
    setNonNegative(control.finalizeDelayMs, v);
  }
  return 1;  // unknown keys are ignored, so a typo never stops the rest of the file from counting
}

}  // namespace

Control readControl(const std::filesystem::path& file) {
  Control control;
  // inih keeps going past a malformed line, so the valid keys of a damaged file still apply.
  ini_parse(file.c_str(), onEntry, &control);
  return control;
}

}  // namespace kelvora::sim
