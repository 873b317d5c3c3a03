#include "app/console.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/fixed_text.h"
#include "link/fake_serial_port.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Cp;
using testing::FakeClock;
using testing::FakeSerialPort;
using testing::Hex;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

// Puts each announced attempt among the port's calls, to check their order.
class ConsoleOperator : public RecordingOperator {
 public:
  FakeSerialPort* port = nullptr;
  void ExchangeProgress(bool shown, const std::string& a, const std::string& b) override {
    RecordingOperator::ExchangeProgress(shown, a, b);
    if (shown) port->calls.push_back("Progress " + b);
  }
};

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() { op.port = &port; }

  void Start(int hour, int minute, int second) {
    clock.SetLocal(2026, 12, 6, hour, minute, second);
    console.Startup();
    startLines = op.log.size();
  }

  // One tick whose "gs" gets the given answer (none when empty), then the
  // answers of the exchanges that follow.
  void Tick(std::vector<std::uint8_t> status, std::vector<std::vector<std::uint8_t>> more = {}) {
    port.answers.clear();
    port.rx.clear();
    port.answers.push_back(std::move(status));
    for (auto& a : more) port.answers.push_back(std::move(a));
    console.OnTimer();
  }
  void Silent(int ticks) {
    for (int i = 0; i < ticks; ++i) Tick({});
  }
  void At(int hour, int minute, int second) { clock.SetLocal(2026, 12, 6, hour, minute, second); }

  // The lines the ticks wrote, without their stamps.
  std::vector<std::string> NewLines() const {
    std::vector<std::string> out;
    for (std::size_t i = startLines; i < op.log.size(); ++i) {
      const std::string& line = op.log[i];
      out.push_back(line.size() > 23 && line[2] == ':' ? line.substr(23) : line);
    }
    return out;
  }
  std::size_t Polls() const {
    std::size_t n = 0;
    for (const auto& c : port.Commands()) n += c == "gn";
    return n;
  }
  ObjectRecord& AddObject(const char* address, int period, int control) {
    ObjectTable& table = console.Objects().Table();
    int slot = console.Objects().FirstFreeSlot();
    ObjectRecord& r = table[slot];
    WriteFixedText(r.szAddress, address);
    r.bUsed = 1;
    r.nPeriod = period;
    r.bControl = control;
    return r;
  }

  FakeClock clock;
  MemoryFileSystem fs;
  ConsoleOperator op;
  FakeSerialPort port;
  Console console{clock, fs, op, port, DeviceMap{}};
  std::size_t startLines = 0;
};

TEST_F(ConsoleTest, FirstStartInAnEmptyFolder) {
  Start(10, 15, 30);
  EXPECT_EQ(fs.files["pelvaron.ini"].size(), 208u);
  EXPECT_EQ(fs.files["objects.stt"].size(), kObjectsFileSize);
  EXPECT_EQ(op.log, (std::vector<std::string>{">>", "06:12:2026, 10:15:30   Включение программы"}));
  EXPECT_EQ(fs.Text("protocol.txt"),
            Cp("06:12:2026, 10:15:30   >>\r\n06:12:2026, 10:15:30   Включение программы\r\n"));
  EXPECT_EQ(port.openedPath, "/dev/ttyS0");
  const StatusView& s = console.Status();
  EXPECT_EQ(s.m_strDateTime, "06:12:2026, 10:15");
  EXPECT_EQ(s.m_strLinkState, "  Отсутствие!  ");
  EXPECT_EQ(s.m_strCaseState, "Норма");
  EXPECT_EQ(s.m_strLineState, "Норма");
  EXPECT_EQ(s.bLinkOk, 0);
}

TEST_F(ConsoleTest, AMissingPortIsReportedAndTheConsoleStillStarts) {
  port.openError = 2;
  Start(10, 15, 30);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].title, "Ошибка");
  EXPECT_NE(op.messages[0].text.find("COM1"), std::string::npos);
  EXPECT_EQ(console.Status().m_strLinkState, "  Отсутствие!  ");
  EXPECT_EQ(op.log.size(), 2u);
}

