#include "console_shell.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "console_window.h"
#include "console_worker.h"
#include "gui_operator.h"
#include "link/ui/receiver_commands_ui.h"
#include "objects/ui/object_commands_ui.h"
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

WindowShell::WindowShell(std::string programName, Options options, PortsFactory factory,
                         std::function<void(ObjectRegistry&)> afterStartup, ConsoleHooks hooks,
                         std::unique_ptr<SoundPlayer> player)
    : programName_(std::move(programName)), options_(options) {
  InstallRussianQtTexts();
  blocker_ = std::make_unique<InputBlocker>();
  window_ = std::make_unique<CConsoleDlg>();
  operator_ = std::make_unique<GuiOperator>(this, std::move(player));
  worker_ = new ConsoleWorker(std::move(factory), std::move(options), std::move(afterStartup), operator_.get(),
                              std::move(hooks));
  objects_ = std::make_unique<ObjectCommandsUi>(*this, *worker_);
  protocol_ = std::make_unique<ProtocolCommandsUi>(*this, *worker_);
  receiver_ = std::make_unique<ReceiverCommandsUi>(*this, *worker_);
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

ConsoleAccess& WindowShell::consoleAccess() {
  return *worker_;
}

void WindowShell::post(Call call) {
  if (closing_) return;
  QMetaObject::invokeMethod(worker_, std::move(call), Qt::QueuedConnection);
}

void WindowShell::postAndReturn(Call work, std::function<void()> back) {
  if (closing_) return;
  QPointer<WindowShell> self(this);
  QMetaObject::invokeMethod(
      worker_,
      [self, work = std::move(work), back = std::move(back)] {
        work();
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
  if (messagesAsNotices_ && messagesAsNotices_()) {
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
          [this] { post(OnConsole(*worker_, [](Console& console, ObjectCard&) { console.ClearEventLog(); })); });
  connect(w, &CConsoleDlg::programSettingsRequested, protocol_.get(), &ProtocolCommandsUi::onProgramSettings);
  connect(w, &CConsoleDlg::receiverSettingsRequested, receiver_.get(),
          &ReceiverCommandsUi::onReceiverSettings);
  connect(w, &CConsoleDlg::openProtocolFileRequested, protocol_.get(),
          &ProtocolCommandsUi::onOpenProtocolFile);
  connect(w, &CConsoleDlg::objectCommand, objects_.get(), &ObjectCommandsUi::onObjectCommand);
  connect(w, &CConsoleDlg::objectListDoubleClicked, objects_.get(), &ObjectCommandsUi::onStateInfo);
}

}  // namespace pelvaron::ui
