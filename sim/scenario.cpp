#include "sim/scenario.h"

#include "sim/scenario_args.h"
#include "sim/scenario_commands.h"

namespace pelvaron::sim {

std::optional<Step> ParseStep(std::string_view line, std::string* error) {
  std::string local;
  if (!error) error = &local;
  error->clear();
  auto words = Words(line);
  if (words.empty()) {
    *error = "empty line";
    return std::nullopt;
  }
  auto step = ParseCommand(words, error);
  if (!error->empty()) return std::nullopt;
  return step;
}

ParsedScenario ParseScenario(std::string_view text, const std::string& sourceName) {
  ParsedScenario out;
  int lineNo = 0;
  bool waitedSinceStart = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::string_view line =
        text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
    ++lineNo;
    if (auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    if (Words(line).empty()) continue;
    std::string error;
    auto step = ParseStep(line, &error);
    auto where = sourceName + ":" + std::to_string(lineNo) + ": ";
    if (!step) {
      out.errors.push_back(where + error);
      continue;
    }
    step->line = lineNo;
    if (step->op == Step::Op::Wait && step->ms > 0) waitedSinceStart = true;
    if (step->op == Step::Op::Loop && !waitedSinceStart) {
      out.errors.push_back(where + "loop without a wait before it would never rest");
      continue;
    }
    out.scenario.steps.push_back(*step);
  }
  return out;
}

const char* ScenarioSummary() {
  return R"(Scenario lines (one command a line, # starts a comment; numbers in decimal or 0x hex):
  wait DURATION                 pause the scenario (250ms, 2s, 1.5s, 1min; bare number = ms)
  status WORD...                hold | no-hold, line-fault | line-ok, case-open | case-closed
  status-byte HEX | auto        answer "gs" with a fixed byte / back to automatic
  frame B0..B7 [B8 B9]          queue a raw frame (hex bytes; 8 = sum added, 10 = as written)
  contact-id addr=N [type=31] [new|restore] [part=1] [code=130] [zone=1]
  loop-state addr=N kind=N [guard=N] [type1=N] [type2=N] [alarm1] [alarm2] [armed1] [armed2]
             [broken1] [broken2] [linked1] [linked2] [duress] [tamper-restored] [silent1] [silent2]
  dialler addr=N msg=control|power-on|case-open|case-closed|line-fault|line-ok  (or byte=N)
  radio addr=N event=N [new|restore] [source=N] [bank] [detail=1] [expander=0] [kind=1]
  params B0 B1 B2 B3 B4         the parameter block answered to "gd"
  clear-queue                   forget the queued messages
  silence DURATION              answer nothing for that long
  short COUNT [cut=1] [on=CMDS]       answers lose their last bytes
  long COUNT [extra=1] [on=CMDS]      answers get extra bytes
  badsum COUNT [on=gn,gc,gd]          answers carry a wrong sum
  late COUNT [delay=300ms] [on=CMDS]  answers start late
  bytewise COUNT [gap=15ms] [on=CMDS] answers come byte by byte with gaps
  partial-store COUNT [keep=2]        "sd" stores only the first bytes of the block
  no-faults                     end every fault above
  noise N                       send N random bytes unasked
  vanish DURATION               the device disappears, then comes back (a pty comes back
                                under a new path: printed, and --link follows it)
  loop                          start the scenario again
  exit                          stop the simulator
  COUNT is a number of answers or "always"; CMDS is a comma list of gs,gn,gc,gd.)";
}

}  // namespace pelvaron::sim
