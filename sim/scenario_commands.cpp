#include "sim/scenario_commands.h"

#include <cstdint>
#include <map>

#include "sim/scenario_args.h"

namespace pelvaron::sim {

namespace {

constexpr long long kLargestCount = 1000000;

using Line = std::vector<std::string_view>;

// wait, silence, vanish: one duration.
template <Step::Op op>
std::optional<Step> Lasting(const Line& w, std::string* error) {
  if (w.size() != 2) {
    *error = std::string(w[0]) + " takes one duration, such as 500ms or 2s";
    return std::nullopt;
  }
  auto d = Duration(w[1]);
  if (!d) {
    *error = "\"" + std::string(w[1]) + "\": expected a duration such as 500ms or 2s";
    return std::nullopt;
  }
  Step step;
  step.op = op;
  step.ms = *d;
  return step;
}

// no-faults, clear-queue, loop, exit: the command alone.
template <Step::Op op>
std::optional<Step> Bare(const Line& w, std::string* error) {
  if (w.size() != 1) {
    *error = std::string(w[0]) + " takes nothing after it";
    return std::nullopt;
  }
  Step step;
  step.op = op;
  return step;
}

std::optional<Step> StatusStep(const Line& w, std::string* error) {
  if (w.size() < 2) {
    *error = "status needs at least one of hold, no-hold, line-fault, line-ok, case-open, case-closed";
    return std::nullopt;
  }
  Step step;
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

std::optional<Step> StatusByteStep(const Line& w, std::string* error) {
  Step step;
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

// The bytes after the command, each in hexadecimal.
std::optional<std::vector<std::uint8_t>> HexBytes(const Line& w, std::string* error) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 1; i < w.size(); ++i) {
    auto b = HexByte(w[i]);
    if (!b) {
      *error = "\"" + std::string(w[i]) + "\" is not a byte in hexadecimal";
      return std::nullopt;
    }
    bytes.push_back(*b);
  }
  return bytes;
}

std::optional<Step> FrameStep(const Line& w, std::string* error) {
  const auto bytes = HexBytes(w, error);
  if (!bytes) return std::nullopt;
  if (bytes->size() != 8 && bytes->size() != 10) {
    *error = "frame takes 8 bytes (the sum is added) or 10 (sent as written), " + std::to_string(bytes->size()) +
             " given";
    return std::nullopt;
  }
  Step step;
  step.op = Step::Op::Message;
  for (std::size_t i = 0; i < bytes->size(); ++i) step.frame[i] = (*bytes)[i];
  if (bytes->size() == 8) step.frame = Seal(step.frame);
  return step;
}

std::optional<Step> ParamsStep(const Line& w, std::string* error) {
  const auto bytes = HexBytes(w, error);
  if (!bytes) return std::nullopt;
  if (bytes->size() != 5) {
    *error = "params takes exactly 5 bytes, " + std::to_string(bytes->size()) + " given";
    return std::nullopt;
  }
  Step step;
  step.op = Step::Op::Params;
  for (std::size_t i = 0; i < 5; ++i) step.params[i] = (*bytes)[i];
  return step;
}

std::optional<Step> ContactIdStep(const Line& w, std::string* error) {
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
  Step step;
  step.op = Step::Op::Message;
  step.frame = ContactIdFrame(e);
  return step;
}

std::optional<Step> LoopStateStep(const Line& w, std::string* error) {
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
  Step step;
  step.op = Step::Op::Message;
  step.frame = LoopStateFrame(e);
  return step;
}

std::optional<Step> DiallerStep(const Line& w, std::string* error) {
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
      *error = "msg=" + *msg + ": expected control, power-on, case-open, case-closed, line-fault or line-ok";
      return std::nullopt;
    }
    byte = it->second;
  }
  e.diallerByte = static_cast<std::uint8_t>(byte);
  Step step;
  step.op = Step::Op::Message;
  step.frame = DiallerFrame(e);
  return step;
}

