#include "widgets/status_field.h"

#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace pelvaron::ui {

StatusField::StatusField(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

void StatusField::setFlag(int flag) {
  if (flag == flag_) return;
  flag_ = flag;
  update();
}

void StatusField::setTemplateRect(const QRect& rect) {
  templateRect_ = rect;
  fit();
}

void StatusField::setFieldText(const QString& text) {
  if (text == this->text()) return;
  setText(text);
  fit();
}

void StatusField::fit() {
  if (!templateRect_.isValid()) return;
  int width = std::max(templateRect_.width(), fontMetrics().horizontalAdvance(text()));
  QRect rect(0, templateRect_.y(), width, templateRect_.height());
  rect.moveLeft(templateRect_.center().x() - (width - 1) / 2);
  if (rect.width() == templateRect_.width()) rect.moveLeft(templateRect_.left());
  setGeometry(rect);
}

QRect StatusField::textRect() const {
  QSize size(fontMetrics().horizontalAdvance(text()), fontMetrics().height());
  return QStyle::alignedRect(layoutDirection(), alignment(), size, contentsRect());
}

QColor StatusField::textBackground() const {
  return flag_ == 0 ? QColor(255, 0, 0) : palette().color(QPalette::Button);
}

QColor StatusField::textColour() const {
  return flag_ == 0 ? QColor(255, 255, 255) : QColor(0, 0, 0);
}

void StatusField::paintEvent(QPaintEvent* /*event*/) {
  if (text().isEmpty()) return;
  QPainter painter(this);
  QRect cells = textRect();
  painter.fillRect(cells, textBackground());
  painter.setPen(textColour());
  painter.drawText(cells, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text());
}

}  // namespace pelvaron::ui
