#pragma once

// Marks the code every tick runs. A station's console sleeps half a second
// between ticks and wakes with cold caches and translation buffers; kept
// together in one stretch of the program, the tick touches a few pages of
// code instead of some thirty scattered ones.
#define PELVARON_TICK_PATH [[gnu::hot]]
// What a tick runs only when something happens (an event, a new minute, a
// report of the store): out of line and out of those pages, so that the
// tick's own code is a few kilobytes.
#define PELVARON_OFF_TICK_PATH [[gnu::cold, gnu::noinline]]
