#pragma once

// Small fakes of the core's ports for the fuzz targets (no test framework):
// everything stays in memory and nothing ever waits.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "core/cp1251.h"
#include "core/file_system.h"
#include "core/fixed_text.h"
#include "core/operator.h"
#include "decode/decoded_message.h"
#include "objects/object_card.h"
#include "objects/object_registry.h"
#include "protocol/event_protocol.h"

#ifdef PELVARON_FUZZ_REPLAY
// Replayed as an ordinary test (tests/fuzz): a broken check fails that one
// input with the reason, and the other inputs still run.
#define FUZZ_CHECK(cond)                                                                              \
  do {                                                                                                \
    if (!(cond)) {                                                                                    \
      throw std::logic_error(std::string("fuzz check failed: ") + #cond + " (" + __FILE__ + ":" +     \
                             std::to_string(__LINE__) + ")");                                         \
    }                                                                                                 \
  } while (0)

#else

// A broken promise of the core is a crash for the fuzzer, with the reason on stderr.
#define FUZZ_CHECK(cond)                                                                  \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

// Undefined behaviour stops the run like a crash, with the stack. Options
// given in UBSAN_OPTIONS (suppressions of known findings) come on top.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

#endif

namespace pelvaron::fuzz {

// 6 December 2026, 08:47:42 UTC; the monotonic clock moves only by sleeps.
class FixedClock : public Clock {
 public:
  std::int64_t now = 1796546862;
  std::int64_t monotonic = 0;

  std::int64_t Now() override { return now; }
  bool ToLocalTime(std::int64_t t, std::tm& out) override {
    std::time_t tt = static_cast<std::time_t>(t);
    return gmtime_r(&tt, &out) != nullptr;
  }
  std::int64_t MonotonicMs() override { return monotonic; }
  void SleepMs(int ms) override { monotonic += ms; }
};

class MemoryFiles : public FileSystem {
 public:
  std::map<std::string, std::vector<std::uint8_t>> files;
  int failRead = 0;
  int failReplace = 0;
  int failAppend = 0;

  int ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) override {
    out.clear();
    if (failRead) return failRead;
    auto it = files.find(path);
    if (it == files.end()) return 2;
    std::size_t n = it->second.size() < max ? it->second.size() : max;
    out.assign(it->second.begin(), it->second.begin() + static_cast<std::ptrdiff_t>(n));
    return 0;
  }
  int ReadPrefixInto(const std::string& path, std::span<std::uint8_t> out, std::size_t& n) override {
    n = 0;
    if (failRead) return failRead;
    auto it = files.find(path);
    if (it == files.end()) return 2;
    n = it->second.size() < out.size() ? it->second.size() : out.size();
    if (n > 0) std::memcpy(out.data(), it->second.data(), n);
    return 0;
  }
  int ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) override {
    if (failReplace) return failReplace;
    files[path].assign(data.begin(), data.end());
    return 0;
  }
  int Append(const std::string& path, std::span<const std::uint8_t> data) override {
    if (failAppend) return failAppend;
    auto& f = files[path];
    f.insert(f.end(), data.begin(), data.end());
    return 0;
  }
  bool Exists(const std::string& path) override { return files.count(path) != 0; }
  int Rename(const std::string& from, const std::string& to) override {
    auto it = files.find(from);
    if (it == files.end()) return 2;
    files[to] = it->second;
    files.erase(from);
    return 0;
  }
};

// Every text the console shows must also be storable in its Windows-1251
// files (Utf8ToCp1251's verdict, without building the text).
inline bool StorableText(std::string_view utf8) {
  return FitsCp1251(utf8);
}

// No raw control character (below U+0020, or DEL) in a text: what JSON
// Lines output must never carry. Eight bytes at a time: every output is read.
inline bool NoRawControl(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, text.data() + i, sizeof w);
    // Bytes below 0x20 (high bit clear, borrow when 0x20 is taken away) or equal to 0x7F.
    const std::uint64_t low = (w - 0x20 * kOnes) & ~w & kHigh;
    const std::uint64_t del = w ^ (0x7F * kOnes);
    if (low != 0 || ((del - kOnes) & ~del & kHigh) != 0) break;
  }
  for (; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7F) return false;
  }
  return true;
}

// Equal texts, eight bytes at a time and without memcmp: the sanitizer
// intercepts every memcmp call and libFuzzer records its arguments, which
// for the checks' own comparisons is cost and noise.
inline bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  std::size_t i = 0;
  for (; i + 8 <= a.size(); i += 8) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, a.data() + i, sizeof x);
    std::memcpy(&y, b.data() + i, sizeof y);
    if (x != y) return false;
  }
  for (; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Whether a text holds the byte (a plain loop, for the same reason).
inline bool HasByte(std::string_view text, char byte) {
  for (char c : text) {
    if (c == byte) return true;
  }
  return false;
}

// The text of a stored field, up to its zero or its end (a plain loop: the
// sanitizer's memchr would check the field's shadow first).
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return {field, n};
}

