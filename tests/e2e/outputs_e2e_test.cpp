// The headless console with its outputs on, as a station runs it: events to a
// real broker (the mosquitto program, started here on a free port), to a JSON
// Lines file and to an event command, against pelvaron-sim on a
// pseudo-terminal; the will when the console is killed; a command that hangs;
// and no MQTT or TLS library in a console not asked to use a broker.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "objects/object_registry.h"
#include "support/strict_json.h"
#include "support/mqtt/test_broker.h"
#include "support/process_group.h"

namespace pelvaron::testing {
namespace {

#if defined(PELVARON_PROGRAM) && defined(PELVARON_SIM_PROGRAM)

namespace fs = std::filesystem;

const char kTopic[] = "pelvaron/e2e/";

// The receiver's line, enclosure and a few messages, then it goes away.
const char kScenario[] =
    "wait 1500ms\n"
    "status line-fault\n"
    "wait 500ms\n"
    "status line-ok case-open\n"
    "wait 500ms\n"
    "status case-closed\n"
    "contact-id addr=1234 new code=130 part=1 zone=5\n"
    "loop-state addr=12 kind=2 guard=3 armed1 linked1\n"
    "radio addr=8001 event=0x10 new source=5 detail=0x05 expander=3 kind=1\n"
    "wait 2s\n"
    "exit\n";

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The value of a string or number member of a JSON object as written, read
// by the tests' strict reader; "<none>" where there is no such member (or no
// valid JSON).
std::string Member(const std::string& json, const std::string& key) {
  const auto object = ParseJson(json);
  if (!object || !object->contains(key)) return "<none>";
  const Json& member = object->at(key);
  return member.is_string() ? member.get<std::string>() : member.is_number() ? member.dump() : "";
}

// An objects file as the console keeps it: each object by address, on
// control or not, with an hour's control period.
void WriteObjects(const fs::path& file, const std::vector<std::pair<std::string, bool>>& objects) {
  ObjectTable table;
  table.fill(BlankObjectRecord());
  int slot = 1;
  for (const auto& [address, control] : objects) {
    ObjectRecord& r = table[slot++];
    r = ObjectRecord{};
    std::memcpy(r.szAddress, address.data(), std::min(address.size(), sizeof r.szAddress));
    r.bUsed = 1;
    r.bControl = control ? 1 : 0;
    r.nPeriod = 60;
    r.bRegistered = 1;
  }
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(table.data()), sizeof table);
}

bool Maps(pid_t pid, const std::string& part) {
  return ReadWholeFile("/proc/" + std::to_string(pid) + "/maps").find(part) != std::string::npos;
}

class OutputsEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestBroker::Available()) GTEST_SKIP() << "no mosquitto program (scripts/ensure-deps.sh installs it)";
    std::string pattern = (fs::temp_directory_path() / "pelvaron-e2e-outputs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    dir_ = pattern;
  }
  void TearDown() override {
    if (HasFailure()) {
      std::cerr << "The run's files are kept in " << dir_ << "\n";
      if (console_) std::cerr << "console stdout:\n" << console_->Out() << "\nconsole stderr:\n" << console_->Err() << "\n";
    } else if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }

  // The simulator with the scenario; the path of its link to the device. The
  // console is given the link, which goes when the simulator exits: by the
  // pty's own path it would reopen whatever pty of a parallel test got the
  // freed number.
  std::string StartSimulator(const std::string& scenario) {
    std::ofstream(dir_ / "e2e.scn") << scenario;
    const std::string link = (dir_ / "receiver").string();
    std::string error;
    sim_ = ChildProcess::Start({PELVARON_SIM_PROGRAM, "--scenario", "e2e.scn", "--link", link}, dir_, &error);
    EXPECT_TRUE(sim_) << error;
    if (!sim_) return {};
    if (!PumpUntil({sim_.get()}, [&] { return sim_->Out().find('\n') != std::string::npos; }, SecondsFromNow(20))) {
      ADD_FAILURE() << "the simulator printed no device path";
      return {};
    }
    return link;
  }

  void StartConsole(std::vector<std::string> args) {
    args.insert(args.begin(), {PELVARON_PROGRAM, "--headless", "--tick-ms", "20", "--station", "e2e"});
    std::string error;
    console_ = ChildProcess::Start(args, dir_, &error);
    ASSERT_TRUE(console_) << error;
  }

  std::vector<ChildProcess*> Children() {
    std::vector<ChildProcess*> all;
    if (sim_) all.push_back(sim_.get());
    if (console_) all.push_back(console_.get());
    return all;
  }

  fs::path dir_;
  std::unique_ptr<ChildProcess> sim_;
  std::unique_ptr<ChildProcess> console_;
};

