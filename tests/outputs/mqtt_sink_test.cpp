// The broker output against a real broker (the mosquitto program), started by
// each test on 127.0.0.1 and a free port.
#include "outputs/mqtt_sink.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <tuple>
#include <thread>

#include "events/event_json.h"
#include "sample_events.h"
#include "schema_check.h"
#include "support/mqtt/test_broker.h"
#include "support/result_support.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace pelvaron {
namespace {

using testing::PayloadsOn;
using testing::ReceivedMessage;
using testing::Reports;
using testing::TempDir;
using testing::TestBroker;
using testing::TestSubscriber;
using testing::WaitUntil;

constexpr char kBase[] = "pelvaron/test/";

class MqttSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestBroker::Available()) GTEST_SKIP() << "no mosquitto program (scripts/ensure-deps.sh installs it)";
  }

  MqttConfig Config(const TestBroker& broker) {
    MqttConfig c;
    c.url = testing::ValueOf(ParseMqttUrl(broker.Url()));
    c.station = "test";
    c.queueDir = dir_ / "mqtt-queue";
    c.reconnectMinMs = 50;
    c.reconnectMaxMs = 200;
    c.syncEveryMs = 100;
    return c;
  }

  std::unique_ptr<MqttSink> Open(MqttConfig config) {
    auto sink = std::make_unique<MqttSink>(std::move(config), reports_.Sink());
    sink->Open();
    return sink;
  }

  // The object list's rows: address, control ("+" or "-"), overdue (the red icon).
  static std::vector<ObjectListRow> Rows(std::initializer_list<std::tuple<const char*, const char*, bool>> objects) {
    std::vector<ObjectListRow> rows;
    for (const auto& [address, control, overdue] : objects) {
      ObjectListRow row;
      row.address = std::string(" ") + address;
      row.control = control;
      row.bAlarm = overdue;
      rows.push_back(row);
    }
    return rows;
  }

  static std::string Control(const std::string& payload) {
    const auto json = testing::ParseJson(payload);
    return json && json->contains("control") ? json->value("control", "") : "<" + payload + ">";
  }

  static std::vector<std::int64_t> Seqs(const std::vector<std::string>& payloads) {
    std::vector<std::int64_t> seqs;
    for (const std::string& p : payloads) {
      const auto json = testing::ParseJson(p);
      seqs.push_back(json && json->contains("seq") ? testing::Int(json->at("seq")) : -1);
    }
    return seqs;
  }

  static std::vector<std::int64_t> Range(std::int64_t from, std::int64_t to) {
    std::vector<std::int64_t> r;
    for (std::int64_t i = from; i <= to; ++i) r.push_back(i);
    return r;
  }

  static Event Numbered(std::uint64_t seq, EventKind kind = EventKind::LinkRestored, std::string address = {},
                        std::string command = {}) {
    Event e = testing::Base(kind, seq);
    e.station = "test";
    e.address = std::move(address);
    e.command = std::move(command);
    return e;
  }

  // What a subscriber that comes now finds on the broker below filter: it
  // waits for the topics given, then for the broker to have handed out all
  // it keeps (a second subscription's answer comes after them).
  static std::vector<ReceivedMessage> Latecomer(int port, const std::string& clientId,
                                                const std::vector<std::string>& topics,
                                                const std::string& filter = std::string(kBase) + "#") {
    TestSubscriber fresh(port, filter, clientId, false);
    if (!fresh.Start()) return {};
    fresh.WaitFor(
        [&](const std::vector<ReceivedMessage>& all) {
          for (const std::string& topic : topics) {
            const bool there = std::any_of(all.begin(), all.end(), [&](const ReceivedMessage& m) { return m.topic == topic; });
            if (!there) return false;
          }
          return true;
        },
        5000);
    fresh.Flush();
    return fresh.Messages();
  }

  // The last payload on a topic; "<none>" when nothing came.
  static std::string Last(const std::vector<ReceivedMessage>& messages, const std::string& topic) {
    const auto payloads = PayloadsOn(messages, topic);
    return payloads.empty() ? "<none>" : payloads.back();
  }

  TempDir dir_;
  Reports reports_;
};

