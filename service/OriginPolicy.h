// Which web origins may open a WebSocket on the service: the [security] allowed_origins list, and
// the normal form in which origins are compared.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora::service {

// The origin in the form it is compared in: scheme and host in lower case, the port written only
// when it is not the scheme's default (80 for http and ws, 443 for https and wss) and without
// leading zeros. nullopt unless text is exactly scheme "://" host [":" port], where host is a name
// or an IPv6 address in brackets: a path, a query, user information or "null" make no origin.
std::optional<std::string> NormalizeOrigin(std::string_view text);

// Splits a list setting at blanks and commas, dropping empty items.
std::vector<std::string> SplitSettingList(std::string_view text);

class TOriginPolicy {
 public:
  // Every origin is accepted.
  TOriginPolicy() = default;

  // The origins of a setting's list (SplitSettingList), each normalised; one "/" at the end of an
  // item is forgiven, as origins are often copied from an address bar. Items that are no origin
  // are returned in invalid and allow nothing. A blank setting accepts every origin.
  static TOriginPolicy FromSetting(std::string_view setting, std::vector<std::string>& invalid);

  // True when only listed origins are accepted.
  bool Restricted() const { return restricted_; }

  // A request without an Origin header does not come from a browser page, and the list guards
  // only against pages, so it is allowed; so is every origin when the policy is not restricted.
  bool Allows(const std::optional<std::string>& origin) const;

 private:
  bool restricted_ = false;
  std::vector<std::string> allowed_;  // normalised
};

// The text with every control character (below 0x20, and 0x7F) written as \xNN, cut after
// maxLength characters with "..." appended: a peer's text fit for one log line.
std::string EscapeForLog(std::string_view text, size_t maxLength = 256);

}  // namespace kelvora::service
