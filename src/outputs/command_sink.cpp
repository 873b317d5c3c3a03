#include "outputs/command_sink.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "decode/message_json.h"
#include "events/event_json.h"
#include "outputs/write_all.h"

extern char** environ;

namespace pelvaron {

namespace {

using SteadyClock = std::chrono::steady_clock;

int MsUntil(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

int PidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// Waits for the child until the deadline; true with its status when it ended.
bool WaitUntil(pid_t pid, int pidFd, SteadyClock::time_point deadline, int& status) {
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return true;
    if (r < 0 && errno != EINTR) {
      status = 0;
      return true;  // not ours to wait for any more
    }
    const int left = MsUntil(deadline);
    if (left == 0) return false;
    if (pidFd >= 0) {
      pollfd p{pidFd, POLLIN, 0};
      ::poll(&p, 1, left);
    } else {
      ::usleep(static_cast<useconds_t>(std::min(left, 10)) * 1000);
    }
  }
}

// "10", "0,5": seconds as the operator reads them.
std::string SecondsText(int ms) {
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) text += "," + std::to_string(ms % 1000 / 100);
  return text;
}

void Put(std::vector<std::string>& env, const char* name, std::string_view value) {
  std::string entry = name;
  entry += '=';
  entry += value;
  env.push_back(std::move(entry));
}

}  // namespace

std::vector<std::string> EventEnvironment(const Event& e) {
  std::vector<std::string> env;
  Put(env, "PELVARON_SEQ", std::to_string(e.seq));
  Put(env, "PELVARON_TIME", e.timeText);
  Put(env, "PELVARON_STATION", e.station);
  Put(env, "PELVARON_KIND", EventKindName(e.kind));
  Put(env, "PELVARON_TEXT", e.text);
  Put(env, "PELVARON_ADDRESS", e.address);
  if (!e.command.empty()) Put(env, "PELVARON_COMMAND", e.command);
  if (!e.detail.empty()) Put(env, "PELVARON_DETAIL", e.detail);
  if (e.kind == EventKind::AlarmAcknowledged) Put(env, "PELVARON_REF", std::to_string(e.ref));
  if (e.kind != EventKind::Message || !e.message) return env;
  const DecodedMessage& m = *e.message;
  Put(env, "PELVARON_MESSAGE", MessageKindName(m.kind));
  std::string raw;
  AppendFrameHex(raw, m.raw);
  Put(env, "PELVARON_RAW", raw);
  if (!m.sumOk) return env;
  Put(env, "PELVARON_DEVICE", m.deviceName.view());
  switch (m.kind) {
    case MessageKind::ContactId:
      Put(env, "PELVARON_CODE", m.contactId.codeText.view());
      Put(env, "PELVARON_NEW", m.contactId.newEvent ? "1" : "0");
      Put(env, "PELVARON_PARTITION", m.contactId.partition.view());
      Put(env, "PELVARON_ZONE", m.contactId.zone.view());
      break;
    case MessageKind::Radio:
      if (m.radioCount > 0) {
        Put(env, "PELVARON_CODE", std::to_string(m.radio[0].eventCode));
        Put(env, "PELVARON_NEW", m.radio[0].newEvent ? "1" : "0");
      }
      break;
    case MessageKind::LoopState:
      Put(env, "PELVARON_GUARD", std::to_string(m.loopState.guard));
      break;
    case MessageKind::Dialler:
      Put(env, "PELVARON_CODE", std::to_string(m.dialler.message));
      break;
    case MessageKind::UnknownUnit:
    case MessageKind::BadSum:
      break;
  }
  return env;
}

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
  std::string input = EventJson(event);
  input += '\n';

  std::vector<std::string> env;
  for (char** v = environ; v != nullptr && *v != nullptr; ++v) {
    if (std::strncmp(*v, "PELVARON_", 9) != 0) env.emplace_back(*v);
  }
  for (std::string& v : EventEnvironment(event)) env.push_back(std::move(v));
  std::vector<char*> envp;
  for (std::string& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    const int err = errno;
    reporter_.Trouble("spawn " + std::to_string(err),
                      std::string("Не удалось запустить команду для событий: ") + std::strerror(err));
    return true;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // A group of its own, to be ended whole; no signal blocked or ignored.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char sh[] = "/bin/sh";
  char dashC[] = "-c";
  char* argv[] = {sh, dashC, command_.data(), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, sh, &actions, &attr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(pipeFds[0]);
  if (spawned != 0) {
    ::close(pipeFds[1]);
    reporter_.Trouble("spawn " + std::to_string(spawned),
                      std::string("Не удалось запустить команду для событий: ") + std::strerror(spawned));
    return true;
  }
  ++runs_;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs_);
  ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
  // What fits of the event before the deadline: a command that does not read
  // its input (EPIPE) is not waited for beyond it.
  WriteAll(pipeFds[1], input, nullptr, deadline);
  ::close(pipeFds[1]);

  const int pidFd = PidFd(pid);
  int status = 0;
  bool ended = false;
  // Checked in steps, so that shutting down can cut a long run short.
  while (!ended) {
    auto step = SteadyClock::now() + std::chrono::milliseconds(200);
    if (closing_) {
      const auto cut = SteadyClock::now() + std::chrono::milliseconds(2000);
      step = cut < deadline ? cut : deadline;
      ended = WaitUntil(pid, pidFd, step, status);
      break;
    }
    if (step > deadline) step = deadline;
    ended = WaitUntil(pid, pidFd, step, status);
    if (SteadyClock::now() >= deadline) break;
  }
  if (!ended) {
    ::kill(-pid, SIGTERM);
    if (!WaitUntil(pid, pidFd, SteadyClock::now() + std::chrono::seconds(1), status)) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
  }
  if (pidFd >= 0) ::close(pidFd);

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
  return true;
}

void CommandSink::Overflow(const Event& /*event*/) {
  reporter_.Trouble("overflow", "Очередь команды для событий переполнена; для части событий команда не запущена.");
}

}  // namespace pelvaron
