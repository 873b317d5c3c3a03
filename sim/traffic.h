#pragma once

#include <cstdint>
#include <optional>

#include "sim/frames.h"
#include "sim/receiver_model.h"

namespace pelvaron::sim {

// Realistic mixed traffic of a small station: guards' control messages from
// "ОРН" units, Contact ID panels opening, closing and testing, dialler units
// checking in, radio key fobs and detectors, now and then an alarm, a
// telephone-line fault or an opened enclosure, and rarely a bad answer.
// The same seed gives the same traffic on every machine.
class RandomTraffic {
 public:
  explicit RandomTraffic(std::uint64_t seed);

  struct Event {
    std::int64_t afterMs = 0;     // wait this long, then:
    std::optional<Frame> frame;   // queue a message
    std::uint8_t statusMask = 0;  // change these status bits
    std::uint8_t statusValues = 0;
    std::optional<Fault> fault;  // misbehave once
  };
  Event Next();

  // Uniform in [low, high].
  int Between(int low, int high);

 private:
  std::uint64_t NextRaw();
  Frame RandomFrame();

  std::uint64_t state_;
  bool lineFault_ = false;
  bool caseOpen_ = false;
};

}  // namespace pelvaron::sim
