#include "alarms/priority_table.h"

#include <string>

namespace pelvaron {

const PriorityTable& PriorityTable::Defaults() {
  static const PriorityTable table = ParsePriorityTable(DefaultPriorityTableText()).table;
  return table;
}

int PriorityTable::Find(std::string_view name) const {
  for (std::size_t i = 0; i < priorities_.size(); ++i) {
    if (priorities_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

const Priority* PriorityTable::At(int index) const {
  if (index < 0 || index >= static_cast<int>(priorities_.size())) return nullptr;
  return &priorities_[static_cast<std::size_t>(index)];
}

std::string PriorityTable::TitleOf(const std::string& name) const {
  const Priority* p = At(Find(name));
  return p ? p->title : name;
}

namespace {

using Source = PriorityTable::Rule::Source;

// A loop-state message of kind 1 tells the tamper switch opened or back in order.
constexpr int kLoopTamperKind = 1;

// The console's events that end an alarm of another kind.
struct Pair {
  EventKind alarm;
  EventKind restore;
};
constexpr Pair kConsolePairs[] = {
    {EventKind::ObjectOverdue, EventKind::ObjectBackInControl},
    {EventKind::LinkLost, EventKind::LinkRestored},
    {EventKind::LineFault, EventKind::LineRestored},
    {EventKind::EnclosureOpened, EventKind::EnclosureClosed},
};

// What an event offers the rules (its source and the values they test), and
// its role and key for the queue unless a loop rule says otherwise.
struct Facts {
  Source source = Source::Default;
  int code = -1;  // Contact ID or radio code; dialler message
  int loopKind = -1;
  bool duress = false;
  EventKind consoleKind = EventKind::Message;
  AlarmRole role = AlarmRole::None;
  std::string key;
};

Facts ContactIdFacts(const ContactIdFields& cid) {
  Facts f;
  f.source = Source::ContactId;
  f.code = cid.code;
  f.role = cid.newEvent ? AlarmRole::Alarm : AlarmRole::Restore;
  f.key = "cid:" + std::string(cid.codeText.view()) + ":" + std::string(cid.partition.view()) + ":" +
          std::string(cid.zone.view());
  return f;
}

// The first record speaks for the message.
Facts RadioFacts(const DecodedMessage& m) {
  Facts f;
  if (m.radioCount == 0) return f;
  const RadioRecordFields& r = m.radio[0];
  f.source = Source::Radio;
  f.code = r.eventCode;
  f.role = r.newEvent ? AlarmRole::Alarm : AlarmRole::Restore;
  f.key = "radio:" + std::to_string(r.eventCode) + ":" + std::to_string(r.expander) + ":" +
          std::to_string(r.deviceKind) + ":" + std::to_string(r.source) + ":" + std::to_string(r.detail);
  return f;
}

// Its key comes with the rule that takes it (LoopAlarm).
Facts LoopFacts(const LoopStateFields& loop) {
  Facts f;
  f.source = Source::Loop;
  f.loopKind = loop.kind;
  f.duress = loop.duress;
  f.role = AlarmRole::Alarm;
  return f;
}

Facts DiallerFacts(const DiallerFields& dialler) {
  Facts f;
  f.source = Source::Dialler;
  f.code = dialler.message;
  f.role = dialler.set ? AlarmRole::Alarm : AlarmRole::Restore;
  f.key = "dialler:" + std::to_string(dialler.message);
  return f;
}

// A message whose sum is wrong tells nothing of its unit.
Facts MessageFacts(const Event& event) {
  if (!event.message || !event.message->sumOk) {
    Facts f;
    f.source = Source::BadSum;
    return f;
  }
  const DecodedMessage& m = *event.message;
  switch (m.kind) {
    case MessageKind::ContactId: return ContactIdFacts(m.contactId);
    case MessageKind::Radio: return RadioFacts(m);
    case MessageKind::LoopState: return LoopFacts(m.loopState);
    case MessageKind::Dialler: return DiallerFacts(m.dialler);
    case MessageKind::UnknownUnit:
    case MessageKind::BadSum:
      break;
  }
  return {};
}

// A restore is classified as the alarm it ends, so that one rule serves both.
Facts ConsoleFacts(EventKind kind) {
  Facts f;
  f.source = Source::Console;
  f.consoleKind = kind;
  for (const Pair& p : kConsolePairs) {
    if (kind == p.restore) {
      f.consoleKind = p.alarm;
      f.role = AlarmRole::Restore;
    }
  }
  if (f.role == AlarmRole::None) f.role = AlarmRole::Alarm;
  f.key = "console:" + std::string(EventKindName(f.consoleKind));
  return f;
}

bool InRanges(const std::vector<std::pair<int, int>>& ranges, int code) {
  for (const auto& [low, high] : ranges) {
    if (code >= low && code <= high) return true;
  }
  return false;
}

bool Matches(const PriorityTable::Rule& rule, const Facts& f) {
  if (rule.source == Source::Default) return true;
  if (rule.source != f.source) return false;
  switch (rule.source) {
    case Source::ContactId:
    case Source::Radio:
      return f.code >= 0 && InRanges(rule.codes, f.code);
    case Source::Loop:
      if (rule.what == PriorityTable::Rule::kDuress) return f.duress;
      if (rule.what == PriorityTable::Rule::kOtherLoop) return f.loopKind < 1 || f.loopKind > 6;
      return rule.what == f.loopKind;
    case Source::Dialler:
      return rule.what == f.code;
    case Source::Console:
      return static_cast<EventKind>(rule.what) == f.consoleKind;
    case Source::BadSum:
      return true;
    case Source::Default:
      break;
  }
  return true;
}

// The loop rule names what the message is taken for: a duress control
// message is a duress alarm, not a control message.
void LoopAlarm(const PriorityTable::Rule& rule, const Facts& f, const LoopStateFields& loop, AlarmClass& c) {
  const bool tamper = f.loopKind == kLoopTamperKind && rule.what != PriorityTable::Rule::kDuress;
  const bool restored = tamper && loop.tamperRestored;
  c.role = restored ? AlarmRole::Restore : AlarmRole::Alarm;
  c.key = rule.what == PriorityTable::Rule::kDuress ? "loop:duress" : "loop:" + std::to_string(f.loopKind);
}

}  // namespace

AlarmClass PriorityTable::Classify(const Event& event) const {
  AlarmClass c;
  if (event.kind == EventKind::AlarmAcknowledged) return c;
  Facts f = event.kind == EventKind::Message ? MessageFacts(event) : ConsoleFacts(event.kind);
  c.role = f.role;
  c.key = std::move(f.key);
  for (const Rule& rule : rules_) {
    if (!Matches(rule, f)) continue;
    c.priority = rule.priority;
    if (rule.source == Source::Loop) LoopAlarm(rule, f, event.message->loopState, c);
    break;
  }
  if (c.priority < 0) c.role = AlarmRole::None;
  return c;
}

Result<PriorityTable> LoadPriorityTable(FileSystem& fs, const std::string& path) {
  if (!fs.Exists(path)) return PriorityTable::Defaults();
  constexpr std::size_t kMaxTable = 256 * 1024;
  std::vector<std::uint8_t> bytes;
  std::string why;
  const int error = fs.ReadPrefix(path, kMaxTable + 1, bytes);
  if (error != 0) {
    why = "файл не читается (ошибка " + std::to_string(error) + ")";
  } else if (bytes.size() > kMaxTable) {
    why = "файл длиннее 256 КБ";
  } else {
    std::string text(bytes.begin(), bytes.end());
    ParsedPriorityTable parsed = ParsePriorityTable(text);
    if (parsed.ok()) return std::move(parsed.table);
    why = parsed.errors.front();
    if (parsed.errors.size() > 1) why += " (и ещё ошибок: " + std::to_string(parsed.errors.size() - 1) + ")";
  }
  return Problem{"Таблица приоритетов тревог " + path + " не принята: " + why + ". Действует таблица по умолчанию.",
                 "", error};
}

PriorityTable TableInForce(Result<PriorityTable> loaded) {
  if (loaded) return std::move(*loaded);
  return PriorityTable::Defaults();
}

}  // namespace pelvaron
