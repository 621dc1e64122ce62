// Open client sessions: the session record and the list the data module keeps them in.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace kelvora::protocol {

// The sale a session start names, reported to the sales API: it belongs to that session, so that
// a session started on another connection never changes where a payment is reported or which sale
// it names.
struct TSaleData {
  int32_t Venda_Id = 0;
  int32_t Empresa_Id = 0;
  std::string CallbackURL;
};

// One open session. The connection that started it is kept by its number only: the connection
// may end long before the session does, and the session never sends anything through it.
class TSession {
 public:
  TSession(std::string pSession_UUID, std::chrono::system_clock::time_point pExpiration,
           uint64_t pIdContext, TSaleData pSale = {})
      : FSession_UUID(std::move(pSession_UUID)),
        FExpiration(pExpiration),
        FIdContext(pIdContext),
        FSale(std::move(pSale)) {}

  const std::string& Session_UUID() const { return FSession_UUID; }
  // The instant from which the session is no longer accepted.
  std::chrono::system_clock::time_point Expiration() const { return FExpiration; }
  // The same instant as a local date-time.
  platform::TDateTime ExpirationDateTime() const {
    return platform::FromTimePointLocal(FExpiration);
  }
  uint64_t IdContext() const { return FIdContext; }
  const TSaleData& Sale() const { return FSale; }
  void SetVenda_Id(int32_t pVenda_Id) { FSale.Venda_Id = pVenda_Id; }

 private:
  std::string FSession_UUID;
  std::chrono::system_clock::time_point FExpiration;
  uint64_t FIdContext;
  TSaleData FSale;
};

// The open sessions in the order they were added. Every connection thread uses the one list, so
// each operation holds the list's lock; lookups hand out copies, never references into the list.
// Nothing expires in the background: an expired session leaves when a request presents it or at
// the next session start.
class TSessionList {
 public:
  // Appends a new session with these values, within pLimit sessions: first the sessions expired at
  // pNow are removed, then, while pLimit or more remain, the oldest one other than pBusy (the
  // session whose operation holds the TEF component, which is never removed; empty: none). Only
  // pBusy can leave the list one over its limit. Returns how many unexpired sessions gave way.
  size_t AddItem(size_t pLimit, std::chrono::system_clock::time_point pNow,
                 std::string_view pBusy, std::string pSession_UUID,
                 std::chrono::system_clock::time_point pExpiration, uint64_t pIdContext,
                 TSaleData pSale = {});
  // The first session whose id equals pSession_UUID exactly (case-sensitive); none when absent.
  std::optional<TSession> GetSession(std::string_view pSession_UUID) const;
  // Removes the first session with that id; nothing happens when there is none.
  void DeleteItem(std::string_view pSession_UUID);
  // Replaces the sale id of the first session with that id (a request's "sale_id" does, for the
  // later requests of its session); nothing happens when there is none.
  void SetVenda_Id(std::string_view pSession_UUID, int32_t pVenda_Id);
  size_t Count() const;

 private:
  mutable std::mutex FLock;
  std::vector<TSession> FList;
};

}  // namespace kelvora::protocol
