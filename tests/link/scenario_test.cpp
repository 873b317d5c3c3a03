#include "sim/scenario.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace pelvaron::sim {
namespace {

using testing::Hex;

std::vector<std::uint8_t> V(const Frame& f) {
  return {f.begin(), f.end()};
}

Step Parse(const std::string& line) {
  std::string error;
  auto step = ParseStep(line, &error);
  EXPECT_TRUE(step) << line << " -> " << error;
  return step.value_or(Step{});
}

TEST(ScenarioTest, DurationsAndPlainCommands) {
  struct Case {
    const char* line;
    Step::Op op;
    std::int64_t ms;
  };
  for (const Case& c :
       {Case{"wait 250", Step::Op::Wait, 250}, Case{"wait 250ms", Step::Op::Wait, 250},
        Case{"wait 2s", Step::Op::Wait, 2000}, Case{"wait 1.5s", Step::Op::Wait, 1500},
        Case{"  wait\t2min ", Step::Op::Wait, 120000}, Case{"silence 3s", Step::Op::Silence, 3000},
        Case{"vanish 500ms", Step::Op::Vanish, 500}, Case{"no-faults", Step::Op::NoFaults, 0},
        Case{"clear-queue", Step::Op::ClearQueue, 0}, Case{"loop", Step::Op::Loop, 0},
        Case{"exit", Step::Op::Exit, 0}}) {
    Step s = Parse(c.line);
    EXPECT_EQ(s.op, c.op) << c.line;
    EXPECT_EQ(s.ms, c.ms) << c.line;
  }
}

TEST(ScenarioTest, StatusWords) {
  Step s = Parse("status hold line-fault case-open");
  EXPECT_EQ(s.op, Step::Op::Status);
  EXPECT_EQ(s.statusMask, 0x0D);
  EXPECT_EQ(s.statusValues, 0x05);
  s = Parse("status no-hold case-closed");
  EXPECT_EQ(s.statusMask, 0x09);
  EXPECT_EQ(s.statusValues, 0x08);
  EXPECT_EQ(Parse("status-byte 0A").statusByte, 0x0A);
  EXPECT_EQ(Parse("status-byte 0xff").statusByte, 0xFF);
  EXPECT_EQ(Parse("status-byte auto").statusByte, std::nullopt);
}

TEST(ScenarioTest, MessagesOfEveryKind) {
  EXPECT_EQ(V(Parse("frame 12 34 1F 01 13 00 01 00").frame), Hex("12 34 1F 01 13 00 01 00 00 7A"));
  EXPECT_EQ(V(Parse("frame 12 34 1F 01 13 00 01 00 00 7B").frame), Hex("12 34 1F 01 13 00 01 00 00 7B"))
      << "ten bytes are sent as written, wrong sum and all";
  EXPECT_EQ(V(Parse("contact-id addr=1234 restore code=130 part=1 zone=1").frame),
            Hex("12 34 1F 01 13 00 01 00 00 7A"));
  EXPECT_EQ(V(Parse("contact-id addr=0x0 type=0 restore code=0 part=0 zone=0").frame),
            Hex("00000000000000000000"));
  EXPECT_EQ(V(Parse("loop-state addr=12 kind=2 guard=3 duress armed1 linked1").frame),
            Hex("00 12 0A 22 02 38 00 00 00 78"));
  EXPECT_EQ(
      V(Parse("loop-state addr=1 kind=6 alarm1 alarm2 armed1 armed2 broken1 broken2 type1=1 type2=2 linked2 "
              "silent1 silent2")
            .frame),
      Hex("00 01 0A 6F D9 C0 00 00 02 13"));
  EXPECT_EQ(Parse("loop-state addr=1 kind=1 tamper-restored").frame[5], 0x80);
  EXPECT_EQ(V(Parse("dialler addr=4660 msg=case-open").frame), Hex("12 34 10 06 21 00 00 00 00 7D"));
  EXPECT_EQ(Parse("dialler addr=4660 byte=0x45").frame[4], 0x45);
  EXPECT_EQ(V(Parse("radio addr=0x1234 event=0x10 new source=5 detail=1 expander=3 kind=1").frame),
            Hex("12 34 10 01 10 85 01 31 01 1E"));
  EXPECT_EQ(Parse("radio addr=1 event=0x15 restore bank source=2 detail=60").frame[5], 0x42);
  Step p = Parse("params 07 11 03 04 80");
  EXPECT_EQ(p.op, Step::Op::Params);
  EXPECT_EQ(p.params, (std::array<std::uint8_t, 5>{0x07, 0x11, 0x03, 0x04, 0x80}));
}

TEST(ScenarioTest, Faults) {
  Step s = Parse("short 3");
  EXPECT_EQ(s.op, Step::Op::AddFault);
  EXPECT_EQ(s.fault.kind, Fault::Kind::Short);
  EXPECT_EQ(s.fault.count, 3);
  EXPECT_EQ(s.fault.amount, 1);
  EXPECT_EQ(s.fault.commands, kAnsweredCommands);
  s = Parse("long always extra=300 on=gn,gc");
  EXPECT_EQ(s.fault.kind, Fault::Kind::Long);
  EXPECT_EQ(s.fault.count, Fault::kForever);
  EXPECT_EQ(s.fault.amount, 300);
  EXPECT_EQ(s.fault.commands, kCmdNew | kCmdCurrent);
  s = Parse("badsum 1");
  EXPECT_EQ(s.fault.commands, kSummedCommands);
  s = Parse("late 2 delay=1s on=gs");
  EXPECT_EQ(s.fault.kind, Fault::Kind::Late);
  EXPECT_EQ(s.fault.amount, 1000);
  EXPECT_EQ(s.fault.commands, kCmdStatus);
  EXPECT_EQ(Parse("late 1").fault.amount, 300);
  EXPECT_EQ(Parse("bytewise 1").fault.amount, 15);
  EXPECT_EQ(Parse("bytewise 4 gap=5ms").fault.amount, 5);
  s = Parse("partial-store always keep=0");
  EXPECT_EQ(s.op, Step::Op::PartialStore);
  EXPECT_EQ(s.count, Fault::kForever);
  EXPECT_EQ(s.keep, 0);
  EXPECT_EQ(Parse("partial-store 2").keep, 2);
  EXPECT_EQ(Parse("noise 300").count, 300);
}

TEST(ScenarioTest, BadLinesSayWhatIsWrong) {
  struct Case {
    const char* line;
    const char* says;
  };
  for (const Case& c : {
           Case{"fly 3", "unknown command \"fly\""},
           Case{"wait", "wait takes one duration"},
           Case{"wait 3h", "expected a duration"},
           Case{"wait -5", "expected a duration"},
           Case{"wait .5s", "expected a duration"},
           Case{"wait 1500min", "expected a duration"},
           Case{"loop now", "loop takes nothing after it"},
           Case{"status", "status needs at least one"},
           Case{"status open", "unknown word \"open\""},
           Case{"status hold no-hold", "contradicts or repeats"},
           Case{"status-byte 100", "one byte in hexadecimal"},
           Case{"frame 12 34", "frame takes 8 bytes"},
           Case{"frame 12 34 56 78 9A BC DE FG", "\"FG\" is not a byte"},
           Case{"params 1 2 3 4", "exactly 5 bytes, 4 given"},
           Case{"contact-id code=130", "\"addr=\" is missing"},
           Case{"contact-id addr=10000", "addr=10000: expected a number from 0 to 9999"},
           Case{"contact-id addr=1 code=1000", "code=1000"},
           Case{"contact-id addr=1 type=10", "use loop-state"},
           Case{"contact-id addr=1 type=17", "use dialler or radio"},
           Case{"contact-id addr=1 new restore", "\"new\" and \"restore\" together"},
           Case{"contact-id addr=1 colde=130", "unknown setting \"colde=\""},
           Case{"contact-id addr=1 addr=2", "given twice"},
           Case{"loop-state addr=1", "\"kind=\" is missing"},
           Case{"loop-state addr=1 kind=16", "kind=16"},
           Case{"loop-state addr=1 kind=2 armed3", "unknown word \"armed3\""},
           Case{"dialler addr=1", "either msg= or byte="},
           Case{"dialler addr=1 msg=control byte=1", "either msg= or byte="},
           Case{"dialler addr=1 msg=panic", "msg=panic: expected control"},
           Case{"dialler addr=70000 msg=control", "addr=70000"},
           Case{"radio addr=1", "\"event=\" is missing"},
           Case{"radio addr=1 event=256", "event=256"},
           Case{"radio addr=1 event=1 source=64", "source=64"},
           Case{"short", "give a count or \"always\""},
           Case{"short 0", "expected a count"},
           Case{"short many", "expected a count"},
           Case{"short 1 on=gx", "on=gx: expected commands"},
           Case{"short 1 on=sd", "on=sd: expected commands"},
           Case{"badsum 1 on=gs", "has no sum"},
           Case{"late 1 delay=2min", "longer than a minute"},
           Case{"late 1 delay=soon", "expected a duration"},
           Case{"long 1 extra=0", "extra=0"},
           Case{"short 1 cut=2 extra=1", "unknown setting \"extra=\""},
           Case{"partial-store 1 keep=5", "keep=5"},
           Case{"noise 0", "noise takes"},
           Case{"noise 5000", "noise takes"},
       }) {
    std::string error;
    EXPECT_FALSE(ParseStep(c.line, &error)) << c.line;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.line << " -> " << error;
  }
}

TEST(ScenarioTest, FileReportsEveryBadLineWithItsNumber) {
  const std::string text =
      "# a comment line\n"
      "\n"
      "status line-fault   # trailing comment\n"
      "wait 1s\r\n"
      "frobnicate\n"
      "contact-id addr=1234 code=130\n"
      "wait soon\n"
      "loop";
  auto parsed = ParseScenario(text, "test.scn");
  EXPECT_EQ(parsed.errors,
            (std::vector<std::string>{"test.scn:5: unknown command \"frobnicate\"",
                                      "test.scn:7: \"soon\": expected a duration such as 500ms or 2s"}));
  ASSERT_EQ(parsed.scenario.steps.size(), 4u);
  EXPECT_EQ(parsed.scenario.steps[0].line, 3);
  EXPECT_EQ(parsed.scenario.steps[1].ms, 1000) << "a CR before the line feed is no trouble";
  EXPECT_EQ(parsed.scenario.steps[3].op, Step::Op::Loop);
  EXPECT_EQ(parsed.scenario.steps[3].line, 8);
}

TEST(ScenarioTest, LoopNeedsAWaitBeforeIt) {
  auto parsed = ParseScenario("contact-id addr=1\nwait 0\nloop\n", "x.scn");
  EXPECT_EQ(parsed.errors,
            std::vector<std::string>{"x.scn:3: loop without a wait before it would never rest"});
  EXPECT_TRUE(ParseScenario("", "empty.scn").ok());
  EXPECT_TRUE(ParseScenario("wait 1\nloop\n", "ok.scn").ok());
}

}  // namespace
}  // namespace pelvaron::sim
