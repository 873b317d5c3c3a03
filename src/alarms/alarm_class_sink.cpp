#include "alarms/alarm_class_sink.h"

namespace pelvaron {

StoredClass StoredClassOf(const PriorityTable& table, const Event& event) {
  const AlarmClass c = table.Classify(event);
  StoredClass stored;
  const Priority* p = table.At(c.priority);
  if (p == nullptr) return stored;
  stored.priority = p->name;
  // Only what the queue takes counts as an alarm or a restore in the history.
  if (p->handling == AlarmHandling::Log) return stored;
  stored.role = static_cast<int>(c.role);
  stored.key = c.key;
  return stored;
}

void AlarmClassSink::Publish(const Event& event) {
  if (event.kind != EventKind::Message) {
    next_.Publish(event);
    return;
  }
  StoredClass c = StoredClassOf(table_, event);
  if (c.role == 0) {
    next_.Publish(event);
    return;
  }
  Event marked = event;
  marked.alarmRole = static_cast<std::uint8_t>(c.role);
  marked.priority = std::move(c.priority);
  marked.alarmKey = std::move(c.key);
  next_.Publish(marked);
}

}  // namespace pelvaron
