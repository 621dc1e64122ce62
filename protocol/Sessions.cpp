// The session list's operations, each under the list's lock.
#include "protocol/Sessions.h"

#include <algorithm>

namespace kelvora::protocol {

size_t TSessionList::AddItem(size_t pLimit, std::chrono::system_clock::time_point pNow,
                             std::string_view pBusy, std::string pSession_UUID,
                             std::chrono::system_clock::time_point pExpiration,
                             uint64_t pIdContext, TSaleData pSale) {
  std::lock_guard lock(FLock);
  // A page that never comes back would otherwise leave its session in memory until the limit.
  std::erase_if(FList, [pNow](const TSession& session) { return pNow >= session.Expiration(); });
  size_t dropped = 0;
  for (auto it = FList.begin(); FList.size() >= pLimit && it != FList.end();) {
    if (it->Session_UUID() == pBusy) {
      ++it;
    } else {
      it = FList.erase(it);
      ++dropped;
    }
  }
  FList.emplace_back(std::move(pSession_UUID), pExpiration, pIdContext, std::move(pSale));
  return dropped;
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

size_t TSessionList::Count() const {
  std::lock_guard lock(FLock);
  return FList.size();
}

}  // namespace kelvora::protocol
