#include "console_shell.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <chrono>

#include "alarms/ui/alarm_commands_ui.h"
#include "app/alarm_sound.h"
#include "console_window.h"
#include "link/ui/receiver_commands_ui.h"
#include "objects/ui/object_commands_ui.h"
#include "platform/alarm_player.h"
#include "protocol/ui/protocol_commands_ui.h"
#include "widgets/input_blocker.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

// The console's operator: everything it reports is handed to the window's
// thread; nothing here waits for the window.
class GuiOperator : public Operator {
 public:
  explicit GuiOperator(WindowShell* shell) : shell_(shell) {}

  void ShowMessage(const OperatorMessage& message) override {
    Post([message](WindowShell* s) { s->showMessage(message); });
  }
  void LogLineAdded(const std::string& line) override {
    Post([line = Q(line)](WindowShell* s) { s->window().addLine(line); });
  }
  void LogFirstLineRemoved() override {
    Post([](WindowShell* s) { s->window().removeFirst(); });
  }
  void LogCleared() override {
    Post([](WindowShell* s) { s->window().clearLog(); });
  }
  void ObjectListRefreshed(const std::vector<ObjectListRow>& rows) override {
    Post([rows](WindowShell* s) { s->window().setObjectRows(rows); });
  }
  void Redisplay(const StatusView& status) override {
    Post([status](WindowShell* s) { s->window().setStatus(status); });
  }
  void ExchangeProgress(bool shown, const std::string& a, const std::string& b) override {
    Post([shown, a = Q(a), b = Q(b)](WindowShell* s) { s->showProgress(shown, a, b); });
  }
  void SoundAlarm(bool playFile, bool beep, bool newAlarm) override { sound_.Play(playFile, beep, newAlarm); }

 private:
  template <class F>
  void Post(F f) {
    QPointer<WindowShell> shell(shell_);
    QMetaObject::invokeMethod(
        shell_,
        [shell, f = std::move(f)] {
          if (shell && !shell->finished()) f(shell.data());
        },
        Qt::QueuedConnection);
  }

  // Told in the alarm queue's window, lasting, never in a box that waits for an answer.
  void SoundTold(const std::string& problem) {
    const bool failing = !problem.empty();
    Post([text = Q(failing ? AlarmSound::ProblemText(problem) : AlarmSound::kBackText), failing](WindowShell* s) {
      s->alarms().setSoundWarning(text, failing);
    });
  }

  WindowShell* shell_;
  AlarmPlayer player_;
  AlarmSound sound_{player_,
                    [] {
                      return std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                          .count();
                    },
                    [this](const std::string& problem) { SoundTold(problem); }};
};

ConsoleWorker::ConsoleWorker(PortsFactory factory, Options options,
                             std::function<void(ObjectRegistry&)> afterStartup, GuiOperator* op,
                             ConsoleHooks hooks)
    : factory_(std::move(factory)),
      options_(std::move(options)),
      afterStartup_(std::move(afterStartup)),
      op_(op),
      hooks_(std::move(hooks)) {}

ConsoleWorker::~ConsoleWorker() = default;

void ConsoleWorker::start() {
  ports_ = factory_();
  console_ = std::make_unique<Console>(*ports_.clock, *ports_.files, *op_, *ports_.port, options_.devices);
  console_->bAlarmSound = options_.alarmSound;
  console_->bAlarmBeep = options_.alarmBeep;
  if (hooks_.beforeStartup) hooks_.beforeStartup(*console_, *op_);
  console_->Startup();
  if (afterStartup_) afterStartup_(console_->Objects());
  timer_ = new QTimer(this);
  timer_->setTimerType(Qt::PreciseTimer);
  connect(timer_, &QTimer::timeout, this, [this] {
    console_->OnTimer();
    if (hooks_.afterTick) hooks_.afterTick(*console_);
  });
  timer_->start(options_.tickMs);
  if (!timer_->isActive()) op_->ShowMessage({"Cannot install timer", "Error message", MessageIcon::Error});
}

void ConsoleWorker::stop() {
  if (timer_) timer_->stop();
  if (!console_ || console_->IsShutDown()) return;
  console_->Shutdown();
  if (hooks_.afterShutdown) hooks_.afterShutdown(*console_);
}

