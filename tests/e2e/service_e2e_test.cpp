// pelvaron-headless as a station's service meets the faults of a real
// station: the receiver's device vanishing and coming back under the same
// link, a stale lock, signals while the ticks run late, a closed stdout, a
// second console on the same device, a full disk, symlinked and read-only
// files, and the service manager's socket. Every wait is on a condition with a
// generous deadline; nothing sleeps to let time pass.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "core/cp1251.h"
#include "objects/object_table.h"
#include "platform/posix_serial_port.h"
#include "support/fakes.h"

namespace pelvaron::testing {
namespace {

#if defined(PELVARON_HEADLESS_PROGRAM) && defined(PELVARON_SIM_PROGRAM)

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// The protocol file's stamped lines in UTF-8, without their stamps.
std::vector<std::string> StampedTexts(const std::string& protocol) {
  std::vector<std::string> texts;
  std::istringstream lines(Cp1251ToUtf8(protocol));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 23 && line[2] == ':' && line[5] == ':' && line.compare(20, 3, "   ") == 0) {
      texts.push_back(line.substr(23));
    }
  }
  return texts;
}

// The settings file of a station on the given COM port index and protocol path.
std::string SettingsImage(int comPort, const std::string& protocolPath = "protocol.txt") {
  std::string bytes(208, '\0');
  bytes[0] = 1;
  bytes.replace(4, protocolPath.size(), protocolPath);
  bytes[204] = static_cast<char>(comPort);
  bytes[205] = 12;
  return bytes;
}

const char kClosingLine[] = "Выключение программы";
const char kRestored[] = "Восстановление связи с Велдор";
const char kLost[] = "Нет связи с Велдор!";
const char kRefused[] =
    "Ошибка: Не удаётся обнаружить COM1 ! Возможно, ресурс используется другой программой.";

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pelvaron-service-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    dir_ = pattern;
  }
  void TearDown() override {
    if (mounted_) umount2(mounted_->c_str(), MNT_DETACH);
    if (HasFailure()) {
      std::cerr << "The run's files are kept in " << dir_ << "\n";
      for (auto& [name, child] : Children()) {
        if (child) std::cerr << name << " (" << child->StatusText() << ") stderr:\n" << child->Err() << "\n";
      }
    } else {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }
  std::vector<std::pair<std::string, ChildProcess*>> Children() {
    return {{"simulator", sim_.get()}, {"console", console_.get()}, {"second console", second_.get()}};
  }
  std::vector<ChildProcess*> Running() {
    std::vector<ChildProcess*> all;
    for (auto& [name, child] : Children()) {
      if (child) all.push_back(child);
    }
    return all;
  }
  bool Until(const std::function<bool()>& done, int seconds = 60) {
    return PumpUntil(Running(), done, SecondsFromNow(seconds));
  }

  // The simulator on a new pty; its path (the first line it prints).
  std::string StartSimulator(const std::string& scenario = {}, const std::string& link = {}) {
    std::vector<std::string> argv = {PELVARON_SIM_PROGRAM};
    if (!scenario.empty()) {
      WriteFile(dir_ / "receiver.scn", scenario);
      argv.insert(argv.end(), {"--scenario", (dir_ / "receiver.scn").string()});
    }
    if (!link.empty()) argv.insert(argv.end(), {"--link", link});
    std::string error;
    sim_ = ChildProcess::Start(argv, dir_, &error);
    EXPECT_TRUE(sim_) << error;
    if (!sim_) return {};
    EXPECT_TRUE(Until([&] { return sim_->Out().find('\n') != std::string::npos; }, 20))
        << "the simulator printed no device path";
    return sim_->Out().substr(0, sim_->Out().find('\n'));
  }

  std::unique_ptr<ChildProcess> StartConsole(const fs::path& folder, std::vector<std::string> args,
                                             const ChildOptions& options = {}) {
    args.insert(args.begin(), PELVARON_HEADLESS_PROGRAM);
    std::string error;
    auto child = ChildProcess::Start(args, folder.string(), &error, options);
    EXPECT_TRUE(child) << error;
    return child;
  }

  // Asks the console to end and waits for it; its exit status text.
  std::string Stop(ChildProcess& child, int signal = SIGTERM) {
    EXPECT_TRUE(child.Signal(signal));
    EXPECT_TRUE(Until([&] { return child.Exited(); }, 30))
        << "the console did not end after signal " << signal;
    return child.StatusText();
  }

  fs::path dir_;
  std::optional<fs::path> mounted_;
  std::unique_ptr<ChildProcess> sim_, console_, second_;
};

