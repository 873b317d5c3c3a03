#include "protocol/ui/protocol_commands_ui.h"

#include <QProcess>

#include "app/console.h"
#include "protocol/ui/open_protocol_file.h"
#include "protocol/ui/settings_page.h"
#include "widgets/notice.h"

namespace pelvaron::ui {

ProtocolCommandsUi::ProtocolCommandsUi(CommandHost& host, ConsoleAccess& console, QObject* parent)
    : QObject(parent), host_(host), console_(console) {}

ProtocolCommandsUi::~ProtocolCommandsUi() {
  // A viewer's opener still waiting is ended here rather than left to
  // QProcess's destructor, which would complain.
  for (QProcess* viewer : findChildren<QProcess*>()) {
    viewer->disconnect();
    viewer->kill();
    viewer->waitForFinished(1000);
  }
}

void ProtocolCommandsUi::onProgramSettings() {
  if (!host_.beginSettingsCommand()) return;  // one settings command at a time
  host_.post<ProgramSettingsValues>(
      OnConsole(console_, [](Console& c, ObjectCard&) { return c.ProgramSettingsPage(); }),
      [this](ProgramSettingsValues values) {
        auto* page = new Settings();
        page->m_bSaveProtocol = values.m_bSaveProtocol;
        page->m_nComPort = values.m_nComPort;
        page->m_strProtocolPath = QString::fromStdString(values.m_strProtocolPath);
        page->m_strAttempts = QString::fromStdString(values.m_strAttempts);
        PropertySheet sheet(page, host_.dialogOwner());
        sheet.setObjectName("programSettingsSheet");
        const bool accepted = ExecWindowModal(sheet) == QDialog::Accepted;
        host_.endSettingsCommand();
        if (!accepted) return;
        values.m_bSaveProtocol = page->m_bSaveProtocol;
        values.m_nComPort = page->m_nComPort;
        values.m_strProtocolPath = page->m_strProtocolPath.toStdString();
        values.m_strAttempts = page->m_strAttempts.toStdString();
        host_.post(OnConsole(console_, [values](Console& c, ObjectCard&) { c.AcceptProgramSettings(values); }));
      });
}

void ProtocolCommandsUi::onOpenProtocolFile() {
  host_.post<std::string>(OnConsole(console_, [](Console& c, ObjectCard&) { return c.settings.ProtocolPath(); }),
                          [this](std::string path) {
                            OpenProtocolFileForViewing(path, this, [this](const OperatorMessage& failure) {
                              host_.showMessage(failure);
                            });
                          });
}

}  // namespace pelvaron::ui
