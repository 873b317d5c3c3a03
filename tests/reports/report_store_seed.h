#pragma once

#include <gtest/gtest.h>

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
    return e.seq;
  }

  EventStore& store_;
  std::string station_;
  std::uint64_t seq_ = 0;
};

}  // namespace pelvaron::testing