TEST_F(ServiceTest, TheReceiverVanishesAndComesBackUnderTheSameLinkAndPollingResumes) {
  // Gone for 6 s: far longer than 121 ticks of 20 ms, so the link is lost and
  // restored in the protocol; the reopen is tried every 10 ticks meanwhile.
  const std::string link = (dir_ / "receiver").string();
  ASSERT_FALSE(
      StartSimulator("wait 3s\nvanish 6s\nwait 7s\ncontact-id addr=1234 new code=130 part=1 zone=5\n", link)
          .empty());
  console_ = StartConsole(dir_, {"--tick-ms", "20", "--device", "COM1=" + link});
  ASSERT_TRUE(console_);
  ASSERT_TRUE(Until([&] {
    return console_->Out().find("Номер зоны/пользователя:     [005]") != std::string::npos;
  })) << "polling did not resume; console so far:\n"
      << console_->Out();
  EXPECT_EQ(Stop(*console_), "exit 0");

  EXPECT_EQ(Count(sim_->Out(), "\n"), 2u) << "a new pty after the vanish: " << sim_->Out();
  const std::string& err = console_->Err();
  EXPECT_EQ(Count(err, "Связь с портом COM1 прервана: устройство отключено или неисправно."), 1u) << err;
  EXPECT_EQ(Count(err, "Порт COM1 снова открыт."), 1u) << err;
  EXPECT_EQ(Count(err, "Не удаётся обнаружить"), 0u) << "tries while it was gone are quiet:\n" << err;

  EXPECT_EQ(StampedTexts(ReadFile(dir_ / "protocol.txt")),
            (std::vector<std::string>{">>", "Включение программы", kRestored, kLost, kRestored,
                                      "Сообщение : ", kClosingLine}));
}

TEST_F(ServiceTest, ALockFileLeftByAKilledConsoleDoesNotBlockANewStart) {
  const std::string pty = StartSimulator();
  ASSERT_FALSE(pty.empty());
  const fs::path lockDir = fs::exists("/run/lock") ? "/run/lock" : "/var/lock";
  const fs::path lock = lockDir / PosixSerialPort::LockName(fs::canonical(pty).string());
  // A console killed with SIGKILL leaves its lock file; its PID is free.
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  {
    std::ofstream out(lock);
    out << std::setw(10) << dead << "\n";
    if (!out) GTEST_SKIP() << "cannot write in " << lockDir;
  }
  console_ = StartConsole(dir_, {"--tick-ms", "20", "--device", "COM1=" + pty});
  ASSERT_TRUE(console_);
  ASSERT_TRUE(Until([&] { return console_->Out().find(kRestored) != std::string::npos; }))
      << "the stale lock kept the console off the receiver";
  std::ostringstream ours;
  ours << std::setw(10) << console_->Pid() << "\n";
  EXPECT_EQ(ReadFile(lock), ours.str());
  EXPECT_EQ(Stop(*console_), "exit 0");
  EXPECT_FALSE(fs::exists(lock)) << "the lock file goes when the console ends";
  EXPECT_EQ(console_->Err(), "");
}

TEST_F(ServiceTest, ShutdownSignalsEndTheConsoleInOrderWhileTicksOverrun) {
  // The receiver says a message waits and never sends one: each tick asks
  // "gn" and five "gc" and waits out every read, some 1.7 s.
  for (int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const fs::path folder = dir_ / std::to_string(signal);
    fs::create_directory(folder);
    const std::string pty = StartSimulator("status-byte 0A\n");
    ASSERT_FALSE(pty.empty());
    console_ = StartConsole(folder, {"--device", "COM1=" + pty});
    ASSERT_TRUE(console_);
    ASSERT_TRUE(Until([&] { return console_->Err().find("Debug information") != std::string::npos; }))
        << "the ticks never reached the message requests";
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(Stop(*console_, signal), "exit 0");
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked)
            .count();
    RecordProperty("ms_to_end_after_signal_" + std::to_string(signal), static_cast<int>(ms));
    const std::vector<std::string> texts = StampedTexts(ReadFile(folder / "protocol.txt"));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), kClosingLine);
    sim_->Signal(SIGTERM);
    ASSERT_TRUE(Until([&] { return sim_->Exited(); }, 20));
  }
}

