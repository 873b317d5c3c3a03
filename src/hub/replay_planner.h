#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace pelvaron {

// Which events the hub asks the consoles for again (command/replay), and
// when: one request out at a time (a console's answer comes in a burst the
// broker must hold for the hub), at most one per kEvery, the stations in
// turn. A console that does not answer within kAnswerWait (away, or too old
// to know the request) is asked again once it comes online, or after
// kSilentRetry. The hub's loop drives it with its clock; nothing here waits.
class ReplayPlanner {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kEvery = std::chrono::milliseconds(200);
  static constexpr auto kAnswerWait = std::chrono::seconds(30);
  static constexpr auto kSilentRetry = std::chrono::minutes(2);
  static constexpr int kShortRetries = 3;
  static constexpr std::int64_t kOpen = INT64_MAX;  // up to the newest

  // idPrefix makes this hub's request ids its own among other hubs'.
  explicit ReplayPlanner(std::string idPrefix);

  // from..to of a station; gap: a gap the store keeps (closed when done).
  void Want(const std::string& station, std::int64_t from, std::int64_t to = kOpen, bool gap = false);
  // The console's online message. Back online: what waited is asked again.
  void Online(const std::string& station, bool online);
  // A new connection to the broker: what was asked and not answered is lost.
  void Reconnected();

  struct Request {
    std::string topic;
    std::string payload;
  };
  // The request due now, if any.
  std::optional<Request> Next(Clock::time_point now);
  // Milliseconds until Next may have one; nothing when nothing waits.
  std::optional<int> DueInMs(Clock::time_point now) const;

  // A range the console has answered to its end.
  struct Done {
    std::string station;
    std::int64_t from = 0, to = 0;
    bool gap = false;
    std::int64_t events = 0;  // how many it sent again, over all batches
  };
  // A command/result payload: false when it answers no request of this
  // planner's; done is set when it finished a range. newestSeen: the
  // station's highest number the hub has had; a range up to the newest ends
  // there (what came after the request came live).
  bool Answer(const std::string& station, std::string_view payload, std::int64_t newestSeen,
              Clock::time_point now, std::optional<Done>& done);

  // An event that came (live or sent again): what an answer's count is
  // checked against, the broker being free to drop some for a slow hub.
  void Saw(const std::string& station, std::int64_t seq);

  // Ranges waiting or asked, of every station.
  std::size_t Waiting() const;

 private:
  struct Range {
    std::int64_t from = 0, to = kOpen;
    std::int64_t firstFrom = 0;  // as wanted, for Done
    bool gap = false;
    std::int64_t events = 0;
  };
  struct Station {
    std::deque<Range> ranges;  // the front one is the one asked
    std::string asked;         // its request id; empty when none is out
    Clock::time_point deadline{};
    std::set<std::int64_t> seen;  // numbers of the front range come since it was asked
    int shortTimes = 0;           // answers that came with fewer events than they said
    bool silent = false;  // not answering: waits for it to come online
    Clock::time_point silentUntil{};
    bool offline = false;
  };

  std::string idPrefix_;
  std::uint64_t counter_ = 0;
  std::map<std::string, Station> stations_;
  Clock::time_point lastSent_{};
  std::string lastAsked_;
};

}  // namespace pelvaron
