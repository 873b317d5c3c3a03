#pragma once

#include <cstddef>

// Marks the code every tick runs. A station's console sleeps half a second
// between ticks and wakes with its code out of the caches. Kept together in
// a section of its own, the tick's code is a few kilobytes that WarmTickPath
// asks for all at once when a tick begins, instead of waiting for memory a
// line at a time as the tick runs into it. Not for inline functions: GCC
// will not mix them in one section with a translation unit's own functions.
#define PELVARON_TICK_PATH [[gnu::hot, gnu::section("pelvaron_tick")]]
// What a tick runs only when something happens (an event, a new minute, a
// report of the store): out of line and out of the tick's section, so that
// the tick's own code is a few kilobytes.
#define PELVARON_OFF_TICK_PATH [[gnu::cold, gnu::noinline]]

namespace pelvaron {

// The tick's code as the linker gathered it: empty in a program without it.
struct TickCode {
  const char* begin;
  const char* end;
};
TickCode TickPathCode();

// Asks for the tick's code, the size bytes of data at data and the stack
// the tick will use to be brought into the caches. Only hints: it changes
// nothing but how long the first touch of each takes.
void WarmTickPath(const void* data, std::size_t size);

}  // namespace pelvaron
