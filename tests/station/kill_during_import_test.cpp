// An import killed at any moment leaves the old plans or the new, never a mix.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "killing_vfs.h"
#include "station_folder.h"

namespace pelvaron {
namespace {

// Plans enough for hundreds of pages; what tells the two tables apart is in
// every plan and in their number.
std::vector<ResponsePlan> Table(int count, const std::string& word) {
  std::vector<ResponsePlan> plans;
  for (int i = 1; i <= count; ++i) {
    char address[8];
    std::snprintf(address, sizeof address, "%04d", i);
    ResponsePlan& p = plans.emplace_back();
    p.address = address;
    p.instructions = word + " " + address + ":\nпозвонить ответственным лицам по очереди, затем выслать группу.";
    for (int k = 1; k <= 3; ++k) {
      p.keyHolders.push_back({word + " лицо " + std::to_string(k), "владелец", {"+7 921 000-00-0" + std::to_string(k)}});
    }
    p.guardGroup = "ГБР-" + std::to_string(i % 7);
    p.guardPhone = "8 (812) 555-00-0" + std::to_string(i % 10);
  }
  return plans;
}

class KillDuringImportTest : public testing::StationFolder {};

TEST_F(KillDuringImportTest, LeavesTheOldPlansOrTheNewNeverAMix) {
  testing::KillingVfs::RegisterAsDefault();
  const std::vector<ResponsePlan> before = Table(300, "старый"), after = Table(350, "новый");
  {
    StationStore store;
    ASSERT_TRUE(store.Open(path, StationStore::Mode::ReadWrite));
    ASSERT_TRUE(store.ReplaceAllPlans(before));
  }
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  int keptOld = 0, tookNew = 0;
  // Killed before the point-th write, sync or truncate of the import (and
  // of its checkpoint at the end), until one runs through.
  for (long point = 1;; point += 1 + static_cast<long>(random() % static_cast<unsigned long>(point / 10 + 1))) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      testing::KillingVfs::KillAt(point);
      StationStore store;
      const bool done = store.Open(path, StationStore::Mode::ReadWrite) && store.ReplaceAllPlans(after);
      store.Close();
      _exit(done ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    ASSERT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "point " << point;

    StationStore store;
    ASSERT_TRUE(store.Open(path, StationStore::Mode::ReadWrite));
    const std::vector<ResponsePlan> now = PlansIn(store);
    if (now == before) {
      ++keptOld;
    } else {
      ASSERT_TRUE(now == after) << "a mix of " << now.size() << " plans after a kill at point " << point;
      ++tookNew;
      ASSERT_TRUE(store.ReplaceAllPlans(before));
    }
    if (!killed) break;
  }
  // Kills fell before the commit and after it.
  EXPECT_GT(keptOld, 0);
  EXPECT_GT(tookNew, 1);
}

}  // namespace
}  // namespace pelvaron
