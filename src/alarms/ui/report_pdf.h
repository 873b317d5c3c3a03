#pragma once

#include <QString>

#include <string>

namespace pelvaron::ui {

// A report's HTML page printed to a PDF file by Qt alone: the page laid out
// by QTextDocument, each inline SVG chart (which QTextDocument does not draw)
// rendered by QtSvg into an image put in its place. Written beside the file
// and renamed over it. False, with the reason in error, when it was not.
bool WriteReportPdf(const std::string& html, const QString& path, QString& error);

}  // namespace pelvaron::ui
