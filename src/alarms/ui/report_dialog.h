#pragma once

#include <QDialog>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <string>
#include <thread>

#include "alarms/priority_table.h"
#include "reports/query/report_query.h"
#include "reports/report_formats.h"

class QComboBox;
class QDateTimeEdit;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pelvaron::ui {

// "Отчёты": the shift or object report of a time range, shown in the
// system's browser, saved as HTML, CSV or JSON, or printed to PDF. Not modal:
// the queue and the console go on meanwhile. The store is read, and the
// report made, on a thread of its own, so that the window never waits.
class ReportDialog : public QDialog {
  Q_OBJECT
 public:
  enum class Action { Show, Save, Pdf };

  ReportDialog(std::string storePath, const PriorityTable& table, QWidget* parent = nullptr);
  ~ReportDialog() override;

  // What "Показать" opens the page with (the system's browser by default).
  void setOpener(std::function<bool(const QUrl&)> open) { open_ = std::move(open); }
  bool busy() const { return busy_; }
  // The query the fields make now.
  ReportQuery query() const;
  ReportKind kind() const;

  // Makes the report and shows it, or writes it to path (Save: the format
  // by the file's suffix, HTML when it has none of csv, json).
  void run(Action action, const QString& path = {});
  // The file dialogs of "Сохранить…" and "Печать в PDF…", in Russian.
  static void PrepareSaveDialog(QFileDialog& dialog, bool pdf);

 signals:
  // After each run: done or not, and what the status line says.
  void finished(bool ok, const QString& message);

 private:
  void kindChanged();
  void choose(Action action);
  void done(Action action, const QString& path, std::string text, const QString& error, const QStringList& notes);
  void say(bool ok, const QString& message);

  std::string storePath_;
  const PriorityTable& table_;
  QComboBox* kind_ = nullptr;
  QDateTimeEdit* from_ = nullptr;
  QDateTimeEdit* to_ = nullptr;
  QLineEdit* address_ = nullptr;
  QPushButton* show_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* pdf_ = nullptr;
  QLabel* status_ = nullptr;
  std::function<bool(const QUrl&)> open_;
  QTemporaryDir pages_;  // the pages shown, for as long as the program runs
  int shown_ = 0;
  bool busy_ = false;
  std::thread thread_;  // one report at a time, joined before the next and at the end
};

}  // namespace pelvaron::ui
