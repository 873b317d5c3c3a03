#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/frames.h"
#include "sim/receiver_model.h"

namespace pelvaron::sim {

// One line of a scenario (the format is in docs/scenarios.md).
struct Step {
  enum class Op {
    Wait,          // ms
    Status,        // statusMask, statusValues
    StatusByte,    // statusByte (none: back to automatic)
    Message,       // frame
    Params,        // params
    Silence,       // ms
    AddFault,      // fault
    PartialStore,  // count, keep
    NoFaults,
    Vanish,  // ms
    Noise,   // count
    ClearQueue,
    Loop,
    Exit,
  };
  Op op = Op::Wait;
  int line = 0;
  std::int64_t ms = 0;
  std::uint8_t statusMask = 0;
  std::uint8_t statusValues = 0;
  std::optional<std::uint8_t> statusByte;
  Frame frame{};
  std::array<std::uint8_t, 5> params{};
  Fault fault;
  int count = 0;
  int keep = 0;
};

struct Scenario {
  std::vector<Step> steps;
};

struct ParsedScenario {
  Scenario scenario;
  std::vector<std::string> errors;  // "NAME:LINE: what is wrong", in order
  bool ok() const { return errors.empty(); }
};

// Parses a whole scenario; every bad line is reported, not only the first.
ParsedScenario ParseScenario(std::string_view text, const std::string& sourceName);

// Parses one line (no comments, no loop checks); the error says what is wrong.
std::optional<Step> ParseStep(std::string_view line, std::string* error);

// The format in brief, for --help.
const char* ScenarioSummary();

}  // namespace pelvaron::sim
