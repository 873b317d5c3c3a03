#pragma once

#include <QObject>

#include "app/console_access.h"
#include "widgets/command_host.h"

namespace pelvaron::ui {

// "Настройки программы" (the settings page over the console's settings block)
// and "Открыть файл протокола для просмотра".
class ProtocolCommandsUi : public QObject {
  Q_OBJECT
 public:
  ProtocolCommandsUi(CommandHost& host, ConsoleAccess& console, QObject* parent = nullptr);
  ~ProtocolCommandsUi() override;

  void onProgramSettings();
  void onOpenProtocolFile();

 private:
  CommandHost& host_;
  ConsoleAccess& console_;
};

}  // namespace pelvaron::ui
