#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "hub/web/user_store.h"

namespace pelvaron {

struct Session {
  WebUser user;
  std::string csrf;  // what each changing request sends in X-CSRF-Token
};

// Signed-in browsers, in memory (a restarted hub asks everyone to sign in
// again). Ids and tokens are 256 random bits from libsodium, hex. A session
// unused for kIdle ends. Any thread.
class Sessions {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kIdle = std::chrono::hours(12);

  // The new session's id with the session.
  std::pair<std::string, Session> Open(const WebUser& user, Clock::time_point now = Clock::now());
  std::optional<Session> Find(const std::string& id, Clock::time_point now = Clock::now());
  void Close(const std::string& id);

 private:
  struct Entry {
    Session session;
    Clock::time_point lastUse;
  };
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

// 32 random bytes as 64 hex digits.
std::string RandomToken();
// Compares without telling by its time where they differ.
bool SameToken(const std::string& a, const std::string& b);

}  // namespace pelvaron