TEST_F(OutputsEndToEndTest, EveryEventReachesTheBrokerTheFileAndTheCommandAlike) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), std::string(kTopic) + "#", "e2e-watcher", false);
  ASSERT_TRUE(subscriber.Start());
  const std::string device = StartSimulator(kScenario);
  ASSERT_FALSE(device.empty());
  ASSERT_NO_FATAL_FAILURE(StartConsole(
      {"--device", "COM1=" + device, "--mqtt", broker.Url(), "--events", "events.jsonl", "--on-event",
       "cat >> command.jsonl; echo \"$PELVARON_SEQ $PELVARON_KIND $PELVARON_ADDRESS $PELVARON_CODE\" >> command.env"}));

  ASSERT_TRUE(PumpUntil(Children(), [&] { return sim_->Exited(); }, SecondsFromNow(60)));
  ASSERT_TRUE(PumpUntil(Children(), [&] { return console_->Out().find("Нет связи с Велдор!") != std::string::npos; },
                        SecondsFromNow(60)));
  ASSERT_TRUE(console_->Signal(SIGINT));
  ASSERT_TRUE(PumpUntil(Children(), [&] { return console_->Exited(); }, SecondsFromNow(30)));
  EXPECT_EQ(console_->StatusText(), "exit 0");

  // On the broker: the whole run, in order, numbered without gaps.
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) {
    const auto events = PayloadsOn(all, std::string(kTopic) + "event");
    return !events.empty() && Member(events.back(), "kind") == "console-stopped";
  })) << ::testing::PrintToString(subscriber.On(std::string(kTopic) + "event"));
  const std::vector<std::string> events = subscriber.On(std::string(kTopic) + "event");
  std::vector<std::string> kinds;
  for (std::size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(events[i]);
    kinds.push_back(Member(events[i], "kind") + (Member(events[i], "address") == "<none>" ? "" : " " + Member(events[i], "address")));
    EXPECT_EQ(Member(events[i], "station"), "e2e");
    if (i > 0) {
      EXPECT_EQ(std::stoll(Member(events[i], "seq")), std::stoll(Member(events[i - 1], "seq")) + 1);
    }
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{
                       "console-started", "link-restored", "line-fault", "line-restored", "enclosure-opened",
                       "enclosure-closed", "message 1234", "message 0012", "message 8001", "link-lost",
                       "console-stopped"}));
  const std::string& contactId = events[6];
  EXPECT_NE(contactId.find("\"lines\":[\" \",\"Сообщение : \",\"    [ 18  52  63  1  19  0  5  0  0  158  ]\""),
            std::string::npos)
      << contactId;
  EXPECT_EQ(Member(contactId, "text"), "Охранная тревога");

  // The file and the command got the very same events.
  EXPECT_EQ(Lines(ReadWholeFile(dir_ / "events.jsonl")), events);
  EXPECT_EQ(Lines(ReadWholeFile(dir_ / "command.jsonl")), events);
  const std::vector<std::string> env = Lines(ReadWholeFile(dir_ / "command.env"));
  ASSERT_EQ(env.size(), events.size());
  EXPECT_EQ(env[6], Member(contactId, "seq") + " message 1234 130");
  EXPECT_EQ(env[0], Member(events[0], "seq") + " console-started  ");

  // What stays on the broker after the orderly stop.
  const auto online = subscriber.On(std::string(kTopic) + "online");
  ASSERT_FALSE(online.empty());
  EXPECT_EQ(online.back(), "offline");
  const auto link = subscriber.On(std::string(kTopic) + "status/link");
  ASSERT_FALSE(link.empty());
  EXPECT_EQ(link.back(), "lost");
  // Messages from an address that is not registered make no object state.
  EXPECT_TRUE(subscriber.On(std::string(kTopic) + "object/1234").empty());
}

