#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/console.h"
#include "core/fixed_text.h"
#include "link/fake_serial_port.h"
#include "objects/object_card.h"
#include "objects/object_commands.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::FakeClock;
using testing::FakeSerialPort;
using testing::Hex;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

class RecordingSink : public EventSink {
 public:
  void Publish(const Event& event) override { events.push_back(event); }
  std::vector<std::string> Kinds() const {
    std::vector<std::string> kinds;
    for (const Event& e : events) kinds.emplace_back(EventKindName(e.kind));
    return kinds;
  }
  std::vector<Event> events;
};

class ConsoleEventsTest : public ::testing::Test {
 protected:
  ConsoleEventsTest() {
    clock.SetLocal(2026, 12, 6, 10, 15, 30);
    console.SetEventSink(&sink, "north");
  }
  void Tick(std::vector<std::uint8_t> status, std::vector<std::vector<std::uint8_t>> more = {}) {
    port.answers.clear();
    port.rx.clear();
    port.answers.push_back(std::move(status));
    for (auto& a : more) port.answers.push_back(std::move(a));
    console.OnTimer();
  }

  FakeClock clock;
  MemoryFileSystem fs;
  RecordingOperator op;
  FakeSerialPort port;
  Console console{clock, fs, op, port, DeviceMap{}};
  RecordingSink sink;
};

TEST_F(ConsoleEventsTest, TheConsolesOwnLinesAreEventsInTheirOrder) {
  console.Startup();
  Tick({0x08});  // the link comes up, the enclosure is closed
  Tick({0x04});  // the enclosure opens, the line fails
  Tick({0x08});  // both come back
  console.Shutdown();
  // The enclosure counts as closed from the start: only its changes are events.
  EXPECT_EQ(sink.Kinds(), (std::vector<std::string>{"console-started", "link-restored", "line-fault",
                                                    "enclosure-opened", "line-restored", "enclosure-closed",
                                                    "console-stopped"}));
  // Each carries the protocol line as its text, its number, time and station.
  EXPECT_EQ(sink.events[0].text, "Включение программы");
  EXPECT_EQ(sink.events[2].text, "Внимание, нет сигнала в телефонной линии!");
  for (std::size_t i = 0; i < sink.events.size(); ++i) {
    EXPECT_EQ(sink.events[i].seq, i + 1);
    EXPECT_EQ(sink.events[i].station, "north");
    EXPECT_EQ(sink.events[i].timeText, "2026-12-06T10:15:30+00:00");
  }
}

TEST_F(ConsoleEventsTest, AMessageCarriesItsDecodedValue) {
  console.Startup();
  Tick({0x0A}, {Hex("12 34 1F 01 13 00 01 00 00 7A")});
  ASSERT_EQ(sink.events.back().kind, EventKind::Message);
  const Event& e = sink.events.back();
  EXPECT_EQ(e.address, "1234");
  EXPECT_EQ(e.text, "Восстановление охранной тревоги");
  ASSERT_NE(e.message, nullptr);
  EXPECT_EQ(e.message->contactId.code, 130);
  EXPECT_EQ(e.message->lines.size(), 9u);
}

TEST_F(ConsoleEventsTest, OverdueAndBackInControl) {
  console.Startup();
  Tick({0x08});
  ObjectRecord& r = console.Objects().Table()[1];
  WriteFixedText(r.szAddress, "0005");
  r.bUsed = 1;
  r.nPeriod = 1;
  r.bControl = 1;
  clock.SetLocal(2026, 12, 6, 10, 16, 0);
  Tick({0x08});  // the first change of the minute is swallowed
  clock.SetLocal(2026, 12, 6, 10, 17, 0);
  Tick({0x08});
  ASSERT_EQ(sink.events.back().kind, EventKind::ObjectOverdue);
  EXPECT_EQ(sink.events.back().address, "0005");
  EXPECT_EQ(sink.events.back().text, "Отсутствие контр. извещения от объекта с адресом '0005'!");
  // The guard's control message: the message, then the object back in control.
  Tick({0x0A}, {Hex("00 05 0A 20 00 30 00 00 00 5F")});
  ASSERT_GE(sink.events.size(), 2u);
  const Event& back = sink.events.back();
  EXPECT_EQ(back.kind, EventKind::ObjectBackInControl);
  EXPECT_EQ(back.address, "0005");
  EXPECT_EQ(back.text, "Объект с адресом '0005' снова на контроле");
  EXPECT_EQ(sink.events[sink.events.size() - 2].kind, EventKind::Message);
}

TEST_F(ConsoleEventsTest, TheOperatorsChangesAreEvents) {
  console.Startup();
  ObjectCard card;
  ASSERT_TRUE(BeginNewObject(console.Objects(), card));
  card.m_strAddress = "0012";
  card.m_strPeriod = "2h";
  card.m_bControl = 1;
  ASSERT_FALSE(RegisterObjectCard(card, console.Objects()).has_value());
  SetControl(console.Objects(), 1, false);
  DeleteObject(console.Objects(), 1);
  ClearAllObjects(console.Objects());
  std::vector<std::string> commands;
  std::vector<std::string> texts;
  for (const Event& e : sink.events) {
    if (e.kind != EventKind::ObjectsChanged) continue;
    commands.push_back(e.command);
    texts.push_back(e.text);
  }
  EXPECT_EQ(commands, (std::vector<std::string>{"register", "control-off", "delete", "clear-all"}));
  EXPECT_EQ(texts[0], "Зарегистрирован объект с адресом '0012'");
  EXPECT_EQ(texts[2], "Удалена информация об объекте с адресом '0012'");
}

TEST_F(ConsoleEventsTest, NumbersGoOnAfterARestart) {
  console.Startup();
  console.Shutdown();
  const std::uint64_t last = sink.events.back().seq;
  Console again{clock, fs, op, port, DeviceMap{}};
  RecordingSink next;
  again.SetEventSink(&next, "north");
  again.Startup();
  ASSERT_FALSE(next.events.empty());
  EXPECT_GT(next.events.front().seq, last);
}

TEST_F(ConsoleEventsTest, WithoutASinkNoNumbersAreKept) {
  Console plain{clock, fs, op, port, DeviceMap{}};
  plain.Startup();
  plain.Shutdown();
  EXPECT_EQ(fs.files.count(kEventSequenceFileName), 0u);
}

}  // namespace
}  // namespace pelvaron
