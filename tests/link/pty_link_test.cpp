// The real serial port adapter and the link against the simulator over a real
// pseudo-terminal. Real time passes here (the link's own waits and reads),
// but nothing sleeps to wait for anything: each step blocks on the link.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "app/apply_message.h"
#include "link/receiver_link.h"
#include "objects/object_registry.h"
#include "platform/posix_serial_port.h"
#include "platform/system_clock.h"
#include "protocol/event_protocol.h"
#include "sim/simulator.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using sim::Simulator;
using testing::FakeClock;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

const OperatorMessage kWrongLengthBox{
    "Debug information: there were very many or too few digits loaded on the Current Data request!", "",
    MessageIcon::None};
const OperatorMessage kChecksumBox{"Ошибка контрольной суммы!", "Ошибка", MessageIcon::Error};

class PtyLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { StartSimulator({}); }

  void StartSimulator(sim::SimulatorOptions options) {
    std::string error;
    simulator = Simulator::OnNewPty(std::move(options), &error);
    ASSERT_TRUE(simulator) << error;
    simulator->Start();
    ASSERT_EQ(devices.Add("COM1=" + simulator->DevicePath()), "");
    ASSERT_EQ(link.OpenComPort(), 0) << (op.messages.empty() ? "" : op.messages[0].text);
  }

  void Sim(const std::string& line) {
    std::string error;
    ASSERT_TRUE(simulator->Apply(line, &error)) << line << ": " << error;
  }

  // The decoder proper, writing into a protocol in memory.
  FrameSink Decoder() {
    return [this](const std::uint8_t* buffer) {
      frames.emplace_back(buffer, buffer + kMessageSize);
      return DecodeFrame(buffer, protocol, op, objects);
    };
  }

  // Exchanges until the line is quiet again after a fault. A flood still
  // coming in ends each read after 4 bytes, so the bound is generous.
  bool StatusUntilClean(int attempts = 500) {
    for (int i = 0; i < attempts; ++i) {
      std::uint8_t status = 0;
      if (link.RequestStatus(status) == 0 && status == simulator->StatusByte()) return true;
    }
    return false;
  }

  ConsoleSettings settings = ConsoleSettings::Defaults();
  SystemClock clock;
  FakeClock stampClock;
  MemoryFileSystem fs;
  RecordingOperator op;
  DeviceMap devices;
  PosixSerialPort port;
  ReceiverLink link{port, clock, op, settings, devices};
  EventProtocol protocol{settings, stampClock, fs, op};
  ObjectRegistry objects{fs, op};
  std::vector<std::vector<std::uint8_t>> frames;
  std::unique_ptr<Simulator> simulator;
};

TEST_F(PtyLinkTest, StatusAndMessagesEndToEnd) {
  std::uint8_t status = 0;
  ASSERT_EQ(link.RequestStatus(status), 0);
  EXPECT_EQ(status, STATUS_CASE_CLOSED);

  Sim("contact-id addr=1234 restore code=130 part=1 zone=1");
  Sim("radio addr=0x1234 event=0x10 new source=5 detail=1 expander=3 kind=1");
  Sim("status line-fault");
  ASSERT_EQ(link.RequestStatus(status), 0);
  EXPECT_EQ(status, STATUS_NEW_MESSAGE | STATUS_LINE_FAULT | STATUS_CASE_CLOSED);

  link.PollMessages(Decoder());
  link.PollMessages(Decoder());
  ASSERT_EQ(link.RequestStatus(status), 0);
  EXPECT_EQ(status, STATUS_LINE_FAULT | STATUS_CASE_CLOSED);
  EXPECT_EQ(simulator->Requests(), (std::vector<std::string>{"gs", "gs", "gn", "gn", "gs"}));
  EXPECT_TRUE(op.messages.empty());

  const auto& log = protocol.EventLog();
  auto has = [&](const std::string& text) { return std::find(log.begin(), log.end(), text) != log.end(); };
  EXPECT_TRUE(has("    [ 18  52  31  1  19  0  1  0  0  122  ]"));
  EXPECT_TRUE(has("     Адрес объекта:      [1234]"));
  EXPECT_TRUE(has("    [130.восст]"));
  EXPECT_TRUE(has("    (Тело: 10 85 01 31)"));
  EXPECT_TRUE(has("     Адрес объекта:      [4660]"));
}

