#include "sim/scenario.h"

#include <cctype>
#include <charconv>
#include <map>
#include <set>

namespace pelvaron::sim {

namespace {

constexpr std::int64_t kLongestDurationMs = 24LL * 3600 * 1000;
constexpr long long kLargestCount = 1000000;

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    std::size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// Decimal, or hexadecimal after 0x.
std::optional<long long> Number(std::string_view s) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  if (s.empty() || s.size() > 12) return std::nullopt;
  long long v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || end != s.data() + s.size() || v < 0) return std::nullopt;
  return v;
}

// Two hex digits, with or without 0x.
std::optional<std::uint8_t> HexByte(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  if (s.empty() || s.size() > 2) return std::nullopt;
  unsigned v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return static_cast<std::uint8_t>(v);
}

// "250", "250ms", "2s", "1.5s", "2min".
std::optional<std::int64_t> Duration(std::string_view s) {
  std::size_t digits = 0;
  while (digits < s.size() && (std::isdigit(static_cast<unsigned char>(s[digits])) || s[digits] == '.'))
    ++digits;
  std::string_view number = s.substr(0, digits), unit = s.substr(digits);
  if (number.empty() || number.front() == '.' || number.back() == '.') return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc() || end != number.data() + number.size()) return std::nullopt;
  double factor;
  if (unit.empty() || unit == "ms") {
    factor = 1;
  } else if (unit == "s") {
    factor = 1000;
  } else if (unit == "min") {
    factor = 60000;
  } else {
    return std::nullopt;
  }
  double ms = value * factor;
  if (ms > static_cast<double>(kLongestDurationMs)) return std::nullopt;
  return static_cast<std::int64_t>(ms + 0.5);
}

// The arguments after a command: key=value settings and bare words. Every one
// must be asked for, so a typo is reported instead of silently ignored.
class Args {
 public:
  Args(const std::vector<std::string_view>& words, std::size_t from, std::string* error) : error_(error) {
    for (std::size_t i = from; i < words.size(); ++i) {
      auto eq = words[i].find('=');
      if (eq == std::string_view::npos) {
        if (!flags_.emplace(std::string(words[i]), false).second)
          Fail("\"" + std::string(words[i]) + "\" twice");
        continue;
      }
      std::string key(words[i].substr(0, eq));
      if (!values_.emplace(key, std::string(words[i].substr(eq + 1))).second) {
        Fail("\"" + key + "=\" is given twice");
      }
    }
  }

  bool Fail(const std::string& what) {
    if (error_->empty()) *error_ = what;
    return false;
  }
  bool Ok() const { return error_->empty(); }

  bool Int(const char* key, long long low, long long high, int& out, bool required = false) {
    auto it = values_.find(key);
    if (it == values_.end()) return required ? Fail(std::string("\"") + key + "=\" is missing") : true;
    used_.insert(it->first);
    auto v = Number(it->second);
    if (!v || *v < low || *v > high) {
      return Fail(std::string(key) + "=" + it->second + ": expected a number from " + std::to_string(low) +
                  " to " + std::to_string(high));
    }
    out = static_cast<int>(*v);
    return true;
  }

  bool Dur(const char* key, std::int64_t& out) {
    auto it = values_.find(key);
    if (it == values_.end()) return true;
    used_.insert(it->first);
    auto d = Duration(it->second);
    if (!d) return Fail(std::string(key) + "=" + it->second + ": expected a duration such as 250ms or 2s");
    out = *d;
    return true;
  }

  std::optional<std::string> Text(const char* key) {
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    used_.insert(it->first);
    return it->second;
  }

  bool Flag(const char* word) {
    auto it = flags_.find(word);
    if (it == flags_.end()) return false;
    it->second = true;
    return true;
  }

  // Of two opposite words, which one was given (fallback when neither).
  bool Either(const char* yes, const char* no, bool fallback) {
    bool y = Flag(yes), n = Flag(no);
    if (y && n) Fail(std::string("\"") + yes + "\" and \"" + no + "\" together");
    return y ? true : n ? false : fallback;
  }

  bool NothingLeft() {
    for (const auto& [key, value] : values_) {
      if (!used_.count(key)) return Fail("unknown setting \"" + key + "=\"");
    }
    for (const auto& [word, used] : flags_) {
      if (!used) return Fail("unknown word \"" + word + "\"");
    }
    return Ok();
  }

