#include "hub/web/sessions.h"

#include <sodium.h>

#include <array>

namespace pelvaron {

std::string RandomToken() {
  static const bool ready = sodium_init() >= 0;
  (void)ready;
  std::array<unsigned char, 32> bytes{};
  randombytes_buf(bytes.data(), bytes.size());
  std::array<char, 65> hex{};
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
  return std::string(hex.data(), 64);
}

bool SameToken(const std::string& a, const std::string& b) {
  return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::pair<std::string, Session> Sessions::Open(const WebUser& user, Clock::time_point now) {
  std::string id = RandomToken();
  Session session{user, RandomToken()};
  std::lock_guard lock(mutex_);
  // Ended sessions go when a new one comes, so the map stays as small as the
  // people signed in.
  std::erase_if(entries_, [&](const auto& e) { return now - e.second.lastUse > kIdle; });
  entries_[id] = Entry{session, now};
  return {std::move(id), std::move(session)};
}

std::optional<Session> Sessions::Find(const std::string& id, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(id);
  if (it == entries_.end()) return {};
  if (now - it->second.lastUse > kIdle) {
    entries_.erase(it);
    return {};
  }
  it->second.lastUse = now;
  return it->second.session;
}

void Sessions::Close(const std::string& id) {
  std::lock_guard lock(mutex_);
  entries_.erase(id);
}

}  // namespace pelvaron
