#include "app/ui/console_shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "app/ui/console_window.h"
#include "link/ui/exchange_progress_dlg.h"
#include "link/ui/receiver_settings_page.h"
#include "objects/object_commands.h"
#include "objects/ui/object_card_dlg.h"
#include "objects/ui/object_state_dlg.h"
#include "platform/alarm_player.h"
#include "platform/qt_serial_port.h"
#include "platform/real_file_system.h"
#include "platform/system_clock.h"
#include "protocol/ui/open_protocol_file.h"
#include "protocol/ui/settings_page.h"
#include "widgets/property_sheet.h"

namespace pelvaron::ui {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
std::string S(const QString& s) {
  return s.toStdString();
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

// Command ids of the object list's context menu.
enum : int {
  kNewObject = 32775,
  kClearAll = 32783,
  kResetAll = 32786,
  kControlAllOn = 32784,
  kControlAllOff = 32785,
  kControlOn = 32778,
  kControlOff = 32776,
  kResetOne = 32779,
  kEditObject = 32780,
  kDeleteObject = 32788,
};

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
  void SoundAlarm(bool playFile, bool beep) override {
    std::string problem = player_.Play(playFile, beep);
    if (!problem.empty()) ShowMessage({problem, "", MessageIcon::None});
  }

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

  WindowShell* shell_;
  AlarmPlayer player_;
};

ConsolePorts RealPorts() {
  ConsolePorts ports;
  ports.clock = std::make_unique<SystemClock>();
  ports.files = std::make_unique<RealFileSystem>();
  ports.port = std::make_unique<QtSerialPort>();
  return ports;
}

ConsoleWorker::ConsoleWorker(PortsFactory factory, Options options,
                             std::function<void(ObjectRegistry&)> afterStartup, GuiOperator* op)
    : factory_(std::move(factory)),
      options_(std::move(options)),
      afterStartup_(std::move(afterStartup)),
      op_(op) {}

ConsoleWorker::~ConsoleWorker() = default;

void ConsoleWorker::start() {
  ports_ = factory_();
  console_ = std::make_unique<Console>(*ports_.clock, *ports_.files, *op_, *ports_.port, options_.devices);
  console_->bAlarmSound = options_.alarmSound;
  console_->bAlarmBeep = options_.alarmBeep;
  console_->Startup();
  if (afterStartup_) afterStartup_(console_->Objects());
  timer_ = new QTimer(this);
  timer_->setTimerType(Qt::PreciseTimer);
  connect(timer_, &QTimer::timeout, this, [this] { console_->OnTimer(); });
  timer_->start(options_.tickMs);
  if (!timer_->isActive()) op_->ShowMessage({"Cannot install timer", "Error message", MessageIcon::Error});
}

void ConsoleWorker::stop() {
  if (timer_) timer_->stop();
  if (console_) console_->Shutdown();
}

WindowShell::WindowShell(std::string programName, Options options,
                         std::function<void(ObjectRegistry&)> afterStartup, PortsFactory factory)
    : programName_(std::move(programName)), options_(options) {
  window_ = std::make_unique<CConsoleDlg>();
  card_ = new CObjectCardDlg(window_.get());
  operator_ = std::make_unique<GuiOperator>(this);
  worker_ =
      new ConsoleWorker(std::move(factory), std::move(options), std::move(afterStartup), operator_.get());
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

void WindowShell::post(std::function<void(Console&, ObjectCard&)> f) {
  if (closing_) return;
  ConsoleWorker* worker = worker_;
  QMetaObject::invokeMethod(
      worker_, [worker, f = std::move(f)] { f(worker->console(), worker->card()); }, Qt::QueuedConnection);
}

void WindowShell::requestClose() {
  if (closing_) return;
  closing_ = true;
  window_->setEnabled(false);  // no command after the close: the console is going
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
              if (self->progress_) self->progress_->deleteLater();
              self->window_->finish(QDialog::Accepted);
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void WindowShell::showMessage(const OperatorMessage& message, QWidget* owner) {
  if (messageHook) {
    messageHook(message);
    return;
  }
  const QString key = Q(message.title) + QChar(0x1F) + Q(message.text);
  if (openMessages_.contains(key)) return;
  openMessages_.insert(key);
  QWidget* parent = owner ? owner : window_.get();
  auto* box =
      new QMessageBox(BoxIcon(message.icon), message.title.empty() ? Q(programName_) : Q(message.title),
                      Q(message.text), QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QDialog::finished, this, [this, key] { openMessages_.remove(key); });
  box->open();
}

bool WindowShell::ask(const OperatorMessage& question, QWidget* owner) {
  if (questionHook) return questionHook(question);
  QMessageBox box(QMessageBox::Question, Q(question.title), Q(question.text),
                  QMessageBox::Yes | QMessageBox::No, owner ? owner : window_.get());
  box.setDefaultButton(QMessageBox::Yes);
  box.button(QMessageBox::Yes)->setText("Да");
  box.button(QMessageBox::No)->setText("Нет");
  return box.exec() == QMessageBox::Yes;
}

void WindowShell::showProgress(bool shown, const QString& text1016, const QString& text1017) {
  if (!shown) {
    // Gone at once: the page that follows runs a loop of its own, in which a
    // deferred delete would wait until the page has closed.
    if (progress_) {
      progress_->hide();
      progress_->deleteLater();
    }
    progress_ = nullptr;
    return;
  }
  if (!progress_) {
    progress_ = new CExchangeProgressDlg(window_.get());
    progress_->showCentred();
  }
  progress_->setTexts(text1016, text1017);
}

void WindowShell::connectWindow() {
  CConsoleDlg* w = window_.get();
  connect(w, &CConsoleDlg::closeRequested, this, &WindowShell::requestClose);
  connect(w, &CConsoleDlg::clearLogRequested, this,
          [this] { post([](Console& console, ObjectCard&) { console.ClearEventLog(); }); });
  connect(w, &CConsoleDlg::programSettingsRequested, this, &WindowShell::onProgramSettings);
  connect(w, &CConsoleDlg::receiverSettingsRequested, this, &WindowShell::onReceiverSettings);
  connect(w, &CConsoleDlg::openProtocolFileRequested, this, &WindowShell::onOpenProtocolFile);
  connect(w, &CConsoleDlg::objectCommand, this, &WindowShell::onObjectCommand);
  connect(w, &CConsoleDlg::objectListDoubleClicked, this, &WindowShell::onStateInfo);
  connect(card_, &CObjectCardDlg::registerRequested, this, &WindowShell::onCardRegister);
  connect(card_, &CObjectCardDlg::deleteRequested, this, &WindowShell::onCardDelete);
}

void WindowShell::onObjectCommand(int id, int row) {
  const int slot = row + 1;  // no selection gives 0, which no command acts on
  switch (id) {
    case kNewObject:
      openCard(true);
      break;
    case kEditObject:
      if (row >= 0) openCard(false);
      break;
    case kClearAll:
      if (ask(ClearAllObjectsQuestion())) post([](Console& c, ObjectCard&) { ClearAllObjects(c.Objects()); });
      break;
    case kResetAll:
      post([](Console& c, ObjectCard&) { ResetAllCounters(c.Objects()); });
      break;
    case kControlAllOn:
    case kControlAllOff:
      post([on = id == kControlAllOn](Console& c, ObjectCard&) { SetControlAll(c.Objects(), on); });
      break;
    case kControlOn:
    case kControlOff:
      post([slot, on = id == kControlOn](Console& c, ObjectCard&) { SetControl(c.Objects(), slot, on); });
      break;
    case kResetOne:
      post([slot](Console& c, ObjectCard&) { ResetCounter(c.Objects(), slot); });
      break;
    case kDeleteObject:
      if (row < 0) break;
      post<OperatorMessage>(
          [slot](Console& c, ObjectCard&) { return DeleteObjectQuestion(c.Objects(), slot); },
          [this, slot](OperatorMessage question) {
            if (question.text.empty() || !ask(question)) return;
            post([slot](Console& c, ObjectCard&) { DeleteObject(c.Objects(), slot); });
          });
      break;
    default:
      break;
  }
}

void WindowShell::openCard(bool newObject) {
  if (cardBusy_) return;  // the one card is open (or opening) already
  cardBusy_ = true;
  const int slot = window_->selectedRow() + 1;
  // The card's opening values come from the console's table.
  post<bool>(
      [newObject, slot](Console& c, ObjectCard& card) {
        return newObject ? BeginNewObject(c.Objects(), card) : BeginEditObject(c.Objects(), card, slot);
      },
      [this, newObject](bool open) {
        if (!open) {
          cardBusy_ = false;
          return;
        }
        post<ObjectCard>(
            [](Console&, ObjectCard& card) { return card; },
            [this, newObject](ObjectCard values) {
              card_->m_nSlot = values.m_nSlot;
              card_->m_strAddress = Q(values.m_strAddress);
              card_->m_strPeriod = Q(values.m_strPeriod);
              card_->m_strComment = Q(values.m_strComment);
              card_->m_bControl = values.m_bControl;
              card_->m_strLoop1Type = Q(values.m_strLoop1Type);
              card_->m_strLoop2Type = Q(values.m_strLoop2Type);
              card_->m_strState = Q(values.m_strState);
              const int result = card_->exec();
              cardBusy_ = false;
              const CardResult cardResult = result == QDialog::Accepted ? CardResult::Ok : CardResult::Cancel;
              if (newObject) {
                post([](Console& c, ObjectCard& card) { EndNewObject(c.Objects(), card); });
              } else {
                post([cardResult](Console& c, ObjectCard&) { EndEditObject(c.Objects(), cardResult); });
              }
            });
      });
}

void WindowShell::onCardRegister() {
  ObjectCard typed;
  typed.m_nSlot = card_->m_nSlot;
  typed.m_strAddress = S(card_->m_strAddress);
  typed.m_strPeriod = S(card_->m_strPeriod);
  typed.m_strComment = S(card_->m_strComment);
  typed.m_bControl = card_->m_bControl;
  typed.m_strLoop1Type = S(card_->m_strLoop1Type);
  typed.m_strLoop2Type = S(card_->m_strLoop2Type);
  typed.m_strState = S(card_->m_strState);
  card_->setEnabled(false);  // one registration at a time
  post<std::optional<OperatorMessage>>(
      [typed](Console& c, ObjectCard& card) {
        const int added = card.bNewObjectAdded;
        card = typed;
        card.bNewObjectAdded = added;
        return RegisterObjectCard(card, c.Objects());
      },
      [this](std::optional<OperatorMessage> refusal) {
        card_->setEnabled(true);
        if (refusal) {
          // The card stays open for correction; this box belongs to the card.
          if (messageHook) {
            messageHook(*refusal);
          } else {
            QMessageBox box(BoxIcon(refusal->icon), Q(refusal->title), Q(refusal->text), QMessageBox::Ok,
                            card_);
            box.exec();
          }
          return;
        }
        card_->accept();
      });
}

void WindowShell::onCardDelete() {
  if (card_->m_nSlot == -1) return;
  if (!ask(CardDeleteQuestion(), card_)) return;
  post<bool>([](Console& c, ObjectCard& card) { return DeleteObjectFromCard(card, c.Objects()); },
             [this](bool deleted) {
               if (deleted) card_->accept();
             });
}

void WindowShell::onStateInfo(int row) {
  if (row < 0) return;
  post<std::string>([slot = row + 1](Console& c, ObjectCard&) { return ObjectStateInfo(c.Objects(), slot); },
                    [this](std::string info) {
                      if (info.empty()) return;
                      CObjectStateDlg dlg(window_.get());
                      dlg.m_strInfo = Q(info);
                      dlg.exec();
                    });
}

void WindowShell::onProgramSettings() {
  if (settingsBusy_) return;  // one settings command at a time
  settingsBusy_ = true;
  post<ProgramSettingsValues>([](Console& c, ObjectCard&) { return c.ProgramSettingsPage(); },
                              [this](ProgramSettingsValues values) {
                                auto* page = new Settings();
                                page->m_bSaveProtocol = values.m_bSaveProtocol;
                                page->m_nComPort = values.m_nComPort;
                                page->m_strProtocolPath = Q(values.m_strProtocolPath);
                                page->m_strAttempts = Q(values.m_strAttempts);
                                PropertySheet sheet(page, window_.get());
                                sheet.setObjectName("programSettingsSheet");
                                const bool accepted = sheet.exec() == QDialog::Accepted;
                                settingsBusy_ = false;
                                if (!accepted) return;
                                values.m_bSaveProtocol = page->m_bSaveProtocol;
                                values.m_nComPort = page->m_nComPort;
                                values.m_strProtocolPath = S(page->m_strProtocolPath);
                                values.m_strAttempts = S(page->m_strAttempts);
                                post([values](Console& c, ObjectCard&) { c.AcceptProgramSettings(values); });
                              });
}

void WindowShell::onReceiverSettings() {
  if (settingsBusy_) return;  // one settings command at a time
  settingsBusy_ = true;
  post<std::optional<ReceiverSettingsRead>>(
      [](Console& c, ObjectCard&) { return c.ReadReceiverSettings(); },
      [this](std::optional<ReceiverSettingsRead> read) {
        if (!read) {
          settingsBusy_ = false;
          return;
        }
        auto* page = new Pult_settings();
        page->m_bCheckLine = read->page.m_bCheckLine;
        page->m_nCheckInterval = read->page.m_nCheckInterval;
        page->m_nPickupRings = read->page.m_nPickupRings;
        page->m_nMainFormat = read->page.m_nMainFormat;
        page->m_nFormatCount = read->page.m_nFormatCount;
        PropertySheet sheet(page, window_.get());
        sheet.setObjectName("receiverSettingsSheet");
        if (sheet.exec() != QDialog::Accepted) {
          settingsBusy_ = false;
          return;
        }
        ReceiverPageValues values{page->m_bCheckLine, page->m_nCheckInterval, page->m_nPickupRings,
                                  page->m_nMainFormat, page->m_nFormatCount};
        post<int>([block = read->block, values](
                      Console& c, ObjectCard&) { return c.WriteReceiverSettings(block, values); },
                  [this](int) { settingsBusy_ = false; });
      });
}

void WindowShell::onOpenProtocolFile() {
  post<std::string>([](Console& c, ObjectCard&) { return c.settings.ProtocolPath(); },
                    [this](std::string path) {
                      std::optional<OperatorMessage> failure = OpenProtocolFileForViewing(path);
                      if (failure) showMessage(*failure);
                    });
}

}  // namespace pelvaron::ui
