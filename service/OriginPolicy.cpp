// Origin parsing and comparison (scheme://host[:port]), without a URL library: the grammar is small
// and anything outside it is refused.
#include "service/OriginPolicy.h"

#include <algorithm>
#include <cstdio>

namespace kelvora::service {
namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHex(char c) {
  return IsDigit(c) || (Lower(c) >= 'a' && Lower(c) <= 'f');
}

bool IsScheme(std::string_view s) {
  if (s.empty() || !IsAlpha(s.front())) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return IsAlpha(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
  });
}

// A registered name or IPv4 address: letters, digits and the unreserved marks; no percent
// escapes, which no browser writes in an origin.
bool IsHostName(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
  });
}

bool IsBracketedIpv6(std::string_view s) {
  if (s.size() < 4 || s.front() != '[' || s.back() != ']') return false;
  s = s.substr(1, s.size() - 2);
  return std::all_of(s.begin(), s.end(), [](char c) { return IsHex(c) || c == ':' || c == '.'; });
}

std::string_view DefaultPort(std::string_view scheme) {
  if (scheme == "http" || scheme == "ws") return "80";
  if (scheme == "https" || scheme == "wss") return "443";
  return {};
}

}  // namespace

std::optional<std::string> NormalizeOrigin(std::string_view text) {
  const size_t separator = text.find("://");
  if (separator == std::string_view::npos) return std::nullopt;
  std::string scheme(text.substr(0, separator));
  if (!IsScheme(scheme)) return std::nullopt;
  std::transform(scheme.begin(), scheme.end(), scheme.begin(), Lower);
  std::string_view authority = text.substr(separator + 3);

  std::string_view port;
  const size_t bracket = authority.rfind(']');
  const size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    port = authority.substr(colon + 1);
    authority = authority.substr(0, colon);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit)) {
      return std::nullopt;
    }
    while (port.size() > 1 && port.front() == '0') port.remove_prefix(1);
    if (std::stoul(std::string(port)) > 65535) return std::nullopt;
  }
  if (!IsHostName(authority) && !IsBracketedIpv6(authority)) return std::nullopt;

  std::string origin = scheme + "://";
  std::transform(authority.begin(), authority.end(), std::back_inserter(origin), Lower);
  if (!port.empty() && port != DefaultPort(scheme)) {
    origin += ':';
    origin += port;
  }
  return origin;
}

std::vector<std::string> SplitSettingList(std::string_view text) {
  std::vector<std::string> items;
  std::string item;
  for (const char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) items.push_back(std::move(item));
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) items.push_back(std::move(item));
  return items;
}

TOriginPolicy TOriginPolicy::FromSetting(std::string_view setting,
                                         std::vector<std::string>& invalid) {
  TOriginPolicy policy;
  for (std::string_view item : SplitSettingList(setting)) {
    policy.restricted_ = true;
    std::string_view origin = item;
    if (origin.ends_with('/')) origin.remove_suffix(1);
    if (std::optional<std::string> normal = NormalizeOrigin(origin)) {
      policy.allowed_.push_back(std::move(*normal));
    } else {
      invalid.emplace_back(item);
    }
  }
  return policy;
}

bool TOriginPolicy::Allows(const std::optional<std::string>& origin) const {
  if (!restricted_ || !origin) return true;
  const std::optional<std::string> normal = NormalizeOrigin(*origin);
  return normal && std::find(allowed_.begin(), allowed_.end(), *normal) != allowed_.end();
}

std::string EscapeForLog(std::string_view text, size_t maxLength) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == maxLength) {
      out += "...";
      break;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace kelvora::service