#ifdef PELVARON_PROGRAM
TEST_F(ServiceTest, TheWindowEndsInOrderOnSighupWhileTicksOverrun) {
  const std::string pty = StartSimulator("status-byte 0A\n");
  ASSERT_FALSE(pty.empty());
  std::string error;
  ChildOptions offscreen;
  offscreen.env = {"QT_QPA_PLATFORM=offscreen"};
  console_ = ChildProcess::Start({PELVARON_PROGRAM, "--device", "COM1=" + pty}, dir_.string(), &error, offscreen);
  ASSERT_TRUE(console_) << error;
  // The first answered tick, then every tick asks for a message that never comes.
  ASSERT_TRUE(Until([&] { return ReadFile(dir_ / "protocol.txt").find(Cp(kRestored)) != std::string::npos; }));
  EXPECT_EQ(Stop(*console_, SIGHUP), "exit 0");
  const std::vector<std::string> texts = StampedTexts(ReadFile(dir_ / "protocol.txt"));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), kClosingLine);
}
#endif

TEST_F(ServiceTest, AClosedStdoutStopsOnlyThePrinting) {
  const std::string pty = StartSimulator("wait 500ms\ncontact-id addr=1234 new code=130 part=1 zone=7\n");
  ASSERT_FALSE(pty.empty());
  console_ = StartConsole(dir_, {"--tick-ms", "20", "--device", "COM1=" + pty});
  ASSERT_TRUE(console_);
  // `| head -1`: one line read, then the pipe closed.
  ASSERT_TRUE(Until([&] { return console_->Out().find('\n') != std::string::npos; }));
  console_->CloseOut();
  const std::string last = Cp("    Номер зоны/пользователя:     [007]\r\n");
  ASSERT_TRUE(Until([&] { return ReadFile(dir_ / "protocol.txt").find(last) != std::string::npos; }))
      << console_->StatusText();
  EXPECT_EQ(Stop(*console_), "exit 0") << "SIGPIPE must not end the console";
  EXPECT_EQ(StampedTexts(ReadFile(dir_ / "protocol.txt")).back(), kClosingLine);
}

TEST_F(ServiceTest, ASecondConsoleOnTheSameDeviceByAnotherPathIsRefused) {
  // Root gets past TIOCEXCL; the device's own lock holds for it too.
  const std::string link = (dir_ / "receiver").string();
  const std::string pty = StartSimulator("wait 4s\ncontact-id addr=1234 new code=130 part=1 zone=9\n", link);
  ASSERT_FALSE(pty.empty());
  console_ = StartConsole(dir_, {"--tick-ms", "20", "--device", "COM1=" + link});
  ASSERT_TRUE(console_);
  ASSERT_TRUE(Until([&] { return console_->Out().find(kRestored) != std::string::npos; }));
  const fs::path other = dir_ / "second";
  fs::create_directory(other);
  second_ = StartConsole(other, {"--tick-ms", "20", "--device", "COM1=" + pty});
  ASSERT_TRUE(second_);
  ASSERT_TRUE(Until([&] { return second_->Err().find(kRefused) != std::string::npos; }));
  // The message reaches the first console only; the second keeps trying, quietly.
  ASSERT_TRUE(Until([&] { return console_->Out().find("[009]") != std::string::npos; }));
  EXPECT_EQ(Stop(*second_), "exit 0");
  EXPECT_EQ(Stop(*console_), "exit 0");
  EXPECT_EQ(Count(second_->Err(), kRefused), 1u) << second_->Err();
  EXPECT_EQ(second_->Out().find("[009]"), std::string::npos);
  EXPECT_EQ(StampedTexts(ReadFile(other / "protocol.txt")),
            (std::vector<std::string>{">>", "Включение программы", kClosingLine}));
}

