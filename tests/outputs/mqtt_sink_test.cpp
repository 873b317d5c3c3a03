// The broker output against a real broker (the mosquitto program), started by
// each test on 127.0.0.1 and a free port.
#include "outputs/mqtt_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "events/event_json.h"
#include "support/json_parse.h"
#include "sample_events.h"
#include "support/mqtt/test_broker.h"
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
    std::string error = ParseMqttUrl(broker.Url(), c.url);
    EXPECT_EQ(error, "");
    c.station = "test";
    c.queueDir = dir_ / "mqtt-queue";
    c.reconnectMinMs = 50;
    c.reconnectMaxMs = 200;
    c.syncEveryMs = 100;
    return c;
  }

  std::unique_ptr<MqttSink> Open(MqttConfig config) {
    auto sink = std::make_unique<MqttSink>(std::move(config), reports_.Sink());
    const std::string problem = sink->Open();
    EXPECT_EQ(problem, "");
    return problem.empty() ? std::move(sink) : nullptr;
  }

  static std::vector<std::int64_t> Seqs(const std::vector<std::string>& payloads) {
    std::vector<std::int64_t> seqs;
    for (const std::string& p : payloads) {
      const auto json = testing::ParseJson(p);
      seqs.push_back(json ? (*json)["seq"].Int() : -1);
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

  // What a subscriber that comes now finds on the broker: it waits for the
  // topics given (below the station's), then takes what else came.
  static std::map<std::string, std::string> RetainedNow(int port, const std::string& clientId,
                                                        const std::vector<std::string>& topics) {
    TestSubscriber fresh(port, std::string(kBase) + "#", clientId, false);
    std::map<std::string, std::string> kept;
    if (!fresh.Start()) return kept;
    fresh.WaitFor(
        [&](const std::vector<ReceivedMessage>& all) {
          for (const std::string& topic : topics) {
            const bool there = std::any_of(all.begin(), all.end(), [&](const ReceivedMessage& m) {
              return m.topic == std::string(kBase) + topic;
            });
            if (!there) return false;
          }
          return true;
        },
        5000);
    // Kept ones come first; one published meanwhile follows, and is what is kept now.
    for (const ReceivedMessage& m : fresh.Messages()) kept[m.topic] = m.payload;
    return kept;
  }

  TempDir dir_;
  Reports reports_;
};

TEST_F(MqttSinkTest, EventsOfEveryKindArriveAsTheyAreAndTheStationsStatesAreKept) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), std::string(kBase) + "#", "watcher", false);
  ASSERT_TRUE(subscriber.Start());
  auto sink = Open(Config(broker));
  ASSERT_TRUE(sink);

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

  // The states those events leave, kept for whoever subscribes later.
  const auto kept = RetainedNow(broker.Port(), "latecomer",
                                {"online", "status/link", "status/line", "status/enclosure", "object/1234", "object/0012"});
  EXPECT_EQ(kept.count(std::string(kBase) + "online") ? kept.at(std::string(kBase) + "online") : "", "online");
  EXPECT_EQ(kept.count(std::string(kBase) + "status/link") ? kept.at(std::string(kBase) + "status/link") : "",
            "ok");  // lost, then restored: the later one
  EXPECT_EQ(kept.count(std::string(kBase) + "status/line") ? kept.at(std::string(kBase) + "status/line") : "", "ok");
  EXPECT_EQ(kept.count(std::string(kBase) + "status/enclosure") ? kept.at(std::string(kBase) + "status/enclosure") : "",
            "closed");
  ASSERT_TRUE(kept.count(std::string(kBase) + "object/1234"));
  const auto object = testing::ParseJson(kept.at(std::string(kBase) + "object/1234"));
  ASSERT_TRUE(object);
  EXPECT_EQ((*object)["text"].text, events[0].text);
  ASSERT_TRUE(kept.count(std::string(kBase) + "object/0012"));
  EXPECT_NE(kept.at(std::string(kBase) + "object/0012").find("\"control\":\"normal\""), std::string::npos);

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
    EXPECT_EQ(ParseMqttUrl(broker.SecureUrl(), c.url), "");
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
  ASSERT_TRUE(sink);
  sink->Publish(Numbered(1, EventKind::ConsoleStarted));
  sink->Publish(Numbered(2, EventKind::LinkRestored));
  sink->Publish(Numbered(3, EventKind::ObjectsChanged, "0012", "register"));
  sink->Publish(Numbered(4, EventKind::ObjectOverdue, "0012"));
  sink->Publish(Numbered(5, EventKind::EnclosureOpened));
  ASSERT_TRUE(WaitUntil([&] { return sink->Acknowledged() == 5; }));
  broker.Stop();
  ASSERT_TRUE(broker.Start(&error)) << error;

  // A watcher from the start sees the states come back (live), after which
  // they are kept on the broker for anyone.
  TestSubscriber watcher(broker.Port(), std::string(kBase) + "#", "watcher", false);
  ASSERT_TRUE(watcher.Start());
  ASSERT_TRUE(watcher.WaitFor([&](auto& all) { return !PayloadsOn(all, std::string(kBase) + "status/enclosure").empty(); }));
  const auto kept = RetainedNow(broker.Port(), "latecomer",
                                {"online", "status/link", "status/line", "status/enclosure", "object/0012"});
  EXPECT_EQ(kept.size(), 5u) << ::testing::PrintToString(kept);
  EXPECT_EQ(kept.count(std::string(kBase) + "status/link") ? kept.at(std::string(kBase) + "status/link") : "", "ok");
  EXPECT_EQ(kept.count(std::string(kBase) + "status/enclosure") ? kept.at(std::string(kBase) + "status/enclosure") : "",
            "open");
  ASSERT_TRUE(kept.count(std::string(kBase) + "object/0012"));
  EXPECT_NE(kept.at(std::string(kBase) + "object/0012").find("\"control\":\"overdue\""), std::string::npos);
  EXPECT_EQ(kept.count(std::string(kBase) + "online") ? kept.at(std::string(kBase) + "online") : "", "online");
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

