#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <variant>

namespace pelvaron {

// What went wrong: a sentence in Russian for the operator (what could not be
// done, and where it helps, what to do), the system's own words for why (an
// errno text, SQLite's message) for the end of a message in parentheses, and
// the system's code where a caller decides by it.
struct Problem {
  Problem() = default;
  explicit Problem(std::string text, std::string cause = {}, int code = 0)
      : text(std::move(text)), cause(std::move(cause)), code(code) {}

  std::string text;
  std::string cause;
  int code = 0;

  // "text (cause)", or the text alone.
  std::string Told() const { return cause.empty() ? text : text + " (" + cause + ")"; }
  // "text: cause", or the text alone: where a sentence goes on after it.
  std::string Said() const { return cause.empty() ? text : text + ": " + cause; }
  bool operator==(const Problem&) const = default;
};

// A problem whose cause is errno's (or err's) text.
inline Problem SystemProblem(std::string text, int err = errno) {
  return Problem(std::move(text), std::strerror(err), err);
}

// The outcome of an operation of ours that can fail: its value, or what went
// wrong. The operations of the original console keep their int statuses;
// everything added around them answers with this.
template <class T = void>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // NOLINT: a value is a success
  Result(Problem problem) : v_(std::move(problem)) {}  // NOLINT: a problem is a failure

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Problem& problem() const { return std::get<1>(v_); }

 private:
  std::variant<T, Problem> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Problem problem) : problem_(std::move(problem)), ok_(false) {}  // NOLINT: a problem is a failure

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const Problem& problem() const { return problem_; }

 private:
  Problem problem_;
  bool ok_ = true;
};

}  // namespace pelvaron
