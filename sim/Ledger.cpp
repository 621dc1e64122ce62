// The ledger's lines and what they add up to (the file itself is the system's: LedgerFile.cpp).
#include "Ledger.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace kelvora::sim {
namespace {

bool needsEscape(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '%';
}

std::string encode(std::string_view value) {
  std::string out;
  for (unsigned char c : value) {
    if (needsEscape(c)) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string decode(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size() && hexDigit(value[i + 1]) >= 0 &&
        hexDigit(value[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(value[i + 1]) * 16 + hexDigit(value[i + 2]));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

bool isSettlement(const Event& e) {
  return e.kind() == "CONFIRMED" || e.kind() == "UNDONE";
}

bool sameDocument(const Event& a, const Event& b) {
  return a.get("doc") == b.get("doc") && a.get("date") == b.get("date");
}

}  // namespace

Event& Event::set(std::string key, std::string value) {
  fields_.emplace_back(std::move(key), std::move(value));
  return *this;
}

std::string Event::get(std::string_view key) const {
  for (const auto& [k, v] : fields_) {
    if (k == key) return v;
  }
  return "";
}

std::string Event::line() const {
  std::string text = kind_;
  for (const auto& [k, v] : fields_) text += " " + k + "=" + encode(v);
  return text;
}

std::optional<Event> Event::parse(std::string_view line) {
  std::istringstream words{std::string(line)};
  std::string word;
  if (!(words >> word) || word.find('=') != std::string::npos) return std::nullopt;
  Event event(word);
  while (words >> word) {
    const auto eq = word.find('=');
    if (eq == std::string::npos) continue;
    event.set(word.substr(0, eq), decode(std::string_view(word).substr(eq + 1)));
  }
  return event;
}

void Ledger::restart() {
  summary_ = LedgerSummary();
  taken_ = 0;
  lastLine_.clear();
}

const LedgerSummary* Ledger::take(FileIdentity identity, std::int64_t size, const ReadAt& readAt) {
  // Another file under the same name, or this one cut shorter, than the one read so far: what was
  // taken from it no longer holds. A file replaced by one that reuses the inode number is caught
  // by the last line taken no longer standing where it stood.
  bool same = identity == identity_ && size >= taken_;
  if (same && !lastLine_.empty()) {
    std::string there(lastLine_.size(), '\0');
    const auto at = taken_ - static_cast<std::int64_t>(lastLine_.size());
    same = readAt(there.data(), there.size(), at) == static_cast<long long>(there.size()) &&
           there == lastLine_;
  }
  if (!same) restart();
  identity_ = identity;

  std::string partial;  // bytes after the last LF read: a line still being written, or torn
  char block[8192];
  for (std::int64_t at = taken_;;) {
    const long long n = readAt(block, sizeof block, at);
    if (n < 0) return nullptr;
    if (n == 0) break;
    at += n;
    partial.append(block, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (auto end = partial.find('\n'); end != std::string::npos; end = partial.find('\n', start)) {
      if (auto event = Event::parse(std::string_view(partial).substr(start, end - start))) {
        summary_.apply(*event);
      }
      lastLine_ = partial.substr(start, end + 1 - start);
      taken_ += static_cast<std::int64_t>(end + 1 - start);
      start = end + 1;
    }
    partial.erase(0, start);
  }
  return &summary_;
}

void LedgerSummary::apply(const Event& event) {
  const long long line = lines_++;
  if (event.kind() == "APPROVED") {
    pending_.push_back(event);
    pendingOrder_.push_back(line);
  } else if (isSettlement(event)) {
    for (std::size_t i = 0; i < pending_.size();) {
      if (!sameDocument(pending_[i], event)) {
        ++i;
        continue;
      }
      if (event.kind() == "CONFIRMED" && pendingOrder_[i] > lastConfirmedOrder_) {
        lastConfirmed_ = pending_[i];
        lastConfirmedOrder_ = pendingOrder_[i];
      }
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
      pendingOrder_.erase(pendingOrder_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  const auto nsu = event.get("nsu");
  if (!nsu.empty() && nsu.size() <= 15 &&
      nsu.find_first_not_of("0123456789") == std::string::npos) {
    highestNsu_ = std::max(highestNsu_, std::stoll(nsu));
  }
}

std::optional<Event> LedgerSummary::lastStandingApproval() const {
  if (!pending_.empty() && pendingOrder_.back() > lastConfirmedOrder_) return pending_.back();
  return lastConfirmed_;
}

}  // namespace kelvora::sim
