#pragma once

#include <string>

#include "core/serial_port.h"
#include "core/unique_fd.h"

namespace pelvaron {

// The real serial port on POSIX termios. Exclusive by the device itself: the
// path is resolved first (a link and the device it points to are one port),
// the descriptor is locked with flock (which holds against root too) and the
// usual lock file LCK..name is made in the lock folder; a lock file left by a
// process that no longer runs is taken over. Reads follow the Win32 time-outs
// on a monotonic deadline, waiting in poll (never spinning), and return at
// once when the process is asked to end. A device that hangs up or fails with
// an I/O error marks the port Failed until it is closed.
//
// Use it from one thread at a time.
class PosixSerialPort : public SerialPort {
 public:
  // lockDir: where lock files go; empty: /run/lock, else /var/lock. A folder
  // that cannot take one leaves the flock alone to keep the device.
  explicit PosixSerialPort(std::string lockDir = {});
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  int Open(const std::string& devicePath) override;
  bool IsOpen() const override { return fd_.valid(); }
  void Close() override;
  bool GetLineSettings(LineSettings& settings) override;
  bool SetLineSettings(const LineSettings& settings) override;
  bool SetEventMask(unsigned mask) override;
  bool SetQueueSizes(std::size_t input, std::size_t output) override;
  bool Purge(unsigned flags) override;
  bool SetTimeouts(const CommTimeouts& timeouts) override;
  std::size_t Write(const std::uint8_t* data, std::size_t size) override;
  std::size_t Read(std::uint8_t* data, std::size_t size) override;
  bool Failed() const override { return fd_.valid() && failed_; }
  bool Cancelled() const override;

  // The system's words for the last failure of Open, for logs.
  const std::string& LastErrorText() const { return lastError_; }
  // The lock file this port holds, empty when none.
  const std::string& LockFile() const { return lockFile_; }

  // The lock file's name for a resolved device path: LCK.. and the path below
  // /dev with '/' turned to '_' (LCK..ttyUSB0, LCK..pts_3).
  static std::string LockName(const std::string& resolvedPath);

 private:
  int TakeLockFile(const std::string& resolvedPath);
  void ReleaseLockFile();
  // Waits for the descriptor (and a shutdown request) at most us
  // microseconds (-1: no limit). Stop ends the transfer: the device failed or
  // the process is asked to end.
  enum class Wait { Ready, TimedOut, Stop };
  Wait WaitFor(short events, std::int64_t us);
  void Fail() { failed_ = true; }

  std::string lockDir_;
  UniqueFd fd_;
  bool failed_ = false;
  CommTimeouts timeouts_{CommTimeouts::kNoWait, 0, 0, 0, 0};
  std::string lockFile_;
  std::string lastError_;
  bool shutdownSeen_ = false;  // a wait saw a request to end come in
};

}  // namespace pelvaron
