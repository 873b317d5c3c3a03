#pragma once

#include <string>
#include <vector>

#include "core/operator.h"

namespace pelvaron {

// One registered object's state as the console's object list shows it.
//   control: "off" (taken off control), "overdue" (its control period ran
//   out: the red icon), else "normal".
struct ObjectStatus {
  std::string address;
  std::string control;
  std::string comment;

  bool operator==(const ObjectStatus&) const = default;
};

// The object list's rows as states, in the list's order.
std::vector<ObjectStatus> ObjectStatesOf(const std::vector<ObjectListRow>& rows);

// An output that shows the objects' states. The console's thread hands it
// the object list's rows after every refresh of the list (start-up, every
// change of the table, every minute); it copies what it needs and returns at
// once, never waiting for a disk or the network.
class ObjectStatesSink {
 public:
  virtual ~ObjectStatesSink() = default;
  virtual void ObjectsShown(const std::vector<ObjectListRow>& rows) = 0;
};

}  // namespace pelvaron
