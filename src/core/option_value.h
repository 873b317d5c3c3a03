#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pelvaron {

// "--name VALUE" or "--name=VALUE" at args[i]: true when it is that option;
// then the value, or an error when it is missing (i moves past the value).
bool TakeOptionValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                     std::string& value, std::string& error);

}  // namespace pelvaron
