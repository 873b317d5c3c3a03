#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "core/result.h"

namespace pelvaron {

// What the hub asks a console to do with one of its alarms.
struct CommandRequest {
  std::string station;
  std::string verb;         // "ack" | "action" | "close"
  std::string request;      // its id; made up when empty
  std::string operatorName;
  std::int64_t ref = 0;     // the alarm's id: the seq of its first event
  std::string note;         // ack, close
  std::string action;       // action: its code
  std::string detail;       // action
  std::string outcome;      // close: its code
};

struct CommandResult {
  // Refused: by the console; the others never reached it or got no answer.
  enum class Outcome { Accepted, Refused, Invalid, NotSent, NoAnswer };
  std::string request;
  bool accepted = false;
  std::string reason;  // Russian, when not accepted
  Outcome outcome = Outcome::Refused;
};

// Sends commands to consoles and matches their answers by request id. Send
// may be called from any thread; Answer and Expire from the hub's loop.
class CommandSender {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kTimeout = std::chrono::seconds(10);
  static constexpr char kNoAnswer[] = "Консоль не ответила";

  // publish(topic, payload): hands the message to the broker's connection
  // (any thread); false when it could not take it.
  using Publish = std::function<bool(const std::string& topic, const std::string& payload)>;
  explicit CommandSender(Publish publish);

  // Refused at once (the future is ready) when the request is malformed or
  // cannot be sent.
  std::future<CommandResult> Send(CommandRequest request, Clock::time_point now = Clock::now());
  // A payload from pelvaron/<station>/command/result.
  void Answer(const std::string& station, std::string_view payload);
  // Requests not answered in time get kNoAnswer.
  void Expire(Clock::time_point now);
  std::size_t Waiting() const;

 private:
  struct Pending {
    std::string station;
    Clock::time_point deadline;
    std::promise<CommandResult> promise;
  };
  Publish publish_;
  mutable std::mutex mutex_;
  std::map<std::string, Pending> pending_;  // by request id
};

// The payload of a request as consoles read it, or why it cannot be one.
Result<std::string> CommandPayload(const CommandRequest& request);

}  // namespace pelvaron
