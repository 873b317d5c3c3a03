#pragma once

#include <QLabel>
#include <QRect>

namespace pelvaron::ui {

// A status static of the main window. While its flag is 0 the cells behind
// the characters are red and the text white; otherwise they are the button
// face and the text black. The rest of the control keeps the window's
// background, so the spaces around a text such as "  Отсутствие!  " widen the
// band. A text wider than the template rectangle grows the control about its
// centre instead of being cut.
class StatusField : public QLabel {
  Q_OBJECT
 public:
  explicit StatusField(QWidget* parent = nullptr);

  void setFlag(int flag);
  int flag() const { return flag_; }

  // The template rectangle, in pixels, the control is centred on.
  void setTemplateRect(const QRect& rect);
  void setFieldText(const QString& text);

  // Where the text's cells are, in the control's coordinates.
  QRect textRect() const;
  QColor textBackground() const;
  QColor textColour() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void fit();

  int flag_ = 1;
  QRect templateRect_;
};

}  // namespace pelvaron::ui
