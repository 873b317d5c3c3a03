#include "link/receiver_link.h"

#include <gtest/gtest.h>

#include <deque>

#include "link/fake_serial_port.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::FakeClock;
using testing::FakeSerialPort;
using testing::Hex;
using testing::RecordingOperator;

const std::vector<std::uint8_t> kFrame = Hex("12 34 1F 01 13 00 01 00 00 7A");
const std::vector<std::uint8_t> kBadSumFrame = Hex("12 34 1F 01 13 00 01 00 00 7B");
const OperatorMessage kWrongLengthBox{
    "Debug information: there were very many or too few digits loaded on the Current Data request!", "",
    MessageIcon::None};

// Stands in for the decoder: accepts a frame whose sum is right.
struct RecordingSink {
  std::vector<std::vector<std::uint8_t>> frames;
  int operator()(const std::uint8_t* buffer) {
    frames.emplace_back(buffer, buffer + 20);
    unsigned sum = 0;
    for (int i = 0; i < 8; ++i) sum += buffer[i];
    return sum == buffer[8] * 256u + buffer[9] ? 0 : 1;
  }
};

class ReceiverLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { settings.nComPort = 0; }
  int Open() {
    int r = link.OpenComPort();
    port.calls.clear();
    op.messages.clear();
    return r;
  }
  FrameSink Sink() {
    return [this](const std::uint8_t* b) { return sink(b); };
  }

  FakeSerialPort port;
  FakeClock clock;
  RecordingOperator op;
  ConsoleSettings settings = ConsoleSettings::Defaults();
  DeviceMap devices;
  ReceiverLink link{port, clock, op, settings, devices};
  RecordingSink sink;
};

// --- Opening -----------------------------------------------------------------

TEST_F(ReceiverLinkTest, OpensConfiguresInOrder) {
  settings.nComPort = 2;
  EXPECT_EQ(link.OpenComPort(), 0);
  EXPECT_TRUE(link.bComOpen());
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(port.openedPath, "/dev/ttyS2");
  EXPECT_EQ(port.calls, (std::vector<std::string>{"Open /dev/ttyS2", "GetLineSettings", "SetLineSettings",
                                                  "SetEventMask 1", "SetQueueSizes 100 10", "Purge rx tx",
                                                  "SetTimeouts"}));
  EXPECT_EQ(port.line.baudRate, 19200);
  EXPECT_EQ(port.line.dataBits, 8);
  EXPECT_EQ(port.line.parity, Parity::None);
  EXPECT_EQ(port.line.stopBits, StopBits::One);
  EXPECT_EQ(port.timeouts, (CommTimeouts{10, 10, 50, 40, 40}));
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(ReceiverLinkTest, MappedDeviceIsOpenedButMessagesNameThePort) {
  ASSERT_EQ(devices.Add("COM3=/dev/pts/7"), "");
  settings.nComPort = 2;
  EXPECT_EQ(link.OpenComPort(), 0);
  EXPECT_EQ(port.openedPath, "/dev/pts/7");

  port.openError = 16;
  link.CloseComPort();
  EXPECT_EQ(link.OpenComPort(), 1);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text,
            "Не удаётся обнаружить COM3 !\n Возможно, ресурс используется другой программой.");
  EXPECT_EQ(link.LastOpenError(), 16);
}

struct OpenFailure {
  const char* name;
  void (*arrange)(FakeSerialPort&);
  int result;
  OperatorMessage message;
  bool comOpen;
};

