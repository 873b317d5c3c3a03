#include "alarms/ui/history_window.h"

#include <fcntl.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "core/create_file.h"
#include "store/history_format.h"
#include "widgets/focus_frame.h"
#include "widgets/notice.h"
#include "widgets/qt_texts.h"
#include "widgets/whole_date_time_edit.h"

namespace pelvaron::ui {

namespace {

enum Column { kSeq, kTime, kAddress, kPriority, kEvent, kAcknowledgement, kColumnCount };
// A long note leaves room for the event's text.
constexpr int kMaxAcknowledgementWidth = 240;

}  // namespace

HistoryWindow::HistoryWindow(std::string storePath, const PriorityTable& table, QWidget* parent)
    : QWidget(parent, Qt::Window), storePath_(std::move(storePath)), table_(table) {
  setObjectName(QStringLiteral("eventHistoryWindow"));
  setWindowTitle(QStringLiteral("История событий"));

  const QDate today = QDate::currentDate();
  from_ = new WholeDateTimeEdit(QDateTime(today, QTime(0, 0)), this);
  from_->setObjectName(QStringLiteral("fromEdit"));
  to_ = new WholeDateTimeEdit(QDateTime(today, QTime(23, 59, 59)), this);
  to_->setObjectName(QStringLiteral("toEdit"));
  for (QDateTimeEdit* edit : {from_, to_}) {
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));  // as OperatorTime writes it
    edit->setCalendarPopup(true);
  }
  address_ = new QLineEdit(this);
  address_->setObjectName(QStringLiteral("addressEdit"));
  address_->setPlaceholderText(QStringLiteral("все объекты"));
  address_->setMaxLength(5);
  priority_ = new QComboBox(this);
  priority_->setObjectName(QStringLiteral("priorityBox"));
  priority_->addItem(QStringLiteral("все"), QString());
  for (const Priority& p : table_.priorities()) priority_->addItem(Utf8(p.title), Utf8(p.name));
  text_ = new QLineEdit(this);
  text_->setObjectName(QStringLiteral("textEdit"));
  text_->setPlaceholderText(QStringLiteral("часть текста события или примечания"));
  search_ = new QPushButton(QStringLiteral("Найти"), this);
  search_->setObjectName(QStringLiteral("searchButton"));
  export_ = new QPushButton(QStringLiteral("Экспорт в CSV…"), this);
  export_->setObjectName(QStringLiteral("exportButton"));
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("historyStatus"));

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("historyList"));
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setHeaderLabels({QStringLiteral("№"), QStringLiteral("Время"), QStringLiteral("Адрес"),
                          QStringLiteral("Приоритет"), QStringLiteral("Событие"), QStringLiteral("Подтверждение")});
  // The event's text takes the width the other columns leave.
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(kEvent, QHeaderView::Stretch);

  auto* filters = new QFormLayout;
  auto* range = new QHBoxLayout;
  range->addWidget(from_);
  range->addWidget(new QLabel(QStringLiteral("по"), this));
  range->addWidget(to_);
  range->addStretch(1);
  filters->addRow(QStringLiteral("С"), range);
  filters->addRow(QStringLiteral("Адрес объекта"), address_);
  filters->addRow(QStringLiteral("Приоритет"), priority_);
  filters->addRow(QStringLiteral("Текст"), text_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(status_, 1);
  buttons->addWidget(search_);
  buttons->addWidget(export_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addLayout(buttons);
  layout->addWidget(list_, 1);

  connect(search_, &QPushButton::clicked, this, &HistoryWindow::search);
  connect(export_, &QPushButton::clicked, this, &HistoryWindow::chooseExportFile);
  // Enter in any of the filters searches ("Найти" is no default button: a
  // plain window has none).
  for (QWidget* filter : std::initializer_list<QWidget*>{from_, to_, address_, priority_, text_}) {
    filter->installEventFilter(this);
  }
  // The filters in the order they are read, each one Tab away from the last.
  QWidget* order[] = {from_, to_, address_, priority_, text_, search_, export_, list_};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  FocusFrame::Install(this);
  resize(1000, 520);
}

HistoryWindow::~HistoryWindow() {
  if (thread_.joinable()) thread_.join();
}

void HistoryWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool HistoryWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      search();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

HistoryQuery HistoryWindow::query() const {
  HistoryQuery q;
  q.from = from_->dateTime().toSecsSinceEpoch();
  q.to = to_->dateTime().toSecsSinceEpoch();
  q.address = address_->text().trimmed().toStdString();
  q.priority = priority_->currentData().toString().toStdString();
  q.text = text_->text().trimmed().toStdString();
  q.limit = kMaxRows;
  return q;
}

void HistoryWindow::search() {
  if (searching_) {
    again_ = true;
    return;
  }
  searching_ = true;
  status_->setText(QStringLiteral("Поиск…"));
  if (thread_.joinable()) thread_.join();
  QPointer<HistoryWindow> self(this);
  thread_ = std::thread([self, path = storePath_, q = query()] {
    EventStore store;
    const Result<> opened = store.Open(path, EventStore::Mode::ReadOnly);
    Result<std::vector<StoredEvent>> found = opened ? store.Search(q) : opened.problem();
    std::vector<StoredEvent> rows;
    QString error;
    if (found) {
      rows = std::move(*found);
    } else {
      error = QStringLiteral("Хранилище событий %1 не читается: %2 (%3)")
                  .arg(QString::fromStdString(path), QString::fromStdString(found.problem().text),
                       QString::fromStdString(found.problem().cause));
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, rows = std::move(rows), error]() mutable {
          if (self) self->showResults(std::move(rows), error);
        },
        Qt::QueuedConnection);
  });
}

