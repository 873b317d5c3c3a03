#include "core/tick_path.h"

// Defined by the linker around the section of that name, when there is one.
extern "C" {
[[gnu::weak, gnu::visibility("hidden")]] extern const char __start_pelvaron_tick[];
[[gnu::weak, gnu::visibility("hidden")]] extern const char __stop_pelvaron_tick[];
}

namespace pelvaron {
namespace {

constexpr std::size_t kLine = 64;
// The stack a tick uses around this call: below, the frames of the exchange
// with the receiver (under half a kilobyte, measured); above, its callers'
// frames and the program's objects that the tick reads (under 4 KB).
constexpr std::size_t kStackBelow = 1024;
constexpr std::size_t kStackAbove = 4096;

}  // namespace

TickCode TickPathCode() {
  if (__start_pelvaron_tick == nullptr) return {nullptr, nullptr};
  return {__start_pelvaron_tick, __stop_pelvaron_tick};
}

PELVARON_TICK_PATH void WarmTickPath(const void* data, std::size_t size) {
  // Independent hints overlap: the memory's latency is paid about once for
  // all of them, not once per line as the tick would meet them.
  for (const char* p = __start_pelvaron_tick; p != nullptr && p < __stop_pelvaron_tick; p += kLine) {
    __builtin_prefetch(p, 0, 3);
  }
  const char* bytes = static_cast<const char*>(data);
  for (std::size_t i = 0; i < size; i += kLine) __builtin_prefetch(bytes + i, 1, 3);
  const char* stack = static_cast<const char*>(__builtin_frame_address(0)) - kStackBelow;
  for (std::size_t i = 0; i < kStackBelow + kStackAbove; i += kLine) __builtin_prefetch(stack + i, 1, 3);
}

}  // namespace pelvaron
