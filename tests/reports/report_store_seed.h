#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "decode/decoded_message.h"
#include "events/event.h"
#include "sim/frames.h"
#include "store/event_schema.h"
#include "store/event_store.h"

namespace pelvaron::testing {

// Events into a store as a console puts them there: numbered in order, each
// kind with the row a console would write.
class StoreSeed {
 public:
  explicit StoreSeed(EventStore& store, std::string station = "Пульт") : store_(store), station_(std::move(station)) {}

  // An alarm (or, of a priority that only logs, an information) of a key.
  std::uint64_t Alarm(std::int64_t time, const std::string& address, const std::string& priority,
                      const std::string& key, int role = 1) {
    return Put(Make(time, EventKind::Message, address, "Тревога " + key), {priority, role, key});
  }
  // An acknowledgement (command empty), action or close of alarm `ref`.
  std::uint64_t Handle(std::int64_t time, EventKind kind, std::uint64_t ref, const std::string& address,
                       const std::string& command = {}, const std::string& detail = {},
                       const std::string& who = {}) {
    Event e = Make(time, kind, address, "по тревоге №" + std::to_string(ref));
    e.ref = ref;
    e.command = command;
    e.detail = detail;
    e.operatorName = who;
    return Put(std::move(e), {});
  }
  // A console's state event: the link, the line, an object, an operator.
  std::uint64_t State(std::int64_t time, EventKind kind, const std::string& address = {},
                      const std::string& who = {}) {
    Event e = Make(time, kind, address, std::string(EventKindName(kind)));
    e.operatorName = who;
    return Put(std::move(e), {});
  }
  // A Contact ID message with its frame, as the receiver sent it.
  std::uint64_t ContactId(std::int64_t time, int address, int code, bool newEvent, int user,
                          const std::string& priority = "information") {
    sim::ContactIdEvent cid;
    cid.address = address;
    cid.code = code;
    cid.newEvent = newEvent;
    cid.zone = user;
    const auto frame = sim::ContactIdFrame(cid);
    auto message = std::make_shared<DecodedMessage>(DecodeMessage(frame.data()));
    Event e = Make(time, EventKind::Message, std::string(message->address.view()), MessageText(*message));
    e.message = std::move(message);
    return Put(std::move(e), {priority, newEvent ? 1 : 2, "cid" + std::to_string(code)});
  }

  std::uint64_t seq() const { return seq_; }

  // Sees each event as it is stored, with its class (a second store, say).
  std::function<void(const Event&, const StoredClass&)> also;

 private:
  Event Make(std::int64_t time, EventKind kind, const std::string& address, std::string text) {
    Event e;
    e.seq = ++seq_;
    e.time = time;
    e.timeText = "t" + std::to_string(time);
    e.station = station_;
    e.kind = kind;
    e.address = address;
    e.text = std::move(text);
    return e;
  }
  std::uint64_t Put(Event e, const StoredClass& cls) {
    if (!store_.Insert(e, cls)) ADD_FAILURE() << "not stored: " << e.seq;
    if (also) also(e, cls);
    return e.seq;
  }

  EventStore& store_;
  std::string station_;
  std::uint64_t seq_ = 0;
};

// A shift from `start` for 12 hours, as a console wrote it from two hours
// before to after its end: an alarm open all along and repeated, one
// repeated, handled and closed, then raised again, one handled after the
// end; the link, an operator, an object overdue, a stop; openings.
struct SeededShift {
  std::uint64_t fire = 0, again = 0, panic = 0;
};
inline SeededShift SeedShift(StoreSeed& put, std::int64_t start) {
  constexpr std::int64_t kHour = 3600;
  const std::int64_t S = start, kEnd = start + 12 * kHour;
  SeededShift ids;
  put.State(S - 2 * kHour, EventKind::LinkLost);
  put.Alarm(S - kHour, "0012", "burglary", "k130");  // open all along
  put.State(S - kHour + 10, EventKind::OperatorSignedIn, {}, "Иванова");
  put.State(S - 1800, EventKind::ObjectOverdue, "0034");
  ids.fire = put.Alarm(S + 10, "0056", "fire", "k110");
  put.Alarm(S + 20, "0056", "fire", "k110");  // a repeat while it waits
  put.Handle(S + 40, EventKind::AlarmAcknowledged, ids.fire, "0056", {}, {}, "Иванова");
  put.Handle(S + 60, EventKind::AlarmAction, ids.fire, "0056", "key-holder-called", "Петров (владелец): ответил",
             "Иванова");
  put.Alarm(S + 100, "0012", "burglary", "k130");  // a repeat of the alarm raised before
  put.Handle(S + 120, EventKind::AlarmClosed, ids.fire, "0056", "false-user", "", "Иванова");
  ids.again = put.Alarm(S + 200, "0056", "fire", "k110");  // closed: a new alarm
  put.Handle(S + 230, EventKind::AlarmAcknowledged, ids.again, "0056");
  put.ContactId(S + 300, 12, 401, true, 3);     // disarmed by user 3: no alarm
  put.State(S + 600, EventKind::LinkRestored);
  put.ContactId(S + 5000, 12, 401, false, 3);  // armed
  put.State(S + kHour, EventKind::ObjectBackInControl, "0034");
  put.State(S + 4 * kHour, EventKind::OperatorSignedOut, {}, "Иванова");
  put.State(S + 4 * kHour, EventKind::OperatorSignedIn, {}, "Петров");
  put.State(S + 6 * kHour, EventKind::ConsoleStopped);
  put.State(S + 6 * kHour + 60, EventKind::ConsoleStarted);
  put.State(S + 6 * kHour + 120, EventKind::OperatorSignedIn, {}, "Петров");
  ids.panic = put.Alarm(S + 11 * kHour, "0012", "panic", "k120");
  put.Handle(S + 11 * kHour + 30, EventKind::AlarmAcknowledged, ids.panic, "0012", {}, {}, "Петров");
  put.State(S + 11 * kHour + 100, EventKind::LineFault);
  put.Handle(kEnd + 300, EventKind::AlarmAction, ids.panic, "0012", "guard-sent", "", "Петров");
  put.Handle(kEnd + 600, EventKind::AlarmClosed, ids.panic, "0012", "real", "взлом двери", "Петров");
  put.Alarm(kEnd + 700, "0056", "fire", "k999");  // after the range
  return ids;
}

}  // namespace pelvaron::testing
