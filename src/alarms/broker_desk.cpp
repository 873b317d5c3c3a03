#include "alarms/broker_desk.h"

#include <algorithm>

#include "alarms/alarm_json.h"

namespace pelvaron {

namespace {

std::size_t Characters(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

BrokerDesk::BrokerDesk(AlarmDesk& desk, EventStoreSink& store, DeskChannel& channel, bool commands, Report report)
    : desk_(desk), store_(store), channel_(channel), commands_(commands), report_(std::move(report)) {}

void BrokerDesk::AfterTick(std::int64_t now) {
  if (commands_) {
    for (const DeskChannel::Heard& heard : channel_.TakeRequests()) Take(heard, now);
  }
  // At most once a tick, however much changed in it.
  if (shown_ && desk_.changes() == shownChanges_) return;
  shown_ = true;
  shownChanges_ = desk_.changes();
  channel_.ShowAlarms(AlarmsJson(desk_.View()));
}

void BrokerDesk::Take(const DeskChannel::Heard& heard, std::int64_t now) {
  const CommandParse parsed = ParseCommand(heard.verb, heard.payload);
  if (parsed.id.empty()) {
    // Nobody to answer: the station's staff hear of it once per fault.
    if (told_.insert(parsed.problem).second && report_) {
      report_("MQTT: запрос на команду «" + heard.verb + "» без номера пропущен. " + parsed.problem);
    }
    return;
  }
  if (const CommandAnswer* given = store_.AnswerTo(parsed.id)) {
    channel_.Answer(CommandResultJson(given->request, given->accepted, given->reason));
    return;
  }
  CommandAnswer answer;
  answer.request = parsed.id;
  answer.time = now;
  answer.reason = parsed.request ? Do(*parsed.request) : parsed.problem;
  answer.accepted = answer.reason.empty();
  channel_.Answer(CommandResultJson(answer.request, answer.accepted, answer.reason));
  store_.KeepAnswer(std::move(answer));
}

std::string BrokerDesk::Do(const CommandRequest& r) {
  // A note must fit one protocol line, as in the window's dialogs.
  for (const std::string* text : {&r.note, &r.detail}) {
    if (Characters(*text) > AlarmDesk::kMaxNoteChars) {
      return "Примечание длиннее " + std::to_string(AlarmDesk::kMaxNoteChars) + " знаков; сократите его.";
    }
  }
  switch (r.verb) {
    case CommandRequest::Verb::Acknowledge:
      return desk_.AcknowledgeFor(r.ref, r.note, r.operatorName, kSource);
    case CommandRequest::Verb::Action:
      return desk_.AddActionFor(r.ref, r.action, r.detail, r.operatorName);
    case CommandRequest::Verb::Close:
      return desk_.CloseFor(r.ref, r.outcome, r.note, r.operatorName);
  }
  return {};
}

}  // namespace pelvaron
