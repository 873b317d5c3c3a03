#pragma once

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "core/serial_port.h"

namespace pelvaron::testing {

// A serial port whose device answers from a script: every write takes the next
// scripted answer and puts it in the input buffer, where reads find it and
// purges discard it. Every call is logged in order.
class FakeSerialPort : public SerialPort {
 public:
  // Failures on demand.
  int openError = 0;
  bool failGetLine = false;
  bool failSetLine = false;
  bool failEventMask = false;
  bool failQueueSizes = false;
  bool failPurge = false;
  bool failTimeouts = false;
  // The device failed under the open port (unplugged): nothing comes through
  // until it is closed; Close clears it.
  bool failed = false;
  bool cancelled = false;
  // The device fails at this command ("gn"): after it went out whole (its
  // answer lost), or before anything of it went out.
  std::string failAt;
  bool failAtWentOut = true;

  std::deque<std::vector<std::uint8_t>> answers;  // one per write, in order
  std::vector<std::uint8_t> rx;                   // what a read would find now
  std::vector<std::vector<std::uint8_t>> writes;  // every write, in order
  std::vector<std::size_t> readSizes;             // bytes asked for by each read
  std::vector<std::string> calls;                 // every call, in order
  std::string openedPath;
  LineSettings line{9600, 7, Parity::Even, StopBits::Two};
  CommTimeouts timeouts{};
  bool open = false;

  int Open(const std::string& devicePath) override {
    calls.push_back("Open " + devicePath);
    if (openError) return openError;
    open = true;
    openedPath = devicePath;
    return 0;
  }
  bool IsOpen() const override { return open; }
  void Close() override {
    calls.push_back("Close");
    open = false;
    failed = false;
  }
  bool Failed() const override { return open && failed; }
  bool Cancelled() const override { return cancelled; }
  bool GetLineSettings(LineSettings& s) override {
    calls.push_back("GetLineSettings");
    if (!open || failGetLine) return false;
    s = line;
    return true;
  }
  bool SetLineSettings(const LineSettings& s) override {
    calls.push_back("SetLineSettings");
    if (!open || failSetLine) return false;
    line = s;
    return true;
  }
  bool SetEventMask(unsigned mask) override {
    calls.push_back("SetEventMask " + std::to_string(mask));
    return open && !failEventMask;
  }
  bool SetQueueSizes(std::size_t in, std::size_t out) override {
    calls.push_back("SetQueueSizes " + std::to_string(in) + " " + std::to_string(out));
    return open && !failQueueSizes;
  }
  bool Purge(unsigned flags) override {
    std::string what = "Purge";
    if (flags & PURGE_RXCLEAR) what += " rx";
    if (flags & PURGE_TXCLEAR) what += " tx";
    calls.push_back(what);
    if (!open || failPurge) return false;
    if (flags & PURGE_RXCLEAR) rx.clear();
    return true;
  }
  bool SetTimeouts(const CommTimeouts& t) override {
    calls.push_back("SetTimeouts");
    if (!open || failTimeouts) return false;
    timeouts = t;
    return true;
  }
  std::size_t Write(const std::uint8_t* data, std::size_t size) override {
    std::vector<std::uint8_t> bytes(data, data + size);
    calls.push_back("Write " + Printable(bytes));
    if (!open || failed) return 0;
    if (!failAt.empty() && Printable(bytes) == failAt) {
      failAt.clear();
      failed = true;
      if (!failAtWentOut) return 0;
      writes.push_back(bytes);
      if (!answers.empty()) answers.pop_front();
      return size;
    }
    writes.push_back(bytes);
    if (!answers.empty()) {
      rx.insert(rx.end(), answers.front().begin(), answers.front().end());
      answers.pop_front();
    }
    return size;
  }
  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    readSizes.push_back(size);
    if (!open || failed) {
      calls.push_back("Read " + std::to_string(size) + " -> 0");
      return 0;
    }
    std::size_t n = std::min(size, rx.size());
    std::copy_n(rx.begin(), n, data);
    rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(n));
    calls.push_back("Read " + std::to_string(size) + " -> " + std::to_string(n));
    return n;
  }

  // Letters as they are, other bytes as two hex digits in angle brackets.
  static std::string Printable(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    for (auto b : bytes) {
      if (b >= 0x20 && b < 0x7F) {
        s += static_cast<char>(b);
      } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "<%02X>", b);
        s += hex;
      }
    }
    return s;
  }
  // The commands written, as text ("gs", "gn", ...).
  std::vector<std::string> Commands() const {
    std::vector<std::string> out;
    for (const auto& w : writes) out.push_back(Printable(w));
    return out;
  }
};

}  // namespace pelvaron::testing
