// The sales-API callback against a real HTTP server on the loopback interface that answers with
// canned responses and keeps the requests it received.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "DataModuleFixture.h"
#include "protocol/Rest.h"
#include "tef/KoCliSiTefRespCliSiTef.h"
#include "tef/KoCliSiTefUtil.h"
#include "tokens/CallbackSignature.h"

namespace kelvora::protocol::testing {
namespace {

struct ReceivedRequest {
  std::string head;  // request line and headers
  std::string body;
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Serves one connection at a time; the n-th request gets the n-th response (the last one again
// when there are fewer responses than requests).
class CannedHttpServer {
 public:
  explicit CannedHttpServer(std::vector<std::string> responses)
      : responses_(std::move(responses)), listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_.get(), 8) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CannedHttpServer() {
    stop_ = true;
    thread_.join();
  }

  uint16_t Port() const { return port_; }
  std::vector<ReceivedRequest> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd ready{listener_.get(), POLLIN, 0};
      if (::poll(&ready, 1, 20) <= 0) continue;
      const Fd client(::accept(listener_.get(), nullptr, nullptr));
      if (client.get() < 0) continue;
      ReceivedRequest request = Read(client.get());
      size_t index = 0;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
        index = std::min(requests_.size(), responses_.size()) - 1;
      }
      const std::string& response = responses_[index];
      for (size_t sent = 0; sent < response.size();) {
        const ssize_t n =
            ::send(client.get(), response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
    }
  }

  // The request head, then as many body bytes as its Content-Length announces.
  static ReceivedRequest Read(int fd) {
    std::string data;
    char buffer[4096];
    size_t headEnd = std::string::npos;
    size_t wanted = 0;
    for (;;) {
      if (headEnd == std::string::npos && (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
        const size_t at = data.find("Content-Length: ");
        if (at != std::string::npos && at < headEnd) wanted = std::stoul(data.substr(at + 16));
      }
      if (headEnd != std::string::npos && data.size() >= headEnd + 4 + wanted) break;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      data.append(buffer, static_cast<size_t>(n));
    }
    if (headEnd == std::string::npos) return {data, ""};
    return {data.substr(0, headEnd + 2), data.substr(headEnd + 4)};
  }

  std::vector<std::string> responses_;
  Fd listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
  std::thread thread_;
};

std::string Response(std::string_view statusLine, std::string_view body,
                     std::string_view contentType = "application/json") {
  return "HTTP/1.1 " + std::string(statusLine) + "\r\nContent-Type: " + std::string(contentType) +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         std::string(body);
}

Json Parsed(const std::string& text) {
  return ParseJson(text).value_or(Json());
}

// An approved outcome as the outcome handler builds it, before the callback adds its keys.
Json ApprovedOutcome() {
  return Parsed(
      R"({"type":"result","status":"approved","message":"Transação TEF concluída com )"
      R"(sucesso.","transaction_data":[{"sale_id":4821,"operation":"pix",)"
      R"("transaction_value":10.5,"receipt":[]},{"sale_id":4821,"operation":"reprint"}]})");
}

// The installation's own key: under the built-in one no report is sent.
constexpr std::string_view kOwnSecret = "Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7";

// The value of a header in a request head ("" when it is not there).
std::string HeaderValue(const std::string& head, std::string_view name) {
  const std::string start = "\r\n" + std::string(name) + ": ";
  const size_t at = head.find(start);
  if (at == std::string::npos) return "";
  const size_t from = at + start.size();
  return head.substr(from, head.find("\r\n", from) - from);
}

// The path of the request line ("POST <path> HTTP/1.1").
std::string RequestLinePath(const std::string& head) {
  const size_t from = head.find(' ') + 1;
  return head.substr(from, head.find(' ', from) - from);
}

class SaleCallbackTest : public DataModuleTest {
 protected:
  // The reports kept for the API, as their extensions: ".json" waits for another attempt,
  // ".recusado" was refused for good. Emptied as it is read, so that each case starts afresh.
  std::vector<std::string> TakeKeptReports() {
    std::vector<std::string> kept;
    std::error_code none;
    for (const auto& entry :
         std::filesystem::directory_iterator(base_.Path() / "TEF" / "RegistrosAPI", none)) {
      kept.push_back(entry.path().extension().string());
      std::filesystem::remove(entry.path());
    }
    return kept;
  }

