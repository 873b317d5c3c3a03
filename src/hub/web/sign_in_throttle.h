#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace pelvaron {

// Slows down guessing: after kFree failed sign-ins for one user name or from
// one address, each further attempt must wait, twice as long as the last
// time, up to kLongest. A success clears the name's count (not the
// address's). Any thread.
class SignInThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kFree = 3;
  static constexpr auto kFirst = std::chrono::seconds(2);
  static constexpr auto kLongest = std::chrono::minutes(5);

  // Seconds to wait before the next attempt of this name from this address
  // (0: go ahead).
  long long WaitSeconds(const std::string& user, const std::string& address, Clock::time_point now);
  void Failed(const std::string& user, const std::string& address, Clock::time_point now);
  void Succeeded(const std::string& user);

 private:
  struct Count {
    int failures = 0;
    Clock::time_point notBefore{};
  };
  void Fail(Count& count, Clock::time_point now);
  std::mutex mutex_;
  std::map<std::string, Count> users_, addresses_;
};

}  // namespace pelvaron
