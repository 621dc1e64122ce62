// The data module holding its component for a connection whose client answers from a script, so
// that the component's events can be fired as the dialogue fires them and the prompts and answers
// checked on the wire.
#pragma once

#include <deque>

#include "DataModuleFixture.h"

namespace kelvora::protocol::testing {

// A connection whose incoming frames are queued by the test; reading past the last one fails as a
// closed connection does. Everything sent is kept.
class ScriptedConnection final : public service::Connection {
 public:
  explicit ScriptedConnection(uint64_t id = 2) : id_(id) {}

  void Queue(std::string frame) { frames_.push_back(std::move(frame)); }
  void Queue(const Json& frame) { Queue(WriteJson(frame)); }
  size_t Unread() const { return frames_.size(); }

  void DecodeWebSocketFrame(std::string& DecodedMessage) override {
    if (frames_.empty()) throw std::runtime_error("Connection closed.");
    DecodedMessage = std::move(frames_.front());
    frames_.pop_front();
  }
  void SendClientMessage(std::string_view pMsg) override {
    if (closed_) throw std::runtime_error("Connection closed.");
    sent_.emplace_back(pMsg);
  }
  bool WaitForInput(std::chrono::milliseconds) override { return !frames_.empty(); }
  uint64_t Id() const override { return id_; }

  // Later writes fail, as on a connection the client has dropped.
  void Close() { closed_ = true; }
  // Everything sent since the last call.
  std::vector<std::string> Take() { return std::exchange(sent_, {}); }

 private:
  uint64_t id_;
  bool closed_ = false;
  std::deque<std::string> frames_;
  std::vector<std::string> sent_;
};

// An answer of the client to the running dialogue.
inline Json Answer(Json members) {
  Json answer = Json::object();
  answer["route"] = "/transaction";
  for (auto& [key, value] : members.items()) answer[key] = value;
  return answer;
}

inline Json MenuAnswer(std::string_view response, bool back = false) {
  return Answer({{"type", "menu"}, {"response", response}, {"back_menu", back ? "true" : "false"}});
}

inline Json QuestionAnswer(std::string_view response) {
  return Answer({{"type", "question"}, {"response", response}});
}

// The message the cancellation confirmation sends.
inline const std::string kCancelQuestion =
    R"({"type":"question","message":"Deseja realmente cancelar esta opera\u00E7\u00E3o?",)"
    R"("options":["Sim","N\u00E3o"],"can_cancel":false})";

class TransactionTest : public DataModuleTest {
 protected:
  // The component held for client_, as a transaction of the session pSession (none when empty)
  // holds it.
  TKoCliSiTefAccess Hold(const std::string& pSession = {}) {
    const std::optional<TSession> session = Dm().Sessions().GetSession(pSession);
    return Dm().AcquireKoCliSiTef(client_, session ? &*session : nullptr);
  }

  // Fires the interruption check the library makes while it waits ("23").
  static bool Check(TKoCliSiTefAccess& tef, const std::string& arquivo = "23") {
    bool interromper = false;
    tef->OnAguardaResp(arquivo, 0, interromper);
    return interromper;
  }

  ScriptedConnection client_;
};

}  // namespace kelvora::protocol::testing