  // Starts a session whose callback address is the server's (base, without a trailing slash) and
  // returns the sale it keeps; then gives the installation its own key (config, read at each
  // report), so that reports are sent.
  TSaleData StartSessionFor(uint16_t port, std::string_view base = "/api",
                            const std::string& config = "[security]\njwt_secret=" +
                                                        std::string(kOwnSecret) + "\n") {
    WriteConfig("");  // the session token is signed with the built-in key
    Json claims = SessionClaims();
    claims["callback_url"] = "http://127.0.0.1:" + std::to_string(port) + std::string(base);
    const std::optional<TSession> session = Dm().Sessions().GetSession(StartSession(claims));
    WriteConfig(config);
    return session ? session->Sale() : TSaleData{};
  }
  static std::string CallbackPath() {
    return "/api/v1/sales/tef/callback/" + tokens::GenerateToken(kOwnSecret, std::nullopt);
  }
};

TEST_F(SaleCallbackTest, WritesTheApiAnswerIntoTheFirstElement) {
  const std::string log = "Erro ao registrar transação na API: ";
  const struct {
    std::vector<std::string> responses;
    bool accepted;
    int paymentId;
    std::string logLine;            // empty: nothing logged
    std::vector<std::string> kept;  // what is left of the report (TakeKeptReports)
  } cases[] = {
      {{Response("201 Created", R"({"data":42})")}, true, 42, "", {}},
      {{Response("200 OK", R"({"data":"42","message":"ok"})")}, true, 42, "", {}},
      {{Response("204 No Content", "")}, true, 0, "", {}},
      {{Response("200 OK", "registrado", "text/plain")}, true, 0, "", {}},
      // A redirect never leaves TLS: one to plain http is not followed, and the report waits.
      {{Response("307 Temporary Redirect\r\nLocation: /elsewhere", ""),
        Response("201 Created", R"({"data":7})")},
       false,
       0,
       log + "Request Error Protocol \"http\" not supported or disabled in libcurl",
       {".json"}},
      {{Response("205 Reset Content", R"({"data":42})")},
       false,
       0,
       log + "205 - Reset Content",
       {".recusado"}},
      {{Response("400 Bad Request", R"({"message":"Venda 4821 inexistente"})")},
       false,
       0,
       log + "Code: 400 - Message: Venda 4821 inexistente",
       {".recusado"}},
      {{Response("502 Bad Gateway", "<html><body>Bad Gateway</body></html>", "text/html")},
       false,
       0,
       log + "502 - Bad Gateway",
       {".json"}},
      {{Response("500 Internal Server Error", R"({"message":{"code":17}})")},
       false,
       0,
       log + "500 - Internal Server Error",
       {".json"}},
      {{Response("503 Service Unavailable", "")},
       false,
       0,
       log + "503 - Service Unavailable",
       {".json"}},
      // The API took these: only their payment id cannot be read.
      {{Response("201 Created", R"({"data":"4x2"})")},
       false,
       0,
       log + "'4x2' is not a valid integer value",
       {}},
      {{Response("201 Created", R"([{"data":42}])")}, false, 0, log + "Invalid class typecast", {}},
  };
  for (const auto& c : cases) {
    CannedHttpServer api(c.responses);
    const TSaleData sale = StartSessionFor(api.Port());
    Json message = ApprovedOutcome();
    const std::string sentBody = WriteJson(message);
    const size_t logBefore = LogTexts().size();

    EXPECT_EQ(Dm().SendSaleCallback(message, sale), c.accepted) << c.responses[0];

    const Json& first = message["transaction_data"][0];
    EXPECT_EQ(WriteJson(first), R"({"sale_id":4821,"operation":"pix","transaction_value":10.5,)"
                                R"("receipt":[],"payment_id":)" +
                                    std::to_string(c.paymentId) + R"(,"company_id":7})")
        << c.responses[0];
    EXPECT_FALSE(message["transaction_data"][1].contains("payment_id"));
    const std::vector<std::string> logTexts = LogTexts();
    if (c.logLine.empty()) {
      EXPECT_EQ(logTexts.size(), logBefore) << c.responses[0];
    } else {
      ASSERT_GT(logTexts.size(), logBefore) << c.responses[0];
      EXPECT_EQ(logTexts[logBefore], c.logLine);
    }
    EXPECT_EQ(TakeKeptReports(), c.kept) << c.responses[0];

    const std::vector<ReceivedRequest> requests = api.Requests();
    ASSERT_FALSE(requests.empty());
    const ReceivedRequest& request = requests[0];
    EXPECT_TRUE(request.head.starts_with("POST " + CallbackPath() + " HTTP/1.1\r\n"))
        << request.head;
    EXPECT_NE(request.head.find("\r\nAccept: */*\r\n"), std::string::npos) << request.head;
    EXPECT_NE(request.head.find("\r\nAccept-Charset: UTF-8, *;q=0.8\r\n"), std::string::npos);
    EXPECT_NE(request.head.find("\r\nContent-Type: application/json\r\n"), std::string::npos);
    EXPECT_EQ(request.head.find("User-Agent"), std::string::npos) << request.head;
    EXPECT_EQ(request.body, sentBody);
    EXPECT_EQ(request.body.find("payment_id"), std::string::npos);
    EXPECT_EQ(request.body.find("company_id"), std::string::npos);
    if (requests.size() > 1) {  // the redirect keeps the method and the body
      EXPECT_TRUE(requests[1].head.starts_with("POST /elsewhere HTTP/1.1\r\n"));
      EXPECT_EQ(requests[1].body, sentBody);
    }
  }
}

TEST_F(SaleCallbackTest, AnUnreachableApiStillLetsTheOutcomeThrough) {
  uint16_t closedPort = 0;
  {
    const CannedHttpServer gone({Response("200 OK", "")});
    closedPort = gone.Port();
  }
  const TSaleData sale = StartSessionFor(closedPort);
  Json message = ApprovedOutcome();

  EXPECT_FALSE(Dm().SendSaleCallback(message, sale));
  EXPECT_EQ(message["transaction_data"][0]["payment_id"], 0);
  EXPECT_EQ(message["transaction_data"][0]["company_id"], 7);
  const std::vector<std::string> log = LogTexts();
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(log.back().starts_with("Erro ao registrar transação na API: Request Error "))
      << log.back();
  // The report waits on disk for the API to come back.
  EXPECT_EQ(TakeKeptReports(), std::vector<std::string>{".json"});
}

TEST_F(SaleCallbackTest, TheBaseAddressGetsOneSlashForGood) {
  CannedHttpServer api({Response("201 Created", R"({"data":1})")});
  const TSaleData sale = StartSessionFor(api.Port());
  EXPECT_EQ(sale.CallbackURL, "http://127.0.0.1:" + std::to_string(api.Port()) + "/api/");
  for (int call = 0; call < 2; ++call) {
    Json message = ApprovedOutcome();
    EXPECT_TRUE(Dm().SendSaleCallback(message, sale));
  }
  const std::vector<ReceivedRequest> requests = api.Requests();
  ASSERT_EQ(requests.size(), 2u);
  // Both calls went to the same address, with the same token.
  EXPECT_EQ(requests[0].head.substr(0, requests[0].head.find("\r\n")),
            requests[1].head.substr(0, requests[1].head.find("\r\n")));
}

// A payment an earlier process left is reported to the sales system and company its backup names,
// not to the session that happens to trigger the start-up confirmation; a backup written before
// it kept them falls back to that session's.
TEST_F(SaleCallbackTest, ALeftoverIsReportedWhereItsBackupSays) {
  CannedHttpServer sessionApi({Response("201 Created", R"({"data":1})")});
  CannedHttpServer leftoverApi({Response("201 Created", R"({"data":2})")});
  const TSaleData sale = StartSessionFor(sessionApi.Port());
  const auto leftover = [](std::string_view documento, std::string_view endereco,
                           std::string_view empresa) {
    auto record = std::make_unique<tef::TKoCliSiTefRespCliSiTef>();
    record->Conteudo().GravaInformacao(899, 103, platform::AnsiBytes("1050"));
    record->Conteudo().GravaInformacao(899, 105, platform::AnsiBytes(documento));
    if (!endereco.empty()) {
      record->Conteudo().GravaInformacao(899, 106, tef::CodificaHex(platform::ToAnsi(endereco)));
      record->Conteudo().GravaInformacao(899, 107, platform::AnsiBytes(empresa));
    }
    record->ConteudoToProperty();
    record->SetIndiceFPG_ECF("02");
    record->SetPendente(true);
    return record;
  };
  tef::TKoCliSiTefRespostasPendentes pendentes;
  pendentes.Add(
      leftover("5150", "http://127.0.0.1:" + std::to_string(leftoverApi.Port()) + "/api/", "31"));
  pendentes.Add(leftover("5151", "", ""));
  {
    const TSession owner("S", std::chrono::system_clock::time_point::max(), 1, sale);
    TKoCliSiTefAccess tef = Dm().AcquireKoCliSiTef(connection_, &owner);
    tef->OnDepoisConfirmarTransacoes(pendentes);
  }
  const auto reported = [](CannedHttpServer& api) {
    std::vector<int> sales;
    for (const ReceivedRequest& request : api.Requests()) {
      const Json body = Parsed(request.body);
      for (const Json& element : body.at("transaction_data")) {
        sales.push_back(element.at("sale_id").get<int>());
      }
    }
    return sales;
  };
  EXPECT_EQ(reported(leftoverApi), std::vector<int>{5150});
  EXPECT_EQ(reported(sessionApi), std::vector<int>{5151});
  const std::vector<std::string> sent = connection_.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Parsed(sent[0]).at("transaction_data").at(0).at("company_id"), 31);
  EXPECT_EQ(Parsed(sent[0]).at("transaction_data").at(0).at("payment_id"), 2);
  EXPECT_EQ(Parsed(sent[1]).at("transaction_data").at(0).at("company_id"), 7);
  EXPECT_EQ(Parsed(sent[1]).at("transaction_data").at(0).at("payment_id"), 1);
}

// Kelvora-Signature as a receiver checks it: v1 over the time and the body with jwt_secret (unless
// the installation dropped it), v2 over the time, the event id, the path the request was sent to
// and the body, with signing_secret or the key derived from jwt_secret.
TEST_F(SaleCallbackTest, SignsV1WithJwtSecretAndV2WithTheReportKey) {
  const std::string ownKey(kOwnSecret);
  const std::string signingSecret = "Vendas-Relatorios-2026:chave-propria-do-caixa-7";
  const struct {
    std::string name;
    std::string base;  // of the callback address
    std::string config;
    bool v1;
    std::string v2Key;
  } cases[] = {
      {"the derived key", "/api", "", true, tokens::DeriveReportKey(kOwnSecret)},
      {"a signing_secret", "/api", "[sales_api]\nsigning_secret=" + signingSecret + "\n", true,
       signingSecret},
      {"v1 dropped", "/api", "[sales_api]\nsignature_v1=0\n", false,
       tokens::DeriveReportKey(kOwnSecret)},
      {"v1 kept by a value that is not a number", "/api", "[sales_api]\nsignature_v1=no\n", true,
       tokens::DeriveReportKey(kOwnSecret)},
      // The path as sent: dot segments resolved, escapes kept as written.
      {"a path libcurl rewrites", "/a/../caixa%41", "", true, tokens::DeriveReportKey(kOwnSecret)},
  };
  for (const auto& c : cases) {
    CannedHttpServer api({Response("201 Created", R"({"data":1})")});
    const TSaleData sale =
        StartSessionFor(api.Port(), c.base, "[security]\njwt_secret=" + ownKey + "\n" + c.config);
    Json message = ApprovedOutcome();
    std::string eventId;
    ASSERT_TRUE(Dm().SendSaleCallback(message, sale, &eventId)) << c.name;
    const ReceivedRequest request = api.Requests().at(0);
    const std::string path = RequestLinePath(request.head);
    if (c.base == "/api") {
      EXPECT_EQ(path, CallbackPath()) << c.name;
    } else {
      EXPECT_TRUE(path.starts_with("/caixa%41/v1/sales/tef/callback/")) << path;
    }
    EXPECT_EQ(HeaderValue(request.head, "Kelvora-Event-Id"), eventId) << c.name;

    const std::string header = HeaderValue(request.head, "Kelvora-Signature");
    ASSERT_TRUE(header.starts_with("t=")) << header;
    const int64_t time = std::stoll(header.substr(2));
    std::string expected = "t=" + std::to_string(time);
    if (c.v1) expected += ",v1=" + tokens::SignatureV1(ownKey, time, request.body);
    expected += ",v2=" + tokens::SignatureV2(c.v2Key, time, eventId, path, request.body);
    EXPECT_EQ(header, expected) << c.name;
    EXPECT_EQ(TakeKeptReports(), std::vector<std::string>{}) << c.name;
  }
}

// A report is never signed with a key anyone could have, nor with one the installation did not
// mean: it waits on disk, unsent, and the log says why (the start lines, for the built-in key).
TEST_F(SaleCallbackTest, WithoutAKeyOfItsOwnTheReportWaitsUnsent) {
  const std::string ownKey = "[security]\njwt_secret=" + std::string(kOwnSecret) + "\n";
  const struct {
    std::string name;
    std::string config;
    std::string_view logged;  // empty: nothing
  } cases[] = {
      {"the built-in key", "", ""},
      {"the built-in key, named empty", "[security]\njwt_secret=\n", ""},
      {"an invalid jwt_secret", "[security]\njwt_secret=curta\n", kJwtSecretReportLog},
      {"a signing_secret of 31 characters",
       ownKey + "[sales_api]\nsigning_secret=" + std::string(31, 'k') + "\n",
       kSigningSecretReportLog},
      {"a signing_secret with a blank",
       ownKey + "[sales_api]\nsigning_secret=" + std::string(20, 'k') + " " + std::string(20, 'k') +
           "\n",
       kSigningSecretReportLog},
      {"a signing_secret with a non-ASCII letter",
       ownKey + "[sales_api]\nsigning_secret=" + std::string(32, 'k') + "\xC3\xA7\n",
       kSigningSecretReportLog},
      // Longer than the configuration file keeps whole on its line.
      {"a signing_secret of 129 characters",
       ownKey + "[sales_api]\nsigning_secret=" + std::string(129, 'k') + "\n",
       kSigningSecretReportLog},
  };
  for (const auto& c : cases) {
    CannedHttpServer api({Response("201 Created", R"({"data":1})")});
    const TSaleData sale = StartSessionFor(api.Port(), "/api", c.config);
    const size_t logBefore = LogTexts().size();
    Json message = ApprovedOutcome();
    EXPECT_FALSE(Dm().SendSaleCallback(message, sale)) << c.name;
    EXPECT_EQ(message["transaction_data"][0]["payment_id"], 0) << c.name;
    EXPECT_EQ(message["transaction_data"][0]["company_id"], 7) << c.name;
    EXPECT_TRUE(api.Requests().empty()) << c.name;
    const std::vector<std::string> log = LogTexts();
    const std::vector<std::string> added(log.begin() + static_cast<ptrdiff_t>(logBefore),
                                         log.end());
    EXPECT_EQ(added, c.logged.empty() ? std::vector<std::string>{}
                                      : std::vector<std::string>{std::string(c.logged)})
        << c.name;
    EXPECT_EQ(TakeKeptReports(), std::vector<std::string>{".json"}) << c.name;
  }
  // The longest signing_secret that stays whole is used.
  CannedHttpServer api({Response("201 Created", R"({"data":1})")});
  const TSaleData sale = StartSessionFor(
      api.Port(), "/api", ownKey + "[sales_api]\nsigning_secret=" + std::string(128, 'k') + "\n");
  Json message = ApprovedOutcome();
  EXPECT_TRUE(Dm().SendSaleCallback(message, sale));
}

TEST(SetTransactionDataValue, SetsTheKeyAtTheEndOfTheFirstElementOnly) {
  const struct {
    std::string_view message;
    bool set;
    std::string_view after;
  } cases[] = {
      {R"({"type":"result","transaction_data":[{"a":1,"payment_id":5,"b":2},{"c":3}]})", true,
       R"({"type":"result","transaction_data":[{"a":1,"b":2,"payment_id":9},{"c":3}]})"},
      {R"({"type":"result","transaction_data":[]})", false,
       R"({"type":"result","transaction_data":[]})"},
      {R"({"type":"result","status":"unauthorized"})", false,
       R"({"type":"result","status":"unauthorized"})"},
  };
  for (const auto& c : cases) {
    Json message = ParseJson(c.message).value();
    EXPECT_EQ(TDmSitef::SetTransactionDataValue(message, "payment_id", 9), c.set) << c.message;
    EXPECT_EQ(WriteJson(message), c.after);
  }
}

TEST(ExecuteRequest, ReportsATransportFailureWithLibcurlsText) {
  try {
    ExecuteRequest("POST", "http://127.0.0.1:1/", {}, "{}");
    FAIL() << "no error raised";
  } catch (const ERequestError& e) {
    EXPECT_TRUE(std::string_view(e.what()).starts_with("Request Error ")) << e.what();
  }
}

// What the server answering may lead a request into is bounded: three redirects at most (counted
// here on plain http, which the service's own policy never follows), and a 1 MiB answer.
TEST(ExecuteRequest, FollowsAtMostThreeRedirectsAndReadsAtMostOneMebibyte) {
  TRequestLimits httpRedirects;
  httpRedirects.RedirectProtocols = "http";
  for (const int redirects : {3, 4}) {
    std::vector<std::string> responses(redirects, Response("302 Found\r\nLocation: /next", ""));
    responses.push_back(Response("200 OK", "fine", "text/plain"));
    CannedHttpServer server(responses);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
    if (redirects == 3) {
      EXPECT_EQ(ExecuteRequest("GET", url, {}, "", nullptr, httpRedirects).Content, "fine");
    } else {
      EXPECT_THROW(ExecuteRequest("GET", url, {}, "", nullptr, httpRedirects), ERequestError);
    }
  }

  for (const size_t size : {size_t{1} << 20, (size_t{1} << 20) + 1, size_t{2} << 20}) {
    CannedHttpServer server({Response("200 OK", std::string(size, 'x'), "text/plain")});
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
    if (size == size_t{1} << 20) {
      EXPECT_EQ(ExecuteRequest("POST", url, {}, "{}").Content.size(), size);
      continue;
    }
    try {
      ExecuteRequest("POST", url, {}, "{}");
      ADD_FAILURE() << size << " bytes read";
    } catch (const ERequestError& e) {
      EXPECT_STREQ(e.what(), "Request Error Resposta maior que 1048576 bytes");
    }
  }
}

TEST(ExecuteRequest, PlacesEachKindOfParameter) {
  CannedHttpServer server({Response("200 OK", "fine", "text/plain")});
  const TArrayParamRequest params = {
      {"id", "a b", rpURLSEGMENT, true},     {"q", "x&y", rpGETorPOST, true},
      {"X-Raw", "a b", rpHTTPHEADER, false}, {"X-Encoded", "a b", rpHTTPHEADER, true},
      {"ignored", "z", rpREQUESTBODY, true},
  };
  const TRestResponse response = ExecuteRequest(
      "GET", "http://127.0.0.1:" + std::to_string(server.Port()) + "/item/{id}", params, "");
  EXPECT_EQ(response.StatusCode, 200);
  EXPECT_EQ(response.StatusText, "OK");
  EXPECT_EQ(response.Content, "fine");
  const std::string head = server.Requests().at(0).head;
  EXPECT_TRUE(head.starts_with("GET /item/a%20b?q=x%26y HTTP/1.1\r\n")) << head;
  EXPECT_NE(head.find("\r\nX-Raw: a b\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nX-Encoded: a%20b\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("ignored"), std::string::npos) << head;
}

}  // namespace
}  // namespace kelvora::protocol::testing
