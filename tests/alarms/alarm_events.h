#pragma once

// Events as the console publishes them, made from simulator frames.

#include <memory>
#include <string>

#include "events/event.h"
#include "sim/frames.h"

namespace pelvaron::testing {

inline Event MessageEvent(const sim::Frame& frame, std::uint64_t seq = 1, std::int64_t time = 1000) {
  auto message = std::make_shared<DecodedMessage>(DecodeMessage(frame.data()));
  Event e;
  e.seq = seq;
  e.time = time;
  e.kind = EventKind::Message;
  e.address = std::string(message->address.view());
  e.text = message->sumOk ? MessageText(*message) : "Ошибка контрольной суммы!";
  e.message = std::move(message);
  return e;
}

inline Event ContactId(int address, int code, bool newEvent, int zone = 1, std::uint64_t seq = 1,
                       std::int64_t time = 1000) {
  sim::ContactIdEvent c;
  c.address = address;
  c.code = code;
  c.newEvent = newEvent;
  c.zone = zone;
  return MessageEvent(sim::ContactIdFrame(c), seq, time);
}

inline Event ConsoleEvent(EventKind kind, std::string address = {}, std::uint64_t seq = 1, std::int64_t time = 1000) {
  Event e;
  e.seq = seq;
  e.time = time;
  e.kind = kind;
  e.address = std::move(address);
  e.text = std::string(EventKindName(kind));
  return e;
}

}  // namespace pelvaron::testing
