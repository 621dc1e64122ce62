// kelvora-echo-host: the service module and its TLS listener with a handler that echoes every
// text back on the connection it came from, for the end-to-end tests of the WebSocket server.
//
// Besides echoing, it answers "?id" with "id:<connection id>"; "?sleep <ms>" with "slept" after
// that many milliseconds (a long request, as a payment is); "?wait" as the prompt relay waits for
// an answer: up to 100 ms for input, then "input:<text of the next frame>" or "no input". Every
// disconnect step writes "echo-host: disconnect <connection id>" to the service log.
#include "service/ServiceProgram.h"

#include <charconv>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

using kelvora::service::Connection;
using kelvora::service::TKelvoraSiTefService;

class EchoHandler final : public kelvora::service::MessageHandler {
 public:
  explicit EchoHandler(TKelvoraSiTefService& service) : service_(service) {}

  void RouteTargeting(std::string_view pContent, Connection& pIdContext) override {
    if (pContent == "?id") {
      pIdContext.SendClientMessage("id:" + std::to_string(pIdContext.Id()));
    } else if (pContent == "?wait") {
      std::string next;
      if (pIdContext.WaitForInput(std::chrono::milliseconds(100))) {
        pIdContext.DecodeWebSocketFrame(next);
        pIdContext.SendClientMessage("input:" + next);
      } else {
        pIdContext.SendClientMessage("no input");
      }
    } else if (pContent.starts_with("?sleep ")) {
      int ms = 0;
      std::from_chars(pContent.data() + 7, pContent.data() + pContent.size(), ms);
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      pIdContext.SendClientMessage("slept");
    } else {
      pIdContext.SendClientMessage(pContent);
    }
  }

  void OnExecuteEnd(Connection&) override {}

  void OnDisconnect(Connection& pIdContext) override {
    service_.GravaLog("echo-host: disconnect " + std::to_string(pIdContext.Id()));
  }

 private:
  TKelvoraSiTefService& service_;
};

}  // namespace

int main(int argc, char** argv) {
  return kelvora::service::RunServiceProgram(argc, argv, [](TKelvoraSiTefService& service) {
    return std::make_unique<EchoHandler>(service);
  });
}
