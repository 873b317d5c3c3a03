#include "events/event.h"

#include <array>

#include "decode/contact_id.h"
#include "decode/radio.h"

namespace pelvaron {

namespace {

struct KindName {
  EventKind kind;
  std::string_view name;
};

constexpr std::array kKindNames = std::to_array<KindName>({
    {EventKind::Message, "message"},
    {EventKind::ConsoleStarted, "console-started"},
    {EventKind::ConsoleStopped, "console-stopped"},
    {EventKind::LinkLost, "link-lost"},
    {EventKind::LinkRestored, "link-restored"},
    {EventKind::LineFault, "line-fault"},
    {EventKind::LineRestored, "line-restored"},
    {EventKind::EnclosureOpened, "enclosure-opened"},
    {EventKind::EnclosureClosed, "enclosure-closed"},
    {EventKind::ObjectOverdue, "object-overdue"},
    {EventKind::ObjectBackInControl, "object-back-in-control"},
    {EventKind::ObjectsChanged, "objects-changed"},
    {EventKind::SettingsChanged, "settings-changed"},
    {EventKind::ReceiverSettingsWritten, "receiver-settings-written"},
    {EventKind::AlarmAcknowledged, "alarm-acknowledged"},
    {EventKind::AlarmAction, "alarm-action"},
    {EventKind::AlarmClosed, "alarm-closed"},
    {EventKind::OperatorSignedIn, "operator-signed-in"},
    {EventKind::OperatorSignedOut, "operator-signed-out"},
});

constexpr std::array<EventKind, kKindNames.size()> kKinds = [] {
  std::array<EventKind, kKindNames.size()> kinds{};
  for (std::size_t i = 0; i < kKindNames.size(); ++i) kinds[i] = kKindNames[i].kind;
  return kinds;
}();

// Lines begin with the indents of the event log.
std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  return line;
}

}  // namespace

std::string_view EventKindName(EventKind kind) {
  for (const KindName& k : kKindNames) {
    if (k.kind == kind) return k.name;
  }
  return "message";
}

std::span<const EventKind> AllEventKinds() {
  return kKinds;
}

std::string MessageText(const DecodedMessage& m) {
  switch (m.kind) {
    case MessageKind::ContactId:
      return std::string(ContactIdEventText(m.contactId.code, m.contactId.newEvent ? 1 : 0));
    case MessageKind::Radio:
      if (m.radioCount == 0) break;
      return RadioEventText(m.radio[0].eventCode, m.radio[0].newEvent ? 1 : 0);
    case MessageKind::LoopState:
    case MessageKind::Dialler: {
      // The first line after the type line.
      const std::size_t first = m.addressClass == AddressClass::Binary ? 6 : 5;
      if (m.lines.size() <= first || Trimmed(m.lines[first]).empty()) break;
      return std::string(Trimmed(m.lines[first]));
    }
    case MessageKind::UnknownUnit:
    case MessageKind::BadSum:
      break;
  }
  return std::string(m.deviceName.view());
}

}  // namespace pelvaron
