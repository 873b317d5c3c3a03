#include "widgets/qt_texts.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pelvaron::ui {

namespace {

// The columns of the file dialog's list, as its file system model has them.
enum Column { kName = 0, kSize = 1, kType = 2, kModified = 3 };

// The file system model formats sizes and dates in the system's locale and
// names a folder's type in English; this shows them in Russian.
class RussianFileColumns : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || files == nullptr || !index.isValid())
      return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    switch (index.column()) {
      case kSize: {
        if (files->isDir(source)) return QString();
        const qint64 bytes = files->size(source);
        if (bytes < 1024) return QStringLiteral("%1 байт").arg(bytes);
        return russian.formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
      }
      case kType:
        if (files->isDir(source)) return QStringLiteral("Папка");
        break;
      case kModified:
        return russian.toString(files->lastModified(source), QLocale::ShortFormat);
      default:
        break;
    }
    return QIdentityProxyModel::data(index, role);
  }
};

}  // namespace

bool InstallRussianQtTexts() {
  static bool installed = [] {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      delete translator;
      return false;
    }
    QCoreApplication::installTranslator(translator);
    // The names of file types (from the system's type database) follow it.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    return true;
  }();
  return installed;
}

void RussianFileList(QFileDialog& dialog) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setProxyModel(new RussianFileColumns(&dialog));
}

}  // namespace pelvaron::ui
