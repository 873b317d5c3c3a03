// The process's dealings with the system: shutdown signals that cut a waiting
// read short, a closed pipe that ends nothing, the service manager's
// readiness, watchdog and journal, and the working folder's lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix_serial_port.h"
#include "platform/service_notifier.h"
#include "platform/shutdown_signals.h"
#include "platform/working_folder_lock.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

// Runs body in a child process (signal masks and requests are the process's
// for good); the child's exit code, or 100 + the signal that ended it.
int InChild(int (*body)()) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

int AShutdownSignalCutsAReadShortAndStays() {
  BlockShutdownSignals();
  int master = -1, slave = -1;
  char name[256];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return 2;
  PosixSerialPort port(std::string("/tmp"));
  if (port.Open(name) != 0) return 3;
  // No time-out at all: only a request to end can end this read.
  if (!port.SetTimeouts(CommTimeouts{0, 0, 0, 0, 0})) return 4;
  if (WaitForShutdownSignalFor(0) != 0 || port.Cancelled()) return 5;
  kill(getpid(), SIGHUP);
  std::uint8_t buffer[10];
  if (port.Read(buffer, sizeof buffer) != 0) return 6;
  if (!port.Cancelled()) return 7;
  if (WaitForShutdownSignalFor(1000) != SIGHUP) return 8;
  // A later SIGTERM does not replace the first request.
  kill(getpid(), SIGTERM);
  if (WaitForShutdownSignalFor(0) != SIGHUP || ShutdownRequested() != SIGHUP) return 9;
  return 0;
}

int AClosedPipeEndsNothing() {
  BlockShutdownSignals();
  int fds[2];
  if (pipe(fds) != 0) return 2;
  close(fds[0]);
  if (write(fds[1], "x", 1) != -1 || errno != EPIPE) return 3;
  return 0;
}

TEST(ShutdownSignals, ARequestCutsAWaitingReadShortAndIsKept) {
  EXPECT_EQ(InChild(AShutdownSignalCutsAReadShortAndStays), 0);
}

TEST(ShutdownSignals, AClosedPipeIsAFailedWriteNotTheEnd) {
  EXPECT_EQ(InChild(AClosedPipeEndsNothing), 0);
}

class ServiceNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = "/tmp/pelvaron-notify-" + std::to_string(getpid());
    unlink(path.c_str());
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(socket_, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  void TearDown() override {
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    close(socket_);
    unlink(path.c_str());
  }
  std::vector<std::string> Received() {
    std::vector<std::string> all;
    char buffer[512];
    ssize_t n;
    while ((n = recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) all.emplace_back(buffer, n);
    return all;
  }

  std::string path;
  int socket_ = -1;
};

TEST_F(ServiceNotifierTest, ReadyWatchdogAtHalfTheIntervalAndStopping) {
  setenv("NOTIFY_SOCKET", path.c_str(), 1);
  setenv("WATCHDOG_USEC", "2000000", 1);
  ServiceNotifier service;
  ASSERT_TRUE(service.Active()) << testing::ProblemOf(service.Reachable()).text;
  service.Ready("polling");
  for (std::int64_t ms : {10000, 10500, 10999, 11000, 11400, 12100}) service.Tick(ms);
  service.Stopping();
  EXPECT_EQ(Received(), (std::vector<std::string>{"READY=1\nSTATUS=polling", "WATCHDOG=1", "WATCHDOG=1",
                                                  "WATCHDOG=1", "STOPPING=1"}));
}

TEST_F(ServiceNotifierTest, WithoutAManagerNothingIsSent) {
  ServiceNotifier service;
  EXPECT_FALSE(service.Active());
  EXPECT_TRUE(testing::Succeeded(service.Reachable()));
  service.Ready("polling");
  service.Tick(0);
  EXPECT_TRUE(Received().empty());
  // A manager without a watchdog hears the rest.
  setenv("NOTIFY_SOCKET", path.c_str(), 1);
  ServiceNotifier managed;
  managed.Tick(0);
  managed.Ready("polling");
  EXPECT_EQ(Received(), std::vector<std::string>{"READY=1\nSTATUS=polling"});
}

TEST(Journal, StderrIsTheJournalOnlyWhenItIsTheStreamNamed) {
  struct stat st {};
  ASSERT_EQ(fstat(STDERR_FILENO, &st), 0);
  setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
  EXPECT_TRUE(StderrGoesToJournal());
  setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1)).c_str(), 1);
  EXPECT_FALSE(StderrGoesToJournal()) << "a stream handed down from elsewhere";
  unsetenv("JOURNAL_STREAM");
  EXPECT_FALSE(StderrGoesToJournal());
}

// One console to a working folder: a second one learns who holds it, and one
// killed outright leaves nothing that refuses the next start.
TEST(WorkingFolderLock, ASecondHolderLearnsTheFirstAndAKilledOneHoldsNothing) {
  char name[] = "/tmp/pelvaron-folder-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(name);
  const mode_t mask = umask(0);
  {
    WorkingFolderLock first;
    umask(mask);
    EXPECT_FALSE(first.Taken());
    EXPECT_EQ(std::filesystem::status(kWorkingFolderLockName).permissions(), std::filesystem::perms(0644));
    EXPECT_EQ(WorkingFolderLock().HolderProgram(), "test_platform") << "another opening, also in one process";
  }
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    WorkingFolderLock held;
    _exit(write(ready[1], held.Taken() ? "n" : "y", 1) == 1 ? pause() : 1);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y') << "let go with its holder";
  EXPECT_EQ(WorkingFolderLock().HolderPid(), static_cast<long>(child));
  kill(child, SIGKILL);  // kill -9, the watchdog
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_FALSE(WorkingFolderLock().Taken());
  std::filesystem::current_path(before);
  std::filesystem::remove_all(name);
}

}  // namespace
}  // namespace pelvaron