// Events go out as they are and are not retained; the states are retained,
// the objects' as the console's list shows them, so that a subscriber who
// comes later finds them all and no event.
TEST_F(MqttSinkTest, EventsArriveAsTheyAreAndOnlyTheStatesAreKeptForLaterSubscribers) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), std::string(kBase) + "#", "watcher", false);
  ASSERT_TRUE(subscriber.Start());
  auto sink = Open(Config(broker));
  sink->ObjectsShown(Rows({{"0012", "+", false}, {"1234", "-", false}, {"0240", "+", true}}));

  std::vector<Event> events = testing::EveryKind();
  for (Event& e : events) e.station = "test";
  for (const Event& e : events) sink->Publish(e);
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) { return PayloadsOn(all, std::string(kBase) + "event").size() >= events.size(); }))
      << subscriber.On(std::string(kBase) + "event").size() << " of " << events.size();
  const std::vector<std::string> received = subscriber.On(std::string(kBase) + "event");
  ASSERT_EQ(received.size(), events.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(received[i], EventJson(events[i])) << EventKindName(events[i].kind);
  }
  ASSERT_TRUE(WaitUntil([&] { return sink->Acknowledged() == events.size(); }));

  const std::string b = kBase;
  const auto kept = Latecomer(broker.Port(), "latecomer",
                              {b + "online", b + "status/link", b + "status/line", b + "status/enclosure",
                               b + "object/0012", b + "object/1234", b + "object/0240"});
  EXPECT_EQ(PayloadsOn(kept, b + "event"), std::vector<std::string>{}) << "an event was retained";
  for (const ReceivedMessage& m : kept) EXPECT_TRUE(m.retained) << m.topic;
  EXPECT_EQ(Last(kept, b + "online"), "online");
  EXPECT_EQ(Last(kept, b + "status/link"), "ok");  // lost, then restored: the later one
  EXPECT_EQ(Last(kept, b + "status/line"), "ok");
  EXPECT_EQ(Last(kept, b + "status/enclosure"), "closed");
  EXPECT_EQ(Control(Last(kept, b + "object/0012")), "normal");
  EXPECT_EQ(Control(Last(kept, b + "object/1234")), "off");
  EXPECT_EQ(Control(Last(kept, b + "object/0240")), "overdue");
  // Only registered objects have a state: events about others make none.
  EXPECT_EQ(kept.size(), 7u) << ::testing::PrintToString(PayloadsOn(kept, b + "object/8001"));

  // An orderly stop says so in place of the will.
  sink.reset();
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) {
    auto online = PayloadsOn(all, std::string(kBase) + "online");
    return !online.empty() && online.back() == "offline";
  }));
  EXPECT_TRUE(reports_.Texts().empty()) << ::testing::PrintToString(reports_.Texts());
}

TEST_F(MqttSinkTest, EventsMadeWhileTheBrokerIsAwayArriveOnceAndInOrderWhenItIsBack) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), std::string(kBase) + "event", "keeper", true);
  ASSERT_TRUE(subscriber.Start());
  auto sink = Open(Config(broker));
  ASSERT_TRUE(sink);
  for (std::uint64_t seq = 1; seq <= 20; ++seq) sink->Publish(Numbered(seq));
  ASSERT_TRUE(WaitUntil([&] { return sink->Acknowledged() == 20; }));
  // The subscriber's own acknowledgements reach the broker before it stops;
  // otherwise the broker rightly hands those messages out again.
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) { return PayloadsOn(all, std::string(kBase) + "event").size() >= 20; }));
  ASSERT_TRUE(subscriber.Flush());

  broker.Stop();
  for (std::uint64_t seq = 21; seq <= 60; ++seq) sink->Publish(Numbered(seq));
  ASSERT_TRUE(WaitUntil([&] { return reports_.Count("Связь с брокером MQTT") == 1; }))
      << ::testing::PrintToString(reports_.Texts());
  // With no broker the network thread waits for its next attempt: a few
  // rounds a second, not a core's worth.
  const std::uint64_t rounds = sink->NetworkRounds();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_LT(sink->NetworkRounds() - rounds, 1000u);
  ASSERT_TRUE(broker.Start(&error)) << error;
  for (std::uint64_t seq = 61; seq <= 70; ++seq) sink->Publish(Numbered(seq));

  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) { return PayloadsOn(all, std::string(kBase) + "event").size() >= 70; }))
      << ::testing::PrintToString(Seqs(subscriber.On(std::string(kBase) + "event")));
  ASSERT_TRUE(WaitUntil([&] { return sink->Acknowledged() >= 70; }));
  EXPECT_EQ(Seqs(subscriber.On(std::string(kBase) + "event")), Range(1, 70));
  // Lost, then back: one message each.
  EXPECT_EQ(reports_.Count("потеряна"), 1);
  EXPECT_EQ(reports_.Count("установлена"), 1);
}

