#pragma once

#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace pelvaron {

// What every command-line program of the station's is asked alike: its usage,
// its version, and what is wrong with its command line.
struct ToolCommon {
  bool help = false;
  bool version = false;
  std::string error;
};

// A program's arguments one by one, --help, -h and --version taken on the way.
class ToolArguments {
 public:
  ToolArguments(int argc, char** argv, ToolCommon& common) : argc_(argc), argv_(argv), common_(common) {}

  // The next argument; none at the end or once something is wrong.
  std::optional<std::string> Next() {
    while (common_.error.empty() && at_ + 1 < argc_) {
      current_ = argv_[++at_];
      if (current_ == "--help" || current_ == "-h") {
        common_.help = true;
      } else if (current_ == "--version") {
        common_.version = true;
      } else {
        return current_;
      }
    }
    return std::nullopt;
  }

  // The value of the option just taken; false (and said) when there is none.
  bool Value(std::string& out) {
    if (at_ + 1 >= argc_) {
      common_.error = current_ + " needs a value (see --help)";
      return false;
    }
    out = argv_[++at_];
    return true;
  }

 private:
  int argc_;
  char** argv_;
  ToolCommon& common_;
  int at_ = 0;
  std::string current_;
};

// The program's answer when it ends at once: its usage, its version, or what
// is wrong (status 2); nothing when it goes on to its work.
inline std::optional<int> AnswerAtOnce(const ToolCommon& a, std::string_view program, std::string_view usage,
                                       std::string_view version) {
  if (a.help) {
    std::cout << usage;
    return 0;
  }
  if (a.version) {
    std::cout << program << " " << version << "\n";
    return 0;
  }
  if (!a.error.empty()) {
    std::cerr << program << ": " << a.error << "\n";
    return 2;
  }
  return std::nullopt;
}

}  // namespace pelvaron
