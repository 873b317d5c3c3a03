#pragma once

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelvaron::testing {

using Deadline = std::chrono::steady_clock::time_point;

inline Deadline SecondsFromNow(int seconds) {
  return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

// How a child is started besides its command line.
struct ChildOptions {
  std::vector<std::string> env;  // NAME=VALUE added to (or replacing in) the test's environment
  long fileSizeLimit = -1;       // RLIMIT_FSIZE in bytes, with SIGXFSZ at its default
  bool journalStderr = false;    // JOURNAL_STREAM names the stderr pipe, as systemd does
};

// A program started by a test, its stdout and stderr caught in pipes. Waiting
// is done on the pipes and on the process itself (poll), never by sleeping.
// A child still running when this is destroyed is killed and reaped.
class ChildProcess {
 public:
  // Runs argv[0] (a path) in the folder dir; nothing (and *error) on failure.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv, const std::string& dir,
                                             std::string* error, const ChildOptions& options = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Signal(int signal) const;
  // Stops reading stdout and closes the pipe, as `| head -1` does.
  void CloseOut();

  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }
  // The process has ended and both pipes are drained.
  bool Exited() const { return exitStatus_.has_value() && outFd_ < 0 && errFd_ < 0; }
  // The wait status (as waitpid gives it) once Exited().
  std::optional<int> ExitStatus() const { return exitStatus_; }

  // A description of the status for failure messages: "exit 0", "signal 9", "running".
  std::string StatusText() const;

 private:
  friend bool PumpUntil(const std::vector<ChildProcess*>&, const std::function<bool()>&, Deadline);
  ChildProcess() = default;
  void CollectPollFds(std::vector<pollfd>& fds, std::vector<int*>& owners);
  void Reap();

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int pidFd_ = -1;
  std::string out_;
  std::string err_;
  std::optional<int> exitStatus_;
};

// Reads what the children write and notices their exit until done() holds or
// the deadline passes; returns done(). Every child's pipes are kept drained.
bool PumpUntil(const std::vector<ChildProcess*>& children, const std::function<bool()>& done,
               Deadline deadline);

}  // namespace pelvaron::testing
