// "Отчёты…": the dialog over a seeded store, offscreen.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "alarms/ui/report_dialog.h"
#include "gui_support.h"
#include "reports/report_store_seed.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

using ui::ReportDialog;

class ReportDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::GuiApp();
    ASSERT_FALSE(folder_.Path().empty());
    noon_ = QDateTime(QDate::currentDate(), QTime(12, 0)).toSecsSinceEpoch();
    EventStore store;
    ASSERT_TRUE(testing::Succeeded(store.Open("events.sqlite", EventStore::Mode::ReadWrite)));
    testing::StoreSeed put(store);
    const std::uint64_t fire = put.Alarm(noon_, "0301", "fire", "k110");
    put.Handle(noon_ + 25, EventKind::AlarmAcknowledged, fire, "0301", {}, {}, "Иванова");
    put.Handle(noon_ + 95, EventKind::AlarmClosed, fire, "0301", "test", {}, "Иванова");
  }

  // Runs the dialog's report and waits for its end: done, and what it said.
  std::pair<bool, QString> Run(ReportDialog& d, ReportDialog::Action action, const QString& path = {}) {
    QSignalSpy finished(&d, &ReportDialog::finished);
    d.run(action, path);
    if (finished.isEmpty() && !finished.wait(20000)) return {false, "no answer"};
    return {finished.front()[0].toBool(), finished.front()[1].toString()};
  }
  void Range(ReportDialog& d, int kind) {
    d.findChild<QComboBox*>("kindBox")->setCurrentIndex(kind);
    d.findChild<QDateTimeEdit*>("fromEdit")->setDateTime(QDateTime::fromSecsSinceEpoch(noon_ - 3600));
    d.findChild<QDateTimeEdit*>("toEdit")->setDateTime(QDateTime::fromSecsSinceEpoch(noon_ + 3600));
  }
  static QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  testing::WorkFolder folder_{"pelvaron-report-gui"};
  std::int64_t noon_ = 0;
};

TEST_F(ReportDialogTest, MakesTheReportInEveryFormWithoutHoldingTheWindow) {
  ReportDialog d("events.sqlite", PriorityTable::Defaults());
  d.show();
  QUrl shown;
  d.setOpener([&](const QUrl& url) {
    shown = url;
    return true;
  });
  Range(d, 0);

  // Saved as CSV by the file's suffix: the fire with its 25 s and 95 s.
  auto [ok, said] = Run(d, ReportDialog::Action::Save, "смена.csv");
  ASSERT_TRUE(ok) << said.toStdString();
  const QList<QByteArray> rows = Read("смена.csv").split('\n');
  ASSERT_GE(rows.size(), 2);
  EXPECT_TRUE(rows[0].startsWith("number,station,address")) << rows[0].toStdString();
  EXPECT_TRUE(rows[1].startsWith("1,Пульт,0301,")) << rows[1].toStdString();
  EXPECT_TRUE(rows[1].endsWith(",25,95\r")) << rows[1].toStdString();

  // Shown: the page with its charts, in a file the browser is given.
  std::tie(ok, said) = Run(d, ReportDialog::Action::Show);
  ASSERT_TRUE(ok) << said.toStdString();
  ASSERT_TRUE(shown.isLocalFile());
  const QByteArray page = Read(shown.toLocalFile());
  EXPECT_TRUE(page.contains("<svg")) << page.left(200).toStdString();
  EXPECT_TRUE(page.contains("0301"));

  // Printed: a PDF file of its own.
  std::tie(ok, said) = Run(d, ReportDialog::Action::Pdf, "смена.pdf");
  ASSERT_TRUE(ok) << said.toStdString();
  const QByteArray pdf = Read("смена.pdf");
  EXPECT_TRUE(pdf.startsWith("%PDF-"));
  EXPECT_GE(pdf.count("/Subtype /Image"), 2) << "the charts drawn as images";
  EXPECT_FALSE(QFile::exists("смена.pdf.new"));

  // What cannot be done is said, and nothing is written.
  Range(d, 1);
  std::tie(ok, said) = Run(d, ReportDialog::Action::Save, "объект.json");
  EXPECT_FALSE(ok);
  EXPECT_TRUE(said.contains("укажите адрес объекта")) << said.toStdString();
  d.findChild<QLineEdit*>("addressEdit")->setText("301");
  std::tie(ok, said) = Run(d, ReportDialog::Action::Save, "объект.json");
  ASSERT_TRUE(ok) << said.toStdString();
  EXPECT_TRUE(Read("объект.json").contains("\"0301\""));

  ReportDialog missing("nowhere/events.sqlite", PriorityTable::Defaults());
  std::tie(ok, said) = Run(missing, ReportDialog::Action::Save, "нет.csv");
  EXPECT_FALSE(ok);
  EXPECT_TRUE(said.contains("Хранилища событий nowhere/events.sqlite нет")) << said.toStdString();
  EXPECT_FALSE(QFile::exists("нет.csv"));
}

}  // namespace
}  // namespace pelvaron
