#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace pelvaron::testing {

// A text an operator reads passes when it is one of the console's own texts
// in Latin letters (its English messages, names such as "Contact-ID"), or is
// Russian: it has Cyrillic letters, or no letters at all ("...", a date).
bool IsRussian(const QString& text);
bool IsConsoleText(const QString& text);

// Every text the window shows or may show (titles, labels, buttons, group
// boxes, list rows of a drop-down list, tabs, list headings, menus, tool
// tips, an edit's context menu), as "where: text", that is neither; the
// contents of edits and lists are the operator's data and are not looked at.
// allowed: further texts that pass (the program's name as a title).
QStringList UnreadableTexts(QWidget* window, const QStringList& allowed = {});

}  // namespace pelvaron::testing
