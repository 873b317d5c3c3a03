#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "app/console_access.h"
#include "widgets/command_host.h"

namespace pelvaron::ui {

class CExchangeProgressDlg;

// "Настройки пульта": the read exchange, the receiver's page, the write
// exchange; and the progress window the console shows during an exchange.
class ReceiverCommandsUi : public QObject {
  Q_OBJECT
 public:
  ReceiverCommandsUi(CommandHost& host, ConsoleAccess& console, QObject* parent = nullptr);

  void onReceiverSettings();
  // The console's progress report: the window shown with both texts, or gone.
  void showProgress(bool shown, const QString& text1016, const QString& text1017);
  // The window closes: a progress window still there goes with it.
  void dropProgress();
  // The operator closed the window during an exchange: the progress window
  // (this one and any that follows) says the program ends after it.
  void showClosingNotice();

 private:
  CommandHost& host_;
  ConsoleAccess& console_;
  QPointer<CExchangeProgressDlg> progress_;
  bool closingNotice_ = false;
};

}  // namespace pelvaron::ui
