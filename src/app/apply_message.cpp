#include "app/apply_message.h"

#include "core/fixed_text.h"

namespace pelvaron {

namespace {

constexpr char kChecksumText[] = "Ошибка контрольной суммы!";
constexpr char kChecksumTitle[] = "Ошибка";

// A guard's control message restarts the count of every object of its address.
void ResetControlPeriods(std::string_view address, ObjectRegistry& objects) {
  ObjectTable& table = objects.Table();
  // Addresses are digits, the same in Windows-1251 as in UTF-8.
  for (int slot = 1; slot <= kLastObjectSlot && table[slot].bUsed != 0; ++slot) {
    if (FixedTextView(table[slot].szAddress) == address) objects.ResetObjectCounter(slot);
  }
}

}  // namespace

int ApplyDecodedMessage(const DecodedMessage& message, EventProtocol& protocol, Operator& op,
                        ObjectRegistry& objects) {
  if (!message.sumOk) {
    op.ShowMessage({kChecksumText, kChecksumTitle, MessageIcon::Error});
    return 1;
  }
  // One append for the whole message: a full disk loses the message, never half of it.
  protocol.BeginBlock();
  for (std::size_t i = 0; i < message.lines.size(); ++i) {
    if (message.IsStamped(i)) {
      protocol.AppendStampedLine(message.lines[i]);
    } else {
      protocol.AppendPlainLine(message.lines[i]);
    }
  }
  protocol.EndBlock();
  if (message.kind == MessageKind::LoopState) {
    if (message.loopState.controlMessage) ResetControlPeriods(message.address.view(), objects);
    objects.RefreshObjectList();
  }
  return 0;
}

int DecodeFrame(const std::uint8_t* frame, DecodedMessage& scratch, EventProtocol& protocol, Operator& op,
                ObjectRegistry& objects) {
  if (frame == nullptr) return 1;
  DecodeMessage(frame, scratch);
  return ApplyDecodedMessage(scratch, protocol, op, objects);
}

int DecodeFrame(const std::uint8_t* frame, EventProtocol& protocol, Operator& op, ObjectRegistry& objects) {
  DecodedMessage message;
  return DecodeFrame(frame, message, protocol, op, objects);
}

}  // namespace pelvaron