TEST_F(ConsoleTest, TheFirstAnswerRestoresTheLink) {
  Start(10, 15, 30);
  Tick({0x08});
  EXPECT_EQ(NewLines(), (std::vector<std::string>{"Восстановление связи с Велдор"}));
  EXPECT_EQ(console.Status().m_strLinkState, "  Норма  ");
  EXPECT_EQ(console.Status().m_strLineState, "  Норма  ");
  EXPECT_EQ(console.Status().m_strCaseState, "  Норма  ");
  EXPECT_EQ(console.Status().bLinkOk, 1);
}

TEST_F(ConsoleTest, ASilentReceiverNeverReportsALossItNeverHad) {
  Start(10, 15, 30);
  Silent(500);
  EXPECT_TRUE(NewLines().empty());
  EXPECT_EQ(console.Status().m_strLinkState, "  Отсутствие!  ");
}

TEST_F(ConsoleTest, TheLinkIsLostAfter121UnansweredRequestsAndReportedOnce) {
  Start(10, 15, 30);
  Tick({0x08});
  Silent(120);
  EXPECT_EQ(NewLines().size(), 1u);
  EXPECT_EQ(console.Status().bLinkOk, 1);
  Silent(1);
  EXPECT_EQ(NewLines().back(), "Нет связи с Велдор!");
  EXPECT_EQ(console.Status().m_strLinkState, "  Отсутствие!  ");
  Silent(300);
  EXPECT_EQ(NewLines().size(), 2u);
  Tick({0x08});
  EXPECT_EQ(NewLines().back(), "Восстановление связи с Велдор");
  EXPECT_EQ(console.Status().m_strLinkState, "  Норма  ");
}

TEST_F(ConsoleTest, ATooLongAnswerNeitherCountsNorResets) {
  Start(10, 15, 30);
  Tick({0x08});
  Silent(100);
  Tick({0x08, 0x08});
  Silent(20);
  EXPECT_EQ(console.Status().bLinkOk, 1);
  Silent(1);
  EXPECT_EQ(console.Status().bLinkOk, 0);
  EXPECT_EQ(NewLines().back(), "Нет связи с Велдор!");
}

TEST_F(ConsoleTest, StatusZeroMeansAnOpenEnclosureAndALineInOrder) {
  Start(10, 15, 30);
  Tick({0x00});
  EXPECT_EQ(NewLines(),
            (std::vector<std::string>{"Восстановление связи с Велдор", "Вскрытие корпуса Велдор!"}));
  EXPECT_EQ(console.Status().m_strLineState, "  Норма  ");
  EXPECT_EQ(console.Status().m_strCaseState, "  ВСКРЫТ !  ");
  EXPECT_EQ(console.Status().bCaseClosed, 0);
  EXPECT_EQ(Polls(), 0u);
  Tick({0x08});
  EXPECT_EQ(NewLines().back(), "Корпус Велдор закрыт");
  EXPECT_EQ(console.Status().m_strCaseState, "  Норма  ");  // the indicator follows back
  Tick({0x00});
  EXPECT_EQ(console.Status().m_strCaseState, "  ВСКРЫТ !  ");
}

TEST_F(ConsoleTest, TheTelephoneLineFaultAndItsRestore) {
  Start(10, 15, 30);
  Tick({0x08});
  Tick({0x0C});
  EXPECT_EQ(NewLines().back(), "Внимание, нет сигнала в телефонной линии!");
  EXPECT_EQ(console.Status().m_strLineState, "  Отсутствие !  ");
  EXPECT_EQ(console.Status().bLineOk, 0);
  Tick({0x0C});
  EXPECT_EQ(NewLines().size(), 2u);
  Tick({0x08});
  EXPECT_EQ(NewLines().back(), "Телефонная линия в норме");
  EXPECT_EQ(console.Status().m_strLineState, "  Норма  ");  // the indicator follows back
}