TEST_F(PtyLinkTest, BadAnswersAreAskedForAgainWithCurrent) {
  Sim("loop-state addr=12 kind=2 guard=3 armed1 linked1");
  Sim("badsum 1 on=gn");
  Sim("short 2 on=gc");
  link.PollMessages(Decoder());
  EXPECT_EQ(simulator->Requests(), (std::vector<std::string>{"gn", "gc", "gc", "gc"}));
  EXPECT_EQ(op.messages, (std::vector<OperatorMessage>{kChecksumBox, kWrongLengthBox, kWrongLengthBox}));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1][2], 0x0A);
  EXPECT_NE(std::find(protocol.EventLog().begin(), protocol.EventLog().end(),
                      "  Контрольное извещение от охранника N 3"),
            protocol.EventLog().end());
}

TEST_F(PtyLinkTest, GivesUpAfterFiveCurrentRequests) {
  Sim("contact-id addr=1");
  Sim("short always on=gn,gc");
  link.PollMessages(Decoder());
  EXPECT_EQ(simulator->Requests(), (std::vector<std::string>{"gn", "gc", "gc", "gc", "gc", "gc"}));
  EXPECT_EQ(op.messages, std::vector<OperatorMessage>(5, kWrongLengthBox));
  EXPECT_TRUE(frames.empty());
}

TEST_F(PtyLinkTest, ReadTimeOutsSplitSlowAnswers) {
  Sim("contact-id addr=1");
  Sim("contact-id addr=2");
  // An answer at line pace is one answer. (Gaps just under the 10 ms interval
  // are left to the read-deadline tests: a busy machine may stretch them.)
  EXPECT_EQ(link.GetNewMessage(Decoder()), 0);
  // 25 ms between bytes is past the interval: the read ends early, the length is wrong.
  Sim("bytewise 1 gap=25ms on=gn");
  EXPECT_NE(link.GetNewMessage(Decoder()), 0);
  EXPECT_EQ(frames.size(), 1u);
  // The rest of that answer trickles in; exchanges recover once it is over.
  EXPECT_TRUE(StatusUntilClean());
  // A status byte later than the 90 ms a status read may take is no answer.
  Sim("late 1 delay=150ms on=gs");
  std::uint8_t status = 0;
  EXPECT_EQ(link.RequestStatus(status), 1);
  EXPECT_TRUE(StatusUntilClean());
}

TEST_F(PtyLinkTest, ParametersReadWrittenAndPartlyStored) {
  ParameterBlock block{};
  EXPECT_EQ(link.ReadParameters(block), 0);
  EXPECT_EQ(block, (ParameterBlock{{0x00, 0x00, 0x02, 0x04, 0x80}}));

  const ParameterBlock written{{0x03, 0x11, 0x03, 0x04, 0x80}};
  EXPECT_EQ(link.WriteParameters(written), 0);
  EXPECT_EQ(simulator->Parameters(), (std::array<std::uint8_t, 5>{0x03, 0x11, 0x03, 0x04, 0x80}));

  Sim("params 01 02 03 04 05");
  EXPECT_EQ(link.ReadParameters(block), 4);
  EXPECT_EQ(block, (ParameterBlock{{0x01, 0x02, 0x03, 0x04, 0x05}}));

  Sim("params 07 11 03 04 80");
  Sim("partial-store always keep=2");
  EXPECT_EQ(link.WriteParameters(ParameterBlock{{0x03, 0x11, 0x01, 0x00, 0x80}}), 5);
  EXPECT_EQ(simulator->Parameters(), (std::array<std::uint8_t, 5>{0x03, 0x11, 0x03, 0x04, 0x80}));

  Sim("no-faults");
  Sim("badsum 1 on=gd");
  EXPECT_EQ(link.ReadParameters(block), 3);
  Sim("silence 500ms");
  EXPECT_EQ(link.WriteParameters(written), 1) << "a silent receiver: the read-back fails, not the compare";
  EXPECT_EQ(simulator->Requests(),
            (std::vector<std::string>{"gd", "sd", "gd", "gd", "sd", "gd", "gd", "sd", "gd"}));
}

TEST_F(PtyLinkTest, NoiseFloodsAndHalfFramesNeverOverrunOrHang) {
  Sim("contact-id addr=1");
  Sim("noise 600");
  std::uint8_t status = 0;
  int r = link.RequestStatus(status);
  EXPECT_TRUE(r == 1 || r == 2) << r;
  link.PollMessages(Decoder());
  ASSERT_TRUE(StatusUntilClean());

  Sim("contact-id addr=2");
  Sim("long 1 extra=400 on=gn");
  Sim("short 1 cut=5 on=gc");
  link.PollMessages(Decoder());
  for (const auto& f : frames) EXPECT_EQ(f.size(), kMessageSize);
  EXPECT_TRUE(StatusUntilClean());
  // The link still works as before.
  Sim("contact-id addr=3");
  frames.clear();
  op.messages.clear();
  link.PollMessages(Decoder());
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][1], 0x03);
}

