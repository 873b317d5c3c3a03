// The decoders behind the frame, called directly with what a frame cannot
// give them: a loop-state message for any address text (not only four hex
// digits), a Contact ID code of any int. Every input goes through all of them.

#include <cstring>
#include <string>

#include "decode/contact_id.h"
#include "decode/loop_state.h"
#include "decode/radio.h"
#include "fuzz_support.h"
#include "protocol/event_protocol.h"
#include "protocol/settings.h"

using namespace pelvaron;

namespace {

std::uint8_t At(const std::uint8_t* data, std::size_t size, std::size_t i) {
  return i < size ? data[i] : 0;
}

struct Station {
  Station() : settings(ConsoleSettings::Defaults()), protocol(settings, clock, fs, op), objects(fs, op) {
    objects.InitObjects();
    fuzz::RegisterSampleObjects(objects);
  }
  fuzz::FixedClock clock;
  fuzz::MemoryFiles fs;
  fuzz::RecordingOperator op;
  ConsoleSettings settings;
  EventProtocol protocol;
  ObjectRegistry objects;

  // The log is never emptied here and stays under its 400 lines per input.
  std::size_t Lines() const { return protocol.EventLog().size(); }
};

void Radio(Station& st, const std::uint8_t* data, std::size_t size) {
  const RadioRecord record{At(data, size, 0), At(data, size, 1), At(data, size, 2), At(data, size, 3)};
  std::size_t before = st.Lines();
  DecodeRadioMessage(record, st.protocol);
  // One line per partition bit at most.
  FUZZ_CHECK(st.Lines() - before <= 8);
  before = st.Lines();
  FormatRadioRecord(record, st.protocol);
  FUZZ_CHECK(st.Lines() == before + 1);
  for (int newEvent : {0, 1}) {
    const std::string text = RadioEventText(record.eventCode, newEvent);
    FUZZ_CHECK(!text.empty() && fuzz::StorableText(text));
  }
}

void LoopState(Station& st, const std::uint8_t* data, std::size_t size) {
  const std::uint8_t kind = At(data, size, 0);
  const std::string address(reinterpret_cast<const char*>(data) + (size < 3 ? size : 3),
                            size < 3 ? 0 : size - 3);
  const std::optional<std::string> stored = Utf8ToCp1251(address);
  const int refreshes = st.op.refreshes;
  const std::size_t before = st.Lines();
  FUZZ_CHECK(DecodeLoopState(kind, At(data, size, 1), At(data, size, 2), address, st.protocol, st.objects) ==
             0);
  // The first line, up to two silent-alarm lines, two lines per loop.
  FUZZ_CHECK(st.Lines() - before >= 5 && st.Lines() - before <= 7);
  FUZZ_CHECK(st.op.refreshes == refreshes + 1);
  if (kind >> 4 == 2 && stored) {
    for (int s = 1; s <= st.objects.ObjectCount(); ++s) {
      const ObjectRecord& r = st.objects.Table()[s];
      if (ReadFixedText(r.szAddress) == *stored) FUZZ_CHECK(r.nTimeCounter == 0 && r.bAlarm == 0);
    }
  }
}

void Dialler(Station& st, const std::uint8_t* data, std::size_t size) {
  const std::size_t before = st.Lines();
  DecodeDiallerMessage(At(data, size, 0), st.protocol);
  FUZZ_CHECK(st.Lines() == before + 1);
}

void ContactId(const std::uint8_t* data, std::size_t size) {
  std::int32_t code = 0;
  if (size > 0) std::memcpy(&code, data, size < sizeof code ? size : sizeof code);
  const int newEvent = static_cast<std::int8_t>(At(data, size, 4));
  const std::string text = ContactIdEventText(code, newEvent);
  FUZZ_CHECK(!text.empty() && fuzz::StorableText(text));
  // The decoder writes it in brackets on one plain line.
  FUZZ_CHECK(Utf8Length(text) + 2 <= kMaxPlainText);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Station st;
  Radio(st, data, size);
  LoopState(st, data, size);
  Dialler(st, data, size);
  ContactId(data, size);
  FUZZ_CHECK(!st.op.badLine);
  FUZZ_CHECK(st.op.messages.empty());
  return 0;
}
