#pragma once

#include <string>

#include "hub/web/web_options.h"

namespace pelvaron {

// pelvaron-hub --user add|remove|passwd NAME: the password from the terminal
// without echo (asked twice), or the first line of stdin. Prints what was
// done, or why not, in Russian; the program's exit code.
int RunUserCommand(const WebOptions& options, const std::string& store);

}  // namespace pelvaron
