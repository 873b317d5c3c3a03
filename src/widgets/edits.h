#pragma once

// Edit controls that behave like the console's: a text limit that stops
// typing but not a text put in by the program (so an over-long value can be
// shown and then refused on reading back), and no character that Windows-1251
// cannot hold, since every text ends up in a Windows-1251 field.

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QString>

namespace pelvaron::ui {

// Tells the operator, next to the edit, that a character was refused.
void ShowRefusedCharacter(QWidget* edit, QChar c);
// The first character of the text that Windows-1251 cannot hold, or a null QChar.
QChar FirstUnfitCharacter(const QString& text);

class LimitedLineEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit LimitedLineEdit(QWidget* parent = nullptr);

  // Most characters typing may reach; 0 for no limit.
  void setLimit(int chars) { limit_ = chars; }
  int limit() const { return limit_; }
  bool withinLimit() const { return limit_ == 0 || text().size() <= limit_; }

  // Puts a text in as the program's, past the limit if need be.
  void setText(const QString& text);

  // The text as it was before the edit now being checked.
  const QString& acceptedText() const { return accepted_; }
  bool settingText() const { return programmatic_; }

 private:
  int limit_ = 0;
  bool programmatic_ = false;
  QString accepted_;
};

// A multi-line edit whose text is exchanged with "\r\n" line breaks, each
// counting two characters against the limit, as the stored texts have them.
// Like the dialogs' multi-line edits without the want-return style, Enter is
// left to the dialog (its default button) and Ctrl+Enter breaks the line.
class LimitedTextEdit : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit LimitedTextEdit(QWidget* parent = nullptr);

  // Enter breaks the line instead of reaching the dialog.
  void setWantReturn(bool want) { wantReturn_ = want; }
  bool wantReturn() const { return wantReturn_; }

  void setLimit(int chars) { limit_ = chars; }
  int limit() const { return limit_; }
  bool withinLimit() const { return limit_ == 0 || storedLength() <= limit_; }

  // The text with "\r\n" line breaks.
  QString text() const;
  // Takes "\r\n" or "\n" line breaks; not cut to the limit.
  void setText(const QString& text);
  // Length of text(): line breaks count two.
  int storedLength() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void onContentsChange(int position, int removed, int added);

  bool wantReturn_ = false;
  int limit_ = 0;
  bool programmatic_ = false;
};

}  // namespace pelvaron::ui
