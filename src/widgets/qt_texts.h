#pragma once

#include <QString>

#include <string_view>

class QFileDialog;

namespace pelvaron::ui {

// A text of the core (UTF-8) as Qt holds it.
inline QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Qt's own texts (standard buttons, the file dialog, an edit's context menu)
// in Russian, as the console speaks to its operator, and Russian as the
// default locale. Once per application; false when the translation is not
// installed (Debian: qt6-translations-l10n).
bool InstallRussianQtTexts();

// A file dialog (Qt's own, not the desktop's) whose list shows sizes, dates
// and the type of a folder in Russian whatever the system's locale.
void RussianFileList(QFileDialog& dialog);

}  // namespace pelvaron::ui
