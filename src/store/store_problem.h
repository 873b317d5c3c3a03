#pragma once

#include <string>

namespace pelvaron {

// What an SQLite result code means to an operator, in Russian: "диск
// заполнен". systemError: the errno behind it, when known.
std::string StoreProblemText(int code, int systemError = 0);

}  // namespace pelvaron
