#pragma once

#include <signal.h>

#include <atomic>
#include <cstdint>

namespace pelvaron {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and in every thread
// it starts afterwards, so that they are only ever taken by the waits below,
// and ignores SIGPIPE (a closed stdout stops only the printing) and SIGXFSZ (a
// file at its size limit fails its write instead of ending the process). Call
// first, before any thread starts.
void BlockShutdownSignals();

// Waits at most ms milliseconds (0: only looks) for SIGINT, SIGTERM or
// SIGHUP: returns it, or 0 when none came (also early, when the wait was
// interrupted). The headless loop's wait. Once a request has come, every
// later call returns it at once.
int WaitForShutdownSignalFor(std::int64_t ms);

// Waits for SIGINT, SIGTERM or SIGHUP and returns it, or 0 once stop is set
// (looked at a few times a second). For shells whose own loop cannot wait for
// signals.
int WaitForShutdownSignal(const std::atomic<bool>& stop);

// The signal that asked the process to end, or 0; never waits. Any thread.
int ShutdownRequested();

// The request one of the calls above has already taken, or 0; no system call.
int ShutdownTaken();

// The signal mask for a ppoll that should also end on a request to end (it
// then fails with EINTR and ShutdownTaken tells the request); nullptr before
// BlockShutdownSignals.
const sigset_t* ShutdownWaitMask();

}  // namespace pelvaron
