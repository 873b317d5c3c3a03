#pragma once

#include <string>

namespace pelvaron {

// Who runs this program, as the records name an operator when the command
// line acts: the login name, or "uid N" when the system knows none.
std::string UnixUserName();

}  // namespace pelvaron
