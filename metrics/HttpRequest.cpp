// Parsing the head of one HTTP/1.x request, strictly.
#include "metrics/HttpRequest.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>

namespace kelvora::metrics {
namespace {

bool IsTokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// Visible ASCII only: no spaces, no control characters, nothing beyond 0x7E.
bool IsVisible(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// A header value may hold visible characters, spaces and tabs, and bytes of UTF-8; never other
// control characters.
bool IsFieldValue(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7F;
  });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

TParseResult Invalid(int status) {
  TParseResult result;
  result.State = TParseState::Invalid;
  result.Status = status;
  return result;
}

// "GET /metrics HTTP/1.1": the method, the target and the version, one space apart.
bool ParseRequestLine(std::string_view line, THttpRequest& request, int& status) {
  const size_t first = line.find(' ');
  const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  if (!IsToken(method) || target.empty() || target.front() != '/' ||
      target.size() > kMaxTargetLength || !IsVisible(target)) {
    return false;
  }
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    if (version.starts_with("HTTP/")) status = 505;
    return false;
  }
  request.Method = method;
  request.Path = target.substr(0, target.find('?'));
  return true;
}

}  // namespace

TParseResult ParseHttpRequest(std::string_view bytes) {
  const size_t end = bytes.find("\r\n\r\n");
  if (end == std::string_view::npos) {
    return bytes.size() >= kMaxRequestBytes ? Invalid(431) : TParseResult{};
  }
  if (end + 4 > kMaxRequestBytes) return Invalid(431);
  std::string_view head = bytes.substr(0, end + 2);

  TParseResult result;
  size_t lineEnd = head.find("\r\n");
  int status = 400;
  if (!ParseRequestLine(head.substr(0, lineEnd), result.Request, status)) return Invalid(status);
  head.remove_prefix(lineEnd + 2);

  size_t lines = 0;
  bool authorizationSeen = false;
  bool hostSeen = false;
  while (!head.empty()) {
    if (++lines > kMaxHeaderLines) return Invalid(431);
    lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    head.remove_prefix(lineEnd + 2);
    // A bare CR or LF inside the head, or a folded line, is how requests get smuggled.
    if (line.find_first_of("\r\n") != std::string_view::npos) return Invalid(400);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return Invalid(400);
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (!IsFieldValue(value)) return Invalid(400);
    if (EqualsIgnoringCase(name, "Transfer-Encoding") ||
        (EqualsIgnoringCase(name, "Content-Length") && value != "0")) {
      return Invalid(400);  // a scrape has no body
    }
    if (EqualsIgnoringCase(name, "Authorization")) {
      if (authorizationSeen) return Invalid(400);
      authorizationSeen = true;
      result.Request.Authorization = value;
    } else if (EqualsIgnoringCase(name, "Accept")) {
      result.Request.Accept = value;
    } else if (EqualsIgnoringCase(name, "Host")) {
      if (hostSeen) return Invalid(400);
      hostSeen = true;
      result.Request.Host = value;
    }
  }
  result.State = TParseState::Complete;
  return result;
}

bool IsLoopbackHost(std::string_view host) {
  std::string_view name = host;
  if (name.starts_with('[')) {
    const size_t close = name.find(']');
    if (close == std::string_view::npos) return false;
    const std::string_view rest = name.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return false;
    return name.substr(1, close - 1) == "::1";
  }
  const size_t colon = name.find(':');
  if (colon != std::string_view::npos) {
    if (name.find(':', colon + 1) != std::string_view::npos) return false;
    name = name.substr(0, colon);
  }
  if (EqualsIgnoringCase(name, "localhost")) return true;
  // 127.0.0.0/8, written as four decimal numbers.
  int parts = 0;
  size_t start = 0;
  for (;;) {
    const size_t dot = name.find('.', start);
    const std::string_view part = name.substr(start, dot - start);
    if (part.empty() || part.size() > 3 ||
        part.find_first_not_of("0123456789") != std::string_view::npos) {
      return false;
    }
    const int value = std::stoi(std::string(part));
    if (value > 255 || (parts == 0 && value != 127)) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

bool BearerTokenMatches(std::string_view authorization, std::string_view token) {
  constexpr std::string_view kScheme = "Bearer ";
  if (token.empty() || authorization.size() < kScheme.size() ||
      !EqualsIgnoringCase(authorization.substr(0, kScheme.size()), kScheme)) {
    return false;
  }
  const std::string_view given = TrimBlanks(authorization.substr(kScheme.size()));
  return given.size() == token.size() &&
         CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
}

}  // namespace kelvora::metrics
