#pragma once

// Turns the dialog templates of src/res into widgets. Every control is a
// direct child of the client widget at its template rectangle converted from
// dialog units to pixels; nothing is laid out, so resizing the window moves
// nothing. Controls are named "c<id>"; controls without an id are named
// "group_<n>", "static_<n>", "icon_<n>" ... numbered from 0 per kind in
// template order.

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <map>
#include <string_view>
#include <vector>

#include "res/resources.h"

class QMenu;
class QMenuBar;
class QWidget;

namespace pelvaron::ui {

// The dialog base units of a font: the average width of "A..Za..z" rounded as
// Windows rounds it, and the font's height.
struct BaseUnits {
  int x = 0;
  int y = 0;
  bool operator==(const BaseUnits&) const = default;
};

// number * numerator / denominator, rounded half away from zero.
int MulDiv(int number, int numerator, int denominator);

// The family that stands in for a template's font face. "MS Shell Dlg" and
// "MS Sans Serif" are used where the system has them; elsewhere "DejaVu Sans"
// (Debian's default sans, package fonts-dejavu-core), then any sans serif.
QString MappedFontFamily(std::string_view face);
// The template's font: the mapped family at the pixel height a 96 dpi screen
// gives the point size (8 pt = 11 px), so dialogs measure alike everywhere.
QFont DialogFont(std::string_view face, int pointSize);
BaseUnits BaseUnitsOf(const QFont& font);

// Dialog units to pixels: x and width by baseX/4, y and height by baseY/8.
QRect DialogUnitsToPixels(int x, int y, int cx, int cy, BaseUnits units);

// An icon resource drawn at one size (32 or 16); a null pixmap when unknown.
QPixmap IconPixmap(int iconId, int size);
// An icon resource with all its sizes.
QIcon ResourceIcon(int iconId);

// Object name of a control with an id: "c<id>".
QString ControlName(int id);
// Object name of a menu command's action: "m<id>".
QString CommandName(int id);

class DialogBuilder {
 public:
  // Makes a control itself instead of the default widget of its kind; returns
  // nullptr to fall back to the default.
  using Factory = std::function<QWidget*(const res::ControlTemplate&, QWidget* parent)>;

  // Base units from the template's mapped font.
  explicit DialogBuilder(const res::DialogTemplate& dialog);
  // Explicit base units (for tests and for a page that must match its sheet).
  DialogBuilder(const res::DialogTemplate& dialog, BaseUnits units);

  const res::DialogTemplate& dialogTemplate() const { return dialog_; }
  BaseUnits units() const { return units_; }
  const QFont& font() const { return font_; }

  QRect toPixels(int x, int y, int cx, int cy) const;
  QSize clientSize() const;

  void setFactory(int controlId, Factory factory) { factories_[controlId] = std::move(factory); }

  // Sets the client's font and fixed size and creates every control in
  // template order (which is the tab order). Returns them in that order.
  std::vector<QWidget*> build(QWidget* client) const;

 private:
  QWidget* create(const res::ControlTemplate& control, QWidget* parent) const;

  const res::DialogTemplate& dialog_;
  QFont font_;
  BaseUnits units_;
  std::map<int, Factory> factories_;
};

// Fills a menu bar from a bar template; a right-justified pop-up goes to the
// bar's right corner. Every command is an action named "m<id>" whose data()
// holds the id.
void BuildMenuBar(const res::MenuTemplate& menu, QMenuBar* bar);
// Fills a menu with the items of a pop-up template.
void BuildMenu(const res::MenuItem& popup, QMenu* menu);

}  // namespace pelvaron::ui