TEST_F(ServiceTest, OnAFullDiskTheProtocolKeepsOnlyWholeLines) {
  // A small tmpfs where the system lets us mount one, else the process's file
  // size limit: either way write(2) takes part of a message and then fails.
  const fs::path small = dir_ / "small";
  fs::create_directory(small);
  ChildOptions options;
  std::string protocolPath = "protocol.txt";
  const std::string line = Cp("06:12:2026, 08:47:42   Включение программы\r\n");
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") == 0) {
    mounted_ = small;
    protocolPath = "small/protocol.txt";
    WriteFile(small / "protocol.txt", line);
    std::ofstream filler(small / "filler", std::ios::binary);
    const std::string block(1024, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  } else {
    options.fileSizeLimit = 40000;  // above the objects file's 33936 bytes
    std::string prefill;
    while (prefill.size() + line.size() < 39000) prefill += line;
    WriteFile(dir_ / "protocol.txt", prefill);
  }
  WriteFile(dir_ / "pelvaron.ini", SettingsImage(0, protocolPath));
  std::string scenario;
  for (int i = 0; i < 40; ++i)
    scenario += "contact-id addr=1234 new code=130 part=1 zone=" + std::to_string(i) + "\n";
  const std::string pty = StartSimulator(scenario);
  ASSERT_FALSE(pty.empty());
  console_ = StartConsole(dir_, {"--tick-ms", "20", "--device", "COM1=" + pty}, options);
  ASSERT_TRUE(console_);
  ASSERT_TRUE(Until([&] { return console_->Out().find("[039]") != std::string::npos; }));
  EXPECT_EQ(Stop(*console_), "exit 0");
  EXPECT_NE(console_->Err().find("Error in opening protocol file"), std::string::npos) << console_->Err();

  const std::string protocol = ReadFile(dir_ / protocolPath);
  ASSERT_GE(protocol.size(), 2u);
  EXPECT_EQ(protocol.substr(protocol.size() - 2), "\r\n") << "a torn line at the end";
  // Every message that reached the file came whole: its header and its last line.
  EXPECT_EQ(Count(protocol, Cp("Сообщение : ")), Count(protocol, Cp("Номер зоны/пользователя:")));
  EXPECT_EQ(Count(protocol, "\r\n"), Count(protocol, "\n"));
}

