#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelvaron::sim {

// One 10-byte receiver frame: bytes 0..7 data, 8..9 their sum, big-endian.
using Frame = std::array<std::uint8_t, 10>;

// Sum of bytes 0..7 as the receiver sends it in bytes 8 and 9.
std::uint16_t FrameSum(const std::uint8_t* data8);
// Puts the sum of bytes 0..7 into bytes 8 and 9.
Frame Seal(Frame frame);
// Frame of 8 data bytes with its sum.
Frame SealedFrame(const std::array<std::uint8_t, 8>& data);

// Address 0..9999 as four decimal digits in nibbles (1234 -> 0x12 0x34).
std::array<std::uint8_t, 2> DecimalAddress(int address);

// A premises unit reporting a Contact ID event (decimal address).
struct ContactIdEvent {
  int address = 0;      // 0..9999
  int deviceType = 31;  // 0..31 outside 10 and 16..23
  bool newEvent = true;
  int partition = 1;  // 0..99
  int code = 130;     // 0..999
  int zone = 1;       // zone or user, 0..999
};
Frame ContactIdFrame(const ContactIdEvent& e);

// An "ОРН" unit's loop-state message (device type 10).
struct LoopStateEvent {
  int address = 0;  // 0..9999
  int kind = 2;     // 0..15: 1 tamper, 2 control, 3 extra, 4 arming, 5 disarming, 6 loop alarm
  bool alarm1 = false, alarm2 = false, armed1 = false, armed2 = false;
  bool broken1 = false, broken2 = false;
  int type1 = 0, type2 = 0;  // 0 security, 1 alarm, 2..3 none
  bool linked1 = false, linked2 = false;
  int guard = 0;  // 0..15
  bool duress = false;
  bool tamperRestored = false;            // kind 1
  bool silent1 = false, silent2 = false;  // kind 6
};
Frame LoopStateFrame(const LoopStateEvent& e);

// A dialler unit's message (binary address, subtype 6).
inline constexpr int kBinaryDeviceType = 16;
struct DiallerEvent {
  int address = 0;               // 0..65535
  std::uint8_t diallerByte = 0;  // bits 7..4 message, bit 0 state
};
Frame DiallerFrame(const DiallerEvent& e);

// A radio-system record (binary address, subtype 1).
struct RadioEvent {
  int address = 0;  // 0..65535
  std::uint8_t eventCode = 0x10;
  bool newEvent = true;
  bool bank = false;  // bit 6 of the source byte
  int source = 0;     // 0..63
  std::uint8_t detail = 1;
  int expander = 0;  // 0..15
  int kind = 1;      // 0..15
};
Frame RadioFrame(const RadioEvent& e);

// The 8-byte answer to "gd": marker, block, sum of the first six bytes.
std::array<std::uint8_t, 8> ParameterAnswer(const std::array<std::uint8_t, 5>& block);

std::string HexText(const std::uint8_t* data, std::size_t size);

}  // namespace pelvaron::sim