// A text the console shows is its stored field byte by byte as the console
// shows a single byte (each of which round-trips, as the converter's own
// tests pin): nothing missing, nothing stale, nothing from another field. At
// a fraction of the cost of converting it back.
inline bool ShowsField(std::string_view shown, std::string_view field) {
  static const auto* const utf8 = [] {
    auto* table = new std::string[256];
    for (int b = 0; b < 256; ++b) table[b] = Cp1251ToUtf8(std::string(1, static_cast<char>(b)));
    return table;
  }();
  std::size_t pos = 0;
  for (char c : field) {
    const std::string& u = utf8[static_cast<unsigned char>(c)];
    if (shown.size() - pos < u.size()) return false;
    for (char b : u) {
      if (shown[pos++] != b) return false;
    }
  }
  return pos == shown.size();
}

class RecordingOperator : public Operator {
 public:
  std::vector<OperatorMessage> messages;
  std::size_t logLines = 0;
  std::optional<std::string> badLine;  // the first log line that breaks the log's rules
  // The rows of the last refresh, as the registry keeps them (not copied:
  // valid until the registry changes or goes).
  const std::vector<ObjectListRow>* lastRows = nullptr;
  int refreshes = 0;

  void ShowMessage(const OperatorMessage& message) override { messages.push_back(message); }
  void LogLineAdded(const std::string& line) override {
    ++logLines;
    // No line is longer than the plain writer's limit (a stamped one is shorter).
    if (!badLine && (!FitsCp1251(line) || Utf8Length(line) > kMaxPlainText)) badLine = line;
  }
  void LogFirstLineRemoved() override { --logLines; }
  void LogCleared() override { logLines = 0; }
  void ObjectListRefreshed(const std::vector<ObjectListRow>& rows) override {
    lastRows = &rows;
    ++refreshes;
  }
};

inline unsigned FrameSum(const std::uint8_t* frame) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < 8; ++i) sum += frame[i];
  return sum;
}

// A receiver frame from the first ten bytes of an input (shorter ones padded
// with zeros), in exactly ten heap bytes: the sanitizer catches any read past
// them. It is decoded with its sum put right, so that every input reaches the
// decoders behind the checksum, and then, when its own sum was wrong, as it
// came, into the same value: a wrong sum after a whole message must leave
// nothing of it. `check(frame, message)` runs after each.
//
// One value serves every execution, as the console keeps one for every
// frame: its line buffer is allocated once. Everything else starts afresh,
// so that an execution depends on its input alone.
template <typename Check>
void DecodeFrameBothWays(const std::uint8_t* data, std::size_t size, Check check) {
  // Allocated once: its redzone catches a read past the ten bytes in every
  // execution all the same. Filled afresh each time.
  static std::uint8_t* const frame = new std::uint8_t[kFrameSize];
  std::memset(frame, 0, kFrameSize);
  if (size > 0) std::memcpy(frame, data, size < kFrameSize ? size : kFrameSize);
  const std::uint8_t sentHigh = frame[8];
  const std::uint8_t sentLow = frame[9];
  const unsigned sum = FrameSum(frame);
  frame[8] = static_cast<std::uint8_t>(sum >> 8u);
  frame[9] = static_cast<std::uint8_t>(sum);

  static DecodedMessage message;
  std::string lines = std::move(message.lines.Open());
  message = DecodedMessage{};
  lines.clear();
  message.lines.Open() = std::move(lines);

  DecodeMessage(frame, message);
  FUZZ_CHECK(message.sumOk);
  check(frame, message);
  if (sentHigh != frame[8] || sentLow != frame[9]) {
    frame[8] = sentHigh;
    frame[9] = sentLow;
    DecodeMessage(frame, message);
    FUZZ_CHECK(!message.sumOk);
    check(frame, message);
  }
}

// A few objects as the card registers them, plus one with a letter in its
// address as only a foreign file could hold; control on, counters running.
inline void RegisterSampleObjects(ObjectRegistry& registry) {
  const char* const addresses[] = {"0012", "1234", "9999", "0001"};
  for (const char* address : addresses) {
    ObjectCard card;
    card.m_nSlot = -1;
    OpenObjectCard(card, registry.Table());
    card.m_strAddress = address;
    card.m_strPeriod = "2h";
    card.m_strComment = "Склад";
    card.m_bControl = 1;
    FUZZ_CHECK(!RegisterObjectCard(card, registry).has_value());
  }
  for (int s = 1; s <= registry.ObjectCount(); ++s) registry.Table()[s].nTimeCounter = 30 + s;
  ObjectRecord foreign = BlankObjectRecord();
  WriteFixedText(foreign.szAddress, "00A1");
  foreign.bUsed = 1;
  foreign.bControl = 1;
  foreign.nPeriod = 60;
  foreign.nTimeCounter = 61;
  foreign.bAlarm = 1;
  foreign.nState = OBJSTATE_NO_CONTROL;
  registry.Table()[registry.FirstFreeSlot()] = foreign;
}

}  // namespace pelvaron::fuzz
