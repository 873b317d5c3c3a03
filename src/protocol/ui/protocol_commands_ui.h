#pragma once

#include <QObject>

#include "widgets/command_host.h"

namespace pelvaron::ui {

// "Настройки программы" (the settings page over the console's settings block)
// and "Открыть файл протокола для просмотра".
class ProtocolCommandsUi : public QObject {
  Q_OBJECT
 public:
  explicit ProtocolCommandsUi(CommandHost& host, QObject* parent = nullptr);
  ~ProtocolCommandsUi() override;

  void onProgramSettings();
  void onOpenProtocolFile();

 private:
  CommandHost& host_;
};

}  // namespace pelvaron::ui
