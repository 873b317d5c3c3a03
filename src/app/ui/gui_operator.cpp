#include "gui_operator.h"

#include <QPointer>

#include <chrono>

#include "console_shell.h"
#include "console_window.h"

namespace pelvaron::ui {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

GuiOperator::GuiOperator(WindowShell* shell, std::unique_ptr<SoundPlayer> player)
    : shell_(shell), player_(std::move(player)) {
  if (player_) sound_.emplace(*player_, SteadyMs, [this](const std::string& problem) { SoundTold(problem); });
}

template <class F>
void GuiOperator::Post(F f) {
  QPointer<WindowShell> shell(shell_);
  QMetaObject::invokeMethod(
      shell_,
      [shell, f = std::move(f)] {
        if (shell && !shell->finished()) f(shell.data());
      },
      Qt::QueuedConnection);
}

void GuiOperator::ShowMessage(const OperatorMessage& message) {
  Post([message](WindowShell* s) { s->showMessage(message); });
}

void GuiOperator::LogLineAdded(const std::string& line) {
  Post([line = Q(line)](WindowShell* s) { s->window().addLine(line); });
}

void GuiOperator::LogFirstLineRemoved() {
  Post([](WindowShell* s) { s->window().removeFirst(); });
}

void GuiOperator::LogCleared() {
  Post([](WindowShell* s) { s->window().clearLog(); });
}

void GuiOperator::ObjectListRefreshed(const std::vector<ObjectListRow>& rows) {
  Post([rows](WindowShell* s) { s->window().setObjectRows(rows); });
}

void GuiOperator::Redisplay(const StatusView& status) {
  Post([status](WindowShell* s) { s->window().setStatus(status); });
}

void GuiOperator::ExchangeProgress(bool shown, const std::string& a, const std::string& b) {
  Post([shown, a = Q(a), b = Q(b)](WindowShell* s) { s->showProgress(shown, a, b); });
}

void GuiOperator::SoundAlarm(bool playFile, bool beep, bool newAlarm) {
  if (sound_) sound_->Play(playFile, beep, newAlarm);
}

void GuiOperator::SoundTold(const std::string& problem) {
  const bool failing = !problem.empty();
  Post([text = Q(failing ? AlarmSound::ProblemText(problem) : AlarmSound::kBackText), failing](WindowShell* s) {
    emit s->soundWarning(text, failing);
  });
}

}  // namespace pelvaron::ui
