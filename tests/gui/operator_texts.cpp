#include "operator_texts.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabBar>

#include <memory>

namespace pelvaron::testing {

namespace {

// The texts the console's own description gives in Latin letters, as it
// quotes them (messages, formats, names, file names); "\n" stands for a line
// break.
// clang-format off
const char* const kConsoleTexts[] = {
    "gs", "gn", "gc", "2h", "180m", "gd", "sd", "%d:%m:%Y, %H:%M:%S ",
    "Error in opening protocol file", "Cannot install timer", "Error message",
    " : System error(debugging info).", "\\n in: SaveObject();", "\\n in: LoadObject();", "pelvaron.ini",
    "COM1", "COM6", "open", "d", "objects.stt", "protocol.txt", "alarm.wav", "MS Shell Dlg",
    "Pelvaron, вер. 2.0", "List2", "Time", "MS Sans Serif", "Pelvaron, версия 2.0", "%d:%m:%Y, %H:%M",
    "Отсутствие контр. извещения от объекта с адресом '%s'!", "COM2", "COM3", "COM4", "COM5",
    " !\\n Возможно, ресурс используется другой программой.", "\\n", "fSuccess = GetCommState(hCom, &dcb);",
    "Debug info", "fSuccess = SetCommState(hCom, &dcb);", "fSuccess = SetCommMask(hCom,EV_RXCHAR);", "Error",
    "fSuccess = SetupComm(hCom, BUFFER_SIZE,10);",
    "fSuccess = PurgeComm(hCom, PURGE_RXCLEAR | PURGE_TXCLEAR );",
    "fSuccess = SetCommTimeouts(hCom,&CommTimeouts);",
    "Debug information: there were very many or too few digits loaded on the Current Data request!",
    "Contact-ID", "%s%d%s%d", "Нет ответа от Велдор! \\n Проверьте соединение Велдор с компьютером!",
    "Нет ответа от Велдор!\\n Проверьте соединение Велдор с компьютером!", "Неизвестный, тип:%d",
    "    (Тело: %02x %02x %02x %02x)", "     Адрес объекта:      [%s]", "     Адрес объекта:      [%d]",
    "     Тип прибора на объекте - [%s]", "    [%s.нов]", "    [%s.восст]", "[%s]",
    "    Код раздела:           [%s]", "    Номер зоны/пользователя:     [%s]",
    "Ручной обход адреса (manual bypass on)", "Выключение режима обхода адреса (manual bypass off)",
    "Автоматический обход адреса (auto bypass)", "Автоматическое выключение обхода адреса (auto bypass off)",
    "Служебное (%d-нов)", "Служебное (%d-восст)", "Нераспознанное событие (код %x,новое)",
    "Нераспознанное событие (код %x,восстановл.)", "%d", "%x", "%s:%d", "Номер: %d", "%s-реле",
    "Группа: %d", "Раздел:%d", "Польз:%d", "КЛН:%d", "%d (уровень)", "Ветвь:%d", "Адрес:%d",
    "  Контрольное извещение от охранника N %d", "  Дополнительное извещение от охранника N %d",
    "  Постановка шлейфов под охрану охранником N %d", "  Снятие шлейфов с охраны охранником N %d", "N",
    "cвязан c ПЦН", "не cвязан c ПЦН", "   ШС1 = состояние: { %s, %s, %s }", "              описание: { %s, %s}",
    "   ШС2 = состояние: { %s, %s, %s }", "В данной версии программы допустимое количество объектов\\n ограничено числом ",
    "h", "m", " : System error(debugging info).\\n in: SaveObject();",
    " : System error(debugging info).\\n in: LoadObject();", "OK",
    "Вы уверены, что хотите удалить информацию \\n об объекте с адресом '%s' ?",
    "  Информация о состоянии объекта с адресом '%s':\\r\\n\\r\\n  ", "\\r\\nТревога по ШС1, Тип ШС1 : %s",
    "\\r\\nТревога по ШС2, Тип ШС2 : %s", "\\r\\nТревога по ШС1", "\\r\\nТревога по ШС2",
    "Некорректно набраны цифры адреса!\\n(адрес должен быть от 0001 до 9999)",
    "Некорректно введён период контроля!\\n(должно быть, например: 2h или 180m, h - hours, m - minutes )", "\\r\\n",
    " Файл протокола '%s' не существует", "Ошибка: %s", "COM - порт", "txt",
    "Текстовые файлы (*.txt)|*.txt|Все файлы (*.*)|*.*||", "5x",
};
// clang-format on

// "&Открыть" shows as "Открыть"; "Копировать\tCtrl+C" names a key after its tab.
QString Shown(QString text) {
  text = text.section(QChar('\t'), 0, 0);
  text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  text.remove(QChar('&'));
  text.replace(QChar('\x01'), QChar('&'));
  return text;
}

class Walk {
 public:
  Walk(const QStringList& allowed) : allowed_(allowed) {}

