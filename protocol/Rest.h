// The HTTP request routine of the sales-API callback: one synchronous request with the service's
// fixed client settings, on libcurl.
#pragma once

#include <atomic>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora::protocol {

struct TDestinationPolicy;

// Where a request parameter goes.
enum TRequestParamType : int { rpGETorPOST, rpURLSEGMENT, rpREQUESTBODY, rpHTTPHEADER };

struct TParamRequest {
  std::string nome;
  std::string valor;
  TRequestParamType tipo = rpGETorPOST;
  // Percent-encode the value; for a header, false sends it exactly as given.
  bool encode = true;
};
using TArrayParamRequest = std::vector<TParamRequest>;

// What came back: the last status line's code and reason phrase (empty over HTTP/2, which has
// none) and the body as received.
struct TRestResponse {
  long StatusCode = 0;
  std::string StatusText;
  std::string Content;
};

// The request could not be carried out: name resolution, connection, TLS, the time limit.
class ERequestError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The request would have reached an address its destination policy refuses; nothing was sent.
// Trying again cannot help until the configuration or the callback address changes.
class EDestinationRefused : public ERequestError {
 public:
  using ERequestError::ERequestError;
};

// Time limit of a whole request, from connecting to the last byte of the answer.
inline constexpr long kRequestTimeoutMs = 60000;

// What a request may be led into by the server that answers it. The address a request starts at
// is the caller's to check; where a redirect leads, and how much comes back, is the server's word,
// so both are bounded: a redirect never leaves TLS, a chain of them ends, and an answer cannot
// take the service's memory.
struct TRequestLimits {
  long MaxRedirects = 3;
  // libcurl's list of the schemes a redirect may lead to.
  const char* RedirectProtocols = "https";
  size_t MaxAnswerBytes = size_t{1} << 20;
  // Where the request may connect, checked on every address it actually reaches (after name
  // resolution and each redirect), before anything is sent; none: anywhere.
  const TDestinationPolicy* Destinations = nullptr;
};

// Whom a request over TLS trusts: the system's certificate authorities (on Windows its certificate
// store, and the list shipped with the program), plus those of CaFile when it names one, as a
// store whose sales API has a certificate of its own CA configures.
struct TRequestTrust {
  std::string CaFile;
};

// Performs one request with its own easy handle: method (GET, POST, PUT, DELETE ...) to url, with
// Accept "*/*", Accept-Charset "UTF-8, *;q=0.8", no User-Agent, redirects followed, a time limit
// of kRequestTimeoutMs, and every status code returned as an answer rather than raised. Params
// apply in order: rpHTTPHEADER adds a header, rpURLSEGMENT replaces "{nome}" in url, rpGETorPOST
// adds a query parameter (a form field for a POST or PUT without body), rpREQUESTBODY is ignored.
// A non-empty body is sent as JSON (Content-Type application/json). A transport failure raises
// ERequestError("Request Error " + libcurl's text), and so does a redirect or an answer beyond
// pLimits. When pAbandon is given and becomes true, the request is given up within about a second
// and raises the same way. A server certificate that pTrust does not vouch for fails the request.
TRestResponse ExecuteRequest(std::string_view method, std::string url,
                             const TArrayParamRequest& params, std::string_view body,
                             const std::atomic<bool>* pAbandon = nullptr,
                             const TRequestLimits& pLimits = {}, const TRequestTrust& pTrust = {});

}  // namespace kelvora::protocol
