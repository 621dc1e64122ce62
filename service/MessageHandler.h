// What the server hands to the data module: every request text with the connection it came on,
// the end of every frame's execute step, and the end of every connection.
#pragma once

#include "service/Connection.h"

#include <cstddef>
#include <string_view>

namespace kelvora::service {

// Called on the thread of the connection concerned; several connections call at once, so state
// the handler shares between connections must be protected by the handler.
class MessageHandler {
 public:
  virtual ~MessageHandler() = default;

  // The service has started (after its start is logged): the handler logs what an installation
  // must hear about at every start.
  virtual void OnServiceStart() {}

  // The service is stopping, before its connections are ended and awaited: the handler gives up
  // background work and waits that could hold the stop (work on disk stays for the next start).
  virtual void OnServiceStop() {}

  // The machine resumed from sleep: the handler drops what it holds from before (the library and
  // its pin-pad) so that the next operation sets them up afresh, as after a restart.
  virtual void OnServiceResume() {}

  // One non-empty frame text received on pIdContext. Replies and prompts go back through
  // pIdContext; a whole payment dialogue may run inside this call. An exception that escapes ends
  // the connection (its disconnect step then runs).
  virtual void RouteTargeting(std::string_view pContent, Connection& pIdContext) = 0;

  // The end of every execute step that read a frame, routed or not (an empty text is not routed
  // but still ends here); not called when the step ended with an exception. The data module clears
  // FProcessandoMsg here.
  virtual void OnExecuteEnd(Connection& pIdContext) = 0;

  // pIdContext has ended, whatever the cause (closed by the client, failed, a failed TLS
  // handshake, the server deactivated). Called exactly once for every connection the server took
  // on, after its socket is closed, so nothing can be sent on it any more. pIdContext names the
  // connection that ended: the handler must cancel only what that connection started, never a
  // payment another connection is running. Exceptions are swallowed.
  virtual void OnDisconnect(Connection& pIdContext) = 0;

  // For the metrics, from their own thread: the sessions kept, and whether a TEF operation holds
  // the library now.
  virtual size_t SessionCount() const { return 0; }
  virtual bool OperationRunning() const { return false; }
};

// A handler that drops every request and holds nothing: for running the service module without
// the data module, as its own tests do.
class IgnoringMessageHandler final : public MessageHandler {
 public:
  void RouteTargeting(std::string_view, Connection&) override {}
  void OnExecuteEnd(Connection&) override {}
  void OnDisconnect(Connection&) override {}
};

}  // namespace kelvora::service
