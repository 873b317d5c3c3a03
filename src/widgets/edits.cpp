#include "widgets/edits.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolTip>
#include <QValidator>

#include <algorithm>

#include "core/cp1251.h"

namespace pelvaron::ui {

namespace {

// Refuses typing that would pass the edit's limit or bring in a character
// Windows-1251 cannot hold. A shorter text always passes, so an over-long
// text put in by the program can still be shortened.
class LimitValidator : public QValidator {
 public:
  explicit LimitValidator(LimitedLineEdit* edit) : QValidator(edit), edit_(edit) {}

  State validate(QString& input, int& /*pos*/) const override {
    if (edit_->settingText()) return Acceptable;
    const QString& before = edit_->acceptedText();
    QChar bad = FirstUnfitCharacter(input);
    if (!bad.isNull() && FirstUnfitCharacter(before).isNull()) {
      if (edit_->hasFocus()) ShowRefusedCharacter(edit_, bad);
      return Invalid;
    }
    int limit = edit_->limit();
    if (limit > 0 && input.size() > limit && input.size() >= before.size()) return Invalid;
    return Acceptable;
  }

 private:
  LimitedLineEdit* edit_;
};

}  // namespace

QChar FirstUnfitCharacter(const QString& text) {
  for (int i = 0; i < text.size(); ++i) {
    QChar c = text.at(i);
    if (c.unicode() < 0x80) continue;
    // A surrogate pair is never in Windows-1251.
    if (c.isSurrogate()) return c;
    if (!FitsCp1251(QString(c).toStdString())) return c;
  }
  return {};
}

void ShowRefusedCharacter(QWidget* edit, QChar c) {
  QString shown = c.isSurrogate() ? QStringLiteral("?") : QString(c);
  QToolTip::showText(
      edit->mapToGlobal(QPoint(0, edit->height())),
      QStringLiteral("Символ «%1» недопустим: текст хранится в кодировке Windows-1251.").arg(shown), edit);
}

LimitedLineEdit::LimitedLineEdit(QWidget* parent) : QLineEdit(parent) {
  setValidator(new LimitValidator(this));
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { accepted_ = text; });
}

void LimitedLineEdit::setText(const QString& text) {
  programmatic_ = true;
  QLineEdit::setText(text);
  programmatic_ = false;
  accepted_ = text;
}

LimitedTextEdit::LimitedTextEdit(QWidget* parent) : QPlainTextEdit(parent) {
  setTabChangesFocus(true);
  connect(document(), &QTextDocument::contentsChange, this, &LimitedTextEdit::onContentsChange);
}

QString LimitedTextEdit::text() const {
  QString plain = toPlainText();
  plain.replace(QChar('\n'), QStringLiteral("\r\n"));
  return plain;
}

void LimitedTextEdit::setText(const QString& text) {
  QString plain = text;
  plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  programmatic_ = true;
  setPlainText(plain);
  programmatic_ = false;
}

void LimitedTextEdit::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && !wantReturn_) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier && !isReadOnly()) {
      insertPlainText(QStringLiteral("\n"));
      return;
    }
    event->ignore();  // to the dialog
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

int LimitedTextEdit::storedLength() const {
  QString plain = toPlainText();
  return static_cast<int>(plain.size() + plain.count(QChar('\n')));
}

void LimitedTextEdit::onContentsChange(int position, int /*removed*/, int added) {
  if (programmatic_ || added <= 0) return;
  // The document counts its closing block separator; positions stop before it.
  added = std::min(added, document()->characterCount() - 1 - position);
  if (added <= 0) return;
  programmatic_ = true;
  QTextCursor cursor(document());
  // Characters Windows-1251 cannot hold are taken out again.
  cursor.setPosition(position);
  cursor.setPosition(position + added, QTextCursor::KeepAnchor);
  // The selection shows line breaks as paragraph separators.
  QString inserted = cursor.selectedText();
  inserted.replace(QChar::ParagraphSeparator, QChar('\n'));
  inserted.replace(QChar::LineSeparator, QChar('\n'));
  QChar bad = FirstUnfitCharacter(inserted);
  if (!bad.isNull()) {
    QString kept;
    for (QChar c : inserted)
      if (FirstUnfitCharacter(QString(c)).isNull()) kept += c;
    cursor.insertText(kept);
    added = static_cast<int>(kept.size());
    if (hasFocus()) ShowRefusedCharacter(this, bad);
  }
  // What passes the limit is cut from the end of what was just typed.
  while (limit_ > 0 && added > 0 && storedLength() > limit_) {
    cursor.setPosition(position + added);
    cursor.deletePreviousChar();
    --added;
  }
  programmatic_ = false;
}

}  // namespace pelvaron::ui
