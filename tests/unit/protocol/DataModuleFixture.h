// A data module on a real service module in a temporary base directory, with a clock the test
// moves and connections that record what is sent to them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Ansi.h"
#include "protocol/DmSitef.h"
#include "tokens/Jose.h"
#include "tests/unit/support/TempDir.h"
#include "tokens/Secret.h"

namespace kelvora::protocol::testing {

using ::kelvora::testing::TempDir;

// A clock that stands still until the test moves it.
class ManualClock final : public platform::Clock {
 public:
  explicit ManualClock(std::chrono::system_clock::time_point now) : now_(now) {}
  std::chrono::system_clock::time_point Now() const override { return now_.load(); }
  void Set(std::chrono::system_clock::time_point now) { now_ = now; }

 private:
  std::atomic<std::chrono::system_clock::time_point> now_;
};

// A connection that keeps every message sent on it; nothing is ever read from it.
class RecordingConnection final : public service::Connection {
 public:
  explicit RecordingConnection(uint64_t id = 1) : id_(id) {}
  void DecodeWebSocketFrame(std::string&) override {
    throw std::runtime_error("no frames to read in this test");
  }
  void SendClientMessage(std::string_view pMsg) override {
    std::lock_guard lock(mutex_);
    sent_.emplace_back(pMsg);
  }
  bool WaitForInput(std::chrono::milliseconds) override { return false; }
  uint64_t Id() const override { return id_; }

  // Everything sent since the last call.
  std::vector<std::string> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
  }

 private:
  uint64_t id_;
  std::mutex mutex_;
  std::vector<std::string> sent_;
};

// 2025-07-01 12:00:00.123 UTC.
inline std::chrono::system_clock::time_point July1st() {
  return std::chrono::sys_days{std::chrono::year{2025} / 7 / 1} + std::chrono::hours{12} +
         std::chrono::milliseconds{123};
}

// The claims a sales system puts in a session token, all as strings.
inline Json SessionClaims() {
  return Json::object({{"secctional_code", "12"},
                       {"ip_address", "10.0.0.5"},
                       {"store_code", "00000001"},
                       {"additional_parameters", "[ParmsClient=1];\r\n[TipoPinPad=Ingenico;]"},
                       {"operator", "CAIXA01"},
                       {"sale_id", "4821"},
                       {"company_id", "7"},
                       {"callback_url", "http://127.0.0.1:9/api"}});
}

inline std::string SessionToken(const Json& claims = SessionClaims(),
                                std::string_view secret = tokens::kDefaultJwtSecret) {
  tokens::TJWT token;
  token.Claims = claims;
  return tokens::SignToken(tokens::TJWK(secret), tokens::TJOSEAlgorithm::HS256, token);
}

inline std::string StartRequest(const std::string& token) {
  return WriteJson(
      Json::object({{"route", "/session/start"}, {"type", "session"}, {"token", token}}));
}

class DataModuleTest : public ::testing::Test {
 protected:
  DataModuleTest()
      : clock_(July1st()),
        service_(service::TServiceOptions{base_.Path(), 0, base_.Path() / "SvcKelvoraSiTef.ini"},
                 [this](service::TKelvoraSiTefService& service) {
                   return std::make_unique<TDmSitef>(service, clock_);
                 }) {}

  TDmSitef& Dm() { return static_cast<TDmSitef&>(service_.DataModule()); }

  void WriteConfig(const std::string& text) {
    std::ofstream(base_.Path() / "SvcKelvoraSiTef.ini", std::ios::binary | std::ios::trunc) << text;
  }

  // Sends one request and returns what came back on the connection.
  std::vector<std::string> Route(const std::string& request) {
    Dm().RouteTargeting(request, connection_);
    return connection_.Take();
  }

  // Starts a session and returns its id; fails the test when the start is refused.
  std::string StartSession(const Json& claims = SessionClaims()) {
    const std::vector<std::string> replies = Route(StartRequest(SessionToken(claims)));
    EXPECT_EQ(replies.size(), 1u);
    if (replies.size() != 1) return {};
    const std::optional<Json> reply = ParseJson(replies[0]);
    EXPECT_TRUE(reply && reply->contains("session_uuid")) << replies[0];
    return reply && reply->contains("session_uuid") ? reply->at("session_uuid").get<std::string>()
                                                    : std::string();
  }

  // The service log's texts (decoded from Windows-1252), without their time stamps.
  std::vector<std::string> LogTexts() {
    std::ifstream in(service_.Log().FileFor(platform::Now()), std::ios::binary);
    std::vector<std::string> texts;
    for (std::string line; std::getline(in, line);) {
      if (line.ends_with('\r')) line.pop_back();
      const size_t end = line.find("] ");
      const std::string text = end == std::string::npos ? line : line.substr(end + 2);
      texts.push_back(platform::FromAnsi(platform::AnsiBytes(text)));
    }
    return texts;
  }

  TempDir base_;
  ManualClock clock_;
  service::TKelvoraSiTefService service_;
  RecordingConnection connection_;
};

inline std::string Error(std::string_view message) {
  return TDmSitef::BuildErrorMessage(message);
}

}  // namespace kelvora::protocol::testing
