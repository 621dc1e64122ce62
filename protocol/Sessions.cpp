// The session list's operations, each under the list's lock.
#include "protocol/Sessions.h"

#include <algorithm>

namespace kelvora::protocol {

void TSessionList::AddItem(std::string pSession_UUID,
                           std::chrono::system_clock::time_point pExpiration, uint64_t pIdContext,
                           TSaleData pSale) {
  std::lock_guard lock(FLock);
  FList.emplace_back(std::move(pSession_UUID), pExpiration, pIdContext, std::move(pSale));
}

std::optional<TSession> TSessionList::GetSession(std::string_view pSession_UUID) const {
  std::lock_guard lock(FLock);
  const auto found = std::find_if(FList.begin(), FList.end(), [&](const TSession& session) {
    return session.Session_UUID() == pSession_UUID;
  });
  if (found == FList.end()) return std::nullopt;
  return *found;
}

void TSessionList::DeleteItem(std::string_view pSession_UUID) {
  std::lock_guard lock(FLock);
  const auto found = std::find_if(FList.begin(), FList.end(), [&](const TSession& session) {
    return session.Session_UUID() == pSession_UUID;
  });
  if (found != FList.end()) FList.erase(found);
}

void TSessionList::SetVenda_Id(std::string_view pSession_UUID, int32_t pVenda_Id) {
  std::lock_guard lock(FLock);
  const auto found = std::find_if(FList.begin(), FList.end(), [&](const TSession& session) {
    return session.Session_UUID() == pSession_UUID;
  });
  if (found != FList.end()) found->SetVenda_Id(pVenda_Id);
}

void TSessionList::DropExpiredWhenAt(size_t pLimit, std::chrono::system_clock::time_point pNow) {
  std::lock_guard lock(FLock);
  if (FList.size() < pLimit) return;
  std::erase_if(FList, [pNow](const TSession& session) { return pNow >= session.Expiration(); });
}

size_t TSessionList::Count() const {
  std::lock_guard lock(FLock);
  return FList.size();
}

}  // namespace kelvora::protocol
