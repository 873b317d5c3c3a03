#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "core/operator.h"

class QWidget;

namespace pelvaron::ui {

// What a subsystem's window commands need from the shell that owns the
// window: a way to the thread the work runs on, the operator's questions and
// messages, and the window that owns their dialogs. Everything here is
// called on the window's thread; what is posted runs on the work's thread.
class CommandHost {
 public:
  using Call = std::function<void()>;

  virtual ~CommandHost() = default;

  // Runs call on the work's thread after every call posted before it.
  // Nothing is posted once the window is closing.
  virtual void post(Call call) = 0;
  // Runs work there, then done with its result back on this thread (not when
  // the host has gone or is closing meanwhile).
  template <class R>
  void post(std::function<R()> work, std::function<void(R)> done);

  // A message that blocks nobody, the work's thread included; the same text
  // is not shown again while its box is open. The main window owns it by
  // default.
  virtual void showMessage(const OperatorMessage& message, QWidget* owner = nullptr) = 0;
  // A message over a dialog that stays open: returns once the operator has
  // read it.
  virtual void showMessageAndWait(const OperatorMessage& message, QWidget* owner) = 0;
  // A question with Yes and No; true for Yes. defaultYes: which one Enter
  // and Space take without aiming.
  virtual bool ask(const OperatorMessage& question, QWidget* owner = nullptr, bool defaultYes = true) = 0;

  // The main window: the owner of the subsystems' dialogs.
  virtual QWidget* dialogOwner() = 0;

  // One settings command at a time, whichever subsystem's (its exchange, then
  // its sheet): false while another runs. Meanwhile the messages wait, so
  // that none stacks over the sheet; each shows once it has ended.
  virtual bool beginSettingsCommand() = 0;
  virtual void endSettingsCommand() = 0;

  // An exchange with the receiver runs on the work's thread: the windows take
  // no input until it ends, and a close asked for meanwhile happens right
  // after it (nothing of the command runs after that exchange then).
  virtual void beginExchange() = 0;
  virtual void endExchange() = 0;

 protected:
  // Runs work on the work's thread, then back on this thread (not when the
  // host has gone or is closing meanwhile).
  virtual void postAndReturn(Call work, std::function<void()> back) = 0;
};

template <class R>
void CommandHost::post(std::function<R()> work, std::function<void(R)> done) {
  // Written on the work's thread before the way back is queued, read after.
  auto result = std::make_shared<std::optional<R>>();
  postAndReturn([result, work = std::move(work)] { result->emplace(work()); },
                [result, done = std::move(done)] { done(std::move(**result)); });
}

}  // namespace pelvaron::ui
