#pragma once

// Marks the code every tick runs. A station's console sleeps half a second
// between ticks and wakes with cold caches and translation buffers; kept
// together in one stretch of the program, the tick touches a few pages of
// code instead of some thirty scattered ones.
#define PELVARON_TICK_PATH [[gnu::hot]]
