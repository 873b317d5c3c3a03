#include "sim/simulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "sim/traffic.h"

namespace pelvaron::sim {
namespace {

TEST(SimulatorTest, PlaysItsScenarioToTheExit) {
  std::mutex mutex;
  std::condition_variable done;
  bool exited = false;
  SimulatorOptions options;
  auto parsed = ParseScenario(
      "status line-fault\n"
      "contact-id addr=1\n"
      "wait 30ms\n"
      "dialler addr=2 msg=control\n"
      "params 01 02 03 04 85\n"
      "exit\n"
      "contact-id addr=3\n",
      "t.scn");
  ASSERT_TRUE(parsed.ok());
  options.scenario = parsed.scenario;
  options.onExit = [&] {
    std::lock_guard lock(mutex);
    exited = true;
    done.notify_all();
  };
  std::string error;
  auto simulator = Simulator::OnNewPty(options, &error);
  ASSERT_TRUE(simulator) << error;
  EXPECT_EQ(simulator->DevicePath().rfind("/dev/pts/", 0), 0u) << simulator->DevicePath();
  simulator->Start();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, std::chrono::seconds(5), [&] { return exited; }));
  }
  EXPECT_TRUE(simulator->Finished());
  EXPECT_EQ(simulator->QueueSize(), 2u) << "nothing after exit runs";
  EXPECT_EQ(simulator->StatusByte(), 0x0E);
  EXPECT_EQ(simulator->Parameters(), (std::array<std::uint8_t, 5>{1, 2, 3, 4, 0x85}));
  simulator->Stop();
  simulator->Stop();
}

TEST(SimulatorTest, BadLinesAreRefusedAndChangeNothing) {
  auto simulator = Simulator::OnNewPty({}, nullptr);
  ASSERT_TRUE(simulator);
  std::string error;
  EXPECT_FALSE(simulator->Apply("contact-id", &error));
  EXPECT_NE(error.find("addr="), std::string::npos);
  EXPECT_EQ(simulator->QueueSize(), 0u);
  EXPECT_TRUE(simulator->Apply("contact-id addr=5", &error));
  EXPECT_EQ(simulator->QueueSize(), 1u);
}

TEST(SimulatorTest, LinkOptionRefusesToReplaceAFile) {
  char path[] = "/tmp/pelvaron-not-a-link-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  SimulatorOptions options;
  options.linkPath = path;
  std::string error;
  EXPECT_FALSE(Simulator::OnNewPty(options, &error));
  EXPECT_NE(error.find("is not a symbolic link"), std::string::npos) << error;
  EXPECT_EQ(access(path, F_OK), 0) << "the file is left alone";
  unlink(path);
}

// Serving a real serial device: here the far end of a pty pair we made, with
// the test speaking for the console on the other end.
TEST(SimulatorTest, ServesADevice) {
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios t{};
  tcgetattr(master, &t);
  cfmakeraw(&t);
  tcsetattr(master, TCSANOW, &t);

  std::string error;
  auto simulator = Simulator::OnDevice(name, {}, &error);
  ASSERT_TRUE(simulator) << error;
  EXPECT_EQ(simulator->DevicePath(), name);
  simulator->Start();
  ASSERT_EQ(write(master, "gs", 2), 2);
  pollfd p{master, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);
  std::uint8_t status = 0;
  ASSERT_EQ(read(master, &status, 1), 1);
  EXPECT_EQ(status, 0x08);
  EXPECT_EQ(simulator->Requests(), std::vector<std::string>{"gs"});
  simulator.reset();
  close(master);
  close(slave);

  EXPECT_FALSE(Simulator::OnDevice("/dev/pelvaron-no-such-port", {}, &error));
  EXPECT_NE(error.find("cannot open /dev/pelvaron-no-such-port"), std::string::npos) << error;
}

TEST(RandomTrafficTest, RepeatableMixOfEveryKindWithRightSums) {
  RandomTraffic a(42), b(42), c(43);
  std::set<int> kinds;  // device type, or 100 + subtype for binary addresses
  int differ = 0, frames = 0, statusChanges = 0, faults = 0;
  for (int i = 0; i < 500; ++i) {
    auto ea = a.Next(), eb = b.Next(), ec = c.Next();
    EXPECT_EQ(ea.afterMs, eb.afterMs);
    EXPECT_EQ(ea.frame, eb.frame);
    if (ea.frame != ec.frame) ++differ;
    EXPECT_GE(ea.afterMs, 50);
    EXPECT_LE(ea.afterMs, 4500);
    if (ea.statusMask) ++statusChanges;
    if (ea.fault) ++faults;
    if (!ea.frame) continue;
    ++frames;
    const Frame& f = *ea.frame;
    EXPECT_EQ(FrameSum(f.data()), f[8] * 256 + f[9]);
    int type = f[2] & 0x1F;
    kinds.insert(type >= 16 && type <= 23 ? 100 + f[3] : type == 10 ? 10 : 31);
  }
  EXPECT_EQ(kinds, (std::set<int>{10, 31, 101, 106}));
  EXPECT_GT(differ, 400) << "another seed, other traffic";
  EXPECT_GT(frames, 400);
  EXPECT_GT(statusChanges, 0);
  EXPECT_GT(faults, 0);
}

}  // namespace
}  // namespace pelvaron::sim
