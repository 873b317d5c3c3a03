#include "outputs/object_states.h"

namespace pelvaron {

std::vector<ObjectStatus> ObjectStatesOf(const std::vector<ObjectListRow>& rows) {
  std::vector<ObjectStatus> states;
  states.reserve(rows.size());
  for (const ObjectListRow& row : rows) {
    ObjectStatus s;
    // The list shows the address after a space.
    s.address = row.address.size() > 1 && row.address.front() == ' ' ? row.address.substr(1) : row.address;
    if (s.address.empty() || s.address == " ") continue;
    s.control = row.control != "+" ? "off" : row.bAlarm ? "overdue" : "normal";
    s.comment = row.comment;
    states.push_back(std::move(s));
  }
  return states;
}

}  // namespace pelvaron
