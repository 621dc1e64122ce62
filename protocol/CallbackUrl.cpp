// The callback address check on libcurl's URL parser, the same one that will carry the request.
#include "protocol/CallbackUrl.h"

#include "protocol/CurlUrl.h"

#include <curl/curl.h>

#include <memory>
#include <string>

namespace kelvora::protocol {
namespace {

// Whether the parsed address has the part at all; libcurl answers "no such part" for an absent
// one. An empty query or fragment ("https://host/?") counts as present.
bool HasPart(CURLU* url, CURLUPart part) {
  char* raw = nullptr;
  const CURLUcode code = curl_url_get(url, part, &raw, 0);
  CurlText text(raw);
  return code == CURLUE_OK;
}

}  // namespace

bool IsValidCallbackURL(std::string_view pURL) {
  // The parser stops at an embedded NUL; "?" and "#" are refused even where it would read them as
  // empty parts.
  if (pURL.find_first_of(std::string_view("\0?#", 3)) != std::string_view::npos) return false;
  // The parser forgives "https:///host" and backslashes; an address of ours is written plainly:
  // the scheme, "://", then the host.
  const size_t authority = pURL.find("://");
  if (authority == std::string_view::npos || authority + 3 >= pURL.size() ||
      pURL[authority + 3] == '/' || pURL.find('\\') != std::string_view::npos) {
    return false;
  }
  CurlUrl url(curl_url());
  if (!url) return false;
  const std::string text(pURL);
  // Without CURLU_DEFAULT_SCHEME a relative address is refused; without CURLU_ALLOW_SPACE so are
  // blanks; control characters are refused always.
  if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return false;
  }
  char* rawScheme = nullptr;
  if (curl_url_get(url.get(), CURLUPART_SCHEME, &rawScheme, 0) != CURLUE_OK) return false;
  const CurlText scheme(rawScheme);
  const std::string_view schemeText(scheme.get());
  if (schemeText != "http" && schemeText != "https") return false;
  char* rawHost = nullptr;
  if (curl_url_get(url.get(), CURLUPART_HOST, &rawHost, 0) != CURLUE_OK) return false;
  const CurlText host(rawHost);
  if (host.get()[0] == '\0') return false;
  return !HasPart(url.get(), CURLUPART_USER) && !HasPart(url.get(), CURLUPART_PASSWORD) &&
         !HasPart(url.get(), CURLUPART_OPTIONS) && !HasPart(url.get(), CURLUPART_QUERY) &&
         !HasPart(url.get(), CURLUPART_FRAGMENT);
}

}  // namespace kelvora::protocol
