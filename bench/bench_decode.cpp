// Frames decoded into event lines, per second. See README.md, "Decoding".

#include <benchmark/benchmark.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decode/contact_id.h"
#include "decode/decoded_message.h"
#include "app/apply_message.h"
#include "objects/object_registry.h"
#include "platform/system_clock.h"
#include "protocol/event_protocol.h"
#include "protocol/settings.h"
#include "traffic_mix.h"

namespace {

using namespace pelvaron;
using bench::Frame;
using bench::TrafficMix;
using bench::WithSum;

// Counts lines; a console's window would draw them.
class CountingOperator : public Operator {
 public:
  void ShowMessage(const OperatorMessage&) override { ++messages; }
  void LogLineAdded(const std::string&) override { ++lines; }
  std::int64_t lines = 0;
  std::int64_t messages = 0;
};

// Takes every write and keeps only its size, so the disk does not time itself.
class CountingFiles : public FileSystem {
 public:
  int ReadPrefix(const std::string&, std::size_t, std::vector<std::uint8_t>& out) override {
    out.clear();
    return ENOENT;
  }
  int ReplaceFile(const std::string&, std::span<const std::uint8_t> data) override {
    bytes += static_cast<std::int64_t>(data.size());
    return 0;
  }
  int Append(const std::string&, std::span<const std::uint8_t> data) override {
    bytes += static_cast<std::int64_t>(data.size());
    return 0;
  }
  bool Exists(const std::string&) override { return false; }
  std::int64_t bytes = 0;
};

// Fifty supervised objects, two of them among the mix's loop-state units.
void RegisterObjects(ObjectRegistry& objects) {
  for (int slot = 1; slot <= 50; ++slot) {
    ObjectRecord& r = objects.Table()[slot];
    std::snprintf(r.szAddress, sizeof r.szAddress, "%04d", (slot * 37) % 10000);
    r.bUsed = 1;
    r.bControl = 1;
    r.nPeriod = 120;
  }
  std::memcpy(objects.Table()[7].szAddress, "0427", 5);
  std::memcpy(objects.Table()[8].szAddress, "0015", 5);
}

// Decoding alone: frames in, DecodedMessage values out (one reused value, as
// the console keeps one).
void BM_DecodeMixPure(benchmark::State& state) {
  const std::vector<Frame> mix = TrafficMix();
  DecodedMessage message;
  std::int64_t lines = 0;
  for (auto _ : state) {
    for (const Frame& frame : mix) {
      DecodeMessage(frame.data(), message);
      lines += static_cast<std::int64_t>(message.lines.size());
      benchmark::DoNotOptimize(message);
    }
  }
  const auto frames = static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(mix.size());
  state.SetItemsProcessed(frames);
  state.counters["lines"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeMixPure);

void DecodeMix(benchmark::State& state, bool protocolFile) {
  SystemClock clock;
  CountingFiles files;
  CountingOperator op;
  ConsoleSettings settings = ConsoleSettings::Defaults();
  settings.bSaveProtocol = protocolFile ? 1 : 0;
  EventProtocol protocol(settings, clock, files, op);
  ObjectRegistry objects(files, op);
  RegisterObjects(objects);
  const std::vector<Frame> mix = TrafficMix();
  DecodedMessage scratch;

  for (auto _ : state) {
    for (const Frame& frame : mix) {
      benchmark::DoNotOptimize(DecodeFrame(frame.data(), scratch, protocol, op, objects));
    }
  }
  if (op.messages != 0) state.SkipWithError("a frame of the mix was refused");
  const auto frames = static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(mix.size());
  state.SetItemsProcessed(frames);
  state.counters["lines"] = benchmark::Counter(static_cast<double>(op.lines), benchmark::Counter::kIsRate);
}

// The event log only (protocol file switched off).
void BM_DecodeMix(benchmark::State& state) {
  DecodeMix(state, false);
}
BENCHMARK(BM_DecodeMix);

// The event log and the protocol file's Windows-1251 lines (kept in memory).
void BM_DecodeMixWithProtocolFile(benchmark::State& state) {
  DecodeMix(state, true);
}
BENCHMARK(BM_DecodeMixWithProtocolFile);

// One Contact ID frame alone, the commonest message.
void BM_DecodeContactIdFrame(benchmark::State& state) {
  SystemClock clock;
  CountingFiles files;
  CountingOperator op;
  ConsoleSettings settings = ConsoleSettings::Defaults();
  settings.bSaveProtocol = 0;
  EventProtocol protocol(settings, clock, files, op);
  ObjectRegistry objects(files, op);
  const Frame frame = WithSum({0x12, 0x34, 0x1F, 0x01, 0x13, 0x00, 0x01, 0x00});
  DecodedMessage scratch;
  for (auto _ : state) benchmark::DoNotOptimize(DecodeFrame(frame.data(), scratch, protocol, op, objects));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodeContactIdFrame);

// The Contact ID table lookup over every code, both qualifiers.
void BM_ContactIdEventText(benchmark::State& state) {
  int code = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ContactIdEventText(code, code & 1));
    code = code == 999 ? 0 : code + 1;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ContactIdEventText);

}  // namespace

BENCHMARK_MAIN();