// A broker that takes TLS and a password only: the right CA and credentials
// get the events through; a wrong password or a CA that did not sign the
// broker's certificate gets one message each and keeps the events queued.
TEST_F(MqttSinkTest, OverTlsWithAPasswordOnlyTheRightCaAndCredentialsGetThrough) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.AddSecureListener("station", "s3cret pass", &error)) << error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), std::string(kBase) + "event", "watcher", false);
  ASSERT_TRUE(subscriber.Start());
  auto secure = [&](std::string caFile, std::string password, const char* queue) {
    MqttConfig c = Config(broker);
    c.url = testing::ValueOf(ParseMqttUrl(broker.SecureUrl()));
    EXPECT_TRUE(c.url.tls);
    c.caFile = std::move(caFile);
    c.user = "station";
    c.password = std::move(password);
    c.queueDir = dir_ / queue;
    return c;
  };

  {
    auto refused = Open(secure(broker.CaFile(), "wrong", "refused"));
    ASSERT_TRUE(refused);
    refused->Publish(Numbered(1));
    ASSERT_TRUE(WaitUntil([&] { return reports_.Count("отказал в подключении") >= 1; }))
        << ::testing::PrintToString(reports_.Texts());
    EXPECT_EQ(reports_.Count("нет прав на подключение"), 1) << ::testing::PrintToString(reports_.Texts());
    EXPECT_EQ(refused->Acknowledged(), 0u);
  }
  {
    auto untrusted = Open(secure(broker.OtherCaFile(), "s3cret pass", "untrusted"));
    ASSERT_TRUE(untrusted);
    untrusted->Publish(Numbered(2));
    ASSERT_TRUE(WaitUntil([&] { return reports_.Count("Нет связи с брокером MQTT") >= 1; }))
        << ::testing::PrintToString(reports_.Texts());
    EXPECT_EQ(reports_.Count("ошибка TLS"), 1) << ::testing::PrintToString(reports_.Texts());
    EXPECT_EQ(untrusted->Acknowledged(), 0u);
  }
  EXPECT_TRUE(subscriber.On(std::string(kBase) + "event").empty());

  auto sink = Open(secure(broker.CaFile(), "s3cret pass", "trusted"));
  ASSERT_TRUE(sink);
  for (std::uint64_t seq = 3; seq <= 5; ++seq) sink->Publish(Numbered(seq));
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) { return PayloadsOn(all, std::string(kBase) + "event").size() >= 3; }))
      << ::testing::PrintToString(reports_.Texts()) << broker.Log();
  EXPECT_EQ(Seqs(subscriber.On(std::string(kBase) + "event")), Range(3, 5));
  // One message per cause, however often the sinks retried.
  EXPECT_EQ(reports_.Count("отказал в подключении"), 1) << ::testing::PrintToString(reports_.Texts());
  EXPECT_EQ(reports_.Count("Нет связи с брокером MQTT"), 1) << ::testing::PrintToString(reports_.Texts());
}

TEST_F(MqttSinkTest, ABrokerThatForgotEverythingGetsTheRetainedStatesAgainOnReconnect) {
  TestBroker broker(false);  // keeps nothing across a restart
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  auto sink = Open(Config(broker));
  sink->Publish(Numbered(1, EventKind::ConsoleStarted));
  sink->Publish(Numbered(2, EventKind::LinkRestored));
  sink->ObjectsShown(Rows({{"0012", "+", true}}));
  sink->Publish(Numbered(3, EventKind::EnclosureOpened));
  ASSERT_TRUE(WaitUntil([&] { return sink->Acknowledged() == 3; }));
  broker.Stop();
  ASSERT_TRUE(broker.Start(&error)) << error;

  // A watcher from the start sees the states come back (live), after which
  // they are kept on the broker for anyone.
  TestSubscriber watcher(broker.Port(), std::string(kBase) + "#", "watcher", false);
  ASSERT_TRUE(watcher.Start());
  ASSERT_TRUE(watcher.WaitFor([&](auto& all) { return !PayloadsOn(all, std::string(kBase) + "object/0012").empty(); }));
  const std::string b = kBase;
  const auto kept = Latecomer(broker.Port(), "latecomer",
                              {b + "online", b + "status/link", b + "status/line", b + "status/enclosure", b + "object/0012"});
  EXPECT_EQ(kept.size(), 5u);
  EXPECT_EQ(Last(kept, b + "status/link"), "ok");
  EXPECT_EQ(Last(kept, b + "status/enclosure"), "open");
  EXPECT_EQ(Control(Last(kept, b + "object/0012")), "overdue");
  EXPECT_EQ(Last(kept, b + "online"), "online");
}

