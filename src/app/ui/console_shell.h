#pragma once

#include <QObject>
#include <QPointer>
#include <QThread>

#include <functional>
#include <memory>
#include <string>

#include "app/console_hooks.h"
#include "app/console_ports.h"
#include "app/options.h"
#include "core/operator.h"
#include "core/sound_player.h"
#include "widgets/command_host.h"

class QMessageBox;
class QTimer;

namespace pelvaron {
class ConsoleAccess;
}

namespace pelvaron::ui {

class CConsoleDlg;
class CObjectCardDlg;
class ConsoleWorker;
class GuiOperator;
class InputBlocker;
class ObjectCommandsUi;
class ProtocolCommandsUi;
class ReceiverCommandsUi;

// The window and the console together: the window is a view of the console,
// commands go to the console as queued calls, and what the console reports
// comes back to the window's thread. Informational messages never block the
// console. Their boxes open one at a time, in order: the others wait, and
// while a settings command runs all wait, so that none covers its sheet. A
// message that comes again while its box is open or waiting is counted in
// that box, not shown again. Questions are asked by the window before the
// command is posted. Each subsystem's commands live in its own ui folder and
// reach the console through this shell as their CommandHost.
class WindowShell : public QObject, public CommandHost {
  Q_OBJECT
 public:
  // factory makes the console's ports on the console's thread; afterStartup,
  // when given, runs there right after start-up; player sounds the audible
  // alarm (none: silent).
  WindowShell(std::string programName, Options options, PortsFactory factory,
              std::function<void(ObjectRegistry&)> afterStartup = {}, ConsoleHooks hooks = {},
              std::unique_ptr<SoundPlayer> player = {});
  ~WindowShell() override;

  CConsoleDlg& window() { return *window_; }
  CObjectCardDlg& card();
  // Where the window's commands find the console (on its thread only).
  ConsoleAccess& consoleAccess();

  // While this says so (alarms wait for the operator), a message is a
  // notice that blocks no window and takes no key instead of a box.
  void setMessagesAsNotices(std::function<bool()> when) { messagesAsNotices_ = std::move(when); }

  // Starts the console's thread and shows the window.
  void start();
  // The close sequence: port closed and closing line written on the console's
  // thread, then the window ends. Returns at once. During an exchange with the
  // receiver the window ends right after it, and says so meanwhile.
  void requestClose();
  // Enter or Esc in the main window: asks "Завершить работу программы?"
  // ("Нет" the default) and closes only on "Да".
  void onExitKey();
  // True once the console has shut down.
  bool finished() const { return finished_; }

  using CommandHost::post;
  void post(Call call) override;

  // Tests answer messages and questions here instead of boxes. A message
  // comes to the hook when its box would open (a repeat held back meanwhile
  // comes with it, once).
  std::function<void(const OperatorMessage&)> messageHook;
  std::function<bool(const OperatorMessage&)> questionHook;

  // The line a message box adds when its message came more than once.
  static QString RepeatText(int count);

  // A message from the console (or the window), shown without blocking anyone.
  void showMessage(const OperatorMessage& message, QWidget* owner = nullptr) override;
  void showMessageAndWait(const OperatorMessage& message, QWidget* owner) override;
  bool ask(const OperatorMessage& question, QWidget* owner = nullptr, bool defaultYes = true) override;
  QWidget* dialogOwner() override;
  bool beginSettingsCommand() override;
  void endSettingsCommand() override;
  void beginExchange() override;
  void endExchange() override;
  bool exchangeRunning() const { return exchangeRunning_; }
  void showProgress(bool shown, const QString& text1016, const QString& text1017);

  std::string programName() const { return programName_; }

 signals:
  // The audible alarm cannot play (failing, with the text to show) or plays again.
  void soundWarning(const QString& text, bool failing);

 protected:
  void postAndReturn(Call work, std::function<void()> back) override;

 private:
  void connectWindow();
  // Opens the box of the first waiting message, unless a box is open or a
  // settings command runs (the hook, when set, takes it at once).
  void showNextMessage();
  bool askYesNo(const OperatorMessage& question, QWidget* owner, bool defaultYes);

  struct WaitingMessage {
    OperatorMessage message;
    QPointer<QWidget> owner;
    int count = 0;
  };

  std::string programName_;
  Options options_;
  std::unique_ptr<CConsoleDlg> window_;
  std::unique_ptr<ObjectCommandsUi> objects_;
  std::unique_ptr<ProtocolCommandsUi> protocol_;
  std::unique_ptr<ReceiverCommandsUi> receiver_;
  std::unique_ptr<GuiOperator> operator_;
  std::function<bool()> messagesAsNotices_;
  QThread thread_;
  ConsoleWorker* worker_ = nullptr;
  QPointer<QMessageBox> box_;  // the open message box
  OperatorMessage boxMessage_;
  int boxCount_ = 0;
  std::vector<WaitingMessage> waiting_;  // in order of arrival
  std::unique_ptr<InputBlocker> blocker_;
  bool closing_ = false;
  bool finished_ = false;
  bool settingsBusy_ = false;     // a settings command runs (exchange or sheet)
  bool exchangeRunning_ = false;  // the console exchanges with the receiver
};

}  // namespace pelvaron::ui
