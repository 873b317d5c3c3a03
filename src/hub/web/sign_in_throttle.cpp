#include "hub/web/sign_in_throttle.h"

#include <algorithm>

namespace pelvaron {

long long SignInThrottle::WaitSeconds(const std::string& user, const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  Clock::time_point until{};
  if (auto it = users_.find(user); it != users_.end()) until = std::max(until, it->second.notBefore);
  if (auto it = addresses_.find(address); it != addresses_.end()) until = std::max(until, it->second.notBefore);
  if (until <= now) return 0;
  return std::chrono::ceil<std::chrono::seconds>(until - now).count();
}

void SignInThrottle::Fail(Count& count, Clock::time_point now) {
  ++count.failures;
  if (count.failures < kFree) return;
  const int doublings = std::min(count.failures - kFree, 16);
  const auto wait = std::min<Clock::duration>(kFirst * (1LL << doublings), kLongest);
  count.notBefore = now + wait;
}

void SignInThrottle::Failed(const std::string& user, const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  // Bounded: a flood of made-up names must not grow it without end.
  for (auto* counts : {&users_, &addresses_}) {
    if (counts->size() > 10000)
      std::erase_if(*counts, [&](const auto& c) { return c.second.notBefore + kLongest < now; });
  }
  Fail(users_[user], now);
  Fail(addresses_[address], now);
}

void SignInThrottle::Succeeded(const std::string& user) {
  std::lock_guard lock(mutex_);
  users_.erase(user);
}

}  // namespace pelvaron
