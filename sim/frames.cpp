#include "sim/frames.h"

#include <cstdio>

namespace pelvaron::sim {

namespace {

std::uint8_t Nibbles(int high, int low) {
  return static_cast<std::uint8_t>(((high % 10) << 4) | (low % 10));
}

}  // namespace

std::uint16_t FrameSum(const std::uint8_t* data8) {
  unsigned sum = 0;
  for (int i = 0; i < 8; ++i) sum += data8[i];
  return static_cast<std::uint16_t>(sum);
}

Frame Seal(Frame frame) {
  std::uint16_t sum = FrameSum(frame.data());
  frame[8] = static_cast<std::uint8_t>(sum >> 8);
  frame[9] = static_cast<std::uint8_t>(sum & 0xFF);
  return frame;
}

Frame SealedFrame(const std::array<std::uint8_t, 8>& data) {
  Frame f{};
  for (int i = 0; i < 8; ++i) f[i] = data[i];
  return Seal(f);
}

std::array<std::uint8_t, 2> DecimalAddress(int a) {
  a %= 10000;
  return {Nibbles(a / 1000, a / 100 % 10), Nibbles(a / 10 % 10, a % 10)};
}

Frame ContactIdFrame(const ContactIdEvent& e) {
  auto addr = DecimalAddress(e.address);
  int code = e.code % 1000, zone = e.zone % 1000, part = e.partition % 100;
  std::uint8_t unit = static_cast<std::uint8_t>((e.deviceType & 0x1F) | (e.newEvent ? 0x20 : 0));
  return SealedFrame({addr[0], addr[1], unit, Nibbles(part / 10, part % 10),
                      Nibbles(code / 100, code / 10 % 10), Nibbles(code % 10, zone / 100),
                      Nibbles(zone / 10 % 10, zone % 10), 0});
}

Frame LoopStateFrame(const LoopStateEvent& e) {
  auto addr = DecimalAddress(e.address);
  std::uint8_t kindByte =
      static_cast<std::uint8_t>(((e.kind & 0x0F) << 4) | (e.alarm1 ? 0x08 : 0) | (e.alarm2 ? 0x04 : 0) |
                                (e.armed1 ? 0x02 : 0) | (e.armed2 ? 0x01 : 0));
  std::uint8_t loopByte =
      static_cast<std::uint8_t>((e.broken1 ? 0x80 : 0) | (e.broken2 ? 0x40 : 0) | ((e.type1 & 3) << 4) |
                                ((e.type2 & 3) << 2) | (e.linked1 ? 0x02 : 0) | (e.linked2 ? 0x01 : 0));
  std::uint8_t guardByte = static_cast<std::uint8_t>(((e.guard & 0x0F) << 4) | (e.duress ? 0x08 : 0));
  if (e.kind == 1 && e.tamperRestored) guardByte |= 0x80;
  if (e.kind == 6)
    guardByte = static_cast<std::uint8_t>(guardByte | (e.silent1 ? 0x80 : 0) | (e.silent2 ? 0x40 : 0));
  return SealedFrame({addr[0], addr[1], 10, kindByte, loopByte, guardByte, 0, 0});
}

Frame DiallerFrame(const DiallerEvent& e) {
  return SealedFrame({static_cast<std::uint8_t>((e.address >> 8) & 0xFF),
                      static_cast<std::uint8_t>(e.address & 0xFF), kBinaryDeviceType, 6, e.diallerByte, 0, 0,
                      0});
}

Frame RadioFrame(const RadioEvent& e) {
  std::uint8_t source =
      static_cast<std::uint8_t>((e.newEvent ? 0x80 : 0) | (e.bank ? 0x40 : 0) | (e.source & 0x3F));
  std::uint8_t unit = static_cast<std::uint8_t>(((e.expander & 0x0F) << 4) | (e.kind & 0x0F));
  return SealedFrame({static_cast<std::uint8_t>((e.address >> 8) & 0xFF),
                      static_cast<std::uint8_t>(e.address & 0xFF), kBinaryDeviceType, 1, e.eventCode, source,
                      e.detail, unit});
}

std::array<std::uint8_t, 8> ParameterAnswer(const std::array<std::uint8_t, 5>& block) {
  std::array<std::uint8_t, 8> a{0x64, block[0], block[1], block[2], block[3], block[4], 0, 0};
  unsigned sum = 0;
  for (int i = 0; i < 6; ++i) sum += a[i];
  a[6] = static_cast<std::uint8_t>(sum >> 8);
  a[7] = static_cast<std::uint8_t>(sum & 0xFF);
  return a;
}

std::string HexText(const std::uint8_t* data, std::size_t size) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", data[i]);
    if (i) s += ' ';
    s += buf;
  }
  return s;
}

}  // namespace pelvaron::sim