void HistoryWindow::showResults(std::vector<StoredEvent> results, const QString& error) {
  searching_ = false;
  results_ = std::move(results);
  list_->clear();
  QList<QTreeWidgetItem*> items;
  for (const StoredEvent& e : results_) {
    auto* item = new QTreeWidgetItem;
    item->setText(kSeq, QString::number(e.seq));
    item->setText(kTime, Utf8(OperatorTime(e.time)));
    item->setText(kAddress, Utf8(e.address));
    item->setText(kPriority, Utf8(table_.TitleOf(e.cls.priority)));
    item->setText(kEvent, Utf8(e.text));
    item->setToolTip(kEvent, Utf8(e.text));
    if (e.acknowledged) {
      QString ack = Utf8(OperatorTime(e.ackTime));
      if (!e.ackNote.empty()) ack += QStringLiteral(": ") + Utf8(e.ackNote);
      item->setText(kAcknowledgement, ack);
      item->setToolTip(kAcknowledgement, ack);
    } else if (e.cls.role == 1) {
      item->setText(kAcknowledgement, QStringLiteral("не подтверждена"));
    }
    item->setTextAlignment(kSeq, Qt::AlignRight | Qt::AlignVCenter);
    items.append(item);
  }
  list_->addTopLevelItems(items);
  for (int c = 0; c < kColumnCount; ++c) {
    if (c != kEvent) list_->resizeColumnToContents(c);
  }
  list_->setColumnWidth(kAcknowledgement, std::min(list_->columnWidth(kAcknowledgement), kMaxAcknowledgementWidth));
  if (!error.isEmpty()) {
    status_->setText(error);
  } else if (results_.size() >= kMaxRows) {
    status_->setText(QStringLiteral("Показаны последние %1 событий; уточните поиск.").arg(kMaxRows));
  } else {
    status_->setText(QStringLiteral("Найдено событий: %1").arg(results_.size()));
  }
  emit searchFinished(static_cast<int>(results_.size()));
  if (again_) {
    again_ = false;
    search();
  }
}

bool HistoryWindow::exportCsv(const QString& path) {
  const std::string csv =
      FormatHistorySpreadsheet(results_, [this](const std::string& name) { return table_.TitleOf(name); });
  Result<UniqueFd> made = CreateFile(path.toStdString(), O_WRONLY | O_TRUNC, WhenThere::OpenThroughLinks);
  if (!made) {
    status_->setText(QStringLiteral("Файл %1 не записан: %2").arg(path, QString::fromStdString(made.problem().cause)));
    return false;
  }
  QFile file;
  if (!file.open(made->release(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
      !file.flush()) {
    status_->setText(QStringLiteral("Файл %1 не записан: %2").arg(path, file.errorString()));
    return false;
  }
  status_->setText(QStringLiteral("Записано событий: %1 в %2").arg(results_.size()).arg(path));
  return true;
}

void HistoryWindow::PrepareExportFileDialog(QFileDialog& dialog) {
  dialog.setWindowTitle(QStringLiteral("Экспорт в CSV"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The list in Russian, as the protocol file's dialog; the filter shows up
  // to its last parentheses.
  RussianFileList(dialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters({QStringLiteral("Файлы CSV (*.csv) (*.csv)"), QStringLiteral("Все файлы (*.*) (*)")});
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  dialog.selectFile(QStringLiteral("история.csv"));
}

void HistoryWindow::chooseExportFile() {
  QFileDialog dialog(this);
  PrepareExportFileDialog(dialog);
  if (ExecWindowModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    exportCsv(dialog.selectedFiles().front());
  }
}

}  // namespace pelvaron::ui