std::optional<Step> RadioStep(const Line& w, std::string* error) {
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
  Step step;
  step.op = Step::Op::Message;
  step.frame = RadioFrame(e);
  return step;
}

std::optional<Step> NoiseStep(const Line& w, std::string* error) {
  auto n = w.size() == 2 ? Number(w[1]) : std::nullopt;
  if (!n || *n < 1 || *n > 4096) {
    *error = "noise takes a number of bytes from 1 to 4096";
    return std::nullopt;
  }
  Step step;
  step.op = Step::Op::Noise;
  step.count = static_cast<int>(*n);
  return step;
}

// "N" or "always" as the number of answers a fault lasts.
bool FaultCount(const Line& w, int& count, std::string* error) {
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

std::optional<Step> PartialStoreStep(const Line& w, std::string* error) {
  Step step;
  if (!FaultCount(w, step.count, error)) return std::nullopt;
  Args a(w, 2, error);
  step.keep = 2;
  a.Int("keep", 0, 4, step.keep);
  if (!a.NothingLeft()) return std::nullopt;
  step.op = Step::Op::PartialStore;
  return step;
}

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

// The faults of the answers: how much of each there is by default, and which
// commands' answers it spoils.
struct FaultWord {
  Fault::Kind kind;
  const char* amountKey;  // nullptr: none
  bool amountIsDuration;
  int defaultAmount;
  unsigned defaultCommands;
};
constexpr FaultWord kFaults[] = {
    {Fault::Kind::Short, "cut", false, 1, kAnsweredCommands},
    {Fault::Kind::Long, "extra", false, 1, kAnsweredCommands},
    {Fault::Kind::BadSum, nullptr, false, 0, kSummedCommands},
    {Fault::Kind::Late, "delay", true, 300, kAnsweredCommands},
    {Fault::Kind::Bytewise, "gap", true, 15, kAnsweredCommands},
};

constexpr const FaultWord& FaultOf(Fault::Kind kind) {
  for (const FaultWord& f : kFaults) {
    if (f.kind == kind) return f;
  }
  return kFaults[0];
}

// short, long, badsum, late, bytewise: COUNT, the fault's amount, on=CMDS.
template <Fault::Kind kind>
std::optional<Step> FaultStep(const Line& w, std::string* error) {
  constexpr const FaultWord& f = FaultOf(kind);
  Step step;
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

struct CommandWord {
  std::string_view name;
  std::optional<Step> (*parse)(const Line& words, std::string* error);
};
constexpr CommandWord kCommands[] = {
    {"wait", Lasting<Step::Op::Wait>},
    {"silence", Lasting<Step::Op::Silence>},
    {"vanish", Lasting<Step::Op::Vanish>},
    {"no-faults", Bare<Step::Op::NoFaults>},
    {"clear-queue", Bare<Step::Op::ClearQueue>},
    {"loop", Bare<Step::Op::Loop>},
    {"exit", Bare<Step::Op::Exit>},
    {"status", StatusStep},
    {"status-byte", StatusByteStep},
    {"frame", FrameStep},
    {"params", ParamsStep},
    {"contact-id", ContactIdStep},
    {"loop-state", LoopStateStep},
    {"dialler", DiallerStep},
    {"radio", RadioStep},
    {"noise", NoiseStep},
    {"partial-store", PartialStoreStep},
    {"short", FaultStep<Fault::Kind::Short>},
    {"long", FaultStep<Fault::Kind::Long>},
    {"badsum", FaultStep<Fault::Kind::BadSum>},
    {"late", FaultStep<Fault::Kind::Late>},
    {"bytewise", FaultStep<Fault::Kind::Bytewise>},
};

}  // namespace

std::optional<Step> ParseCommand(const std::vector<std::string_view>& words, std::string* error) {
  for (const CommandWord& command : kCommands) {
    if (command.name == words[0]) return command.parse(words, error);
  }
  *error = "unknown command \"" + std::string(words[0]) + "\"";
  return std::nullopt;
}

}  // namespace pelvaron::sim
