#include "outputs/event_environment.h"

#include <string_view>

#include "decode/message_json.h"

namespace pelvaron {

namespace {

void Put(std::vector<std::string>& env, const char* name, std::string_view value) {
  std::string entry = name;
  entry += '=';
  entry += value;
  env.push_back(std::move(entry));
}

// What a decoded message adds: its kind and bytes, and what its unit said.
void PutMessage(std::vector<std::string>& env, const DecodedMessage& m) {
  Put(env, "PELVARON_MESSAGE", MessageKindName(m.kind));
  std::string raw;
  AppendFrameHex(raw, m.raw);
  Put(env, "PELVARON_RAW", raw);
  if (!m.sumOk) return;
  Put(env, "PELVARON_DEVICE", m.deviceName.view());
  switch (m.kind) {
    case MessageKind::ContactId:
      Put(env, "PELVARON_CODE", m.contactId.codeText.view());
      Put(env, "PELVARON_NEW", m.contactId.newEvent ? "1" : "0");
      Put(env, "PELVARON_PARTITION", m.contactId.partition.view());
      Put(env, "PELVARON_ZONE", m.contactId.zone.view());
      break;
    case MessageKind::Radio:
      if (m.radioCount > 0) {
        Put(env, "PELVARON_CODE", std::to_string(m.radio[0].eventCode));
        Put(env, "PELVARON_NEW", m.radio[0].newEvent ? "1" : "0");
      }
      break;
    case MessageKind::LoopState:
      Put(env, "PELVARON_GUARD", std::to_string(m.loopState.guard));
      break;
    case MessageKind::Dialler:
      Put(env, "PELVARON_CODE", std::to_string(m.dialler.message));
      break;
    case MessageKind::UnknownUnit:
    case MessageKind::BadSum:
      break;
  }
}

}  // namespace

std::vector<std::string> EventEnvironment(const Event& e) {
  std::vector<std::string> env;
  Put(env, "PELVARON_SEQ", std::to_string(e.seq));
  Put(env, "PELVARON_TIME", e.timeText);
  Put(env, "PELVARON_STATION", e.station);
  Put(env, "PELVARON_KIND", EventKindName(e.kind));
  Put(env, "PELVARON_TEXT", e.text);
  Put(env, "PELVARON_ADDRESS", e.address);
  if (!e.command.empty()) Put(env, "PELVARON_COMMAND", e.command);
  if (!e.detail.empty()) Put(env, "PELVARON_DETAIL", e.detail);
  if (e.kind == EventKind::AlarmAcknowledged) Put(env, "PELVARON_REF", std::to_string(e.ref));
  if (e.kind == EventKind::Message && e.message) PutMessage(env, *e.message);
  return env;
}

}  // namespace pelvaron