// The console as a station runs it, under umask 000: a subscriber that comes
// after the start finds every registered object's true state at once (none
// has reported), what an earlier run left of an object no longer registered
// is removed, an --events file that cannot be made (a link planted at its
// path) is told once while monitoring goes on, and no file the console made
// may be written by others.
TEST_F(OutputsEndToEndTest, ALateSubscriberFindsEveryObjectsTrueStateAndNoFileIsWritableByOthers) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  const std::string b = kTopic;
  const std::string staleConfig = "homeassistant/sensor/pelvaron_e2e/object_0999/config";
  ASSERT_TRUE(PublishRetained(broker.Port(), b + "object/0999", R"({"address":"0999","control":"overdue","comment":""})"));
  ASSERT_TRUE(PublishRetained(broker.Port(), staleConfig, R"({"name":"Объект 0999"})"));
  TestSubscriber watcher(broker.Port(), "#", "e2e-watcher", false);
  ASSERT_TRUE(watcher.Start());
  WriteObjects(dir_ / "objects.stt", {{"0012", true}, {"0105", false}, {"0240", true}});
  fs::create_symlink(dir_ / "victim.jsonl", dir_ / "events.jsonl");

  const mode_t before = ::umask(0);
  StartConsole({"--mqtt", broker.Url(), "--mqtt-discovery", "--events", "events.jsonl"});
  ::umask(before);
  ASSERT_TRUE(console_);
  ASSERT_TRUE(watcher.WaitFor([&](auto& all) {
    return !PayloadsOn(all, b + "object/0999").empty() && PayloadsOn(all, b + "object/0999").back().empty() &&
           !PayloadsOn(all, staleConfig).empty() && PayloadsOn(all, staleConfig).back().empty();
  })) << "what the earlier run left is still there";
  // The states follow on the same connection; a latecomer comes after them.
  ASSERT_TRUE(watcher.WaitFor([&](auto& all) {
    return !PayloadsOn(all, b + "object/0240").empty() && !PayloadsOn(all, b + "status/link").empty();
  }));

  TestSubscriber latecomer(broker.Port(), b + "#", "e2e-latecomer", false);
  ASSERT_TRUE(latecomer.Start());
  ASSERT_TRUE(latecomer.WaitFor([&](auto& all) {
    return !PayloadsOn(all, b + "object/0012").empty() && !PayloadsOn(all, b + "object/0105").empty() &&
           !PayloadsOn(all, b + "object/0240").empty();
  }));
  ASSERT_TRUE(latecomer.Flush());
  const auto kept = latecomer.Messages();
  for (const auto& [address, control] : {std::pair{"0012", "normal"}, {"0105", "off"}, {"0240", "normal"}}) {
    const auto payloads = PayloadsOn(kept, b + "object/" + address);
    ASSERT_EQ(payloads.size(), 1u) << address;
    EXPECT_EQ(Member(payloads[0], "control"), control) << address;
  }
  EXPECT_TRUE(PayloadsOn(kept, b + "object/0999").empty());
  for (const ReceivedMessage& m : kept) {
    if (m.topic.rfind(b + "object/", 0) == 0) {
      EXPECT_TRUE(m.retained) << m.topic;
    }
  }

  ASSERT_TRUE(console_->Signal(SIGINT));
  ASSERT_TRUE(PumpUntil(Children(), [&] { return console_->Exited(); }, SecondsFromNow(30)));
  EXPECT_EQ(console_->StatusText(), "exit 0");
  const std::string told = "Не удалось открыть файл событий";
  ASSERT_NE(console_->Err().find(told), std::string::npos) << console_->Err();
  EXPECT_EQ(console_->Err().find(told), console_->Err().rfind(told)) << console_->Err();
  EXPECT_FALSE(fs::exists(dir_ / "victim.jsonl"));

  std::vector<std::string> made;
  for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
    struct stat st {};
    if (::lstat(entry.path().c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    made.push_back(fs::relative(entry.path(), dir_).string());
    EXPECT_EQ(st.st_mode & 022, 0u) << made.back() << " is writable by others";
  }
  for (const char* name : {"pelvaron.ini", "events.seq", "events.sqlite", "mqtt-queue", "mqtt-queue/acked",
                           "mqtt-queue/0000000001.jsonl"}) {
    EXPECT_NE(std::find(made.begin(), made.end(), name), made.end()) << name << " not made: " << ::testing::PrintToString(made);
  }
}

