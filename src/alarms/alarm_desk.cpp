#include "alarms/alarm_desk.h"

#include "core/control_characters.h"

namespace pelvaron {

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
  for (AlarmEntry& entry : queue_.Sorted()) {
    AlarmRow row;
    if (const Priority* p = table_.At(entry.priority)) {
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
  if (listener_) listener_(View(raise));
}

void AlarmDesk::Publish(const Event& event) {
  if (event.kind == EventKind::AlarmAcknowledged) {
    // Ours are out of the queue already; this is for acknowledgements that
    // reach the console as events from elsewhere.
    if (queue_.Acknowledge(event.ref, event.address)) Changed(false);
    return;
  }
  AlarmQueue::Change change = queue_.Apply(event, table_.Classify(event));
  if (change.sounds) newAlarm_ = true;
  if (change.changed) Changed(change.raise);
}

void AlarmDesk::Replay(const Event& event, const AlarmClass& cls) {
  if (event.kind == EventKind::AlarmAcknowledged) {
    queue_.Acknowledge(event.ref, event.address);
  } else {
    queue_.Apply(event, cls);
  }
}

void AlarmDesk::ReplayDone() {
  Changed(queue_.NeedsSound());
}

AlarmDesk::Record AlarmDesk::AcknowledgementRecord(std::uint64_t id, const std::string& address,
                                                  const std::string& text, const std::string& note,
                                                  const std::string& source) {
  Record r;
  r.stamped = "Подтверждена тревога №" + std::to_string(id);
  if (!source.empty()) r.stamped += " (" + source + ")";
  if (!address.empty()) r.stamped += ", объект '" + address + "'";
  r.text = r.stamped;
  if (!text.empty()) {
    r.plain.push_back("    " + text);
    r.text += ": " + text;
  }
  if (!note.empty()) {
    r.plain.push_back("    Примечание: " + note);
    r.text += "; примечание: " + note;
  }
  return r;
}

void AlarmDesk::Write(std::uint64_t ref, const std::string& address, const std::string& text,
                       const std::string& note, const std::string& source) {
  const Record record = AcknowledgementRecord(ref, address, text, note, source);
  if (hooks_.protocolLines) hooks_.protocolLines(record.stamped, record.plain);
  if (!hooks_.publish) return;
  Event event;
  event.kind = EventKind::AlarmAcknowledged;
  event.address = address;
  event.text = record.text;
  event.detail = note;
  event.command = source;
  event.ref = ref;
  hooks_.publish(std::move(event));
}

int AlarmDesk::Acknowledge(const std::vector<std::uint64_t>& ids, const std::string& note) {
  // A line end in the note would forge a protocol line of its own.
  if (std::optional<char32_t> c = FirstControlCharacter(note)) {
    if (hooks_.refused)
      hooks_.refused(ControlCharacterRefusal("Примечание", *c) + " Тревога не подтверждена.");
    return 0;
  }
  int count = 0;
  for (std::uint64_t id : ids) {
    // Out of the queue first, so the event that records it finds nothing left to do.
    std::optional<AlarmEntry> entry = queue_.Find(id) ? queue_.Acknowledge(id) : std::nullopt;
    if (!entry) continue;
    ++count;
    Write(entry->id, entry->address, entry->text, note, {});
  }
  if (count > 0) Changed(false);
  return count;
}

void AlarmDesk::AcknowledgeFromOutside(std::uint64_t ref, const std::string& address, const std::string& text,
                                       const std::string& note, const std::string& source) {
  std::optional<AlarmEntry> entry = queue_.Acknowledge(ref, address);
  Write(ref, ShowControlCharacters(entry ? entry->address : address),
        ShowControlCharacters(entry ? entry->text : text), ShowControlCharacters(note),
        ShowControlCharacters(source));
  if (entry) Changed(false);
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
