// Ownership of libcurl's URL handles and of the texts it hands back, for the places that read an
// address with the parser that will carry the request.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace kelvora::protocol {

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

}  // namespace kelvora::protocol
