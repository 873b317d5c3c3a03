// Receiver frames: any bytes, ten at a time, as the link hands them to the
// decoder. A frame is decoded as it came and, when its sum is wrong, once more
// with the sum put right, so that every input also reaches the decoders behind
// the checksum (Contact ID, loop state, dialler, radio).

#include <cstring>
#include <memory>

#include "decode/frame.h"
#include "fuzz_support.h"
#include "protocol/event_protocol.h"
#include "protocol/settings.h"

using namespace pelvaron;

namespace {

// More frames than the event log holds would only repeat the same paths.
constexpr std::size_t kMaxFrames = 64;
constexpr char kChecksumText[] = "Ошибка контрольной суммы!";

const ObjectTable& SampleTable() {
  static const ObjectTable table = [] {
    fuzz::MemoryFiles fs;
    fuzz::RecordingOperator op;
    ObjectRegistry registry(fs, op);
    registry.InitObjects();
    fuzz::RegisterSampleObjects(registry);
    return registry.Table();
  }();
  return table;
}

struct Station {
  Station() : settings(ConsoleSettings::Defaults()), protocol(settings, clock, fs, op), objects(fs, op) {
    objects.Table() = SampleTable();
  }
  fuzz::FixedClock clock;
  fuzz::MemoryFiles fs;
  fuzz::RecordingOperator op;
  ConsoleSettings settings;
  EventProtocol protocol;
  ObjectRegistry objects;

  std::size_t FileSize() { return fs.files[settings.ProtocolPath()].size(); }
};

unsigned Sum(const std::uint8_t* frame) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < 8; ++i) sum += frame[i];
  return sum;
}

void DecodeOne(Station& st, std::uint8_t* frame) {
  const unsigned sum = Sum(frame);
  if (sum != (static_cast<unsigned>(frame[8]) << 8u | frame[9])) {
    const std::size_t logBefore = st.protocol.EventLog().size();
    const std::size_t fileBefore = st.FileSize();
    const std::size_t messagesBefore = st.op.messages.size();
    FUZZ_CHECK(DecodeFrame(frame, st.protocol, st.op, st.objects) == 1);
    // A bad sum writes nothing and says so once.
    FUZZ_CHECK(st.protocol.EventLog().size() == logBefore);
    FUZZ_CHECK(st.FileSize() == fileBefore);
    FUZZ_CHECK(st.op.messages.size() == messagesBefore + 1);
    FUZZ_CHECK(st.op.messages.back().text == kChecksumText);
    frame[8] = static_cast<std::uint8_t>(sum >> 8u);
    frame[9] = static_cast<std::uint8_t>(sum);
  }
  const std::size_t messagesBefore = st.op.messages.size();
  const std::size_t fileBefore = st.FileSize();
  FUZZ_CHECK(DecodeFrame(frame, st.protocol, st.op, st.objects) == 0);
  FUZZ_CHECK(st.op.messages.size() == messagesBefore);
  FUZZ_CHECK(st.FileSize() > fileBefore);
  FUZZ_CHECK(!st.op.badLine);
  FUZZ_CHECK(st.protocol.EventLog().size() <= static_cast<std::size_t>(MAX_LOG_LINES));
  FUZZ_CHECK(st.op.logLines == st.protocol.EventLog().size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Station st;
  for (std::size_t off = 0, n = 0; off < size && n < kMaxFrames; off += kFrameSize, ++n) {
    // Exactly ten bytes on the heap: the sanitizer catches any read past them.
    auto frame = std::make_unique<std::uint8_t[]>(kFrameSize);
    std::memcpy(frame.get(), data + off, size - off < kFrameSize ? size - off : kFrameSize);
    DecodeOne(st, frame.get());
  }
  return 0;
}
