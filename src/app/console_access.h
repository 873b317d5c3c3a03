#pragma once

#include <utility>

#include "app/console.h"
#include "objects/object_card.h"

namespace pelvaron {

// Where the window's commands find the console and the object card's state:
// valid on the console's thread only, where their calls are posted.
class ConsoleAccess {
 public:
  virtual ~ConsoleAccess() = default;
  virtual Console& console() = 0;
  virtual ObjectCard& card() = 0;
};

// A command's work with the console and the card, to be posted to the
// console's thread: f(console, card), its result returned.
template <class F>
auto OnConsole(ConsoleAccess& access, F f) {
  return [&access, f = std::move(f)]() mutable { return f(access.console(), access.card()); };
}

}  // namespace pelvaron