class OpenFailureTest : public ReceiverLinkTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, ShowsItsMessageAndReturnsItsStep) {
  const auto& c = GetParam();
  c.arrange(port);
  EXPECT_EQ(link.OpenComPort(), c.result);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0], c.message);
  EXPECT_EQ(link.bComOpen(), c.comOpen);
  // Nothing is rolled back after the device was opened.
  EXPECT_EQ(link.IsOpen(), c.comOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenFailureTest,
    ::testing::Values(
        OpenFailure{"Device",
                    [](FakeSerialPort& p) { p.openError = 13; },
                    1,
                    {"Не удаётся обнаружить COM1 !\n Возможно, ресурс используется другой программой.",
                     "Ошибка", MessageIcon::Error},
                    false},
        OpenFailure{"GetCommState",
                    [](FakeSerialPort& p) { p.failGetLine = true; },
                    1,
                    {"fSuccess = GetCommState(hCom, &dcb);", "Debug info", MessageIcon::None},
                    true},
        OpenFailure{"SetCommState",
                    [](FakeSerialPort& p) { p.failSetLine = true; },
                    2,
                    {"fSuccess = SetCommState(hCom, &dcb);", "Debug info", MessageIcon::None},
                    true},
        OpenFailure{"SetCommMask",
                    [](FakeSerialPort& p) { p.failEventMask = true; },
                    3,
                    {"fSuccess = SetCommMask(hCom,EV_RXCHAR);", "Error", MessageIcon::Error},
                    true},
        OpenFailure{"SetupComm",
                    [](FakeSerialPort& p) { p.failQueueSizes = true; },
                    4,
                    {"fSuccess = SetupComm(hCom, BUFFER_SIZE,10);", "Error", MessageIcon::Error},
                    true},
        OpenFailure{
            "PurgeComm",
            [](FakeSerialPort& p) { p.failPurge = true; },
            5,
            {"fSuccess = PurgeComm(hCom, PURGE_RXCLEAR | PURGE_TXCLEAR );", "Error", MessageIcon::Error},
            true},
        OpenFailure{"SetCommTimeouts",
                    [](FakeSerialPort& p) { p.failTimeouts = true; },
                    6,
                    {"fSuccess = SetCommTimeouts(hCom,&CommTimeouts);", "Error", MessageIcon::Error},
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceiverLinkTest, FailedOpenClearsComOpenAfterAGoodOne) {
  ASSERT_EQ(link.OpenComPort(), 0);
  link.CloseComPort();
  EXPECT_TRUE(link.bComOpen());  // closing leaves the flag alone
  port.openError = 16;
  EXPECT_EQ(link.OpenComPort(), 1);
  EXPECT_FALSE(link.bComOpen());
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(ReceiverLinkTest, IndexOutsideTheTableNamesItsPortAndReadsNoDevice) {
  for (int index : {9, -1, 127, -128}) {
    settings.nComPort = static_cast<std::int8_t>(index);
    op.messages.clear();
    port.calls.clear();
    EXPECT_EQ(link.OpenComPort(), 1) << index;
    EXPECT_TRUE(port.calls.empty()) << "no device may be opened for index " << index;
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, "Не удаётся обнаружить COM" + std::to_string(index + 1) +
                                       " !\n Возможно, ресурс используется другой программой.");
    EXPECT_EQ(op.messages[0].title, "Ошибка");
    EXPECT_FALSE(link.bComOpen());
  }
  // Unless the name is mapped.
  ASSERT_EQ(devices.Add("COM10=/dev/ttyUSB0"), "");
  settings.nComPort = 9;
  EXPECT_EQ(link.OpenComPort(), 0);
  EXPECT_EQ(port.openedPath, "/dev/ttyUSB0");
}

TEST_F(ReceiverLinkTest, ReopenWithoutCloseDoesNotLeakTheHandle) {
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(link.OpenComPort(), 0);
  EXPECT_EQ(port.calls.front(), "Close");
}

TEST_F(ReceiverLinkTest, CloseNeverOpenedOrTwiceDoesNothing) {
  link.CloseComPort();
  EXPECT_TRUE(port.calls.empty());
  ASSERT_EQ(Open(), 0);
  link.CloseComPort();
  EXPECT_EQ(port.calls, (std::vector<std::string>{"Purge rx tx", "Close"}));
  link.CloseComPort();
  EXPECT_EQ(port.calls.size(), 2u);
  EXPECT_FALSE(link.IsOpen());
}

// --- Status ------------------------------------------------------------------

TEST_F(ReceiverLinkTest, StatusByteAccepted) {
  ASSERT_EQ(Open(), 0);
  port.rx = Hex("55 66");  // left over from before: purged first
  port.answers = {Hex("0A")};
  std::uint8_t status = 0xEE;
  EXPECT_EQ(link.RequestStatus(status), 0);
  EXPECT_EQ(status, 0x0A);
  EXPECT_EQ(port.calls, (std::vector<std::string>{"Purge rx tx", "Write gs", "Read 4 -> 1", "Purge rx"}));
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(ReceiverLinkTest, StatusResults) {
  ASSERT_EQ(Open(), 0);
  struct Case {
    std::vector<std::uint8_t> answer;
    int result;
  };
  for (const Case& c : {Case{{}, 1}, Case{Hex("0A 0B"), 2}, Case{Hex("01 02 03 04 05 06"), 2}}) {
    port.answers = {c.answer};
    std::uint8_t status = 0xEE;
    EXPECT_EQ(link.RequestStatus(status), c.result);
    EXPECT_EQ(status, 0xEE) << "status is left untouched";
    EXPECT_TRUE(port.rx.empty()) << "what was not read is purged";
  }
}

TEST_F(ReceiverLinkTest, StatusSendsNothingWhenThePortIsNotOpen) {
  std::uint8_t status = 0;
  EXPECT_EQ(link.RequestStatus(status), 1);  // never opened
  port.failSetLine = true;
  link.OpenComPort();
  link.CloseComPort();  // bComOpen stays 1, the handle is gone
  port.calls.clear();
  EXPECT_EQ(link.RequestStatus(status), 1);
  port.openError = 2;
  link.OpenComPort();  // bComOpen 0
  port.calls.clear();
  EXPECT_EQ(link.RequestStatus(status), 1);
  EXPECT_TRUE(port.calls.empty());
  EXPECT_TRUE(port.writes.empty());
}

// --- Messages ----------------------------------------------------------------

TEST_F(ReceiverLinkTest, NewMessageAcceptedEndsTheCycle) {
  ASSERT_EQ(Open(), 0);
  port.answers = {kFrame};
  link.PollMessages(Sink());
  EXPECT_EQ(port.Commands(), std::vector<std::string>{"gn"});
  ASSERT_EQ(sink.frames.size(), 1u);
  std::vector<std::uint8_t> expected = kFrame;
  expected.resize(20, 0);  // the rest of the receive buffer is cleared
  EXPECT_EQ(sink.frames[0], expected);
  EXPECT_EQ(clock.sleeps, std::vector<int>{100});
  EXPECT_EQ(port.calls, (std::vector<std::string>{"Purge rx tx", "Write gn", "Read 20 -> 10", "Purge rx"}));
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(ReceiverLinkTest, ShortNewMessageIsSilentThenCurrentIsFetched) {
  ASSERT_EQ(Open(), 0);
  port.answers = {Hex("12 34 1F 01 13 00 01 00 00"), kFrame};
  link.PollMessages(Sink());
  EXPECT_EQ(port.Commands(), (std::vector<std::string>{"gn", "gc"}));
  EXPECT_EQ(sink.frames.size(), 1u) << "a 9-byte answer never reaches the decoder";
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(clock.sleeps, (std::vector<int>{100, 20}));
}

TEST_F(ReceiverLinkTest, BadSumGoesToTheDecoderThenCurrentIsFetched) {
  ASSERT_EQ(Open(), 0);
  port.answers = {kBadSumFrame, kBadSumFrame, kFrame};
  link.PollMessages(Sink());
  EXPECT_EQ(port.Commands(), (std::vector<std::string>{"gn", "gc", "gc"}));
  EXPECT_EQ(sink.frames.size(), 3u);
  EXPECT_TRUE(op.messages.empty()) << "the decoder tells of bad sums itself";
}

TEST_F(ReceiverLinkTest, FiveEmptyCurrentAnswersGiveFiveBoxesAndStop) {
  ASSERT_EQ(Open(), 0);
  link.PollMessages(Sink());
  EXPECT_EQ(port.Commands(), (std::vector<std::string>{"gn", "gc", "gc", "gc", "gc", "gc"}));
  EXPECT_EQ(op.messages, std::vector<OperatorMessage>(5, kWrongLengthBox));
  EXPECT_TRUE(sink.frames.empty());
  EXPECT_EQ(clock.sleeps, (std::vector<int>{100, 20, 20, 20, 20, 20}));
}

TEST_F(ReceiverLinkTest, AProcessThatIsEndingStartsNoFurtherExchangeAndReportsNone) {
  ASSERT_EQ(Open(), 0);
  // Asked to end while the first answer is being judged: no "gc" follows.
  port.answers = {kBadSumFrame};
  link.PollMessages([this](const std::uint8_t* b) {
    port.cancelled = true;
    return sink(b);
  });
  EXPECT_EQ(port.Commands(), std::vector<std::string>{"gn"});
  EXPECT_TRUE(op.messages.empty());
  std::uint8_t status = 0;
  EXPECT_EQ(link.RequestStatus(status), 1);
  ParameterBlock block{};
  EXPECT_EQ(link.ReadParameters(block), kParamNoAnswer);
  EXPECT_EQ(port.Commands(), std::vector<std::string>{"gn"});
}

TEST_F(ReceiverLinkTest, OverlongAnswersAreCutAtTwentyAndRejected) {
  ASSERT_EQ(Open(), 0);
  std::vector<std::uint8_t> flood(300, 0x5A);
  port.answers = {flood, Hex("01 02 03 04 05 06 07 08 09 0A 0B"), kFrame};
  link.PollMessages(Sink());
  EXPECT_EQ(port.Commands(), (std::vector<std::string>{"gn", "gc", "gc"}));
  EXPECT_EQ(op.messages.size(), 1u);  // for the 11-byte "gc"
  EXPECT_EQ(sink.frames.size(), 1u);
  for (std::size_t n : port.readSizes) EXPECT_EQ(n, 20u);
  EXPECT_TRUE(port.rx.empty());
}

TEST_F(ReceiverLinkTest, CurrentMessageResults) {
  ASSERT_EQ(Open(), 0);
  port.answers = {kFrame};
  EXPECT_EQ(link.GetCurrentMessage(Sink()), 0);
  port.answers = {kBadSumFrame};
  EXPECT_EQ(link.GetCurrentMessage(Sink()), 1);
  EXPECT_TRUE(op.messages.empty());
  port.answers = {Hex("01")};
  EXPECT_NE(link.GetCurrentMessage(Sink()), 0);
  EXPECT_EQ(op.messages, std::vector<OperatorMessage>{kWrongLengthBox});
  EXPECT_EQ(port.Commands(), (std::vector<std::string>{"gc", "gc", "gc"}));
  // A frame with no decoder to take it is not accepted.
  port.answers = {kFrame, kFrame};
  EXPECT_NE(link.GetNewMessage(FrameSink{}), 0);
  EXPECT_NE(link.GetCurrentMessage(FrameSink{}), 0);
}

// --- Parameters --------------------------------------------------------------

TEST_F(ReceiverLinkTest, ReadParametersWireAndWait) {
  ASSERT_EQ(Open(), 0);
  port.answers = {Hex("64 01 02 03 04 85 00 F3")};
  ParameterBlock block{};
  EXPECT_EQ(link.ReadParameters(block), 0);
  EXPECT_EQ(block, (ParameterBlock{{0x01, 0x02, 0x03, 0x04, 0x85}}));
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], Hex("67 64 00 00 05"));
  EXPECT_EQ(port.calls,
            (std::vector<std::string>{"Purge rx tx", "Write gd<00><00><05>", "Read 8 -> 8", "Purge rx tx"}));
  EXPECT_EQ(clock.sleeps, std::vector<int>{100});
}

struct ParamCase {
  const char* name;
  const char* answer;
  int result;
  bool filled;
};

class ReadParametersTest : public ReceiverLinkTest, public ::testing::WithParamInterface<ParamCase> {};

TEST_P(ReadParametersTest, Result) {
  const auto& c = GetParam();
  ASSERT_EQ(Open(), 0);
  port.answers = {Hex(c.answer)};
  ParameterBlock block{{0xEE, 0xEE, 0xEE, 0xEE, 0xEE}};
  EXPECT_EQ(link.ReadParameters(block), c.result);
  if (c.filled) {
    auto answer = Hex(c.answer);
    EXPECT_TRUE(std::equal(block.bytes, block.bytes + 5, answer.begin() + 1));
  } else {
    EXPECT_EQ(block, (ParameterBlock{{0xEE, 0xEE, 0xEE, 0xEE, 0xEE}}));
  }
  EXPECT_TRUE(port.rx.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadParametersTest,
    ::testing::Values(ParamCase{"Accepted", "64 01 02 03 04 85 00 F3", 0, true},
                      ParamCase{"ObjectUnit", "64 01 02 03 04 05 00 73", 4, true},
                      ParamCase{"Nothing", "", 1, false},
                      ParamCase{"SevenBytes", "64 01 02 03 04 85 00", 1, false},
                      ParamCase{"LongerJudgedOnFirstEight", "64 01 02 03 04 85 00 F3 99 98 97", 0, true},
                      ParamCase{"LongerWithBadFirstEight", "64 01 02 03 04 85 00 F4 F3", 3, false},
                      ParamCase{"NoMarker", "65 01 02 03 04 85 00 F4", 2, false},
                      ParamCase{"BadSum", "64 01 02 03 04 85 00 F2", 3, false},
                      ParamCase{"SumHighByte", "64 FF FF FF FF FF 05 5F", 0, true},
                      ParamCase{"SumHighByteWrong", "64 FF FF FF FF FF 04 5F", 3, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceiverLinkTest, WriteParametersVerifiedByReadBack) {
  ASSERT_EQ(Open(), 0);
  port.answers = {Hex("AA BB"), Hex("64 03 11 03 04 80 00 FF")};  // "sd" reply is thrown away
  EXPECT_EQ(link.WriteParameters(ParameterBlock{{0x03, 0x11, 0x03, 0x04, 0x80}}), 0);
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[0], Hex("73 64 00 00 05 03 11 03 04 80"));
  EXPECT_EQ(port.writes[1], Hex("67 64 00 00 05"));
  EXPECT_EQ(port.calls, (std::vector<std::string>{"Purge rx tx", "Write sd<00><00><05><03><11><03><04><80>",
                                                  "Purge rx tx", "Purge rx tx", "Write gd<00><00><05>",
                                                  "Read 8 -> 8", "Purge rx tx"}));
  EXPECT_EQ(clock.sleeps, (std::vector<int>{100, 100}));
}

TEST_F(ReceiverLinkTest, WriteParametersResults) {
  ASSERT_EQ(Open(), 0);
  const ParameterBlock block{{0x01, 0x02, 0x03, 0x04, 0x85}};
  struct Case {
    const char* readBack;
    int result;
  };
  for (const Case& c :
       {Case{"64 01 02 03 04 85 00 F3", 0}, Case{"64 01 02 03 05 85 00 F4", 5},  // one byte differs
        Case{"64 00 02 03 04 85 00 F2", 5},                                      // the first byte differs
        Case{"64 01 02 03 04 86 00 F4", 5},                                      // the last byte differs
        Case{"", 1}, Case{"64 01 02 03", 1}, Case{"00 01 02 03 04 85 00 F3", 2},
        Case{"64 01 02 03 04 85 00 00", 3}, Case{"64 01 02 03 04 05 00 73", 4}}) {  // differs too, but 4 wins
    port.answers = {{}, Hex(c.readBack)};
    EXPECT_EQ(link.WriteParameters(block), c.result) << c.readBack;
  }
}

// Whatever a port claims, the link never reads past its buffers.
TEST_F(ReceiverLinkTest, ReadsAskForNoMoreThanTheBuffers) {
  ASSERT_EQ(Open(), 0);
  std::vector<std::uint8_t> flood(1000, 0x64);
  std::uint8_t status;
  ParameterBlock block;
  port.answers = {flood, flood, flood};
  link.RequestStatus(status);
  link.GetNewMessage(Sink());
  link.ReadParameters(block);
  EXPECT_EQ(port.readSizes, (std::vector<std::size_t>{4, 20, 8}));
}

}  // namespace
}  // namespace pelvaron
