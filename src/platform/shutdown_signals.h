#pragma once

#include <atomic>
#include <cstdint>

namespace pelvaron {

// Blocks SIGINT and SIGTERM in the calling thread and in every thread it
// starts afterwards, so that they are only ever taken by a wait below. Call
// first.
void BlockShutdownSignals();

// Waits at most ms milliseconds for SIGINT or SIGTERM: returns it, or 0 when
// none came (also early, when the wait was interrupted). The headless loop's
// wait.
int WaitForShutdownSignalFor(std::int64_t ms);

// Waits for SIGINT or SIGTERM and returns it, or 0 once stop is set (looked
// at a few times a second). For shells whose own loop cannot wait for signals.
int WaitForShutdownSignal(const std::atomic<bool>& stop);

}  // namespace pelvaron
