#include "widgets/dialog_builder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <cstdlib>

#include "res/icons.h"
#include "widgets/edits.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

using res::ControlKind;
using res::ControlTemplate;

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  long long product = static_cast<long long>(number) * numerator;
  long long half = std::llabs(static_cast<long long>(denominator)) / 2;
  bool negative = (product < 0) != (denominator < 0);
  long long magnitude = (std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator));
  return static_cast<int>(negative ? -magnitude : magnitude);
}

QString MappedFontFamily(std::string_view face) {
  const QString wanted = Utf8(face);
  const QStringList families = QFontDatabase::families();
  for (const QString& candidate : {wanted, QStringLiteral("Microsoft Sans Serif"),
                                   QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")}) {
    if (families.contains(candidate, Qt::CaseInsensitive)) return candidate;
  }
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QFont DialogFont(std::string_view face, int pointSize) {
  QFont font(MappedFontFamily(face));
  font.setPixelSize(MulDiv(pointSize, 96, 72));
  font.setStyleHint(QFont::SansSerif);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

BaseUnits BaseUnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  int width =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(width / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(int x, int y, int cx, int cy, BaseUnits units) {
  return QRect(MulDiv(x, units.x, 4), MulDiv(y, units.y, 8), MulDiv(cx, units.x, 4), MulDiv(cy, units.y, 8));
}

QPixmap IconPixmap(int iconId, int size) {
  const res::IconResource* icon = res::FindIcon(iconId);
  const res::IconImage* image = icon ? icon->Image(size) : nullptr;
  if (image == nullptr) return {};
  QImage pixels(size, size, QImage::Format_ARGB32);
  for (int y = 0; y < size; ++y) {
    std::string_view row =
        y < static_cast<int>(image->rows.size()) ? image->rows[static_cast<std::size_t>(y)] : "";
    for (int x = 0; x < size; ++x)
      pixels.setPixel(
          x, y, x < static_cast<int>(row.size()) ? res::PaletteColour(row[static_cast<std::size_t>(x)]) : 0u);
  }
  return QPixmap::fromImage(pixels);
}

QIcon ResourceIcon(int iconId) {
  QIcon icon;
  for (int size : {32, 16}) {
    QPixmap pixmap = IconPixmap(iconId, size);
    if (!pixmap.isNull()) icon.addPixmap(pixmap);
  }
  return icon;
}

QString ControlName(int id) {
  return QStringLiteral("c%1").arg(id);
}
QString CommandName(int id) {
  return QStringLiteral("m%1").arg(id);
}

DialogBuilder::DialogBuilder(const res::DialogTemplate& dialog)
    : dialog_(dialog), font_(DialogFont(dialog.fontFace, dialog.pointSize)), units_(BaseUnitsOf(font_)) {}

DialogBuilder::DialogBuilder(const res::DialogTemplate& dialog, BaseUnits units)
    : dialog_(dialog), font_(DialogFont(dialog.fontFace, dialog.pointSize)), units_(units) {}

QRect DialogBuilder::toPixels(int x, int y, int cx, int cy) const {
  return DialogUnitsToPixels(x, y, cx, cy, units_);
}

QSize DialogBuilder::clientSize() const {
  return toPixels(0, 0, dialog_.cx, dialog_.cy).size();
}

namespace {

bool Has(const ControlTemplate& c, std::uint32_t flag) {
  return (c.style & flag) != 0;
}

const char* KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::GroupBox:
      return "group";
    case ControlKind::Static:
      return "static";
    case ControlKind::Icon:
      return "icon";
    case ControlKind::Edit:
      return "edit";
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
      return "button";
    case ControlKind::CheckBox:
      return "check";
    case ControlKind::RadioButton:
      return "radio";
    case ControlKind::DropList:
      return "combo";
    case ControlKind::ListBox:
      return "listbox";
    case ControlKind::ListView:
      return "listview";
  }
  return "control";
}

Qt::Alignment TextAlignment(const ControlTemplate& c) {
  Qt::Alignment horizontal = Has(c, res::cs::kCenter)  ? Qt::AlignHCenter
                             : Has(c, res::cs::kRight) ? Qt::AlignRight
                                                       : Qt::AlignLeft;
  return horizontal | (Has(c, res::cs::kCenterImage) ? Qt::AlignVCenter : Qt::AlignTop);
}

// A group box drawn as the dialogs know it: an etched frame whose top line
// runs through the middle of the title.
class FrameGroupBox : public QGroupBox {
 public:
  FrameGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    QFontMetrics metrics(font());
    int top = metrics.height() / 2;
    QRect frame = rect().adjusted(0, top, -2, -2);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1));
    if (title().isEmpty()) return;
    int indent = metrics.averageCharWidth();
    QRect text(indent, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
    painter.fillRect(text, palette().color(QPalette::Window));
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(text.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, title());
  }
};

QWidget* MakeEdit(const ControlTemplate& c, QWidget* parent) {
  if (Has(c, res::cs::kMultiLine)) {
    auto* edit = new LimitedTextEdit(parent);
    edit->setReadOnly(Has(c, res::cs::kReadOnly));
    edit->setFrameShape(Has(c, res::cs::kBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
    edit->setVerticalScrollBarPolicy(Has(c, res::cs::kVScroll) ? Qt::ScrollBarAlwaysOn
                                                               : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    if (Has(c, res::cs::kReadOnly)) {
      // A read-only edit shows the dialog's face, as the operator knows it.
      QPalette palette = edit->palette();
      palette.setColor(QPalette::Base, palette.color(QPalette::Window));
      edit->setPalette(palette);
    }
    edit->setText(Utf8(c.text));
    return edit;
  }
  auto* edit = new LimitedLineEdit(parent);
  edit->setFrame(Has(c, res::cs::kBorder));
  edit->setReadOnly(Has(c, res::cs::kReadOnly));
  edit->setAlignment(Has(c, res::cs::kCenter)  ? Qt::AlignCenter
                     : Has(c, res::cs::kRight) ? Qt::AlignRight | Qt::AlignVCenter
                                               : Qt::AlignLeft | Qt::AlignVCenter);
  edit->setText(Utf8(c.text));
  return edit;
}

QWidget* MakeListView(const ControlTemplate& c, QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setItemsExpandable(false);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(Has(c, res::cs::kSingleSel) ? QAbstractItemView::SingleSelection
                                                     : QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setFrameShape(Has(c, res::cs::kBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
  list->setIconSize(QSize(16, 16));
  list->header()->setStretchLastSection(false);
  list->header()->setSectionsMovable(false);
  list->setColumnCount(0);
  return list;
}

QWidget* MakeListBox(const ControlTemplate& c, QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setSelectionMode(Has(c, res::cs::kNoSelection) ? QAbstractItemView::NoSelection
                                                       : QAbstractItemView::SingleSelection);
  list->setVerticalScrollBarPolicy(Has(c, res::cs::kDisableNoScroll) ? Qt::ScrollBarAlwaysOn
                                   : Has(c, res::cs::kVScroll)       ? Qt::ScrollBarAsNeeded
                                                                     : Qt::ScrollBarAlwaysOff);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setFrameShape(Has(c, res::cs::kBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setUniformItemSizes(true);
  return list;
}

}  // namespace

QWidget* DialogBuilder::create(const ControlTemplate& c, QWidget* parent) const {
  switch (c.kind) {
    case ControlKind::GroupBox:
      return new FrameGroupBox(Utf8(c.text), parent);
    case ControlKind::Static: {
      auto* label = new QLabel(Utf8(c.text), parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(TextAlignment(c));
      label->setWordWrap(!Has(c, res::cs::kCenterImage));
      return label;
    }
    case ControlKind::Icon: {
      auto* label = new QLabel(parent);
      label->setPixmap(IconPixmap(c.icon, 32));
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return label;
    }
    case ControlKind::Edit:
      return MakeEdit(c, parent);
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
      auto* button = new QPushButton(Utf8(c.text), parent);
      button->setDefault(c.kind == ControlKind::DefPushButton);
      return button;
    }
    case ControlKind::CheckBox: {
      auto* box = new QCheckBox(Utf8(c.text), parent);
      if (Has(c, res::cs::kLeftText)) box->setLayoutDirection(Qt::RightToLeft);
      return box;
    }
    case ControlKind::RadioButton: {
      auto* radio = new QRadioButton(Utf8(c.text), parent);
      // Groups come from the template, not from sharing a parent.
      radio->setAutoExclusive(false);
      return radio;
    }
    case ControlKind::DropList: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(false);
      for (std::string_view row : c.rows) combo->addItem(Utf8(row));
      combo->setCurrentIndex(-1);
      return combo;
    }
    case ControlKind::ListBox:
      return MakeListBox(c, parent);
    case ControlKind::ListView:
      return MakeListView(c, parent);
  }
  return new QWidget(parent);
}

std::vector<QWidget*> DialogBuilder::build(QWidget* client) const {
  client->setFont(font_);
  client->setFixedSize(clientSize());
  std::vector<QWidget*> made;
  std::map<std::string, int> unnamed;
  QButtonGroup* radioGroup = nullptr;
  for (const ControlTemplate& c : dialog_.controls) {
    QWidget* widget = nullptr;
    if (auto it = factories_.find(c.id); it != factories_.end() && c.id != res::IDC_STATIC)
      widget = it->second(c, client);
    const bool ownMake = widget == nullptr;
    if (ownMake) widget = create(c, client);
    if (c.id != res::IDC_STATIC) {
      widget->setObjectName(ControlName(c.id));
    } else {
      std::string kind = KindName(c.kind);
      widget->setObjectName(QStringLiteral("%1_%2").arg(QString::fromStdString(kind)).arg(unnamed[kind]++));
    }
    QRect rect = toPixels(c.x, c.y, c.cx, c.cy);
    auto* label = ownMake && c.kind == ControlKind::Static ? qobject_cast<QLabel*>(widget) : nullptr;
    if (label != nullptr && rect.height() < 2 * QFontMetrics(font_).height()) {
      // A static one line high shows its line whole: a wider font than the
      // template's must not push a word onto a line that cannot be seen.
      label->setWordWrap(false);
      int width = QFontMetrics(font_).horizontalAdvance(label->text());
      if (width > rect.width()) {
        int grow = width - rect.width();
        if (c.style & res::cs::kCenter)
          rect.adjust(-grow / 2, 0, grow - grow / 2, 0);
        else if (c.style & res::cs::kRight)
          rect.adjust(-grow, 0, 0, 0);
        else
          rect.adjust(0, 0, grow, 0);
      }
    }
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      // The template's height is the dropped list's; the box itself is one row high.
      rect.setHeight(combo->sizeHint().height());
    } else if (c.kind == ControlKind::Icon) {
      rect.setSize(QSize(32, 32));
    }
    widget->setGeometry(rect);
    if (!(c.kind == ControlKind::GroupBox || c.kind == ControlKind::Static || c.kind == ControlKind::Icon)) {
      widget->setFocusPolicy(Has(c, res::cs::kTabStop) ? Qt::StrongFocus : Qt::ClickFocus);
    } else {
      widget->setFocusPolicy(Qt::NoFocus);
    }
    if (c.kind == ControlKind::RadioButton) {
      if (Has(c, res::cs::kGroup) || radioGroup == nullptr) {
        radioGroup = new QButtonGroup(client);
        radioGroup->setObjectName(QStringLiteral("radios_%1").arg(c.id));
        radioGroup->setExclusive(true);
      }
      radioGroup->addButton(static_cast<QRadioButton*>(widget), c.id);
    } else if (Has(c, res::cs::kGroup)) {
      radioGroup = nullptr;
    }
    made.push_back(widget);
  }
  // Template order is the tab order.
  QWidget* previous = nullptr;
  for (QWidget* widget : made) {
    if (widget->focusPolicy() == Qt::NoFocus) continue;
    if (previous != nullptr) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
  return made;
}

namespace {

void AddItems(const std::vector<res::MenuItem>& items, QMenu* menu) {
  for (const res::MenuItem& item : items) {
    if (item.IsSeparator()) {
      menu->addSeparator();
    } else if (item.IsPopup()) {
      QMenu* sub = menu->addMenu(Utf8(item.text));
      sub->setObjectName(QStringLiteral("popup_") + Utf8(item.text));
      AddItems(item.items, sub);
    } else {
      QAction* action = menu->addAction(Utf8(item.text));
      action->setObjectName(CommandName(item.id));
      action->setData(item.id);
    }
  }
}

}  // namespace

void BuildMenu(const res::MenuItem& popup, QMenu* menu) {
  AddItems(popup.items, menu);
}

void BuildMenuBar(const res::MenuTemplate& menu, QMenuBar* bar) {
  QMenuBar* corner = nullptr;
  for (const res::MenuItem& item : menu.items) {
    QMenuBar* target = bar;
    if (item.rightJustify) {
      if (corner == nullptr) {
        corner = new QMenuBar(bar);
        corner->setObjectName(QStringLiteral("rightMenuBar"));
        bar->setCornerWidget(corner, Qt::TopRightCorner);
      }
      target = corner;
    }
    if (item.IsPopup()) {
      QMenu* sub = target->addMenu(Utf8(item.text));
      sub->setObjectName(QStringLiteral("popup_") + Utf8(item.text));
      AddItems(item.items, sub);
    } else if (!item.IsSeparator()) {
      QAction* action = target->addAction(Utf8(item.text));
      action->setObjectName(CommandName(item.id));
      action->setData(item.id);
    }
  }
}

}  // namespace pelvaron::ui