TEST_F(ConsoleTest, HoldEndsTheTickBeforePollingAndTheMinuteStep) {
  Start(10, 15, 30);
  Tick({0x08});  // swallows minute 15
  AddObject("0001", 5, 1);
  At(10, 16, 0);
  Tick({0x0B}, {Hex("12 34 1F 01 13 00 01 00 00 7A")});
  EXPECT_EQ(Polls(), 0u);
  EXPECT_EQ(console.Objects().Table()[1].nTimeCounter, 0);
  At(10, 16, 30);
  Tick({0x0A}, {Hex("12 34 1F 01 13 00 01 00 00 7A")});
  EXPECT_EQ(Polls(), 1u);
  EXPECT_EQ(console.Objects().Table()[1].nTimeCounter, 1);  // the held minute is counted late, once
  EXPECT_EQ(NewLines()[1], " ");
  EXPECT_EQ(NewLines()[2], "Сообщение : ");
}

TEST_F(ConsoleTest, TheMinuteGateSwallowsTheFirstChange) {
  Start(10, 15, 30);
  AddObject("0001", 60, 1);
  Tick({0x08});
  At(10, 15, 59);
  Tick({0x08});
  EXPECT_EQ(console.Objects().Table()[1].nTimeCounter, 0);
  At(10, 16, 0);
  Tick({0x08});
  EXPECT_EQ(console.Objects().Table()[1].nTimeCounter, 1);
}

TEST_F(ConsoleTest, StartedInMinuteZeroTheNextChangeIsSwallowed) {
  Start(10, 0, 30);
  AddObject("0001", 60, 1);
  Tick({0x08});
  At(10, 1, 0);
  Tick({0x08});
  EXPECT_EQ(console.Objects().Table()[1].nTimeCounter, 0);
  At(10, 2, 0);
  Tick({0x08});
  EXPECT_EQ(console.Objects().Table()[1].nTimeCounter, 1);
}

TEST_F(ConsoleTest, AnOverdueObjectIsReportedOnceAndGoesOnCounting) {
  Start(9, 59, 50);
  Tick({});  // swallows minute 59
  ObjectRecord& watched = AddObject("0042", 120, 1);
  ObjectRecord& idle = AddObject("0043", 1, 0);
  idle.nTimeCounter = 7;
  for (int t = 10 * 3600; t <= 12 * 3600 + 150; t += 10) {
    if (t == 10 * 3600 + 20) console.Objects().ResetObjectCounter(1);
    clock.SetLocal(2026, 12, 6, 0, 0, 0);
    clock.now += t;
    Tick({});
    if (t < 12 * 3600) {
      ASSERT_EQ(watched.bAlarm, 0) << t;
    }
  }
  std::string overdue = "Отсутствие контр. извещения от объекта с адресом '0042'!";
  std::vector<std::string> lines = NewLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), overdue), 1);
  EXPECT_EQ(watched.bAlarm, 1);
  EXPECT_EQ(watched.nState, OBJSTATE_NO_CONTROL);
  EXPECT_EQ(watched.nTimeCounter, 122);
  EXPECT_EQ(idle.nTimeCounter, 7);
  EXPECT_EQ(idle.bAlarm, 0);
  // The line came in the first tick after 12:00:00.
  auto it = std::find(op.log.begin(), op.log.end(), "06:12:2026, 12:00:00   " + overdue);
  EXPECT_NE(it, op.log.end());
}

TEST_F(ConsoleTest, AGuardsControlMessageRestartsTheCount) {
  Start(10, 15, 30);
  Tick({0x08});
  ObjectRecord& r = AddObject("0005", 1, 1);
  At(10, 16, 0);
  Tick({0x08});
  EXPECT_EQ(r.bAlarm, 1);
  Tick({0x0A}, {Hex("00 05 0A 20 00 30 00 00 00 5F")});
  EXPECT_EQ(r.bAlarm, 0);
  EXPECT_EQ(r.nTimeCounter, 0);
  EXPECT_EQ(r.byFlags & OVERDUE_LOGGED, 0);
}

