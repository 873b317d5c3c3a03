#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace pelvaron::testing {
namespace {

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Without a pidfd (old kernels) the exit is looked for this often.
constexpr int kReapCheckMs = 20;
// The condition is asked again at least this often.
constexpr int kRecheckMs = 50;

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  const std::string& dir, std::string* error,
                                                  const ChildOptions& options) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    close(out[0]);
    close(out[1]);
    return nullptr;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The environment is made before the fork: the child may only exec.
  std::vector<std::string> env = options.env;
  if (options.journalStderr) {
    struct stat st {};
    fstat(err[1], &st);
    env.push_back("JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino));
  }
  std::vector<std::string> inherited;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    bool replaced = false;
    for (const std::string& mine : env) {
      replaced = replaced || entry.substr(0, entry.find('=') + 1) == mine.substr(0, mine.find('=') + 1);
    }
    if (!replaced) inherited.push_back(entry);
  }
  inherited.insert(inherited.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (const std::string& e : inherited) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    return nullptr;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, 0);
    if (chdir(dir.c_str()) != 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(126);
    if (options.fileSizeLimit >= 0) {
      rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  std::unique_ptr<ChildProcess> child(new ChildProcess());
  child->pid_ = pid;
  child->outFd_ = out[0];
  child->errFd_ = err[0];
  child->pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  return child;
}

ChildProcess::~ChildProcess() {
  if (!exitStatus_) {
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  CloseFd(outFd_);
  CloseFd(errFd_);
  CloseFd(pidFd_);
}

void ChildProcess::CloseOut() {
  CloseFd(outFd_);
}

bool ChildProcess::Signal(int signal) const {
  return !exitStatus_ && kill(pid_, signal) == 0;
}

std::string ChildProcess::StatusText() const {
  if (!exitStatus_) return "running";
  int s = *exitStatus_;
  if (WIFEXITED(s)) return "exit " + std::to_string(WEXITSTATUS(s));
  if (WIFSIGNALED(s)) return "signal " + std::to_string(WTERMSIG(s));
  return "status " + std::to_string(s);
}

void ChildProcess::Reap() {
  if (exitStatus_) return;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    exitStatus_ = status;
    CloseFd(pidFd_);
  }
}

void ChildProcess::CollectPollFds(std::vector<pollfd>& fds, std::vector<int*>& owners) {
  for (int* fd : {&outFd_, &errFd_, &pidFd_}) {
    if (*fd < 0) continue;
    fds.push_back({*fd, POLLIN, 0});
    owners.push_back(fd);
  }
}

bool PumpUntil(const std::vector<ChildProcess*>& children, const std::function<bool()>& done,
               Deadline deadline) {
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::vector<pollfd> fds;
    std::vector<int*> owners;
    std::vector<ChildProcess*> ownerChild;
    bool needReapCheck = false;
    for (ChildProcess* c : children) {
      std::size_t before = fds.size();
      c->CollectPollFds(fds, owners);
      ownerChild.insert(ownerChild.end(), fds.size() - before, c);
      if (!c->exitStatus_ && c->pidFd_ < 0) needReapCheck = true;
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    if (needReapCheck && ms > kReapCheckMs) ms = kReapCheckMs;
    // done() may look at files or sockets, which no pipe announces.
    if (ms > kRecheckMs) ms = kRecheckMs;
    if (fds.empty() && !needReapCheck) return done();  // no child left to change anything
    int n = poll(fds.data(), fds.size(), static_cast<int>(ms));
    if (n < 0 && errno != EINTR) return done();
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      ChildProcess* c = ownerChild[i];
      int* fd = owners[i];
      if (fd == &c->pidFd_) {
        c->Reap();
        continue;
      }
      char buffer[4096];
      ssize_t got = read(*fd, buffer, sizeof buffer);
      if (got > 0) {
        (fd == &c->outFd_ ? c->out_ : c->err_).append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        CloseFd(*fd);
      }
    }
    for (ChildProcess* c : children) {
      if (c->pidFd_ < 0) c->Reap();
    }
  }
  return true;
}

}  // namespace pelvaron::testing
