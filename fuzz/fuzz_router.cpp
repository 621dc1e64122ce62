// Fuzz target of the request router: client text through TDmSitef::RouteTargeting on a data module
// whose base directory holds no SiTef library, every reply collected from a connection that never
// blocks. The marker @session in the input stands for the id of an open session, so that inputs
// reach the handlers behind the session check.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "protocol/DmSitef.h"
#include "protocol/Json.h"
#include "service/Connection.h"
#include "service/KelvoraSiTefService.h"
#include "tokens/Jose.h"
#include "tokens/Secret.h"

namespace kelvora::fuzz {
namespace {

using protocol::Json;

// What the connection raises once a handler tries to read a frame: the client has gone away.
constexpr const char* kConexaoEncerrada = "closed";
// Stands for the open session's id in an input.
constexpr std::string_view kMarcaSessao = "@session";

// A connection whose client has left: replies are kept, reads end the connection at once.
class ClosedClientConnection final : public service::Connection {
 public:
  void DecodeWebSocketFrame(std::string&) override { throw std::runtime_error(kConexaoEncerrada); }
  void SendClientMessage(std::string_view pMsg) override { sent_.emplace_back(pMsg); }
  bool WaitForInput(std::chrono::milliseconds) override { return true; }
  uint64_t Id() const override { return 1; }

  std::vector<std::string> Take() { return std::exchange(sent_, {}); }

 private:
  std::vector<std::string> sent_;
};

// A clock that stays at one moment, so that a session opened once never expires.
class StoppedClock final : public platform::Clock {
 public:
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::sys_days{std::chrono::year{2025} / 7 / 1} + std::chrono::hours{12};
  }
};

// A base directory of its own in memory, removed at exit.
class BaseDir {
 public:
  BaseDir() {
    const std::filesystem::path directory = std::filesystem::is_directory("/dev/shm")
                                                ? std::filesystem::path("/dev/shm")
                                                : std::filesystem::temp_directory_path();
    std::string pattern = (directory / "kelvora-fuzz-router-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a base dir");
    path_ = pattern;
    std::filesystem::create_directories(path_ / "dll");
  }
  ~BaseDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  BaseDir(const BaseDir&) = delete;
  BaseDir& operator=(const BaseDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The one data module of the process, on a service module that never listens.
struct Router {
  BaseDir base;
  StoppedClock clock;
  service::TKelvoraSiTefService service{
      service::TServiceOptions{base.Path(), 0, base.Path() / "SvcKelvoraSiTef.ini"},
      [this](service::TKelvoraSiTefService& owner) {
        return std::make_unique<protocol::TDmSitef>(owner, clock);
      }};
  ClosedClientConnection connection;
  std::string session;

  protocol::TDmSitef& Dm() { return static_cast<protocol::TDmSitef&>(service.DataModule()); }

  // The id of an open session, opening a new one when a request has finished the last.
  const std::string& Session() {
    if (!session.empty() && Dm().Sessions().GetSession(session)) return session;
    tokens::TJWT token;
    token.Claims = Json::object({{"secctional_code", "12"},
                                 {"ip_address", "10.0.0.5"},
                                 {"store_code", "00000001"},
                                 {"additional_parameters", "[ParmsClient=1]"},
                                 {"operator", "CAIXA01"},
                                 {"sale_id", "4821"},
                                 {"company_id", "7"},
                                 {"callback_url", "http://127.0.0.1:9/api"}});
    const std::string request = protocol::WriteJson(Json::object(
        {{"route", "/session/start"},
         {"type", "session"},
         {"token", tokens::SignToken(tokens::TJWK(tokens::kDefaultJwtSecret),
                                     tokens::TJOSEAlgorithm::HS256, token)}}));
    Dm().RouteTargeting(request, connection);
    const std::vector<std::string> replies = connection.Take();
    const std::optional<Json> reply = replies.size() == 1 ? protocol::ParseJson(replies[0])
                                                          : std::nullopt;
    Require(reply && reply->contains("session_uuid") && (*reply)["session_uuid"].is_string(),
            "a valid session start opens a session");
    session = (*reply)["session_uuid"].get<std::string>();
    return session;
  }
};

Router& TheRouter() {
  static Router router;
  return router;
}

// The input with every session marker replaced by the open session's id.
std::string WithSession(std::string_view input, Router& router) {
  std::string request(input);
  for (size_t p = request.find(kMarcaSessao); p != std::string::npos;
       p = request.find(kMarcaSessao, p)) {
    const std::string& id = router.Session();
    request.replace(p, kMarcaSessao.size(), id);
    p += id.size();
  }
  return request;
}

}  // namespace
}  // namespace kelvora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using fuzz::Require;
  using protocol::Json;
  fuzz::Router& router = fuzz::TheRouter();
  const std::string request = fuzz::WithSession(fuzz::AsText(data, size), router);

  try {
    router.Dm().RouteTargeting(request, router.connection);
  } catch (const std::exception& e) {
    Require(std::string_view(e.what()) == fuzz::kConexaoEncerrada,
            "only the end of the connection leaves RouteTargeting");
  } catch (...) {
    Require(false, "RouteTargeting raises only standard exceptions");
  }
  const std::vector<std::string> replies = router.connection.Take();

  const std::optional<Json> parsed = protocol::ParseJson(request);
  if (!parsed || !parsed->is_object()) {
    Require(replies.empty(), "text that is not a JSON object gets no reply");
    return 0;
  }
  size_t errors = 0;
  for (const std::string& text : replies) {
    const std::optional<Json> reply = protocol::ParseJson(text);
    Require(reply.has_value() && reply->is_object(), "every reply is a JSON object");
    Require(reply->contains("type") && (*reply)["type"].is_string(),
            "every reply has a text \"type\"");
    if ((*reply)["type"] == "error") {
      Require(reply->contains("message") && (*reply)["message"].is_string(),
              "an error reply has a text \"message\"");
      ++errors;
    }
  }
  Require(errors <= 1, "a request gets at most one error reply");
  return 0;
}