TEST_F(ConsoleTest, AcceptedSettingsReopenThePortAtTheNextTick) {
  Start(10, 15, 30);
  Tick({0x08});
  auto page = console.ProgramSettingsPage();
  page.m_nComPort = 2;
  ASSERT_TRUE(console.AcceptProgramSettings(page));
  EXPECT_EQ(fs.files["pelvaron.ini"][204], 2);
  port.calls.clear();
  Tick({0x08});
  ASSERT_GE(port.calls.size(), 3u);
  EXPECT_EQ(port.calls[1], "Close");
  EXPECT_EQ(port.calls[2], "Open /dev/ttyS2");
  EXPECT_EQ(console.bReopenCom, 0);
}

TEST_F(ConsoleTest, AnUnpluggedReceiverIsFoundAgainByTheTickWithTheLinkLinesAsEver) {
  Start(10, 15, 30);
  Tick({0x08});
  port.failed = true;  // unplugged, and gone from /dev
  port.openError = 2;
  Silent(130);
  EXPECT_EQ(NewLines(), (std::vector<std::string>{"Восстановление связи с Велдор", "Нет связи с Велдор!"}));
  ASSERT_EQ(op.messages.size(), 1u) << "one message for the cause, not one per try";
  EXPECT_NE(op.messages[0].text.find("COM1 прервана"), std::string::npos);
  port.openError = 0;  // plugged back
  Silent(PortWatch::kReopenTicks);
  Tick({0x08});
  EXPECT_EQ(NewLines(), (std::vector<std::string>{"Восстановление связи с Велдор", "Нет связи с Велдор!",
                                                  "Восстановление связи с Велдор"}));
  ASSERT_EQ(op.messages.size(), 2u);
  EXPECT_EQ(op.messages[1].text, "Порт COM1 снова открыт.");
}

// The receiver moves a message to its current one when "gn" reaches it: an
// answer lost with the port is fetched with "gc" once the port is back, also
// when it was the last message (the status byte then says nothing waits).
TEST_F(ConsoleTest, AMessageWhoseAnswerWasLostWithThePortIsFetchedAgainOnceItIsBack) {
  const std::vector<std::uint8_t> frame = Hex("00 05 0A 20 00 30 00 00 00 5F");
  // Whether "gn" went out before the port failed, and whether the receiver
  // still holds the message then (not when it was restarted).
  const std::pair<bool, bool> cases[] = {{true, true}, {true, false}, {false, true}};
  for (const auto& [gnWentOut, currentKept] : cases) {
    ConsoleOperator op;
    FakeSerialPort port;
    Console console{clock, fs, op, port, DeviceMap{}};
    At(10, 15, 30);
    console.Startup();
    auto tick = [&](std::vector<std::vector<std::uint8_t>> answers) {
      port.answers.assign(answers.begin(), answers.end());
      port.rx.clear();
      console.OnTimer();
    };
    tick({{0x08}});
    port.failAt = "gn";
    port.failAtWentOut = gnWentOut;
    tick({{0x0A}, frame});
    const unsigned opens = console.Link().OpenCount();
    for (int i = 0; i <= PortWatch::kReopenTicks && console.Link().OpenCount() == opens; ++i) tick({});
    const std::size_t before = port.writes.size();
    const std::uint8_t status = gnWentOut ? 0x08 : 0x0A;  // the lost one was the last; or it still waits
    tick(currentKept ? std::vector<std::vector<std::uint8_t>>{{status}, frame}
                     : std::vector<std::vector<std::uint8_t>>{{status}});
    tick({{0x08}});
    const std::vector<std::string> commands = port.Commands();
    EXPECT_EQ(
        std::vector<std::string>(commands.begin() + static_cast<std::ptrdiff_t>(before), commands.end()),
        (std::vector<std::string>{"gs", gnWentOut ? "gc" : "gn", "gs"}));
    EXPECT_EQ(std::count(op.log.begin(), op.log.end(), " "), currentKept ? 1 : 0)
        << "the message's first line";
    EXPECT_EQ(op.messages.size(), 2u) << "the port's failure and its return, no debug box";
  }
}