TEST_F(ServiceTest, LinkedFilesStayLinksAndReadOnlyFilesStayReadOnly) {
  // A station whose files are links into a folder of their own.
  const fs::path real = dir_ / "real", station = dir_ / "station";
  fs::create_directory(real);
  fs::create_directory(station);
  WriteFile(real / "pelvaron.ini", SettingsImage(2));  // COM3
  WriteFile(real / "objects.stt", std::string(kObjectsFileSize, '\0'));
  chmod((real / "objects.stt").c_str(), 0640);
  const auto written = fs::file_time_type::clock::now() - std::chrono::hours(24);
  fs::last_write_time(real / "objects.stt", written);
  fs::create_symlink("../real/pelvaron.ini", station / "pelvaron.ini");
  fs::create_symlink("../real/objects.stt", station / "objects.stt");
  console_ = StartConsole(station, {"--tick-ms", "20", "--device", "COM3=" + (dir_ / "none").string()});
  ASSERT_TRUE(console_);
  ASSERT_TRUE(Until([&] { return console_->Out().find("Включение программы") != std::string::npos; }));
  EXPECT_EQ(Stop(*console_), "exit 0");
  EXPECT_NE(console_->Err().find("COM3"), std::string::npos) << "the settings were read through the link";
  EXPECT_TRUE(fs::is_symlink(station / "objects.stt"));
  EXPECT_TRUE(fs::is_symlink(station / "pelvaron.ini"));
  EXPECT_GT(fs::last_write_time(real / "objects.stt"), written) << "the start-up save reached the target";
  struct stat st {};
  ASSERT_EQ(stat((real / "objects.stt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A read-only objects file and what an interrupted save left beside it.
  const fs::path locked = dir_ / "locked";
  fs::create_directory(locked);
  WriteFile(locked / "objects.stt", std::string(kObjectsFileSize, '\0'));
  chmod((locked / "objects.stt").c_str(), 0444);
  WriteFile(locked / "objects.stt.new", "half a save");
  console_ = StartConsole(locked, {"--tick-ms", "20", "--device", "COM1=" + (dir_ / "none").string()});
  ASSERT_TRUE(console_);
  ASSERT_TRUE(Until([&] { return console_->Out().find("Включение программы") != std::string::npos; }));
  EXPECT_EQ(Stop(*console_), "exit 0");
  EXPECT_NE(
      console_->Err().find(std::to_string(EACCES) + " : System error(debugging info). in: SaveObject();"),
      std::string::npos)
      << console_->Err();
  ASSERT_EQ(stat((locked / "objects.stt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u) << "also for root";
  EXPECT_EQ(fs::file_size(locked / "objects.stt"), kObjectsFileSize);
  EXPECT_FALSE(fs::exists(locked / "objects.stt.new")) << "the leftover is removed at start";
}

TEST_F(ServiceTest, TheServiceManagerHearsReadyAndTheWatchdogAndTheJournalGetsPriorities) {
  const std::string path = (dir_ / "notify").string();
  int listener = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::vector<std::string> heard;
  auto listen = [&] {
    char buffer[512];
    ssize_t n;
    while ((n = recv(listener, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) heard.emplace_back(buffer, n);
  };
  auto count = [&](const std::string& what) {
    return std::count_if(heard.begin(), heard.end(), [&](const std::string& s) { return s.find(what) == 0; });
  };
  ChildOptions options;
  options.env = {"NOTIFY_SOCKET=" + path, "WATCHDOG_USEC=400000"};
  options.journalStderr = true;
  console_ = StartConsole(dir_, {"--tick-ms", "20", "--device", "COM1=" + (dir_ / "none").string()}, options);
  ASSERT_TRUE(console_);
  ASSERT_TRUE(Until([&] {
    listen();
    return count("READY=1") == 1 && count("WATCHDOG=1") >= 2;
  })) << heard.size();
  EXPECT_EQ(heard.front(), "READY=1\nSTATUS=Опрос приёмника на порту COM1") << "ready first, after start-up";
  EXPECT_EQ(Stop(*console_), "exit 0");
  listen();
  close(listener);
  EXPECT_EQ(heard.back(), "STOPPING=1");
  EXPECT_EQ(console_->Err().rfind(std::string("<3>") + kRefused, 0), 0u) << console_->Err();
}

TEST_F(ServiceTest, EveryProgramTellsItsVersionAndItsOptions) {
  std::vector<std::pair<std::string, std::string>> programs = {
      {PELVARON_HEADLESS_PROGRAM, "pelvaron-headless"}, {PELVARON_SIM_PROGRAM, "pelvaron-sim"}};
#ifdef PELVARON_PROGRAM
  programs.emplace_back(PELVARON_PROGRAM, "pelvaron");
#endif
#ifdef PELVARON_DECODE_PROGRAM
  programs.emplace_back(PELVARON_DECODE_PROGRAM, "pelvaron-decode");
#endif
#ifdef PELVARON_HISTORY_PROGRAM
  programs.emplace_back(PELVARON_HISTORY_PROGRAM, "pelvaron-history");
#endif
  for (const auto& [program, name] : programs) {
    for (const char* option : {"--version", "--help"}) {
      SCOPED_TRACE(name + " " + option);
      std::string error;
      ChildOptions noDisplay;
      noDisplay.env = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
      console_ = ChildProcess::Start({program, option}, dir_.string(), &error, noDisplay);
      ASSERT_TRUE(console_) << error;
      ASSERT_TRUE(Until([&] { return console_->Exited(); }, 30));
      EXPECT_EQ(console_->StatusText(), "exit 0");
      if (std::string(option) == "--version") {
        EXPECT_EQ(console_->Out(), name + " " + PELVARON_VERSION + "\n");
      } else {
        EXPECT_NE(console_->Out().find("--version"), std::string::npos);
      }
    }
  }
}

#else

TEST(ServiceTest, NeedsTheProgramsBuilt) {
  GTEST_SKIP() << "pelvaron-headless and pelvaron-sim are not part of this build";
}

#endif

}  // namespace
}  // namespace pelvaron::testing
