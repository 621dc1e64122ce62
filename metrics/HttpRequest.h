// The one small HTTP request a scraper or a health monitor sends, read from bytes that may come
// from anyone: bounded in size and in lines, GET only without a body, nothing the endpoint does
// not use kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvora::metrics {

// The most a request may take, request line and headers together; scrapers send a few hundred.
inline constexpr size_t kMaxRequestBytes = 8192;
inline constexpr size_t kMaxHeaderLines = 64;
inline constexpr size_t kMaxTargetLength = 1024;

struct THttpRequest {
  std::string Method;
  std::string Path;  // the target without its query
  std::string Accept;
  std::string Authorization;
  std::string Host;  // empty when the request names none
};

enum class TParseState { Incomplete, Complete, Invalid };

struct TParseResult {
  TParseState State = TParseState::Incomplete;
  THttpRequest Request;  // when Complete
  int Status = 0;        // when Invalid: 400, 431 (too large) or 505 (not HTTP/1.x)
};

// Reads the head of a request from the bytes received so far: Incomplete until the blank line
// that ends it arrives (and the bytes stay within kMaxRequestBytes), Invalid for anything that is
// not a plain HTTP/1.0 or 1.1 request without a body. Bytes after the head are ignored: one
// request is answered per connection.
TParseResult ParseHttpRequest(std::string_view bytes);

// Whether a Host header names this machine's loopback: "localhost" or a loopback address, with
// or without a port. A page that rebinds its own name to 127.0.0.1 still sends its own name.
bool IsLoopbackHost(std::string_view host);

// Whether an Authorization header carries "Bearer <token>"; compared in constant time.
bool BearerTokenMatches(std::string_view authorization, std::string_view token);

}  // namespace kelvora::metrics