  void check(const QString& where, const QString& raw) {
    const QString text = Shown(raw);
    if (text.isEmpty() || allowed_.contains(text) || IsRussian(text) || IsConsoleText(text)) return;
    bad << where + ": " + text;
  }

  void actions(const QString& where, const QList<QAction*>& list) {
    for (QAction* action : list) {
      if (action->isSeparator() || !action->isVisible()) continue;
      check(where + " menu", action->text());
      check(where + " menu tip", action->toolTip() == Shown(action->text()) ? QString() : action->toolTip());
      if (QMenu* sub = action->menu()) actions(where, sub->actions());
    }
  }

  void widget(QWidget* w, QWidget* window) {
    if (w != window && !w->isVisibleTo(window)) return;
    const QString where = w->metaObject()->className() + QStringLiteral(" ") + w->objectName();
    check(where + " tip", w->toolTip());
    if (w->isWindow()) check(where + " title", w->windowTitle());
    if (auto* label = qobject_cast<QLabel*>(w)) check(where, label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) check(where, button->text());
    if (auto* group = qobject_cast<QGroupBox*>(w)) check(where, group->title());
    if (auto* tabs = qobject_cast<QTabBar*>(w)) {
      for (int i = 0; i < tabs->count(); ++i) check(where, tabs->tabText(i));
    }
    if (auto* header = qobject_cast<QHeaderView*>(w); header && header->model()) {
      for (int i = 0; i < header->count(); ++i)
        if (!header->isSectionHidden(i))
          check(where, header->model()->headerData(i, header->orientation()).toString());
    }
    // Folders of the file dialog's "look in" list are the operator's data.
    if (auto* combo = qobject_cast<QComboBox*>(w); combo && combo->objectName() != "lookInCombo") {
      for (int i = 0; i < combo->count(); ++i) check(where, combo->itemText(i));
    }
    if (auto* bar = qobject_cast<QMenuBar*>(w)) actions(where, bar->actions());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      check(where + " placeholder", edit->placeholderText());
      std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
      actions(where + " context", menu->actions());
    }
    if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
      std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
      actions(where + " context", menu->actions());
    }
    // Child windows (a menu bar's menus) are walked through their actions.
    for (QObject* child : w->children()) {
      if (auto* cw = qobject_cast<QWidget*>(child); cw && !cw->isWindow()) widget(cw, window);
    }
  }

  QStringList bad;

 private:
  QStringList allowed_;
};

}  // namespace

bool IsRussian(const QString& text) {
  bool letters = false;
  for (QChar c : text) {
    if (!c.isLetter()) continue;
    if (c.script() == QChar::Script_Cyrillic) return true;
    letters = true;
  }
  return !letters;
}

bool IsConsoleText(const QString& text) {
  for (const char* known : kConsoleTexts) {
    QString k = QString::fromUtf8(known);
    k.replace(QStringLiteral("\\r"), QStringLiteral("\r"));
    k.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    if (k == text) return true;
  }
  return false;
}

QStringList UnreadableTexts(QWidget* window, const QStringList& allowed) {
  Walk walk(allowed);
  walk.widget(window, window);
  return walk.bad;
}

}  // namespace pelvaron::testing
