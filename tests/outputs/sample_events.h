#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "events/event.h"

namespace pelvaron::testing {

// Frames as the receiver sends them: Contact ID, a guard's control message,
// a dialler, a radio record with two partitions, and the first one with a
// wrong sum.
inline constexpr std::array<FrameBytes, 5> kFrames = {{
    {18, 52, 63, 1, 19, 0, 5, 0, 0, 158},
    {0, 18, 10, 34, 2, 48, 0, 0, 0, 112},
    {18, 52, 16, 6, 33, 0, 0, 0, 0, 125},
    {31, 65, 16, 1, 16, 133, 5, 49, 1, 60},
    {18, 52, 63, 1, 19, 0, 5, 0, 0, 159},
}};

inline Event Base(EventKind kind, std::uint64_t seq) {
  Event e;
  e.seq = seq;
  e.time = 1796630540;
  e.timeText = "2026-12-07T10:22:20+03:00";
  e.station = "пост-1";
  e.kind = kind;
  e.text = "Событие";
  return e;
}

inline Event MessageEvent(const FrameBytes& frame, std::uint64_t seq) {
  Event e = Base(EventKind::Message, seq);
  auto m = std::make_shared<DecodedMessage>(DecodeMessage(frame.data()));
  e.address = std::string(m->address.view());
  e.text = m->sumOk ? MessageText(*m) : "Ошибка контрольной суммы!";
  e.message = std::move(m);
  return e;
}

// One event of each kind, messages of every unit, with the members each kind has.
inline std::vector<Event> EveryKind() {
  std::vector<Event> events;
  std::uint64_t seq = 1;
  for (EventKind kind : AllEventKinds()) {
    if (kind == EventKind::Message) {
      for (const FrameBytes& f : kFrames) events.push_back(MessageEvent(f, seq++));
      continue;
    }
    Event e = Base(kind, seq++);
    if (kind == EventKind::ObjectOverdue || kind == EventKind::ObjectBackInControl) e.address = "0012";
    if (kind == EventKind::ObjectsChanged) {
      e.address = "0105";
      e.command = "register";
    }
    if (kind == EventKind::SettingsChanged) e.detail = "COM2";
    if (kind == EventKind::AlarmAcknowledged) {
      e.ref = 3;
      e.detail = "выезд группы";
    }
    if (kind == EventKind::AlarmAction) {
      e.ref = 3;
      e.command = "key-holder-called";
      e.detail = "Сидоров (директор), +7 900 000-00-00: ответил";
    }
    if (kind == EventKind::AlarmClosed) {
      e.ref = 3;
      e.command = "false-user";
    }
    if (kind == EventKind::AlarmAcknowledged || kind == EventKind::AlarmAction || kind == EventKind::AlarmClosed ||
        kind == EventKind::OperatorSignedIn || kind == EventKind::OperatorSignedOut) {
      e.operatorName = "Иванова";
    }
    events.push_back(e);
  }
  return events;
}

}  // namespace pelvaron::testing
