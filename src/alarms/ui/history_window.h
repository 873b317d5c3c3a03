#pragma once

#include <QString>
#include <QWidget>

#include <string>
#include <thread>
#include <vector>

#include "alarms/priority_table.h"
#include "store/event_store.h"

class QComboBox;
class QFileDialog;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace pelvaron::ui {

// "История событий": a search of the event store by time range, object
// address, priority and text, newest first, and its export to CSV. The search
// runs on a thread of its own with its own reading connection, so neither
// the window nor the console waits for the disk.
class HistoryWindow : public QWidget {
  Q_OBJECT
 public:
  static constexpr std::size_t kMaxRows = 10000;

  HistoryWindow(std::string storePath, const PriorityTable& table, QWidget* parent = nullptr);
  ~HistoryWindow() override;

  QTreeWidget* list() const { return list_; }
  const std::vector<StoredEvent>& results() const { return results_; }
  bool searching() const { return searching_; }
  // The query the filters make now.
  HistoryQuery query() const;
  // Writes the results shown; false after telling the operator why not.
  bool exportCsv(const QString& path);
  // The file dialog of "Экспорт в CSV…", in Russian.
  static void PrepareExportFileDialog(QFileDialog& dialog);

 public slots:
  void search();
  void chooseExportFile();

 signals:
  void searchFinished(int count);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void showResults(std::vector<StoredEvent> results, const QString& error);

  std::string storePath_;
  const PriorityTable& table_;
  QDateTimeEdit* from_ = nullptr;
  QDateTimeEdit* to_ = nullptr;
  QLineEdit* address_ = nullptr;
  QComboBox* priority_ = nullptr;
  QLineEdit* text_ = nullptr;
  QPushButton* search_ = nullptr;
  QPushButton* export_ = nullptr;
  QLabel* status_ = nullptr;
  QTreeWidget* list_ = nullptr;
  std::vector<StoredEvent> results_;
  bool searching_ = false;
  bool again_ = false;  // the filters changed while a search ran
  std::thread thread_;  // one search at a time, joined before the next and at the end
};

}  // namespace pelvaron::ui
