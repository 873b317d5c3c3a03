#include "protocol/ui/open_protocol_file.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace pelvaron::ui {
namespace {

// The shell's code for "no application is associated with this file type".
constexpr int kNoAssociation = 31;

DocumentOpener& Opener() {
  static DocumentOpener opener = [](const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  };
  return opener;
}

}  // namespace

void SetDocumentOpener(DocumentOpener opener) {
  Opener() = std::move(opener);
}

std::optional<OperatorMessage> OpenProtocolFileForViewing(const std::string& path) {
  QFileInfo file(QString::fromStdString(path));
  if (path.empty() || !file.exists()) {
    return OperatorMessage{" Файл протокола '" + path + "' не существует", "Ошибка", MessageIcon::Error};
  }
  if (Opener()(file.absoluteFilePath().toStdString())) return std::nullopt;
  return OperatorMessage{"Ошибка: " + std::to_string(kNoAssociation), "Ошибка", MessageIcon::Error};
}

}  // namespace pelvaron::ui
