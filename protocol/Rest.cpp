// ExecuteRequest on libcurl: one easy handle per call, released with its header list whatever
// happens.
#include "protocol/Rest.h"

#include <curl/curl.h>

#include <memory>
#include <string>

#include "platform/Paths.h"
#include "protocol/CallbackDestination.h"
#include "protocol/CurlUrl.h"

namespace kelvora::protocol {
namespace {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// The destination check at each connection, before a byte is sent: the address reached and the
// address now requested (a redirect may have led elsewhere).
struct TDestinationCheck {
  CURL* Handle = nullptr;
  const TDestinationPolicy* Policy = nullptr;
  std::string Refusal;
};

int CheckDestination(void* data, char* primaryIp, char*, int primaryPort, int) {
  auto& check = *static_cast<TDestinationCheck*>(data);
  char* effective = nullptr;
  curl_easy_getinfo(check.Handle, CURLINFO_EFFECTIVE_URL, &effective);
  check.Refusal = RefusedConnection(effective != nullptr ? effective : "",
                                    primaryIp != nullptr ? primaryIp : "",
                                    static_cast<uint16_t>(primaryPort), *check.Policy);
  return check.Refusal.empty() ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
}

// libcurl's global state is set up once, before the first handle, from whichever thread gets
// here first; the static's initialisation is what serialises it.
void EnsureCurlGlobalInit() {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (initialised != CURLE_OK) {
    throw ERequestError(std::string("Request Error ") + curl_easy_strerror(initialised));
  }
}

std::string Escape(CURL* handle, std::string_view text) {
  CurlText escaped(curl_easy_escape(handle, text.data(), static_cast<int>(text.size())));
  if (!escaped) throw ERequestError("Request Error Out of memory");
  return escaped.get();
}

void Append(HeaderList& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) throw ERequestError("Request Error Out of memory");
  list.release();
  list.reset(grown);
}

// The answer's body, up to a limit: a larger one ends the transfer.
struct BodySink {
  std::string* Content;
  size_t Limit;
  bool Overflow = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
  BodySink& sink = *static_cast<BodySink*>(target);
  const size_t bytes = size * count;  // libcurl always passes size 1
  // The content never exceeds the limit, so the subtraction cannot wrap.
  if (bytes > sink.Limit - sink.Content->size()) {
    sink.Overflow = true;
    return 0;
  }
  sink.Content->append(data, bytes);
  return bytes;
}

// Keeps the reason phrase of the last status line: after a redirect, the final answer's.
size_t CollectStatusText(char* data, size_t size, size_t count, void* target) {
  const std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    std::string& text = *static_cast<std::string*>(target);
    text.clear();
    const size_t codeStart = line.find(' ');
    const size_t textStart =
        codeStart == std::string_view::npos ? codeStart : line.find(' ', codeStart + 1);
    if (textStart != std::string_view::npos) {
      std::string_view reason = line.substr(textStart + 1);
      while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n')) {
        reason.remove_suffix(1);
      }
      text = reason;
    }
  }
  return size * count;
}

bool SendsFormBody(std::string_view method) {
  return method == "POST" || method == "PUT";
}

// Progress callback: a non-zero return makes libcurl abandon the transfer.
int AbandonWhenSet(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

}  // namespace

TRestResponse ExecuteRequest(std::string_view method, std::string url,
                             const TArrayParamRequest& params, std::string_view body,
                             const std::atomic<bool>* pAbandon, const TRequestLimits& pLimits,
                             const TRequestTrust& pTrust) {
  EnsureCurlGlobalInit();
  EasyHandle handle(curl_easy_init());
  if (!handle) throw ERequestError("Request Error Failed initialization");
  CURL* curl = handle.get();

  HeaderList headers;
  Append(headers, "Accept: */*");
  Append(headers, "Accept-Charset: UTF-8, *;q=0.8");
  // No "Expect: 100-continue" round trip before a larger body.
  Append(headers, "Expect:");
  std::string query;
  std::string form;
  for (const TParamRequest& param : params) {
    switch (param.tipo) {
      case rpHTTPHEADER:
        Append(headers,
               param.nome + ": " + (param.encode ? Escape(curl, param.valor) : param.valor));
        break;
      case rpURLSEGMENT: {
        const std::string placeholder = "{" + param.nome + "}";
        const std::string value = param.encode ? Escape(curl, param.valor) : param.valor;
        for (size_t at = url.find(placeholder); at != std::string::npos;
             at = url.find(placeholder, at + value.size())) {
          url.replace(at, placeholder.size(), value);
        }
        break;
      }
      case rpGETorPOST: {
        std::string& target = SendsFormBody(method) && body.empty() ? form : query;
        if (!target.empty()) target += '&';
        target += Escape(curl, param.nome) + "=" + Escape(curl, param.valor);
        break;
      }
      case rpREQUESTBODY:
        break;
    }
  }
  if (!query.empty()) url += (url.find('?') == std::string::npos ? '?' : '&') + query;

  std::string payload;
  if (!body.empty()) {
    Append(headers, "Content-Type: application/json");
    payload = body;
  } else if (!form.empty()) {
    Append(headers, "Content-Type: application/x-www-form-urlencoded");
    payload = form;
  }

  TRestResponse response;
  BodySink sink{&response.Content, pLimits.MaxAnswerBytes};
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kRequestTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, pLimits.RedirectProtocols);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, pLimits.MaxRedirects);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  // The system's authorities (Windows' store; elsewhere OpenSSL's list, which the option leaves
  // alone), then the store's own file, or else the list shipped with the program.
  curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
  // The shipped list does not move while the program runs: looked up once, not at every report.
  static const std::string bundledCaFile = platform::BundledCaFile().string();
  const std::string& caFile = !pTrust.CaFile.empty() ? pTrust.CaFile : bundledCaFile;
  if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectStatusText);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.StatusText);
  TDestinationCheck destination{curl, pLimits.Destinations, {}};
  if (pLimits.Destinations != nullptr) {
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, CheckDestination);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, &destination);
  }
  if (pAbandon != nullptr) {
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, AbandonWhenSet);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, pAbandon);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  }
  // A POST is left to libcurl's own handling (its redirects then behave as browsers do); other
  // methods are named as they are.
  const std::string methodName(method);
  if (method == "GET") {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  } else if (method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (method != "POST") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, methodName.c_str());
  }
  if (!payload.empty() || method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.c_str());
  }

  const CURLcode result = curl_easy_perform(curl);
  if (sink.Overflow) {
    throw ERequestError("Request Error Resposta maior que " +
                        std::to_string(pLimits.MaxAnswerBytes) + " bytes");
  }
  if (!destination.Refusal.empty()) {
    throw EDestinationRefused("Request Error Destino recusado (" + destination.Refusal + ")");
  }
  if (result != CURLE_OK) {
    throw ERequestError(std::string("Request Error ") +
                        (error[0] != '\0' ? error : curl_easy_strerror(result)));
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.StatusCode);
  return response;
}

}  // namespace kelvora::protocol