WindowShell::WindowShell(std::string programName, Options options, PortsFactory factory,
                         std::function<void(ObjectRegistry&)> afterStartup, ConsoleHooks hooks)
    : programName_(std::move(programName)), options_(options) {
  InstallRussianQtTexts();
  blocker_ = std::make_unique<InputBlocker>();
  window_ = std::make_unique<CConsoleDlg>();
  objects_ = std::make_unique<ObjectCommandsUi>(*this);
  protocol_ = std::make_unique<ProtocolCommandsUi>(*this);
  receiver_ = std::make_unique<ReceiverCommandsUi>(*this);
  alarms_ = std::make_unique<AlarmCommandsUi>(*this);
  alarms_->setKeepClear([this] { return window_->statusStripOnScreen(); });
  operator_ = std::make_unique<GuiOperator>(this);
  worker_ = new ConsoleWorker(std::move(factory), std::move(options), std::move(afterStartup), operator_.get(),
                              std::move(hooks));
  worker_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
  connectWindow();
}

WindowShell::~WindowShell() {
  if (thread_.isRunning()) {
    if (!finished_) QMetaObject::invokeMethod(worker_, &ConsoleWorker::stop, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
  }
  finished_ = true;
}

void WindowShell::start() {
  thread_.start();
  QMetaObject::invokeMethod(worker_, &ConsoleWorker::start, Qt::QueuedConnection);
  window_->show();
}

CObjectCardDlg& WindowShell::card() {
  return objects_->card();
}

void WindowShell::post(ConsoleCall call) {
  if (closing_) return;
  ConsoleWorker* worker = worker_;
  QMetaObject::invokeMethod(
      worker_, [worker, call = std::move(call)] { call(worker->console(), worker->card()); },
      Qt::QueuedConnection);
}

void WindowShell::postAndReturn(ConsoleCall work, std::function<void()> back) {
  if (closing_) return;
  QPointer<WindowShell> self(this);
  ConsoleWorker* worker = worker_;
  QMetaObject::invokeMethod(
      worker_,
      [self, worker, work = std::move(work), back = std::move(back)] {
        work(worker->console(), worker->card());
        QMetaObject::invokeMethod(
            self.data(),
            [self, back] {
              // Closing: what the command would do next (open a page, ...) is moot.
              if (self && !self->closing_) back();
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void WindowShell::requestClose() {
  if (closing_) return;
  closing_ = true;
  if (exchangeRunning_) {
    // The console is busy with the receiver and shuts down right after; the
    // windows keep taking no input till then, and the progress window says why
    // nothing happens yet.
    receiver_->showClosingNotice();
  } else {
    window_->setEnabled(false);  // no command after the close: the console is going
  }
  QPointer<WindowShell> self(this);
  ConsoleWorker* worker = worker_;
  // The tick stops and the console shuts down in one call on its thread; the
  // window ends when that is done, without waiting for it meanwhile.
  QMetaObject::invokeMethod(
      worker_,
      [self, worker] {
        worker->stop();
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
              if (!self) return;
              self->finished_ = true;
              self->receiver_->dropProgress();
              self->window_->finish(QDialog::Accepted);
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void WindowShell::onExitKey() {
  if (closing_) return;
  if (askYesNo({"Завершить работу программы?", programName_, MessageIcon::Question}, window_.get(), false))
    requestClose();
}

QString WindowShell::RepeatText(int count) {
  return QStringLiteral("Таких сообщений: %1").arg(count);
}

void WindowShell::showMessage(const OperatorMessage& message, QWidget* owner) {
  if (box_ && boxMessage_ == message) {
    box_->setInformativeText(RepeatText(++boxCount_));
    return;
  }
  for (WaitingMessage& waiting : waiting_) {
    if (waiting.message == message) {
      ++waiting.count;
      return;
    }
  }
  waiting_.push_back({message, owner, 1});
  showNextMessage();
}

void WindowShell::showNextMessage() {
  if (box_ || settingsBusy_ || waiting_.empty()) return;
  const WaitingMessage next = waiting_.front();
  waiting_.erase(waiting_.begin());
  if (messageHook) {
    messageHook(next.message);
    showNextMessage();
    return;
  }
  QWidget* parent = next.owner ? next.owner.data() : window_.get();
  const OperatorMessage& m = next.message;
  box_ = new QMessageBox(BoxIcon(m.icon), m.title.empty() ? Q(programName_) : Q(m.title), Q(m.text),
                         QMessageBox::Ok, parent);
  boxMessage_ = m;
  boxCount_ = next.count;
  if (boxCount_ > 1) box_->setInformativeText(RepeatText(boxCount_));
  box_->setAttribute(Qt::WA_DeleteOnClose);
  connect(box_, &QDialog::finished, this, [this] {
    box_ = nullptr;
    showNextMessage();
  });
  if (alarms_->alarmsWaiting()) {
    // Alarms wait: a notice that blocks no window and takes no key, so that
    // nothing keeps the operator from them.
    box_->setObjectName(QStringLiteral("notice"));
    box_->setWindowModality(Qt::NonModal);
    box_->setAttribute(Qt::WA_ShowWithoutActivating);
    box_->show();
  } else {
    box_->open();
  }
}

bool WindowShell::ask(const OperatorMessage& question, QWidget* owner, bool defaultYes) {
  return askYesNo(question, owner, defaultYes);
}

bool WindowShell::askYesNo(const OperatorMessage& question, QWidget* owner, bool defaultYes) {
  if (questionHook) return questionHook(question);
  QMessageBox box(QMessageBox::Question, question.title.empty() ? Q(programName_) : Q(question.title),
                  Q(question.text), QMessageBox::Yes | QMessageBox::No, owner ? owner : window_.get());
  box.button(QMessageBox::Yes)->setText("Да");
  box.button(QMessageBox::No)->setText("Нет");
  box.setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  box.setWindowModality(Qt::WindowModal);  // the alarm queue's window stays free
  return box.exec() == QMessageBox::Yes;
}

void WindowShell::showMessageAndWait(const OperatorMessage& message, QWidget* owner) {
  if (messageHook) {
    messageHook(message);
    return;
  }
  QMessageBox box(BoxIcon(message.icon), message.title.empty() ? Q(programName_) : Q(message.title),
                  Q(message.text), QMessageBox::Ok, owner ? owner : window_.get());
  box.setWindowModality(Qt::WindowModal);
  box.exec();
}

QWidget* WindowShell::dialogOwner() {
  return window_.get();
}

bool WindowShell::beginSettingsCommand() {
  if (settingsBusy_) return false;
  settingsBusy_ = true;
  return true;
}

void WindowShell::endSettingsCommand() {
  settingsBusy_ = false;
  showNextMessage();  // what came meanwhile
}

void WindowShell::beginExchange() {
  exchangeRunning_ = true;
  blocker_->setBlocked(true);
}

void WindowShell::endExchange() {
  exchangeRunning_ = false;
  // After a close asked for during the exchange, nothing is taken till the end.
  if (!closing_) blocker_->setBlocked(false);
}

void WindowShell::showProgress(bool shown, const QString& text1016, const QString& text1017) {
  receiver_->showProgress(shown, text1016, text1017);
}

void WindowShell::connectWindow() {
  CConsoleDlg* w = window_.get();
  connect(w, &CConsoleDlg::closeRequested, this, &WindowShell::requestClose);
  connect(w, &CConsoleDlg::exitKeyPressed, this, &WindowShell::onExitKey);
  connect(w, &CConsoleDlg::clearLogRequested, this,
          [this] { post([](Console& console, ObjectCard&) { console.ClearEventLog(); }); });
  connect(w, &CConsoleDlg::programSettingsRequested, protocol_.get(), &ProtocolCommandsUi::onProgramSettings);
  connect(w, &CConsoleDlg::receiverSettingsRequested, receiver_.get(),
          &ReceiverCommandsUi::onReceiverSettings);
  connect(w, &CConsoleDlg::openProtocolFileRequested, protocol_.get(),
          &ProtocolCommandsUi::onOpenProtocolFile);
  connect(w, &CConsoleDlg::objectCommand, objects_.get(), &ObjectCommandsUi::onObjectCommand);
  connect(w, &CConsoleDlg::objectListDoubleClicked, objects_.get(), &ObjectCommandsUi::onStateInfo);
  connect(w, &CConsoleDlg::alarmQueueRequested, alarms_.get(), &AlarmCommandsUi::onAlarmQueue);
  connect(w, &CConsoleDlg::eventHistoryRequested, alarms_.get(), &AlarmCommandsUi::onEventHistory);
}

}  // namespace pelvaron::ui