TEST_F(ConsoleTest, ShutdownClosesThePortAndWritesTheClosingLineOnce) {
  Start(10, 15, 30);
  console.Shutdown();
  console.Shutdown();
  EXPECT_FALSE(port.open);
  EXPECT_EQ(NewLines(), (std::vector<std::string>{"Выключение программы"}));
}

TEST_F(ConsoleTest, NothingRunsAfterShutdown) {
  Start(10, 15, 30);
  Tick({0x08});
  AddObject("0001", 1, 1);
  console.Shutdown();
  console.bReopenCom = 1;
  port.calls.clear();
  At(10, 16, 0);
  Tick({0x08});
  EXPECT_TRUE(port.calls.empty());
  EXPECT_EQ(NewLines().back(), "Выключение программы");
  EXPECT_FALSE(console.ReadReceiverSettings().has_value());
  EXPECT_TRUE(port.calls.empty());
}

TEST_F(ConsoleTest, StartupOpensThePortTheSettingsFileNames) {
  auto image = ConsoleSettings::Defaults();
  image.nComPort = 2;
  auto* bytes = reinterpret_cast<const std::uint8_t*>(&image);
  fs.files["pelvaron.ini"].assign(bytes, bytes + sizeof image);
  Start(10, 15, 30);
  EXPECT_EQ(port.openedPath, "/dev/ttyS2");
  EXPECT_EQ(console.settings.nComPort, 2);
}

TEST_F(ConsoleTest, AnUnconvertibleTimeShowsNoDateAndCountsAsMinusOne) {
  Start(10, 15, 30);
  Tick({0x08});
  clock.convertible = false;
  Tick({0x08});
  EXPECT_EQ(console.Status().m_strDateTime, "");
  EXPECT_EQ(console.nLastMinute, -1);
}

TEST_F(ConsoleTest, TheAudibleAlarmSoundsEveryThirdSecondForAnAlarmedObjectWhenSwitchedOn) {
  Start(10, 15, 30);
  Tick({0x08});
  ObjectRecord& r = AddObject("0001", 1, 1);
  r.bAlarm = 1;
  At(10, 15, 33);
  Tick({0x08});
  EXPECT_EQ(op.alarmSounds, 0);  // off unless a shell switches it on
  console.bAlarmBeep = true;
  Tick({0x08});
  EXPECT_EQ(op.alarmSounds, 1);
  At(10, 15, 34);
  Tick({0x08});
  EXPECT_EQ(op.alarmSounds, 1);
  At(10, 15, 36);
  Tick({0x0B});  // ends at the hold
  EXPECT_EQ(op.alarmSounds, 1);
}

// The receiver settings exchange.
class ReceiverSettingsTest : public ConsoleTest {
 protected:
  void SetUp() override { Start(10, 15, 30); }
  static std::vector<std::uint8_t> Answer(std::vector<std::uint8_t> block) {
    std::vector<std::uint8_t> a{0x64};
    a.insert(a.end(), block.begin(), block.end());
    int sum = 0;
    for (auto b : a) sum += b;
    a.push_back(static_cast<std::uint8_t>(sum >> 8));
    a.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    return a;
  }
};

