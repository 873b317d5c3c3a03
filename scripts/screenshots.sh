#!/usr/bin/env bash
# Renders the console's windows, as the views build them, into PNG files
# (under Xvfb when it is installed, else offscreen): docs/images/<name>.png.
# Usage: scripts/screenshots.sh [build-dir] [out-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="$(realpath -m "${2:-docs/images}")"
mkdir -p "$out"

cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target pelvaron_gui

src="$build/screenshots_main.cpp"
cat >"$src" <<'EOF'
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QMessageBox>
#include <QPainter>
#include <QTreeWidget>

#include <ctime>

#include "alarms/priority_table.h"
#include "alarms/ui/alarm_queue_window.h"
#include "alarms/ui/history_window.h"
#include "store/event_store.h"
#include "app/ui/about_box.h"
#include "app/ui/console_window.h"
#include "link/ui/exchange_progress_dlg.h"
#include "link/ui/receiver_settings_page.h"
#include "objects/ui/object_card_dlg.h"
#include "objects/ui/object_state_dlg.h"
#include "protocol/ui/settings_page.h"
#include "widgets/property_sheet.h"
#include "widgets/qt_texts.h"

using namespace pelvaron;
using namespace pelvaron::ui;

// The window as shown, active, so that its keyboard focus shows too.
static void Save(QWidget* w, const QString& dir, const QString& name) {
  w->show();
  w->activateWindow();
  for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  w->grab().save(dir + "/" + name + ".png");
  w->hide();
}

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  InstallRussianQtTexts();
  const QString dir = argc > 1 ? argv[1] : "docs/images";

  CConsoleDlg console;
  StatusView status;
  status.m_strDateTime = "06:12:2026, 08:47";
  status.m_strLinkState = "  Норма  ";
  status.m_strCaseState = "  ВСКРЫТ !  ";
  status.m_strLineState = "  Норма  ";
  status.bLinkOk = 1;
  status.bCaseClosed = 0;
  status.bLineOk = 1;
  console.setStatus(status);
  console.setObjectRows({{false, " 0001", "+", "2h", "0m", "Магазин, ул. Лесная 5"},
                         {true, " 0002", "+", "1h", "1h0m", "Склад"},
                         {false, " 0012", "+", "3h", "2m", "Офис, 2 этаж"},
                         {false, " 0105", "-", "90m", "12m", "Аптека"}});
  for (const char* line : {
           ">>", "06:12:2026, 08:47:42   Включение программы", "06:12:2026, 08:47:43   Восстановление связи с Велдор",
           " ", "06:12:2026, 08:48:03   Сообщение : ", "    [ 18  52  63  1  19  0  3  0  0  156  ]",
           "     Адрес объекта:      [1234]", "     Тип прибора на объекте - [\"Contact-ID\"]", "    [130.нов]",
           "[Охранная тревога]", "    Код раздела:           [01]", "    Номер зоны/пользователя:     [003]", " ",
           "06:12:2026, 08:48:06   Сообщение : ", "    [ 0  18  10  0  0  16  0  0  0  44  ]",
           "     Адрес объекта:      [0012]", "     Тип прибора на объекте - [ОРН]",
           "  Контрольное извещение от охранника N 1",
           "   ШС1 = состояние: { норма, охраняется, \"норма\" }", "              описание: { охранный, связан с ПЦН}",
           "   ШС2 = состояние: { норма, не охраняется, \"норма\" }",
           "              описание: { охранный, не связан с ПЦН}",
           "06:12:2026, 08:48:30   Вскрытие корпуса Велдор!",
           "06:12:2026, 08:49:00   Отсутствие контр. извещения от объекта с адресом '0002'!"})
    console.addLine(QString::fromUtf8(line));
  Save(&console, dir, "main-window");

  CAboutBox about;
  Save(&about, dir, "about-box");

  CObjectCardDlg card;
  card.m_strAddress = "0005";
  card.m_strPeriod = "3h";
  card.m_strComment = "Офис\r\nвторой этаж";
  card.m_bControl = 1;
  card.m_strLoop1Type = "Не определён";
  card.m_strLoop2Type = "Не определён";
  card.m_strState = "Тревога - нарушение охранных шлейфов!\r\nТревога по ШС1";
  Save(&card, dir, "object-card");

  CObjectStateDlg state;
  state.m_strInfo = "  Информация о состоянии объекта с адресом '0005':\r\n\r\n  Состояние объекта - Норма";
  Save(&state, dir, "object-state");

  auto* settings = new Settings;
  settings->m_bSaveProtocol = 1;
  settings->m_nComPort = 0;
  settings->m_strProtocolPath = "protocol.txt";
  settings->m_strAttempts = "12";
  PropertySheet sheet131(settings);
  Save(&sheet131, dir, "program-settings");

  auto* receiver = new Pult_settings;
  receiver->m_bCheckLine = 1;
  receiver->m_nCheckInterval = 1;
  receiver->m_nPickupRings = 2;
  receiver->m_nMainFormat = 0;
  receiver->m_nFormatCount = 1;
  PropertySheet sheet133(receiver);
  Save(&sheet133, dir, "receiver-settings");

  CExchangeProgressDlg progress(&console);
  progress.setTexts("Идёт обмен информацией ...", "Попытка связи 3 из 12");
  Save(&progress, dir, "exchange-progress");
  progress.setClosingNotice(true);
  Save(&progress, dir, "exchange-progress-closing");

  AlarmQueueWindow queue;
  {
    const std::int64_t now = std::time(nullptr);
    auto row = [&](std::uint64_t id, int priority, const char* title, const char* colour, const char* address,
                   const char* comment, const char* text, std::int64_t age, int repeats, bool restored) {
      AlarmRow r;
      r.entry.id = id;
      r.entry.priority = priority;
      r.entry.address = address;
      r.entry.text = text;
      r.entry.firstTime = now - age;
      r.entry.lastTime = now - age / 2;
      r.entry.repeats = repeats;
      r.entry.restored = restored;
      r.entry.restoreTime = now - 20;
      r.entry.needsAck = true;
      r.priorityTitle = title;
      r.colour = colour;
      r.comment = comment;
      return r;
    };
    AlarmView view;
    view.sounding = true;
    view.rows = {row(41, 0, "Пожар", "#FF4040", "1234", "Склад, ул. Заводская 3", "Пожарная тревога", 95, 2, false),
                 row(38, 2, "Проникновение", "#FFA040", "0012", "Офис, 2 этаж", "Охранная тревога", 310, 0, true),
                 row(39, 2, "Проникновение", "#FFA040", "0105", "Магазин \"Продукты\"", "Охранная тревога", 200, 0, false),
                 row(40, 3, "Вскрытие", "#FFE060", "", "", "Вскрытие корпуса", 140, 0, false)};
    queue.setView(view);
    // The operator has chosen the restored burglary; the others are new to him.
    queue.list()->topLevelItem(1)->setSelected(true);
    queue.resize(1100, 300);
    Save(&queue, dir, "alarm-queue");
    queue.setSoundWarning(QString::fromUtf8("Звук тревоги не работает: нет проигрывателя звука aplay (пакет alsa-utils). "
                                            "Проверьте звуковое устройство; звук пробуется снова при каждой новой "
                                            "тревоге и раз в минуту."), true);
    Save(&queue, dir, "alarm-queue-sound-warning");
  }

  {
    // A message that came three times while its box was open.
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8("Ошибка"),
                    QString::fromUtf8("Не удаётся обнаружить COM1 !\n Возможно, ресурс используется другой программой."),
                    QMessageBox::Ok);
    box.setInformativeText(QString::fromUtf8("Таких сообщений: 3"));
    Save(&box, dir, "counted-box");
  }

  {
    // The history of a day, searched from a store of its own.
    const QString folder = QDir::tempPath() + "/pelvaron-screenshots-history";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const std::string path = (folder + "/events.sqlite").toStdString();
    const std::int64_t noon = QDateTime(QDate::currentDate(), QTime(12, 0)).toSecsSinceEpoch();
    {
      EventStore store;
      store.Open(path, EventStore::Mode::ReadWrite);
      auto add = [&](std::uint64_t seq, std::int64_t at, EventKind kind, const char* address, const char* text,
                     StoredClass cls, std::uint64_t ref = 0, const char* note = "") {
        Event e;
        e.seq = seq;
        e.time = at;
        e.kind = kind;
        e.address = address;
        e.text = text;
        e.ref = ref;
        e.detail = note;
        store.Insert(e, cls);
      };
      add(101, noon - 3600, EventKind::Message, "0012", "Контрольное извещение от охранника N 1", {"information", 0, ""});
      add(102, noon - 1800, EventKind::Message, "0105", "Охранная тревога", {"burglary", 1, "cid:130:01:003"});
      add(103, noon - 1750, EventKind::AlarmAcknowledged, "0105", "Подтверждена тревога №102, объект '0105'",
          {"", 3, ""}, 102, "выехала группа");
      add(104, noon - 600, EventKind::Message, "1234", "Пожарная тревога", {"fire", 1, "cid:110:01:007"});
      add(105, noon, EventKind::ObjectOverdue, "0777", "Отсутствие контр. извещения от объекта с адресом '0777'!",
          {"supervision", 1, "console:object-overdue"});
    }
    HistoryWindow history(path, PriorityTable::Defaults());
    QEventLoop wait;
    QObject::connect(&history, &HistoryWindow::searchFinished, &wait, &QEventLoop::quit);
    history.search();
    wait.exec();
    history.resize(1000, 360);
    Save(&history, dir, "history-window");
    QDir(folder).removeRecursively();
  }

  QPixmap icons(80, 40);
  icons.fill(Qt::white);
  {
    QPainter p(&icons);
    p.drawPixmap(2, 4, IconPixmap(res::IDI_PROGRAM, 32));
    p.drawPixmap(38, 4, IconPixmap(res::IDI_PROGRAM, 16));
    p.drawPixmap(38, 22, IconPixmap(res::IDI_ALARM, 16));
    p.drawPixmap(58, 22, IconPixmap(res::IDI_NORMAL, 16));
  }
  icons.save(dir + "/icons.png");
  return 0;
}
EOF

flags=$(pkg-config --cflags Qt6Widgets)
libs=$(pkg-config --libs Qt6Widgets)
g++ -std=c++20 -fPIC -I src $flags "$src" -o "$build/screenshots" \
  "$build/src/libpelvaron_gui.a" "$build/src/libpelvaron_alarms.a" "$build/src/libpelvaron_store.a" "$build/src/libpelvaron_platform.a" \
  "$build/src/libpelvaron_outputs.a" "$build/src/libpelvaron_core.a" $libs -lsqlite3
# A real X server (Xvfb) where there is one, so the pictures are what a desktop shows.
if command -v xvfb-run >/dev/null 2>&1; then
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" "$build/screenshots" "$out"
else
  QT_QPA_PLATFORM=offscreen "$build/screenshots" "$out"
fi
ls "$out"