TEST_F(PtyLinkTest, SecondOpenOfTheSameDeviceIsRefused) {
  PosixSerialPort second;
  EXPECT_NE(second.Open(simulator->DevicePath()), 0);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_NE(second.LastErrorText(), "");

  RecordingOperator op2;
  ReceiverLink link2{second, clock, op2, settings, devices};
  EXPECT_EQ(link2.OpenComPort(), 1);
  ASSERT_EQ(op2.messages.size(), 1u);
  EXPECT_EQ(op2.messages[0].text,
            "Не удаётся обнаружить COM1 !\n Возможно, ресурс используется другой программой.");
  EXPECT_FALSE(link2.bComOpen());

  // Once the first lets go, the device can be had.
  link.CloseComPort();
  EXPECT_EQ(link2.OpenComPort(), 0);
  std::uint8_t status = 0;
  EXPECT_EQ(link2.RequestStatus(status), 0);
}

TEST_F(PtyLinkTest, MissingDeviceFailsToOpen) {
  link.CloseComPort();
  DeviceMap other;
  ASSERT_EQ(other.Add("COM1=/dev/pelvaron-no-such-device"), "");
  ReceiverLink link2{port, clock, op, settings, other};
  EXPECT_EQ(link2.OpenComPort(), 1);
  EXPECT_EQ(link2.LastOpenError(), ENOENT);
  EXPECT_FALSE(link2.IsOpen());
  std::uint8_t status = 0;
  EXPECT_EQ(link2.RequestStatus(status), 1);
}

// The device vanishes under an open port and comes back under a new path,
// which the --link symlink follows.
TEST(PtyVanishTest, DeviceGoneAndBack) {
  char dirTemplate[] = "/tmp/pelvaron-link-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string linkPath = std::string(dirTemplate) + "/receiver";

  std::mutex mutex;
  std::condition_variable changed;
  std::string newPath;
  sim::SimulatorOptions options;
  options.linkPath = linkPath;
  options.onDevicePath = [&](const std::string& path) {
    std::lock_guard lock(mutex);
    newPath = path;
    changed.notify_all();
  };
  std::string error;
  auto simulator = Simulator::OnNewPty(options, &error);
  ASSERT_TRUE(simulator) << error;
  const std::string firstPath = simulator->DevicePath();
  simulator->Start();

  ConsoleSettings settings = ConsoleSettings::Defaults();
  SystemClock clock;
  RecordingOperator op;
  DeviceMap devices;
  ASSERT_EQ(devices.Add("COM1=" + linkPath), "");
  PosixSerialPort port;
  ReceiverLink link{port, clock, op, settings, devices};
  ASSERT_EQ(link.OpenComPort(), 0);
  std::uint8_t status = 0;
  ASSERT_EQ(link.RequestStatus(status), 0);

  std::string vanishError;
  ASSERT_TRUE(simulator->Apply("vanish 200ms", &vanishError)) << vanishError;
  ParameterBlock block{};
  EXPECT_EQ(link.RequestStatus(status), 1);
  EXPECT_EQ(link.ReadParameters(block), 1);
  EXPECT_NE(link.GetNewMessage([](const std::uint8_t*) { return 0; }), 0);
  EXPECT_TRUE(link.IsOpen()) << "the handle stays until the console reopens";
  EXPECT_TRUE(link.PortFailed()) << "a hung-up line is a failed device, not silence";

  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return !newPath.empty(); }));
  }
  EXPECT_NE(newPath, firstPath);
  EXPECT_EQ(std::filesystem::read_symlink(linkPath).string(), newPath);
  link.CloseComPort();
  ASSERT_EQ(link.OpenComPort(), 0);
  EXPECT_FALSE(link.PortFailed());
  EXPECT_EQ(link.RequestStatus(status), 0);
  EXPECT_EQ(status, STATUS_CASE_CLOSED);

  simulator.reset();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(linkPath))) << "the link goes with it";
  std::filesystem::remove_all(dirTemplate);
}

// Exclusive by the device itself, whatever path names it and whoever asks
// (these tests run as root in CI, which TIOCEXCL does not stop).
class PtyLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/pelvaron-lock-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    folder = dir;
    std::filesystem::create_directory(folder / "locks");
    std::filesystem::create_directory(folder / "other-locks");
    std::string error;
    simulator = Simulator::OnNewPty({}, &error);
    ASSERT_TRUE(simulator) << error;
    simulator->Start();
    device = simulator->DevicePath();
    lockFile = folder / "locks" / PosixSerialPort::LockName(device);
  }
  void TearDown() override {
    simulator.reset();
    std::filesystem::remove_all(folder);
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static pid_t DeadPid() {
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
  }
  static std::string LockText(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
  }

  std::filesystem::path folder;
  std::unique_ptr<Simulator> simulator;
  std::string device;
  std::filesystem::path lockFile;
};