TEST_F(MqttSinkTest, EventsQueuedWithNoBrokerGoOutAfterARestartOfTheConsole) {
  TestBroker broker;
  std::string error;
  MqttConfig config = Config(broker);
  config.drainMs = 100;
  {
    // No broker at all for the first run: everything waits on disk.
    auto sink = Open(config);
    ASSERT_TRUE(sink);
    for (std::uint64_t seq = 1; seq <= 5; ++seq) sink->Publish(Numbered(seq));
    ASSERT_TRUE(WaitUntil([&] { return reports_.Count("Нет связи с брокером MQTT") == 1; }));
  }
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), std::string(kBase) + "event", "keeper", true);
  ASSERT_TRUE(subscriber.Start());
  auto sink = Open(config);
  ASSERT_TRUE(sink);
  sink->Publish(Numbered(6));
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) { return PayloadsOn(all, std::string(kBase) + "event").size() >= 6; }));
  ASSERT_TRUE(WaitUntil([&] { return sink->Acknowledged() == 6; }));
  EXPECT_EQ(Seqs(subscriber.On(std::string(kBase) + "event")), Range(1, 6));
  EXPECT_EQ(reports_.Count("Нет связи с брокером MQTT"), 1) << ::testing::PrintToString(reports_.Texts());
}

// The objects on the broker are the console's list: every change of it
// shows, a deleted object's state and discovery config are removed, and so
// is what an earlier run left of an object no longer registered. Every
// discovery config keeps to Home Assistant's published schema.
TEST_F(MqttSinkTest, ObjectsOnTheBrokerAreTheConsolesListAndDiscoveryKeepsToTheSchema) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  const std::string b = kBase;
  const std::string config = "ha/sensor/pelvaron_test/object_";
  ASSERT_TRUE(testing::PublishRetained(broker.Port(), b + "object/0999", R"({"address":"0999","control":"normal","comment":""})"));
  ASSERT_TRUE(testing::PublishRetained(broker.Port(), config + "0999/config", R"({"name":"Объект 0999"})"));
  TestSubscriber watcher(broker.Port(), "#", "watcher", false);
  ASSERT_TRUE(watcher.Start());
  MqttConfig c = Config(broker);
  c.discoveryPrefix = "ha";
  auto sink = Open(c);
  sink->ObjectsShown(Rows({{"0012", "+", false}, {"0105", "-", false}}));

  ASSERT_TRUE(watcher.WaitFor([&](auto& all) {
    return Last(all, b + "object/0999") == "" && Last(all, config + "0999/config") == "" &&
           Last(all, config + "0105/config") != "<none>" && Last(all, b + "object/0105") != "<none>";
  })) << ::testing::PrintToString(watcher.Messages().size());
  EXPECT_EQ(Control(watcher.On(b + "object/0105").back()), "off");

  // The table changes: one object overdue, one deleted.
  sink->ObjectsShown(Rows({{"0012", "+", true}}));
  ASSERT_TRUE(watcher.WaitFor([&](auto& all) {
    return Last(all, b + "object/0105") == "" && Last(all, config + "0105/config") == "" &&
           Control(Last(all, b + "object/0012")) == "overdue";
  }));

  // Every config published keeps to the schema (object_id is gone for default_entity_id).
  int configs = 0;
  for (const ReceivedMessage& m : watcher.Messages()) {
    if (m.topic.rfind("ha/", 0) != 0 || m.payload.empty() || m.topic.find("0999") != std::string::npos) continue;
    ++configs;
    const auto json = testing::ParseJson(m.payload);
    ASSERT_TRUE(json) << m.payload;
    const std::string component = m.topic.substr(3, m.topic.find('/', 3) - 3);
    EXPECT_EQ(testing::CheckSchema(testing::DiscoverySchema().at(component), *json), std::vector<std::string>{}) << m.payload;
  }
  EXPECT_EQ(configs, 5);  // link, line, enclosure, 0012, 0105

  // What stays: the one object and its config.
  const auto kept = Latecomer(broker.Port(), "latecomer", {b + "object/0012", config + "0012/config"}, "#");
  std::set<std::string> topics;
  for (const ReceivedMessage& m : kept) topics.insert(m.topic);
  EXPECT_EQ(topics, (std::set<std::string>{b + "online", b + "object/0012", config + "0012/config",
                                           "ha/binary_sensor/pelvaron_test/link/config",
                                           "ha/binary_sensor/pelvaron_test/line/config",
                                           "ha/binary_sensor/pelvaron_test/enclosure/config"}));
  const auto json = testing::ParseJson(Last(kept, config + "0012/config"));
  ASSERT_TRUE(json);
  EXPECT_EQ(json->at("state_topic"), b + "object/0012");
  EXPECT_EQ(json->at("value_template"), "{{ value_json.control }}");
  EXPECT_EQ(json->at("default_entity_id"), "sensor.pelvaron_test_object_0012");
}