TEST_F(ReceiverSettingsTest, ThePageShowsTheBlockAndAcceptingItWritesItBack) {
  port.answers = {Answer({0x07, 0x11, 0x03, 0x04, 0x80})};
  auto read = console.ReadReceiverSettings();
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->page, (ReceiverPageValues{1, 1, 2, 0, 1}));
  port.writes.clear();
  port.answers = {{}, Answer({0x03, 0x11, 0x03, 0x04, 0x80})};
  EXPECT_EQ(console.WriteReceiverSettings(read->block, read->page), 0);
  ASSERT_GE(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], Hex("73 64 00 00 05 03 11 03 04 80"));
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(ReceiverSettingsTest, AttemptsAreAnnouncedBeforeTheyAreMade) {
  port.answers = {{}, {}, Answer({0x01, 0x00, 0x02, 0x44, 0x80})};
  auto read = console.ReadReceiverSettings();
  ASSERT_TRUE(read.has_value());
  ASSERT_EQ(op.progress.size(), 4u);
  EXPECT_EQ(op.progress[0].text1016, "Идёт обмен информацией ...");
  EXPECT_EQ(op.progress[0].text1017, "Попытка связи 1 из 12");
  EXPECT_EQ(op.progress[2].text1017, "Попытка связи 3 из 12");
  EXPECT_FALSE(op.progress[3].shown);
  // Each attempt is announced before its request goes out.
  std::vector<std::string> order;
  for (const auto& call : port.calls) {
    if (call.rfind("Progress", 0) == 0) order.push_back(call);
    if (call.rfind("Write gd", 0) == 0) order.push_back("gd");
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Progress Попытка связи 1 из 12", "gd",
                                             "Progress Попытка связи 2 из 12", "gd",
                                             "Progress Попытка связи 3 из 12", "gd"}));
  EXPECT_EQ(clock.sleeps, (std::vector<int>{100, 400, 100, 400, 100}));
  EXPECT_EQ(read->page.m_nPickupRings, 1);
  EXPECT_EQ(read->page.m_bCheckLine, 0);
  EXPECT_EQ(read->page.m_nCheckInterval, 3);
}

TEST_F(ReceiverSettingsTest, AReceiverThatNeverAnswersIsReportedAfterAllAttempts) {
  console.settings.nLinkAttempts = 3;
  EXPECT_FALSE(console.ReadReceiverSettings().has_value());
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, "Нет ответа от Велдор! \n Проверьте соединение Велдор с компьютером!");
  EXPECT_EQ(op.messages[0].title, "Ошибка связи");
}

TEST_F(ReceiverSettingsTest, APortThatCannotBeReopenedEndsTheCommandAtItsOwnMessage) {
  port.openError = 2;
  console.Link().CloseComPort();
  console.Link().OpenComPort();
  op.messages.clear();
  EXPECT_FALSE(console.ReadReceiverSettings().has_value());
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].title, "Ошибка");
  EXPECT_TRUE(op.progress.empty());
}

TEST_F(ReceiverSettingsTest, AReceiverThatStoresOnlyPartOfTheBlockEndsInTheWriteMessage) {
  console.settings.nLinkAttempts = 2;
  ParameterBlock read{{0x07, 0x11, 0x03, 0x04, 0x80}};
  port.answers = {{}, Answer({0x03, 0x11, 0x03, 0x00, 0x80}), {}, Answer({0x03, 0x11, 0x03, 0x00, 0x80})};
  EXPECT_EQ(console.WriteReceiverSettings(read, PageFromBlock(read)), 5);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, "Внимание, ошибка при записи, попробуйте ещё раз!");
}

TEST(ReceiverPage, BlockToPageAndBack) {
  struct Case {
    std::uint8_t b0, b2, b3;
    ReceiverPageValues page;
    std::uint8_t w0, w2, w3;
  } cases[] = {
      {0x07, 3, 4, {1, 1, 2, 0, 1}, 0x03, 3, 4},  // "Ломир-Т", "Два", "3 звонка", "5 мин"
      {0x00, 1, 0x44, {0, 3, 0, 1, 0}, 0x00, 1, 0x5D},  // checking off shows "30 мин", writes 0x5D
      {0x01, 5, 2, {1, -1, 4, 0, 0}, 0x01, 5, 0},       // 3 minutes: no row, written as 0
      {0x02, 0, 29, {1, 3, -1, 1, 1}, 0x02, 0, 29},     // no ring row, written as 0
      {0x02, 6, 9, {1, 2, -1, 1, 1}, 0x02, 0, 9},
  };
  for (const auto& c : cases) {
    ParameterBlock read{{c.b0, 0x5A, c.b2, c.b3, 0x81}};
    EXPECT_EQ(PageFromBlock(read), c.page) << int(c.b0) << " " << int(c.b2) << " " << int(c.b3);
    ParameterBlock written = BlockFromPage(read, c.page);
    EXPECT_EQ(written, (ParameterBlock{{c.w0, 0x5A, c.w2, c.w3, 0x81}})) << int(c.b3);
  }
}

}  // namespace
}  // namespace pelvaron