TEST_F(PtyLockTest, TheLockFileIsNamedForTheDevice) {
  EXPECT_EQ(PosixSerialPort::LockName("/dev/ttyUSB0"), "LCK..ttyUSB0");
  EXPECT_EQ(PosixSerialPort::LockName("/dev/pts/3"), "LCK..pts_3");
  EXPECT_EQ(PosixSerialPort::LockName("/dev/serial/by-id/usb-x"), "LCK..serial_by-id_usb-x");
}

TEST_F(PtyLockTest, ALinkAndItsDeviceAreOnePort) {
  const auto link = folder / "receiver";
  std::filesystem::create_symlink(device, link);
  PosixSerialPort first((folder / "locks").string());
  ASSERT_EQ(first.Open(link.string()), 0) << first.LastErrorText();
  EXPECT_EQ(first.LockFile(), lockFile.string()) << "locked by the device, not by the link's name";
  EXPECT_EQ(Read(lockFile), LockText(getpid()));

  PosixSerialPort byDevice((folder / "locks").string());
  EXPECT_EQ(byDevice.Open(device), EBUSY);
  EXPECT_FALSE(byDevice.IsOpen());
  // Even without the lock file (another lock folder), the device's own lock holds.
  PosixSerialPort elsewhere((folder / "other-locks").string());
  EXPECT_EQ(elsewhere.Open(device), EBUSY);
  EXPECT_TRUE(std::filesystem::is_empty(folder / "other-locks"));

  first.Close();
  EXPECT_FALSE(std::filesystem::exists(lockFile)) << "the lock file goes with the port";
  EXPECT_EQ(byDevice.Open(device), 0);

  // Its lock file taken over meanwhile by another process (which found it
  // stale, say): closing leaves the other's file alone.
  { std::ofstream(lockFile, std::ios::trunc) << LockText(getppid()); }
  byDevice.Close();
  EXPECT_EQ(Read(lockFile), LockText(getppid())) << "another's lock file is never removed";
}

TEST_F(PtyLockTest, AStaleLockFileIsTakenOverALiveOneRefuses) {
  {
    std::ofstream(lockFile) << LockText(getppid());  // a process that runs
  }
  PosixSerialPort port((folder / "locks").string());
  EXPECT_EQ(port.Open(device), EBUSY);
  EXPECT_EQ(Read(lockFile), LockText(getppid())) << "another's lock file is left alone";

  for (const std::string& stale : {LockText(DeadPid()), std::string("garbage\n"), std::string()}) {
    SCOPED_TRACE(stale);
    { std::ofstream(lockFile, std::ios::trunc) << stale; }
    ASSERT_EQ(port.Open(device), 0) << port.LastErrorText();
    EXPECT_EQ(Read(lockFile), LockText(getpid()));
    port.Close();
  }
}

// A console killed with the port open (kill -9, the watchdog) never closes it;
// the simulator, like any program at a pseudo-terminal's other end, keeps the
// pty and its modes in being. The restart must find it neither exclusive
// (which only root gets past) nor held by the dead one's lock file.
TEST(PtyKilledConsoleTest, ItsRestartOpensThePseudoTerminalAgain) {
  char dir[] = "/tmp/pelvaron-killed-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::filesystem::path locks = std::filesystem::path(dir) / "locks";
  std::filesystem::create_directory(locks);
  std::string error;
  // Not started: no thread of its own yet, so the fork below copies only ours.
  auto simulator = Simulator::OnNewPty({}, &error);
  ASSERT_TRUE(simulator) << error;
  const std::string device = simulator->DevicePath();

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PosixSerialPort port(locks.string());
    _exit(port.Open(device) == 0 ? 0 : 1);  // no Close: as if killed
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the first console could not open " << device;

  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  int exclusive = -1;
  EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0) << "left exclusive: a restart that is not root gets EBUSY for good";
  close(fd);

  PosixSerialPort restarted(locks.string());
  EXPECT_EQ(restarted.Open(device), 0) << restarted.LastErrorText();
  EXPECT_EQ(restarted.LockFile(), (locks / PosixSerialPort::LockName(device)).string());
  restarted.Close();
  simulator.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace pelvaron
