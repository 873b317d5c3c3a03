#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/operator.h"

namespace pelvaron::ui {

// "Открыть файл протокола для просмотра": the protocol file in the desktop's
// viewer for its type. Returns the message to show when it cannot be opened.
std::optional<OperatorMessage> OpenProtocolFileForViewing(const std::string& path);

// Opens a local file in the desktop's viewer; replaced by tests.
using DocumentOpener = std::function<bool(const std::string& absolutePath)>;
void SetDocumentOpener(DocumentOpener opener);

}  // namespace pelvaron::ui
