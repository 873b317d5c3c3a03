#include "protocol/ui/settings_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

#include "protocol/program_settings.h"
#include "widgets/edits.h"
#include "widgets/notice.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {
namespace {

constexpr int kMaxPathChars = static_cast<int>(kMaxProtocolPathChars);
static_assert(kMaxLinkAttempts >= 10 && kMaxLinkAttempts <= 99, "the attempts edit takes two digits");

}  // namespace

Settings::Settings(QWidget* parent, std::optional<BaseUnits> units)
    : PropertyPage(res::IDD_PROGRAM_SETTINGS, parent, units) {
  buildControls();
  control<LimitedLineEdit>(res::IDC_PROTOCOL_PATH)->setLimit(kMaxPathChars);
  control<LimitedLineEdit>(res::IDC_ATTEMPTS)->setLimit(kMaxAttemptsChars);
  connect(control<QPushButton>(res::IDC_BROWSE), &QPushButton::clicked, this,
          &Settings::OnBrowseProtocolFile);
}

void Settings::readControls() {
  m_bSaveProtocol = control<QCheckBox>(res::IDC_SAVE_PROTOCOL)->isChecked() ? 1 : 0;
  m_nComPort = control<QComboBox>(res::IDC_COM_PORT)->currentIndex();
  m_strProtocolPath = control<LimitedLineEdit>(res::IDC_PROTOCOL_PATH)->text();
  m_strAttempts = control<LimitedLineEdit>(res::IDC_ATTEMPTS)->text();
}

bool Settings::updateData(bool saveAndValidate) {
  auto* path = control<LimitedLineEdit>(res::IDC_PROTOCOL_PATH);
  auto* attempts = control<LimitedLineEdit>(res::IDC_ATTEMPTS);
  if (!saveAndValidate) {
    control<QCheckBox>(res::IDC_SAVE_PROTOCOL)->setChecked(m_bSaveProtocol != 0);
    auto* port = control<QComboBox>(res::IDC_COM_PORT);
    port->setCurrentIndex(m_nComPort >= 0 && m_nComPort < port->count() ? m_nComPort : -1);
    path->setText(m_strProtocolPath);
    path->setCursorPosition(0);
    attempts->setText(m_strAttempts);
    return true;
  }
  readControls();
  auto refuse = [](LimitedLineEdit* edit, const QString& text) {
    ShowNotice(edit->window(), text, QString(), QMessageBox::Warning);
    edit->setFocus();
    edit->selectAll();
    return false;
  };
  if (m_strProtocolPath.size() > kMaxPathChars) {
    return refuse(
        path, QStringLiteral("Путь к файлу протокола слишком длинный: %1 символов, а допустимо не более %2.\n"
                             "Выберите файл с более коротким путём.")
                  .arg(m_strProtocolPath.size())
                  .arg(kMaxPathChars));
  }
  if (QChar bad = FirstUnfitCharacter(m_strProtocolPath); !bad.isNull()) {
    return refuse(path, QStringLiteral("В пути к файлу протокола есть символ «%1», которого нет в кодировке "
                                       "Windows-1251.\nВыберите файл с другим именем.")
                            .arg(bad.isSurrogate() ? QStringLiteral("?") : QString(bad)));
  }
  if (m_strAttempts.size() > kMaxAttemptsChars) {
    return refuse(attempts, QStringLiteral("Количество попыток: не более %1 цифр.").arg(kMaxAttemptsChars));
  }
  return true;
}

void Settings::PrepareProtocolFileDialog(QFileDialog& dialog) {
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The dialog shows each filter up to its last parentheses and matches the
  // patterns inside them: "*.*" means every file to the operator, but on this
  // system it would hide names without a dot, so "all files" matches "*".
  RussianFileList(dialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(
      {QStringLiteral("Текстовые файлы (*.txt) (*.txt)"), QStringLiteral("Все файлы (*.*) (*)")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
}

void Settings::OnBrowseProtocolFile() {
  readControls();
  std::optional<QString> chosen;
  if (chooser_) {
    chosen = chooser_(this);
  } else {
    QFileDialog dialog(window());
    PrepareProtocolFileDialog(dialog);
    if (ExecWindowModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      chosen = dialog.selectedFiles().front();
  }
  if (!chosen) return;
  m_strProtocolPath = QFileInfo(*chosen).absoluteFilePath();
  updateData(false);
}

}  // namespace pelvaron::ui
