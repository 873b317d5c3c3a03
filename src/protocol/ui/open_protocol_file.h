#pragma once

#include <QStringList>

#include <functional>
#include <string>

#include "core/operator.h"

class QObject;

namespace pelvaron::ui {

// The program that shows a document in the desktop's viewer for its type,
// with its arguments; the document's absolute path is added last.
// "xdg-open" unless set (tests set a fake viewer).
void SetViewerCommand(QStringList command);
QStringList ViewerCommand();

// "Открыть файл протокола для просмотра": the protocol file in the viewer,
// which runs on its own. When the file is missing, the viewer cannot be
// started or ends in failure, failed gets the message to show: at once for a
// missing file, else later on this thread, and not once context has gone.
// The error code in "Ошибка: %s" is the system's for a viewer that could not
// be started, else the viewer's exit status.
void OpenProtocolFileForViewing(const std::string& path, QObject* context,
                                std::function<void(const OperatorMessage&)> failed);

}  // namespace pelvaron::ui
