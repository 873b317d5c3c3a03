#include "sim/traffic.h"

namespace pelvaron::sim {

namespace {

constexpr int kLoopUnits[] = {12, 105, 240, 1234};
constexpr int kPanels[] = {301, 777, 2048};
constexpr int kDiallers[] = {4660, 513};
constexpr int kRadioSystems[] = {8001};

template <typename T, std::size_t N>
constexpr std::size_t Count(const T (&)[N]) {
  return N;
}

}  // namespace

RandomTraffic::RandomTraffic(std::uint64_t seed) : state_(seed) {}

std::uint64_t RandomTraffic::NextRaw() {
  // splitmix64: small, fast, the same everywhere.
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int RandomTraffic::Between(int low, int high) {
  std::uint64_t span = static_cast<std::uint64_t>(high - low) + 1;
  return low + static_cast<int>(NextRaw() % span);
}

Frame RandomTraffic::RandomFrame() {
  int pick = Between(1, 100);
  if (pick <= 35) {
    LoopStateEvent e;
    e.address = kLoopUnits[Between(0, Count(kLoopUnits) - 1)];
    int k = Between(1, 100);
    e.kind = k <= 60 ? 2 : k <= 72 ? 4 : k <= 84 ? 5 : k <= 90 ? 3 : k <= 95 ? 6 : 1;
    e.guard = Between(1, 9);
    e.duress = e.kind != 4 && Between(1, 50) == 1;
    e.armed1 = e.kind != 5;
    e.armed2 = e.kind != 5 && Between(0, 1);
    e.alarm1 = e.kind == 6;
    e.broken1 = e.kind == 6 && Between(0, 1);
    e.type2 = Between(0, 1);
    e.linked1 = true;
    e.linked2 = Between(0, 1);
    e.tamperRestored = Between(0, 1);
    e.silent1 = e.kind == 6 && Between(1, 4) == 1;
    return LoopStateFrame(e);
  }
  if (pick <= 65) {
    ContactIdEvent e;
    e.address = kPanels[Between(0, Count(kPanels) - 1)];
    e.deviceType = Between(1, 5) == 1 ? Between(1, 9) : 31;
    e.partition = Between(1, 4);
    static constexpr int kCodes[] = {401, 401, 401, 602, 602, 130, 131, 301, 302, 110, 570, 627, 121};
    e.code = kCodes[Between(0, Count(kCodes) - 1)];
    e.newEvent = Between(0, 1);
    e.zone = e.code == 401 ? Between(1, 20) : e.code == 602 ? 0 : Between(1, 32);
    return ContactIdFrame(e);
  }
  if (pick <= 80) {
    DiallerEvent e;
    e.address = kDiallers[Between(0, Count(kDiallers) - 1)];
    static constexpr std::uint8_t kBytes[] = {0x00, 0x00, 0x00, 0x10, 0x21, 0x20, 0x31, 0x30};
    e.diallerByte = kBytes[Between(0, Count(kBytes) - 1)];
    return DiallerFrame(e);
  }
  RadioEvent e;
  e.address = kRadioSystems[Between(0, Count(kRadioSystems) - 1)];
  e.expander = Between(0, 3);
  struct Kind {
    std::uint8_t code;
    int kind;
  };
  static constexpr Kind kEvents[] = {{0x00, 4}, {0x00, 4}, {0x10, 1}, {0x10, 3}, {0x11, 2}, {0x21, 3},
                                     {0x23, 1}, {0x33, 0}, {0x60, 6}, {0x61, 6}, {0x70, 1}, {0x15, 2}};
  const Kind& k = kEvents[Between(0, Count(kEvents) - 1)];
  e.eventCode = k.code;
  e.kind = k.kind;
  e.newEvent = Between(0, 1);
  e.source = k.code == 0x60 ? e.expander : Between(1, 20);
  e.detail = k.code == 0x15                       ? static_cast<std::uint8_t>(Between(40, 90))
             : (k.code == 0x60 || k.code == 0x61) ? static_cast<std::uint8_t>(Between(1, 31))
                                                  : static_cast<std::uint8_t>(1 << Between(0, 3));
  e.bank = k.code == 0x15 && Between(0, 1);
  return RadioFrame(e);
}

RandomTraffic::Event RandomTraffic::Next() {
  Event e;
  e.afterMs = Between(700, 4500);
  int pick = Between(1, 100);
  if (pick <= 4) {
    // The telephone line comes and goes.
    lineFault_ = !lineFault_;
    e.statusMask = 0x04;
    e.statusValues = lineFault_ ? 0x04 : 0;
  } else if (pick <= 7) {
    caseOpen_ = !caseOpen_;
    e.statusMask = 0x08;
    e.statusValues = caseOpen_ ? 0 : 0x08;
  } else if (pick <= 9) {
    Fault f;
    f.kind = Between(0, 1) ? Fault::Kind::BadSum : Fault::Kind::Short;
    f.count = 1;
    f.commands = kCmdNew;
    e.fault = f;
    e.frame = RandomFrame();
  } else {
    e.frame = RandomFrame();
    // Now and then several messages come in together.
    if (Between(1, 8) == 1) e.afterMs = Between(50, 300);
  }
  return e;
}

}  // namespace pelvaron::sim
