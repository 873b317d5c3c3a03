#include "link/ui/receiver_commands_ui.h"

#include "app/console.h"
#include "link/ui/exchange_progress_dlg.h"
#include "link/ui/receiver_settings_page.h"
#include "widgets/notice.h"

namespace pelvaron::ui {

ReceiverCommandsUi::ReceiverCommandsUi(CommandHost& host, ConsoleAccess& console, QObject* parent)
    : QObject(parent), host_(host), console_(console) {}

void ReceiverCommandsUi::onReceiverSettings() {
  if (!host_.beginSettingsCommand()) return;  // one settings command at a time
  host_.beginExchange();
  host_.post<std::optional<ReceiverSettingsRead>>(
      OnConsole(console_, [](Console& c, ObjectCard&) { return c.ReadReceiverSettings(); }),
      [this](std::optional<ReceiverSettingsRead> read) {
        host_.endExchange();
        if (!read) {
          host_.endSettingsCommand();
          return;
        }
        auto* page = new Pult_settings();
        page->m_bCheckLine = read->page.m_bCheckLine;
        page->m_nCheckInterval = read->page.m_nCheckInterval;
        page->m_nPickupRings = read->page.m_nPickupRings;
        page->m_nMainFormat = read->page.m_nMainFormat;
        page->m_nFormatCount = read->page.m_nFormatCount;
        PropertySheet sheet(page, host_.dialogOwner());
        sheet.setObjectName("receiverSettingsSheet");
        if (ExecWindowModal(sheet) != QDialog::Accepted) {
          host_.endSettingsCommand();
          return;
        }
        ReceiverPageValues values{page->m_bCheckLine, page->m_nCheckInterval, page->m_nPickupRings,
                                  page->m_nMainFormat, page->m_nFormatCount};
        host_.beginExchange();
        host_.post<int>(OnConsole(console_, [block = read->block, values](
                            Console& c, ObjectCard&) { return c.WriteReceiverSettings(block, values); }),
                        [this](int) {
                          host_.endExchange();
                          host_.endSettingsCommand();
                        });
      });
}

void ReceiverCommandsUi::showProgress(bool shown, const QString& text1016, const QString& text1017) {
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
    progress_ = new CExchangeProgressDlg(host_.dialogOwner());
    progress_->setClosingNotice(closingNotice_);
    progress_->showCentred();
  }
  progress_->setTexts(text1016, text1017);
}

void ReceiverCommandsUi::showClosingNotice() {
  closingNotice_ = true;
  if (progress_) progress_->setClosingNotice(true);
}

void ReceiverCommandsUi::dropProgress() {
  if (progress_) progress_->deleteLater();
}

}  // namespace pelvaron::ui