TEST_F(OutputsEndToEndTest, AStationNameTheTopicsCannotHoldIsRefusedAtStart) {
  const struct {
    std::string station;
    const char* told;
  } cases[] = {
      {std::string(70000, 's'), "--station: the name is too long for MQTT topics"},
      {"post\x1b[2J", "--station: Имя станции содержит управляющий символ <ESC>"},
      {"\xff\xfe", "--station: the name must be UTF-8 text without control characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.told);
    console_.reset();
    ASSERT_NO_FATAL_FAILURE(StartConsole({"--mqtt", "mqtt://127.0.0.1:1", "--station", c.station}));
    ASSERT_TRUE(PumpUntil(Children(), [&] { return console_->Exited(); }, SecondsFromNow(30)));
    EXPECT_EQ(console_->StatusText(), "exit 2");
    EXPECT_NE(console_->Err().find(c.told), std::string::npos) << console_->Err().substr(0, 300);
  }
}

TEST_F(OutputsEndToEndTest, TheWillSaysOfflineWhenTheConsoleIsKilledAndOnlyABrokerMapsTheMqttLibrary) {
  // Without --mqtt: no MQTT and no TLS library in the process.
  ASSERT_NO_FATAL_FAILURE(StartConsole({"--events", "events.jsonl"}));
  ASSERT_TRUE(PumpUntil(Children(), [&] { return console_->Out().find("Включение программы") != std::string::npos; },
                        SecondsFromNow(30)));
  const pid_t plain = console_->Pid();
  EXPECT_FALSE(Maps(plain, "libmosquitto"));
  EXPECT_FALSE(Maps(plain, "libssl"));
  EXPECT_FALSE(Maps(plain, "libcrypto"));
  ASSERT_TRUE(console_->Signal(SIGINT));
  ASSERT_TRUE(PumpUntil(Children(), [&] { return console_->Exited(); }, SecondsFromNow(30)));

  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), std::string(kTopic) + "online", "e2e-watcher", false);
  ASSERT_TRUE(subscriber.Start());
  ASSERT_NO_FATAL_FAILURE(StartConsole({"--mqtt", broker.Url()}));
  ASSERT_TRUE(subscriber.WaitFor([](auto& all) { return !all.empty() && all.back().payload == "online"; }));
  EXPECT_TRUE(Maps(console_->Pid(), "libmosquitto"));
  ASSERT_TRUE(console_->Signal(SIGKILL));
  ASSERT_TRUE(PumpUntil(Children(), [&] { return console_->Exited(); }, SecondsFromNow(30)));
  ASSERT_TRUE(subscriber.WaitFor([](auto& all) { return !all.empty() && all.back().payload == "offline"; }))
      << "no will after SIGKILL";
}

TEST_F(OutputsEndToEndTest, ACommandThatHangsIsCutOffAndTheTickGoesOn) {
  const std::string device = StartSimulator(
      "wait 500ms\ncontact-id addr=1234 new code=130 part=1 zone=5\nwait 1s\n"
      "contact-id addr=1234 restore code=130 part=1 zone=5\nwait 1s\nexit\n");
  ASSERT_FALSE(device.empty());
  ASSERT_NO_FATAL_FAILURE(StartConsole({"--device", "COM1=" + device, "--on-event", "echo $$ >> groups; sleep 1000",
                                        "--on-event-timeout", "1"}));
  // Every command hangs; the console polls on, fetches both messages and
  // notices the receiver is gone (121 ticks later).
  ASSERT_TRUE(PumpUntil(Children(), [&] { return console_->Out().find("Нет связи с Велдор!") != std::string::npos; },
                        SecondsFromNow(60)));
  EXPECT_NE(console_->Out().find("[130.восст]"), std::string::npos);
  ASSERT_TRUE(console_->Signal(SIGINT));
  ASSERT_TRUE(PumpUntil(Children(), [&] { return console_->Exited(); }, SecondsFromNow(30)));
  EXPECT_EQ(console_->StatusText(), "exit 0");
  // Told once, however many runs were cut off; none of them is left running.
  const std::string told = "Команда для событий не завершилась за 1 с и была остановлена.";
  const std::string& err = console_->Err();
  ASSERT_NE(err.find(told), std::string::npos) << err;
  EXPECT_EQ(err.find(told), err.rfind(told)) << err;
  const auto groups = Lines(ReadWholeFile(dir_ / "groups"));
  EXPECT_GE(groups.size(), 2u);
  for (const std::string& g : groups) {
    // A killed grandchild may wait a moment as a zombie for init to reap it.
    const Deadline deadline = SecondsFromNow(10);
    while (GroupAlive(std::stoi(g)) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(GroupAlive(std::stoi(g))) << "group " << g << " still there";
  }
}

#endif

}  // namespace
}  // namespace pelvaron::testing
