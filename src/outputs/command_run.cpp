#include "outputs/command_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

}  // namespace

std::vector<std::string> CommandEnvironment(std::vector<std::string> eventVariables) {
  std::vector<std::string> env;
  for (char** v = environ; v != nullptr && *v != nullptr; ++v) {
    if (std::strncmp(*v, "PELVARON_", 9) != 0) env.emplace_back(*v);
  }
  for (std::string& v : eventVariables) env.push_back(std::move(v));
  return env;
}

Result<CommandRun> SpawnCommand(std::string command, std::vector<std::string> env) {
  std::vector<char*> envp;
  for (std::string& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    const int err = errno;
    return SystemProblem("Команда не запускается", err);
  }
  UniqueFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, readEnd.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char sh[] = "/bin/sh";
  char dashC[] = "-c";
  char* argv[] = {sh, dashC, command.data(), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, sh, &actions, &attr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) return SystemProblem("Команда не запускается", spawned);
  CommandRun run;
  run.pid = pid;
  run.input = std::move(writeEnd);
  return run;
}

void FeedInput(CommandRun& run, std::string_view input, SteadyClock::time_point deadline) {
  ::fcntl(run.input.get(), F_SETFL, O_NONBLOCK);
  (void)WriteAll(run.input.get(), input, nullptr, deadline);
  run.input.reset();
}

bool WaitForEnd(CommandRun& run, SteadyClock::time_point deadline, const std::atomic<bool>& closing,
                int& status) {
  run.pidFd.reset(PidFd(run.pid));
  status = 0;
  bool ended = false;
  // Checked in steps, so that shutting down can cut a long run short.
  while (!ended) {
    auto step = SteadyClock::now() + std::chrono::milliseconds(200);
    if (closing) {
      const auto cut = SteadyClock::now() + std::chrono::milliseconds(2000);
      step = cut < deadline ? cut : deadline;
      ended = WaitUntil(run.pid, run.pidFd.get(), step, status);
      break;
    }
    if (step > deadline) step = deadline;
    ended = WaitUntil(run.pid, run.pidFd.get(), step, status);
    if (SteadyClock::now() >= deadline) break;
  }
  return ended;
}

void EndGroup(CommandRun& run, int& status) {
  ::kill(-run.pid, SIGTERM);
  if (!WaitUntil(run.pid, run.pidFd.get(), SteadyClock::now() + std::chrono::seconds(1), status)) {
    ::kill(-run.pid, SIGKILL);
    ::waitpid(run.pid, &status, 0);
  }
}

}  // namespace pelvaron
