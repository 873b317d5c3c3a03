#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelvaron {

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

// Line settings as the driver reports them. Only speed, data bits, parity and
// stop bits are ever changed; the rest stays as the driver had it.
struct LineSettings {
  std::int32_t baudRate = 0;
  int dataBits = 8;
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;
};

// Read and write time-outs in milliseconds, with the Win32 meaning: a read of
// n bytes ends when n bytes have come, when the interval passes without a new
// byte once the first has come, or when multiplier * n + constant have passed
// in all. A zero field is "no such time-out". An interval of kNoWait with both
// totals 0 returns at once with whatever has already arrived.
struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;

  static constexpr std::uint32_t kNoWait = 0xFFFFFFFFu;
  bool operator==(const CommTimeouts&) const = default;
};

// Which buffers a purge discards.
enum PurgeFlags : unsigned { PURGE_RXCLEAR = 1u, PURGE_TXCLEAR = 2u };

// Event mask bit: a character arrived. Set, never waited on.
inline constexpr unsigned EV_RXCHAR = 0x0001u;

// The serial port as the link sees it: the steps of a Win32 port, one call
// each. Calls on a port that is not open fail (false, 0 bytes) and change
// nothing. Implementations are used from one thread at a time.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens an existing device for reading and writing, exclusively. Returns 0
  // or the system's error code; the port stays closed on failure.
  virtual int Open(const std::string& devicePath) = 0;
  virtual bool IsOpen() const = 0;
  // Releases the device; nothing happens when it is not open.
  virtual void Close() = 0;

  virtual bool GetLineSettings(LineSettings& settings) = 0;
  virtual bool SetLineSettings(const LineSettings& settings) = 0;
  virtual bool SetEventMask(unsigned mask) = 0;
  // Recommended driver queue sizes in bytes.
  virtual bool SetQueueSizes(std::size_t input, std::size_t output) = 0;
  // Discards what waits in the input and/or output buffer, aborting nothing.
  virtual bool Purge(unsigned flags) = 0;
  virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;

  // Writes within the write time-outs; returns the bytes written.
  virtual std::size_t Write(const std::uint8_t* data, std::size_t size) = 0;
  // Reads up to size bytes within the read time-outs; returns the bytes read
  // (possibly none). Never writes past data + size.
  virtual std::size_t Read(std::uint8_t* data, std::size_t size) = 0;

  // True once the open device has failed under the port (unplugged, I/O
  // errors): nothing more comes through it until it is closed and opened again.
  virtual bool Failed() const { return false; }
  // True once the process has been asked to end: reads return at once and the
  // link starts no further exchange, so that shutting down never waits for a
  // receiver that keeps a tick busy.
  virtual bool Cancelled() const { return false; }
};

}  // namespace pelvaron
