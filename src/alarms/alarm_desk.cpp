#include "alarms/alarm_desk.h"

#include "events/alarm_handling.h"
#include "core/control_characters.h"

namespace pelvaron {

namespace {

std::string Objects(const std::string& address) {
  return address.empty() ? std::string() : ", объект '" + address + "'";
}

// The operator's line under a record, when one is known.
void NameOperator(AlarmDesk::Record& r, const std::string& operatorName) {
  if (operatorName.empty()) return;
  r.plain.push_back("    Оператор: " + operatorName);
  r.text += "; оператор: " + operatorName;
}

}  // namespace

AlarmDesk::AlarmDesk(PriorityTable table) : table_(std::move(table)), queue_(table_) {}

void AlarmDesk::SetListener(std::function<void(const AlarmView&)> listener) {
  listener_ = std::move(listener);
  // Joined after the replay, it brings the window up for a waiting alarm all the same.
  if (listener_) listener_(View(queue_.NeedsSound()));
}

AlarmView AlarmDesk::View(bool raise) const {
  AlarmView view;
  view.raise = raise;
  view.sounding = queue_.NeedsSound();
  view.operatorName = operator_;
  for (AlarmEntry& entry : queue_.Sorted()) {
    AlarmRow row;
    if (const Priority* p = table_.At(entry.priority)) {
      row.priorityName = p->name;
      row.priorityTitle = p->title;
      row.colour = p->colour;
    }
    if (hooks_.commentOf && !entry.address.empty()) row.comment = hooks_.commentOf(entry.address);
    row.entry = std::move(entry);
    view.rows.push_back(std::move(row));
  }
  return view;
}

void AlarmDesk::Changed(bool raise) {
  ++changes_;
  if (listener_) listener_(View(raise));
}

void AlarmDesk::Publish(const Event& event) {
  switch (event.kind) {
    case EventKind::AlarmAcknowledged:
    case EventKind::AlarmAction:
    case EventKind::AlarmClosed:
      // Ours are in the queue already; these reach the console from elsewhere.
      if (!writing_) {
        Replay(event, {});
        Changed(false);
      }
      return;
    default:
      break;
  }
  AlarmQueue::Change change = queue_.Apply(event, table_.Classify(event));
  if (change.sounds) newAlarm_ = true;
  if (change.changed) Changed(change.raise);
}

void AlarmDesk::Replay(const Event& event, const AlarmClass& cls) {
  switch (event.kind) {
    case EventKind::AlarmAcknowledged:
      queue_.Acknowledge(event.ref, event.address, event.time, event.operatorName);
      return;
    case EventKind::AlarmAction:
      queue_.AddAction(event.ref, {event.time, event.command, event.detail, event.operatorName}, event.address);
      return;
    case EventKind::AlarmClosed:
      queue_.Close(event.ref, event.address);
      return;
    default:
      queue_.Apply(event, cls);
  }
}

void AlarmDesk::ReplayDone() {
  Changed(queue_.NeedsSound());
}

AlarmDesk::Record AlarmDesk::AcknowledgementRecord(std::uint64_t id, const std::string& address,
                                                  const std::string& text, const std::string& note,
                                                  const std::string& source, const std::string& operatorName) {
  Record r;
  r.stamped = "Подтверждена тревога №" + std::to_string(id);
  if (!source.empty()) r.stamped += " (" + source + ")";
  r.stamped += Objects(address);
  r.text = r.stamped;
  if (!text.empty()) {
    r.plain.push_back("    " + text);
    r.text += ": " + text;
  }
  if (!note.empty()) {
    r.plain.push_back("    Примечание: " + note);
    r.text += "; примечание: " + note;
  }
  NameOperator(r, operatorName);
  return r;
}

AlarmDesk::Record AlarmDesk::ActionRecord(std::uint64_t id, const std::string& address, const std::string& code,
                                          const std::string& detail, const std::string& operatorName) {
  Record r;
  r.stamped = "Действие по тревоге №" + std::to_string(id) + Objects(address);
  std::string what(TitleOf(kAlarmActions, code));
  if (!detail.empty()) what += ": " + detail;
  r.plain.push_back("    " + what);
  r.text = r.stamped + ": " + what;
  NameOperator(r, operatorName);
  return r;
}

AlarmDesk::Record AlarmDesk::CloseRecord(std::uint64_t id, const std::string& address, const std::string& outcome,
                                         const std::string& note, const std::string& operatorName) {
  Record r;
  r.stamped = "Закрыта тревога №" + std::to_string(id) + Objects(address);
  const std::string title(TitleOf(kAlarmOutcomes, outcome));
  r.plain.push_back("    Итог: " + title);
  r.text = r.stamped + ": " + title;
  if (!note.empty()) {
    r.plain.push_back("    Примечание: " + note);
    r.text += "; примечание: " + note;
  }
  NameOperator(r, operatorName);
  return r;
}

void AlarmDesk::Write(const Record& record, Event event) {
  if (hooks_.protocolLines) hooks_.protocolLines(record.stamped, record.plain);
  if (!hooks_.publish) return;
  event.text = record.text;
  writing_ = true;
  hooks_.publish(std::move(event));
  writing_ = false;
}

bool AlarmDesk::Refused(const std::string& why) {
  if (hooks_.refused) hooks_.refused(why);
  return false;
}

int AlarmDesk::Acknowledge(const std::vector<std::uint64_t>& ids, const std::string& note) {
  // A line end in the note would forge a protocol line of its own.
  if (std::optional<char32_t> c = FirstControlCharacter(note)) {
    Refused(ControlCharacterRefusal("Примечание", *c) + " Тревога не подтверждена.");
    return 0;
  }
  int count = 0;
  for (std::uint64_t id : ids) {
    std::optional<AlarmEntry> entry =
        queue_.Find(id) ? queue_.Acknowledge(id, {}, Now(), operator_) : std::nullopt;
    if (!entry) continue;
    ++count;
    Event event;
    event.kind = EventKind::AlarmAcknowledged;
    event.address = entry->address;
    event.detail = note;
    event.ref = entry->id;
    event.operatorName = operator_;
    Write(AcknowledgementRecord(entry->id, entry->address, entry->text, note, {}, operator_), std::move(event));
  }
  if (count > 0) Changed(false);
  return count;
}

void AlarmDesk::AcknowledgeFromOutside(std::uint64_t ref, const std::string& address, const std::string& text,
                                       const std::string& note, const std::string& source,
                                       const std::string& operatorName) {
  const std::string who = ShowControlCharacters(operatorName);
  std::optional<AlarmEntry> entry = queue_.Acknowledge(ref, address, Now(), who);
  const std::string shownAddress = ShowControlCharacters(entry ? entry->address : address);
  Event event;
  event.kind = EventKind::AlarmAcknowledged;
  event.address = shownAddress;
  event.detail = note;
  event.command = source;
  event.ref = ref;
  event.operatorName = who;
  Write(AcknowledgementRecord(ref, shownAddress, ShowControlCharacters(entry ? entry->text : text),
                              ShowControlCharacters(note), ShowControlCharacters(source), who),
        std::move(event));
  if (entry) Changed(false);
}

bool AlarmDesk::AddAction(std::uint64_t id, const std::string& code, const std::string& detail) {
  const std::string why = AddActionFor(id, code, detail, operator_);
  return why.empty() || Refused(why);
}

bool AlarmDesk::Close(std::uint64_t id, const std::string& outcome, const std::string& note) {
  const std::string why = CloseFor(id, outcome, note, operator_);
  return why.empty() || Refused(why);
}

std::string AlarmDesk::AddActionFor(std::uint64_t id, const std::string& code, const std::string& detail,
                                    const std::string& who) {
  const AlarmEntry* entry = queue_.Find(id);
  if (entry == nullptr) return "Тревоги №" + std::to_string(id) + " уже нет в очереди; действие не записано.";
  if (TitleOf(kAlarmActions, code).empty()) return "Неизвестное действие «" + code + "»; оно не записано.";
  if (std::optional<char32_t> c = FirstControlCharacter(detail)) {
    return ControlCharacterRefusal("Описание действия", *c) + " Действие не записано.";
  }
  const std::string address = entry->address;
  queue_.AddAction(id, {Now(), code, detail, who});
  Event event;
  event.kind = EventKind::AlarmAction;
  event.address = address;
  event.command = code;
  event.detail = detail;
  event.ref = id;
  event.operatorName = who;
  Write(ActionRecord(id, address, code, detail, who), std::move(event));
  Changed(false);
  return {};
}

std::string AlarmDesk::CloseFor(std::uint64_t id, const std::string& outcome, const std::string& note,
                                const std::string& who) {
  if (queue_.Find(id) == nullptr) return "Тревоги №" + std::to_string(id) + " уже нет в очереди.";
  if (TitleOf(kAlarmOutcomes, outcome).empty()) {
    return "Тревога №" + std::to_string(id) + " не закрыта: итог не выбран.";
  }
  if (outcome == kOutcomeNeedingNote && note.empty()) {
    return "Тревога №" + std::to_string(id) + " не закрыта: для итога «Другое» нужно примечание.";
  }
  if (std::optional<char32_t> c = FirstControlCharacter(note)) {
    return ControlCharacterRefusal("Примечание", *c) + " Тревога не закрыта.";
  }
  std::optional<AlarmEntry> entry = queue_.Close(id);
  Event event;
  event.kind = EventKind::AlarmClosed;
  event.address = entry->address;
  event.command = outcome;
  event.detail = note;
  event.ref = id;
  event.operatorName = who;
  Write(CloseRecord(id, entry->address, outcome, note, who), std::move(event));
  Changed(false);
  return {};
}

std::string AlarmDesk::AcknowledgeFor(std::uint64_t id, const std::string& note, const std::string& operatorName,
                                      const std::string& source) {
  const AlarmEntry* found = queue_.Find(id);
  if (found == nullptr) return "Тревоги №" + std::to_string(id) + " уже нет в очереди.";
  if (found->acknowledged) {
    return "Тревога №" + std::to_string(id) + " уже подтверждена" +
           (found->ackOperator.empty() ? std::string() : " (" + found->ackOperator + ")") + ".";
  }
  if (std::optional<char32_t> c = FirstControlCharacter(note)) {
    return ControlCharacterRefusal("Примечание", *c) + " Тревога не подтверждена.";
  }
  std::optional<AlarmEntry> entry = queue_.Acknowledge(id, {}, Now(), operatorName);
  Event event;
  event.kind = EventKind::AlarmAcknowledged;
  event.address = entry->address;
  event.detail = note;
  event.command = source;
  event.ref = id;
  event.operatorName = operatorName;
  Write(AcknowledgementRecord(id, entry->address, entry->text, note, source, operatorName), std::move(event));
  Changed(false);
  return {};
}

void AlarmDesk::SetOperator(const std::string& name) {
  if (name == operator_) return;
  auto record = [this](EventKind kind, const std::string& who, const char* what) {
    Record r;
    r.stamped = "Оператор " + who + " " + what;
    r.text = r.stamped;
    Event event;
    event.kind = kind;
    event.operatorName = who;
    Write(r, std::move(event));
  };
  if (!operator_.empty()) record(EventKind::OperatorSignedOut, operator_, "закончил работу");
  operator_ = name;
  if (!operator_.empty()) record(EventKind::OperatorSignedIn, operator_, "начал работу");
  Changed(false);
}

void AlarmDesk::RecordRefusedSignIn(const std::string& name) {
  if (hooks_.protocolLines) hooks_.protocolLines("Отказ во входе оператора " + name + ": неверный PIN или пароль", {});
}

void AlarmDesk::Tick(std::int64_t now) {
  if (!queue_.NeedsSound()) {
    lastSound_ = -1;
    newAlarm_ = false;
    return;
  }
  if (lastSound_ >= 0 && now >= lastSound_ && now - lastSound_ < kSoundEverySeconds) return;
  lastSound_ = now;
  const bool fresh = newAlarm_;
  newAlarm_ = false;
  if (hooks_.sound) hooks_.sound(fresh);
}

}  // namespace pelvaron
