#include "protocol/ui/open_protocol_file.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>

namespace pelvaron::ui {
namespace {

QStringList& Command() {
  static QStringList command{QStringLiteral("xdg-open")};
  return command;
}

OperatorMessage Failure(long long code) {
  return {"Ошибка: " + std::to_string(code), "Ошибка", MessageIcon::Error};
}

}  // namespace

void SetViewerCommand(QStringList command) {
  Command() = std::move(command);
}

QStringList ViewerCommand() {
  return Command();
}

void OpenProtocolFileForViewing(const std::string& path, QObject* context,
                                std::function<void(const OperatorMessage&)> failed) {
  QFileInfo file(QString::fromStdString(path));
  if (path.empty() || !file.exists()) {
    failed({" Файл протокола '" + path + "' не существует", "Ошибка", MessageIcon::Error});
    return;
  }
  QStringList arguments = Command();
  const QString program = arguments.isEmpty() ? QString() : arguments.takeFirst();
  if (program.isEmpty() || QStandardPaths::findExecutable(program).isEmpty()) {
    failed(Failure(ENOENT));
    return;
  }
  arguments << file.absoluteFilePath();

  // Owned by the context. The desktop's opener may wait while its viewer is
  // open; ending the opener with the console leaves the viewer's window.
  auto* viewer = new QProcess(context);
  viewer->setStandardInputFile(QProcess::nullDevice());
  viewer->setStandardOutputFile(QProcess::nullDevice());
  viewer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QObject::connect(viewer, &QProcess::errorOccurred, context, [viewer, failed](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;  // a crash ends in finished()
    failed(Failure(EACCES));
    viewer->deleteLater();
  });
  QObject::connect(viewer, &QProcess::finished, context,
                   [viewer, failed](int exitCode, QProcess::ExitStatus status) {
                     // A crash's code is the signal that ended the viewer.
                     if (status != QProcess::NormalExit || exitCode != 0) failed(Failure(exitCode));
                     viewer->deleteLater();
                   });
  viewer->start(program, arguments);
}

}  // namespace pelvaron::ui