// Damaged or foreign files in the queue's folder are never published: each
// is told once by name, and the events around them still go out in order.
TEST_F(MqttSinkTest, GarbageInTheQueueFolderIsNeverPublished) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), std::string(kBase) + "event", "keeper", false);
  ASSERT_TRUE(subscriber.Start());
  const std::filesystem::path queue = dir_ / "mqtt-queue";
  std::filesystem::create_directory(queue);
  std::ofstream(queue / "0000000001.jsonl", std::ios::binary)
      << EventJson(Numbered(1)) << "\n"
      << std::string("\x93\x00zz{\xff", 6) << "\n"                          // stray bytes
      << R"({"seq":2,"kind":"link-lost","te)" << "\n"                        // a record cut short
      << EventJson(Numbered(4)) << "\n"
      << R"({"seq":5,"note":"another program's"})" << "\n"                   // not an event
      << EventJson(Numbered(6)) << "\n"
      << R"({"seq":7,"ki)";                                                  // torn by a crash
  std::ofstream(dir_ / "elsewhere.jsonl") << EventJson(Numbered(99)) << "\n";
  std::filesystem::create_symlink(dir_ / "elsewhere.jsonl", queue / "0000000002.jsonl");
  std::ofstream(queue / "notes.txt") << "hello\n";
  std::ofstream(queue / "objects") << "{}\n";  // an earlier version's: removed without a word

  auto sink = Open(Config(broker));
  sink->Publish(Numbered(8));
  ASSERT_TRUE(WaitUntil([&] { return sink->Acknowledged() == 4; })) << ::testing::PrintToString(reports_.Texts());
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) { return PayloadsOn(all, std::string(kBase) + "event").size() >= 4; }));
  EXPECT_EQ(Seqs(subscriber.On(std::string(kBase) + "event")), (std::vector<std::int64_t>{1, 4, 6, 8}));
  const std::string segment = (queue / "0000000001.jsonl").string();
  EXPECT_EQ(reports_.Count("записи, которые не являются событиями"), 1) << ::testing::PrintToString(reports_.Texts());
  EXPECT_EQ(reports_.Count(segment + " есть записи"), 1);
  EXPECT_EQ(reports_.Count("оборванная запись (12 байт)"), 1);
  EXPECT_EQ(reports_.Count("лишний файл notes.txt"), 1);
  EXPECT_EQ(reports_.Count("лишний файл 0000000002.jsonl"), 1);
  EXPECT_EQ(reports_.Texts().size(), 4u) << ::testing::PrintToString(reports_.Texts());
  EXPECT_FALSE(std::filesystem::exists(queue / "objects"));
}

// What keeps the output from working now is told once and tried again; the
// events wait and nothing is lost.
TEST_F(MqttSinkTest, AQueueFolderOrLibraryThatIsNotThereYetIsToldOnceAndTriedAgain) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), std::string(kBase) + "event", "keeper", false);
  ASSERT_TRUE(subscriber.Start());
  {
    MqttConfig c = Config(broker);
    c.library = "libmosquitto-not-here.so.1";
    auto sink = Open(c);
    sink->Publish(Numbered(1));
    ASSERT_TRUE(WaitUntil([&] { return sink->Queue().PendingBytes() > 0; }));
    EXPECT_EQ(reports_.Count("libmosquitto-not-here.so.1"), 1) << ::testing::PrintToString(reports_.Texts());
  }
  // A file where the queue's folder should be: the events wait in memory.
  MqttConfig c = Config(broker);
  c.queueDir = dir_ / "blocked";
  std::ofstream(c.queueDir) << "in the way\n";
  auto sink = Open(c);
  for (std::uint64_t seq = 2; seq <= 4; ++seq) sink->Publish(Numbered(seq));
  ASSERT_TRUE(WaitUntil([&] { return reports_.Count("не удалось открыть очередь событий") == 1; }))
      << ::testing::PrintToString(reports_.Texts());
  std::filesystem::remove(c.queueDir);
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) { return PayloadsOn(all, std::string(kBase) + "event").size() >= 3; }));
  EXPECT_EQ(Seqs(subscriber.On(std::string(kBase) + "event")), Range(2, 4));
  EXPECT_EQ(reports_.Count("не удалось открыть очередь событий"), 1);
}

}  // namespace
}  // namespace pelvaron
