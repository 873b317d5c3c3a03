#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/report_thresholds.h"

namespace pelvaron {

// What a station keeps about itself in station.sqlite: plain values that the
// window, the reports and pelvaron-plans share, whatever holds them.

// Someone the operator calls about an object, in the plan's calling order.
struct KeyHolder {
  std::string name, role;
  std::vector<std::string> phones;  // one or more
  bool operator==(const KeyHolder&) const = default;
};

// What to do about an alarm: an object's own plan (address set, priority
// empty) or a priority's default plan for objects without one (address
// empty, priority the priority table's name, "fire").
struct ResponsePlan {
  std::string address;
  std::string priority;
  std::string instructions;            // free text; line breaks (LF) allowed
  std::vector<KeyHolder> keyHolders;   // in calling order
  std::string guardGroup, guardPhone;  // either may be empty
  bool operator==(const ResponsePlan&) const = default;
};

struct OperatorAccount {
  std::string name;
  bool senior = false;  // may edit the list of operators and the plans
  bool operator==(const OperatorAccount&) const = default;
};

}  // namespace pelvaron
