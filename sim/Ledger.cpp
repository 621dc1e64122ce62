// The ledger file: one event per line, appended under a lock and forced to disk (the append is
// the system's: LedgerAppend.cpp).
#include "Ledger.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
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

std::optional<std::vector<Event>> Ledger::read() const {
  std::vector<Event> events;
  std::ifstream in(file_, std::ios::binary);
  if (!in) {
    if (!std::filesystem::exists(file_)) return events;
    return std::nullopt;
  }
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  std::size_t start = 0;
  for (auto end = content.find('\n'); end != std::string::npos; end = content.find('\n', start)) {
    if (auto event = Event::parse(std::string_view(content).substr(start, end - start))) {
      events.push_back(std::move(*event));
    }
    start = end + 1;
  }
  return events;
}

std::vector<Event> pendingApprovals(const std::vector<Event>& events) {
  std::vector<Event> pending;
  for (const auto& e : events) {
    if (e.kind() == "APPROVED") {
      pending.push_back(e);
    } else if (isSettlement(e)) {
      std::erase_if(pending, [&](const Event& p) { return sameDocument(p, e); });
    }
  }
  return pending;
}

long long highestNsu(const std::vector<Event>& events) {
  long long highest = 0;
  for (const auto& e : events) {
    const auto nsu = e.get("nsu");
    if (nsu.empty() || nsu.size() > 15 ||
        nsu.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    highest = std::max(highest, std::stoll(nsu));
  }
  return highest;
}

std::optional<Event> lastStandingApproval(const std::vector<Event>& events) {
  struct Approval {
    const Event* event;
    bool settled = false;
    bool undone = false;
  };
  std::vector<Approval> approvals;
  for (const auto& e : events) {
    if (e.kind() == "APPROVED") {
      approvals.push_back({&e});
    } else if (isSettlement(e)) {
      for (auto& a : approvals) {
        if (a.settled || !sameDocument(*a.event, e)) continue;
        a.settled = true;
        a.undone = e.kind() == "UNDONE";
      }
    }
  }
  for (auto it = approvals.rbegin(); it != approvals.rend(); ++it) {
    if (!it->undone) return *it->event;
  }
  return std::nullopt;
}

}  // namespace kelvora::sim
