#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QThread>

#include <functional>
#include <memory>
#include <string>

#include "app/console.h"
#include "app/options.h"
#include "core/clock.h"
#include "core/file_system.h"
#include "core/operator.h"
#include "core/serial_port.h"
#include "objects/object_card.h"

class QTimer;

namespace pelvaron::ui {

class CConsoleDlg;
class CObjectCardDlg;
class CExchangeProgressDlg;
class GuiOperator;

// What the console talks to, made on the console's own thread.
struct ConsolePorts {
  std::unique_ptr<Clock> clock;
  std::unique_ptr<FileSystem> files;
  std::unique_ptr<SerialPort> port;
};
using PortsFactory = std::function<ConsolePorts()>;
// The real clock, files and serial port.
ConsolePorts RealPorts();

// The Console on a thread of its own, ticking by its own timer. Everything
// reaches it as a queued call, so the window never waits for an exchange.
class ConsoleWorker : public QObject {
  Q_OBJECT
 public:
  ConsoleWorker(PortsFactory factory, Options options, std::function<void(ObjectRegistry&)> afterStartup,
                GuiOperator* op);
  ~ConsoleWorker() override;

  // Only on the worker's thread.
  Console& console() { return *console_; }
  ObjectCard& card() { return card_; }

 public slots:
  void start();
  // Stops the tick and shuts the console down (port closed, closing line written).
  void stop();

 private:
  PortsFactory factory_;
  Options options_;
  std::function<void(ObjectRegistry&)> afterStartup_;
  GuiOperator* op_;
  ConsolePorts ports_;
  std::unique_ptr<Console> console_;
  QTimer* timer_ = nullptr;
  ObjectCard card_;
};

// The window and the console together: the window is a view of the console,
// commands go to the console as queued calls, and what the console reports
// comes back to the window's thread. Informational messages never block the
// console, and the same text is not shown again while its box is open;
// questions are asked by the window before the command is posted.
class WindowShell : public QObject {
  Q_OBJECT
 public:
  WindowShell(std::string programName, Options options,
              std::function<void(ObjectRegistry&)> afterStartup = {}, PortsFactory factory = RealPorts);
  ~WindowShell() override;

  CConsoleDlg& window() { return *window_; }
  CObjectCardDlg& card() { return *card_; }

  // Starts the console's thread and shows the window.
  void start();
  // The close sequence: port closed and closing line written on the console's
  // thread, then the window ends. Returns at once.
  void requestClose();
  // True once the console has shut down.
  bool finished() const { return finished_; }

  // Runs f on the console's thread, then `done` with its result on the
  // window's thread.
  template <class R>
  void post(std::function<R(Console&, ObjectCard&)> f, std::function<void(R)> done);
  void post(std::function<void(Console&, ObjectCard&)> f);

  // Tests answer messages and questions here instead of boxes.
  std::function<void(const OperatorMessage&)> messageHook;
  std::function<bool(const OperatorMessage&)> questionHook;

  // A message from the console (or the window), shown without blocking anyone.
  void showMessage(const OperatorMessage& message, QWidget* owner = nullptr);
  bool ask(const OperatorMessage& question, QWidget* owner = nullptr);
  void showProgress(bool shown, const QString& text1016, const QString& text1017);

  std::string programName() const { return programName_; }

 private:
  void connectWindow();
  void onObjectCommand(int id, int row);
  void openCard(bool newObject);
  void onCardRegister();
  void onCardDelete();
  void onProgramSettings();
  void onReceiverSettings();
  void onOpenProtocolFile();
  void onStateInfo(int row);

  std::string programName_;
  Options options_;
  std::unique_ptr<CConsoleDlg> window_;
  CObjectCardDlg* card_ = nullptr;
  QPointer<CExchangeProgressDlg> progress_;
  std::unique_ptr<GuiOperator> operator_;
  QThread thread_;
  ConsoleWorker* worker_ = nullptr;
  QSet<QString> openMessages_;
  bool closing_ = false;
  bool finished_ = false;
  bool settingsBusy_ = false;  // a settings command runs (exchange or sheet)
  bool cardBusy_ = false;      // the object card is open or opening
};

template <class R>
void WindowShell::post(std::function<R(Console&, ObjectCard&)> f, std::function<void(R)> done) {
  if (closing_) return;
  QPointer<WindowShell> self(this);
  ConsoleWorker* worker = worker_;
  QMetaObject::invokeMethod(
      worker_,
      [self, worker, f = std::move(f), done = std::move(done)] {
        R result = f(worker->console(), worker->card());
        QMetaObject::invokeMethod(
            self.data(),
            [self, done, result] {
              if (self) done(result);
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

}  // namespace pelvaron::ui
