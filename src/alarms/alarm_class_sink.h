#pragma once

#include "alarms/priority_table.h"
#include "events/event.h"
#include "store/event_store.h"

namespace pelvaron {

// What the store keeps of an event for the alarm queue: the priority, and
// for what the queue takes (not what the table only logs) the role and key.
StoredClass StoredClassOf(const PriorityTable& table, const Event& event);

// Hands each event on, a message the queue takes marked with its priority,
// role and key, so that the outputs tell alarms from other messages as the
// store does.
class AlarmClassSink : public EventSink {
 public:
  AlarmClassSink(const PriorityTable& table, EventSink& next) : table_(table), next_(next) {}
  void Publish(const Event& event) override;

 private:
  const PriorityTable& table_;
  EventSink& next_;
};

}  // namespace pelvaron
