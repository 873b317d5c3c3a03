#pragma once

#include <QPoint>

#include <functional>
#include <string>
#include <vector>

#include "core/operator.h"

class QMenu;
class QTreeWidget;

namespace pelvaron::ui {

// The object list (control 1022) in report view: five columns whose widths
// are W/7, W/9, W/6, W/8 and W/2 of the control's width W.
void SetupObjectList(QTreeWidget* list);

// Rebuilds every row; the selection goes with the old rows. Rows show the
// green square (icon 142), or the red one (icon 141) for an object in alarm.
// Each row is one line: line breaks in a text show as spaces.
void FillObjectList(QTreeWidget* list, const std::vector<ObjectListRow>& rows);

// The selected row, or -1.
int SelectedObjectRow(const QTreeWidget* list);

// The items of menu 144; without a selection the five commands on "this
// object" are greyed.
void BuildObjectMenu(QMenu* menu, bool hasSelection);

// Ours after menu 144's own items, past a separator: "План реагирования…"
// for the selected row's object (greyed without one); open gets its address.
void AddObjectPlanItem(QMenu* menu, const QTreeWidget* list, int row,
                       std::function<void(const std::string& address)> open);

// Where menu 144 opens: at the lower right of the selected row's icon, or at
// the cursor when no row is selected (global coordinates).
QPoint ObjectMenuPosition(const QTreeWidget* list, QPoint cursor);

}  // namespace pelvaron::ui