 private:
  std::string* error_;
  std::map<std::string, std::string> values_;
  std::map<std::string, bool> flags_;
  std::set<std::string> used_;
};

std::optional<unsigned> CommandSet(const std::string& list) {
  unsigned set = 0;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (name == "gs") {
      set |= kCmdStatus;
    } else if (name == "gn") {
      set |= kCmdNew;
    } else if (name == "gc") {
      set |= kCmdCurrent;
    } else if (name == "gd") {
      set |= kCmdRead;
    } else {
      return std::nullopt;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return set;
}

// "N" or "always" as the number of answers a fault lasts.
bool FaultCount(const std::vector<std::string_view>& w, int& count, std::string* error) {
  if (w.size() < 2) {
    *error = "how many answers? give a count or \"always\"";
    return false;
  }
  if (w[1] == "always") {
    count = Fault::kForever;
    return true;
  }
  auto n = Number(w[1]);
  if (!n || *n < 1 || *n > kLargestCount) {
    *error = "\"" + std::string(w[1]) + "\": expected a count from 1 to " + std::to_string(kLargestCount) +
             " or \"always\"";
    return false;
  }
  count = static_cast<int>(*n);
  return true;
}

std::optional<Step> ParseWords(const std::vector<std::string_view>& w, std::string* error) {
  Step step;
  const std::string_view cmd = w[0];
  auto durationArg = [&](Step::Op op) -> std::optional<Step> {
    if (w.size() != 2) {
      *error = std::string(cmd) + " takes one duration, such as 500ms or 2s";
      return std::nullopt;
    }
    auto d = Duration(w[1]);
    if (!d) {
      *error = "\"" + std::string(w[1]) + "\": expected a duration such as 500ms or 2s";
      return std::nullopt;
    }
    step.op = op;
    step.ms = *d;
    return step;
  };
  auto bare = [&](Step::Op op) -> std::optional<Step> {
    if (w.size() != 1) {
      *error = std::string(cmd) + " takes nothing after it";
      return std::nullopt;
    }
    step.op = op;
    return step;
  };

  if (cmd == "wait") return durationArg(Step::Op::Wait);
  if (cmd == "silence") return durationArg(Step::Op::Silence);
  if (cmd == "vanish") return durationArg(Step::Op::Vanish);
  if (cmd == "no-faults") return bare(Step::Op::NoFaults);
  if (cmd == "clear-queue") return bare(Step::Op::ClearQueue);
  if (cmd == "loop") return bare(Step::Op::Loop);
  if (cmd == "exit") return bare(Step::Op::Exit);

  if (cmd == "status") {
    if (w.size() < 2) {
      *error = "status needs at least one of hold, no-hold, line-fault, line-ok, case-open, case-closed";
      return std::nullopt;
    }
    step.op = Step::Op::Status;
    struct Word {
      const char* text;
      std::uint8_t bit;
      bool set;
    };
    static constexpr Word kWords[] = {{"hold", 0x01, true},        {"no-hold", 0x01, false},
                                      {"line-fault", 0x04, true},  {"line-ok", 0x04, false},
                                      {"case-closed", 0x08, true}, {"case-open", 0x08, false}};
    for (std::size_t i = 1; i < w.size(); ++i) {
      const Word* found = nullptr;
      for (const auto& k : kWords) {
        if (w[i] == k.text) found = &k;
      }
      if (!found) {
        *error = "status: unknown word \"" + std::string(w[i]) +
                 "\" (hold, no-hold, line-fault, line-ok, case-open, case-closed)";
        return std::nullopt;
      }
      if (step.statusMask & found->bit) {
        *error = "status: \"" + std::string(w[i]) + "\" contradicts or repeats an earlier word";
        return std::nullopt;
      }
      step.statusMask |= found->bit;
      if (found->set) step.statusValues |= found->bit;
    }
    return step;
  }

  if (cmd == "status-byte") {
    step.op = Step::Op::StatusByte;
    if (w.size() == 2 && w[1] == "auto") return step;
    std::optional<std::uint8_t> b = w.size() == 2 ? HexByte(w[1]) : std::nullopt;
    if (!b) {
      *error = "status-byte takes one byte in hexadecimal (such as 0A) or \"auto\"";
      return std::nullopt;
    }
    step.statusByte = *b;
    return step;
  }

  if (cmd == "frame" || cmd == "params") {
    const std::size_t want = cmd == "params" ? 5 : 0;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; i < w.size(); ++i) {
      auto b = HexByte(w[i]);
      if (!b) {
        *error = "\"" + std::string(w[i]) + "\" is not a byte in hexadecimal";
        return std::nullopt;
      }
      bytes.push_back(*b);
    }
    if (want == 5) {
      if (bytes.size() != 5) {
        *error = "params takes exactly 5 bytes, " + std::to_string(bytes.size()) + " given";
        return std::nullopt;
      }
      step.op = Step::Op::Params;
      for (std::size_t i = 0; i < 5; ++i) step.params[i] = bytes[i];
      return step;
    }
    if (bytes.size() != 8 && bytes.size() != 10) {
      *error = "frame takes 8 bytes (the sum is added) or 10 (sent as written), " +
               std::to_string(bytes.size()) + " given";
      return std::nullopt;
    }
    step.op = Step::Op::Message;
    for (std::size_t i = 0; i < bytes.size(); ++i) step.frame[i] = bytes[i];
    if (bytes.size() == 8) step.frame = Seal(step.frame);
    return step;
  }

  if (cmd == "contact-id") {
    Args a(w, 1, error);
    ContactIdEvent e;
    a.Int("addr", 0, 9999, e.address, true);
    a.Int("type", 0, 31, e.deviceType);
    a.Int("part", 0, 99, e.partition);
    a.Int("code", 0, 999, e.code);
    a.Int("zone", 0, 999, e.zone);
    e.newEvent = a.Either("new", "restore", true);
    if (!a.NothingLeft()) return std::nullopt;
    if (e.deviceType == 10) {
      *error = "type=10 is the loop-state unit: use loop-state";
      return std::nullopt;
    }
    if (e.deviceType >= 16 && e.deviceType <= 23) {
      *error = "type=" + std::to_string(e.deviceType) + " has a binary address: use dialler or radio";
      return std::nullopt;
    }
    step.op = Step::Op::Message;
    step.frame = ContactIdFrame(e);
    return step;
  }

  if (cmd == "loop-state") {
    Args a(w, 1, error);
    LoopStateEvent e;
    a.Int("addr", 0, 9999, e.address, true);
    a.Int("kind", 0, 15, e.kind, true);
    a.Int("guard", 0, 15, e.guard);
    a.Int("type1", 0, 3, e.type1);
    a.Int("type2", 0, 3, e.type2);
    e.alarm1 = a.Flag("alarm1");
    e.alarm2 = a.Flag("alarm2");
    e.armed1 = a.Flag("armed1");
    e.armed2 = a.Flag("armed2");
    e.broken1 = a.Flag("broken1");
    e.broken2 = a.Flag("broken2");
    e.linked1 = a.Flag("linked1");
    e.linked2 = a.Flag("linked2");
    e.duress = a.Flag("duress");
    e.tamperRestored = a.Flag("tamper-restored");
    e.silent1 = a.Flag("silent1");
    e.silent2 = a.Flag("silent2");
    if (!a.NothingLeft()) return std::nullopt;
    step.op = Step::Op::Message;
    step.frame = LoopStateFrame(e);
    return step;
  }

  if (cmd == "dialler") {
    Args a(w, 1, error);
    DiallerEvent e;
    a.Int("addr", 0, 65535, e.address, true);
    int byte = -1;
    a.Int("byte", 0, 255, byte);
    auto msg = a.Text("msg");
    if (!a.NothingLeft()) return std::nullopt;
    if ((byte >= 0) == msg.has_value()) {
      *error = "dialler takes either msg= or byte=";
      return std::nullopt;
    }
    if (msg) {
      static const std::map<std::string, std::uint8_t> kMessages = {
          {"control", 0x00},     {"power-on", 0x10},   {"case-open", 0x21},
          {"case-closed", 0x20}, {"line-fault", 0x31}, {"line-ok", 0x30}};
      auto it = kMessages.find(*msg);
      if (it == kMessages.end()) {
        *error =
            "msg=" + *msg + ": expected control, power-on, case-open, case-closed, line-fault or line-ok";
        return std::nullopt;
      }
      byte = it->second;
    }
    e.diallerByte = static_cast<std::uint8_t>(byte);
    step.op = Step::Op::Message;
    step.frame = DiallerFrame(e);
    return step;
  }

  if (cmd == "radio") {
    Args a(w, 1, error);
    RadioEvent e;
    int event = -1, detail = 1;
    a.Int("addr", 0, 65535, e.address, true);
    a.Int("event", 0, 255, event, true);
    a.Int("source", 0, 63, e.source);
    a.Int("detail", 0, 255, detail);
    a.Int("expander", 0, 15, e.expander);
    a.Int("kind", 0, 15, e.kind);
    e.newEvent = a.Either("new", "restore", true);
    e.bank = a.Flag("bank");
    if (!a.NothingLeft()) return std::nullopt;
    e.eventCode = static_cast<std::uint8_t>(event);
    e.detail = static_cast<std::uint8_t>(detail);
    step.op = Step::Op::Message;
    step.frame = RadioFrame(e);
    return step;
  }

  if (cmd == "noise") {
    auto n = w.size() == 2 ? Number(w[1]) : std::nullopt;
    if (!n || *n < 1 || *n > 4096) {
      *error = "noise takes a number of bytes from 1 to 4096";
      return std::nullopt;
    }
    step.op = Step::Op::Noise;
    step.count = static_cast<int>(*n);
    return step;
  }

  if (cmd == "partial-store") {
    if (!FaultCount(w, step.count, error)) return std::nullopt;
    Args a(w, 2, error);
    step.keep = 2;
    a.Int("keep", 0, 4, step.keep);
    if (!a.NothingLeft()) return std::nullopt;
    step.op = Step::Op::PartialStore;
    return step;
  }

  struct FaultWord {
    const char* word;
    Fault::Kind kind;
    const char* amountKey;  // nullptr: none
    bool amountIsDuration;
    int defaultAmount;
    unsigned defaultCommands;
  };
  static constexpr FaultWord kFaults[] = {
      {"short", Fault::Kind::Short, "cut", false, 1, kAnsweredCommands},
      {"long", Fault::Kind::Long, "extra", false, 1, kAnsweredCommands},
      {"badsum", Fault::Kind::BadSum, nullptr, false, 0, kSummedCommands},
      {"late", Fault::Kind::Late, "delay", true, 300, kAnsweredCommands},
      {"bytewise", Fault::Kind::Bytewise, "gap", true, 15, kAnsweredCommands},
  };
  for (const auto& f : kFaults) {
    if (cmd != f.word) continue;
    step.op = Step::Op::AddFault;
    step.fault.kind = f.kind;
    step.fault.amount = f.defaultAmount;
    step.fault.commands = f.defaultCommands;
    if (!FaultCount(w, step.fault.count, error)) return std::nullopt;
    Args a(w, 2, error);
    if (f.amountKey) {
      if (f.amountIsDuration) {
        std::int64_t ms = f.defaultAmount;
        a.Dur(f.amountKey, ms);
        if (ms > 60000) a.Fail(std::string(f.amountKey) + "= longer than a minute");
        step.fault.amount = static_cast<int>(ms);
      } else {
        a.Int(f.amountKey, 1, 1000, step.fault.amount);
      }
    }
    if (auto on = a.Text("on")) {
      auto set = CommandSet(*on);
      if (!set) {
        a.Fail("on=" + *on + ": expected commands among gs, gn, gc, gd separated by commas");
      } else if (f.kind == Fault::Kind::BadSum && (*set & kCmdStatus)) {
        a.Fail("badsum: the answer to gs has no sum");
      } else {
        step.fault.commands = *set;
      }
    }
    if (!a.NothingLeft()) return std::nullopt;
    return step;
  }

  *error = "unknown command \"" + std::string(cmd) + "\"";
  return std::nullopt;
}

}  // namespace

std::optional<Step> ParseStep(std::string_view line, std::string* error) {
  std::string local;
  if (!error) error = &local;
  error->clear();
  auto words = Words(line);
  if (words.empty()) {
    *error = "empty line";
    return std::nullopt;
  }
  auto step = ParseWords(words, error);
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
