#pragma once

#include <memory>
#include <string>

#include "core/serial_port.h"

namespace pelvaron {

// The real serial port on Qt Serial Port: a uucp lock file and TIOCEXCL keep
// the device to this process; reads follow the Win32 time-outs on a
// monotonic deadline, waiting in the kernel (never spinning).
//
// Use it from one thread: the one that opens it (the QSerialPort lives there).
// That thread needs no Qt event loop: every wait here is synchronous.
class QtSerialPort : public SerialPort {
 public:
  QtSerialPort();
  ~QtSerialPort() override;
  QtSerialPort(const QtSerialPort&) = delete;
  QtSerialPort& operator=(const QtSerialPort&) = delete;

  int Open(const std::string& devicePath) override;
  bool IsOpen() const override;
  void Close() override;
  bool GetLineSettings(LineSettings& settings) override;
  bool SetLineSettings(const LineSettings& settings) override;
  bool SetEventMask(unsigned mask) override;
  bool SetQueueSizes(std::size_t input, std::size_t output) override;
  bool Purge(unsigned flags) override;
  bool SetTimeouts(const CommTimeouts& timeouts) override;
  std::size_t Write(const std::uint8_t* data, std::size_t size) override;
  std::size_t Read(std::uint8_t* data, std::size_t size) override;

  // Qt's words for the last failure of Open, for logs.
  std::string LastErrorText() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace pelvaron