TEST_F(MqttSinkTest, DiscoveryAnnouncesTheStatusSensorsAndEachObjectAndWithdrawsADeletedOne) {
  TestBroker broker;
  std::string error;
  ASSERT_TRUE(broker.Start(&error)) << error;
  TestSubscriber subscriber(broker.Port(), "ha/#", "watcher", false);
  ASSERT_TRUE(subscriber.Start());
  MqttConfig config = Config(broker);
  config.discoveryPrefix = "ha";
  auto sink = Open(config);
  ASSERT_TRUE(sink);
  const std::string object = "ha/sensor/pelvaron_test/object_0012/config";
  sink->Publish(Numbered(1, EventKind::ObjectsChanged, "0012", "register"));
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) { return !PayloadsOn(all, object).empty(); }));
  for (const char* sensor : {"link", "line", "enclosure"}) {
    const auto configs = subscriber.On(std::string("ha/binary_sensor/pelvaron_test/") + sensor + "/config");
    ASSERT_FALSE(configs.empty()) << sensor;
    const auto json = testing::ParseJson(configs.back());
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["state_topic"].text, std::string(kBase) + "status/" + sensor);
  }
  const auto json = testing::ParseJson(subscriber.On(object).back());
  ASSERT_TRUE(json);
  EXPECT_EQ((*json)["state_topic"].text, std::string(kBase) + "object/0012");
  EXPECT_EQ((*json)["value_template"].text, "{{ value_json.control }}");

  sink->Publish(Numbered(2, EventKind::ObjectsChanged, "0012", "delete"));
  ASSERT_TRUE(subscriber.WaitFor([&](auto& all) { return PayloadsOn(all, object).back().empty(); }));
}

}  // namespace
}  // namespace pelvaron
