#pragma once

namespace pelvaron {

// Start-up reads the settings, the objects and the event store and opens the
// outputs: code and data that a station monitoring for months never touches
// again. Hands those clean pages of the program's own files back to the
// kernel (they are read again from disk if ever needed) and returns freed
// heap. Pages other processes share stay as they are. Best effort: nothing
// happens where the system cannot do it.
void ReleaseStartupMemory();

}  // namespace pelvaron
