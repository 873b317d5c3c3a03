#include "outputs/command_sink.h"

#include <sys/wait.h>

#include "events/event_json.h"
#include "outputs/command_run.h"

namespace pelvaron {

namespace {

// "10", "0,5": seconds as the operator reads them.
std::string SecondsText(int ms) {
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) text += "," + std::to_string(ms % 1000 / 100);
  return text;
}

}  // namespace

CommandSink::CommandSink(std::string command, int timeoutMs, Report report, std::size_t capacity)
    : BackgroundSink(capacity),
      command_(std::move(command)),
      timeoutMs_(timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs),
      reporter_(std::move(report)) {}

CommandSink::~CommandSink() {
  // What is queued still runs for a while; a run in progress is cut short
  // after two seconds, so that shutting down never waits for a whole limit.
  closing_ = true;
  Stop(2000);
}

bool CommandSink::Deliver(const Event& event) {
  KeepPipeSignalsAway();
  const std::string input = EventJson(event) + '\n';
  Result<CommandRun> spawned = SpawnCommand(command_, CommandEnvironment(EventEnvironment(event)));
  if (!spawned) {
    reporter_.Trouble("spawn " + std::to_string(spawned.problem().code),
                      "Не удалось запустить команду для событий: " + spawned.problem().cause);
    return true;
  }
  CommandRun& run = *spawned;
  ++runs_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
  FeedInput(run, input, deadline);
  int status = 0;
  const bool ended = WaitForEnd(run, deadline, closing_, status);
  if (!ended) EndGroup(run, status);
  TellOutcome(ended, status);
  return true;
}

void CommandSink::TellOutcome(bool ended, int status) {
  if (!ended) {
    reporter_.Trouble("timeout", "Команда для событий не завершилась за " + SecondsText(timeoutMs_) +
                                     " с и была остановлена.");
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    reporter_.Trouble("exit 127", "Команда для событий не найдена: " + command_);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    const std::string code = std::to_string(WEXITSTATUS(status));
    reporter_.Trouble("exit " + code, "Команда для событий завершилась с кодом " + code + ".");
  } else if (WIFSIGNALED(status)) {
    const std::string sig = std::to_string(WTERMSIG(status));
    reporter_.Trouble("signal " + sig, "Команда для событий прервана сигналом " + sig + ".");
  } else {
    reporter_.Recovered("Команда для событий снова выполняется успешно.");
  }
}

void CommandSink::Overflow(const Event& /*event*/) {
  reporter_.Trouble("overflow", "Очередь команды для событий переполнена; для части событий команда не запущена.");
}

}  // namespace pelvaron
