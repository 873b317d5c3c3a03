// One console to a working folder, held by the kernel's lock: a second one
// learns who holds it, and a console killed outright leaves nothing behind
// that refuses the next start.
#include "platform/working_folder_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace pelvaron {
namespace {

class WorkingFolderLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/pelvaron-folder-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(folder_);
  }

  std::filesystem::path folder_, previous_;
};

TEST_F(WorkingFolderLockTest, ASecondHolderIsRefusedNamingTheFirstAndAKilledOneHoldsNothing) {
  const mode_t mask = umask(0);  // the file is never world-writable, whatever the umask
  {
    WorkingFolderLock first;
    umask(mask);
    EXPECT_FALSE(first.Taken());
    EXPECT_EQ(std::filesystem::status(kWorkingFolderLockName).permissions(), std::filesystem::perms(0644));
    WorkingFolderLock second;  // another opening counts as another console, also in one process
    EXPECT_TRUE(second.Taken());
    EXPECT_EQ(second.Folder(), folder_.string());
    EXPECT_EQ(second.HolderPid(), static_cast<long>(getpid()));
    EXPECT_EQ(second.HolderProgram(), "test_platform");
  }
  EXPECT_FALSE(WorkingFolderLock().Taken()) << "let go with its holder";

  // A holder killed outright (kill -9, the watchdog) is gone with its lock.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    WorkingFolderLock held;
    const char c = held.Taken() ? 'n' : 'y';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  {
    WorkingFolderLock refused;
    EXPECT_TRUE(refused.Taken());
    EXPECT_EQ(refused.HolderPid(), static_cast<long>(child));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_FALSE(WorkingFolderLock().Taken());
}

}  // namespace
}  // namespace pelvaron
