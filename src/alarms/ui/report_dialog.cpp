#include "alarms/ui/report_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>
#include <ctime>
#include <span>

#include "alarms/ui/report_pdf.h"
#include "platform/real_file_system.h"
#include "reports/query/report_range.h"
#include "widgets/focus_frame.h"
#include "widgets/notice.h"
#include "widgets/qt_texts.h"
#include "widgets/whole_date_time_edit.h"

namespace pelvaron::ui {

namespace {

QDateTime Local(std::int64_t time) {
  return QDateTime::fromSecsSinceEpoch(time);
}

ReportFormat FormatOfFile(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QStringLiteral("csv")) return ReportFormat::Csv;
  if (suffix == QStringLiteral("json")) return ReportFormat::Json;
  return ReportFormat::Html;
}

}  // namespace

ReportDialog::ReportDialog(std::string storePath, const PriorityTable& table, QWidget* parent)
    : QDialog(parent), storePath_(std::move(storePath)), table_(table) {
  setObjectName(QStringLiteral("reportDialog"));
  setWindowTitle(QStringLiteral("Отчёты"));
  setModal(false);
  open_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

  kind_ = new QComboBox(this);
  kind_->setObjectName(QStringLiteral("kindBox"));
  kind_->addItem(QStringLiteral("Отчёт за смену"), static_cast<int>(ReportKind::Shift));
  kind_->addItem(QStringLiteral("Отчёт по объекту"), static_cast<int>(ReportKind::Object));
  from_ = new WholeDateTimeEdit(this);
  from_->setObjectName(QStringLiteral("fromEdit"));
  to_ = new WholeDateTimeEdit(this);
  to_->setObjectName(QStringLiteral("toEdit"));
  for (QDateTimeEdit* edit : {from_, to_}) {
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    edit->setCalendarPopup(true);
  }
  address_ = new QLineEdit(this);
  address_->setObjectName(QStringLiteral("addressEdit"));
  address_->setMaxLength(5);
  show_ = new QPushButton(QStringLiteral("Показать"), this);
  show_->setObjectName(QStringLiteral("showButton"));
  show_->setDefault(true);
  save_ = new QPushButton(QStringLiteral("Сохранить…"), this);
  save_->setObjectName(QStringLiteral("saveButton"));
  pdf_ = new QPushButton(QStringLiteral("Печать в PDF…"), this);
  pdf_->setObjectName(QStringLiteral("pdfButton"));
  auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("reportStatus"));
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Отчёт"), kind_);
  auto* range = new QHBoxLayout;
  range->addWidget(from_);
  range->addWidget(new QLabel(QStringLiteral("по"), this));
  range->addWidget(to_);
  range->addStretch(1);
  form->addRow(QStringLiteral("С"), range);
  form->addRow(QStringLiteral("Адрес объекта"), address_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {show_, save_, pdf_, close}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(status_);
  layout->addStretch(1);
  layout->addLayout(buttons);

  connect(kind_, &QComboBox::currentIndexChanged, this, &ReportDialog::kindChanged);
  connect(show_, &QPushButton::clicked, this, [this] { run(Action::Show); });
  connect(save_, &QPushButton::clicked, this, [this] { choose(Action::Save); });
  connect(pdf_, &QPushButton::clicked, this, [this] { choose(Action::Pdf); });
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  kindChanged();
  FocusFrame::Install(this);
  resize(620, 220);
}

ReportDialog::~ReportDialog() {
  if (thread_.joinable()) thread_.join();
}

ReportKind ReportDialog::kind() const {
  return static_cast<ReportKind>(kind_->currentData().toInt());
}

void ReportDialog::kindChanged() {
  const ReportRange range = DefaultReportRange(kind(), static_cast<std::int64_t>(std::time(nullptr)));
  from_->setDateTime(Local(range.from));
  to_->setDateTime(Local(range.to));
  address_->setPlaceholderText(kind() == ReportKind::Object ? QStringLiteral("обязательно, например 0012")
                                                            : QStringLiteral("все объекты"));
}

ReportQuery ReportDialog::query() const {
  ReportQuery q;
  q.from = from_->dateTime().toSecsSinceEpoch();
  q.to = to_->dateTime().toSecsSinceEpoch();
  q.address = address_->text().trimmed().toStdString();
  q.eventStore = storePath_;
  return q;
}

void ReportDialog::PrepareSaveDialog(QFileDialog& dialog, bool pdf) {
  dialog.setWindowTitle(pdf ? QStringLiteral("Печать в PDF") : QStringLiteral("Сохранить отчёт"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  RussianFileList(dialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  if (pdf) {
    dialog.setNameFilters({QStringLiteral("Документы PDF (*.pdf) (*.pdf)")});
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.selectFile(QStringLiteral("отчёт.pdf"));
  } else {
    dialog.setNameFilters({QStringLiteral("Страница HTML (*.html) (*.html)"),
                           QStringLiteral("Таблица CSV (*.csv) (*.csv)"), QStringLiteral("Данные JSON (*.json) (*.json)")});
    dialog.setDefaultSuffix(QStringLiteral("html"));
    dialog.selectFile(QStringLiteral("отчёт.html"));
    // The suffix follows the format chosen.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
      const QString suffix = filter.section(QStringLiteral("*."), 1, 1).section(QLatin1Char(')'), 0, 0);
      dialog.setDefaultSuffix(suffix);
    });
  }
}

void ReportDialog::choose(Action action) {
  QFileDialog dialog(this);
  PrepareSaveDialog(dialog, action == Action::Pdf);
  if (ExecWindowModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    run(action, dialog.selectedFiles().front());
  }
}

void ReportDialog::run(Action action, const QString& path) {
  if (busy_) return;
  const ReportQuery q = query();
  if (kind() == ReportKind::Object && q.address.empty()) {
    say(false, QStringLiteral("Отчёт по объекту: укажите адрес объекта."));
    address_->setFocus();
    return;
  }
  if (q.from > q.to) {
    say(false, QStringLiteral("Начало отчёта позже его конца: исправьте время."));
    from_->setFocus();
    return;
  }
  busy_ = true;
  for (QPushButton* b : {show_, save_, pdf_}) b->setEnabled(false);
  status_->setStyleSheet({});
  status_->setText(QStringLiteral("Отчёт строится…"));
  if (thread_.joinable()) thread_.join();
  const ReportFormat format = action == Action::Save ? FormatOfFile(path) : ReportFormat::Html;
  QPointer<ReportDialog> self(this);
  // The table outlives the dialog (the alarm desk's, or the shipped one).
  thread_ = std::thread([self, q, table = &table_, kind = kind(), format, action, path] {
    Result<ReportLoad> loaded = LoadReportData(q, *table);
    std::string text;
    QString error;
    QStringList notes;
    if (loaded) {
      text = RenderReport(loaded->data, kind, format, loaded->address);
      for (const std::string& n : loaded->notes) notes << QString::fromStdString(n);
    } else {
      error = QStringLiteral("%1 (%2)").arg(QString::fromStdString(loaded.problem().text),
                                            QString::fromStdString(loaded.problem().cause));
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, action, path, text = std::move(text), error, notes]() mutable {
          if (self) self->done(action, path, std::move(text), error, notes);
        },
        Qt::QueuedConnection);
  });
}

void ReportDialog::done(Action action, const QString& path, std::string text,
                        const QString& error, const QStringList& notes) {
  busy_ = false;
  for (QPushButton* b : {show_, save_, pdf_}) b->setEnabled(true);
  if (!error.isEmpty()) {
    say(false, QStringLiteral("Отчёт не построен. ") + error);
    return;
  }
  const QString also = notes.isEmpty() ? QString() : QStringLiteral("\n") + notes.join(QLatin1Char('\n'));
  QString target = path;
  if (action == Action::Show) {
    if (!pages_.isValid()) {
      say(false, QStringLiteral("Отчёт не показан: временная папка не создаётся (%1).").arg(pages_.errorString()));
      return;
    }
    target = pages_.filePath(QStringLiteral("отчёт-%1.html").arg(++shown_));
  }
  QString failure;
  if (action == Action::Pdf) {
    WriteReportPdf(text, target, failure);
  } else {
    RealFileSystem files;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    if (const int err = files.ReplaceFile(target.toStdString(), std::span(bytes, text.size())); err != 0) {
      failure = QString::fromLocal8Bit(std::strerror(err));
    }
  }
  if (!failure.isEmpty()) {
    say(false, QStringLiteral("Отчёт не записан в %1: %2").arg(target, failure));
    return;
  }
  if (action == Action::Show) {
    if (!open_(QUrl::fromLocalFile(target))) {
      say(false, QStringLiteral("Браузер не открывается; отчёт записан в %1.").arg(target) + also);
      return;
    }
    say(true, QStringLiteral("Отчёт открыт в браузере.") + also);
    return;
  }
  say(true, QStringLiteral("Отчёт записан в %1.").arg(target) + also);
}

void ReportDialog::say(bool ok, const QString& message) {
  status_->setStyleSheet(ok ? QString() : QStringLiteral("color: #C00000;"));
  status_->setText(message);
  emit finished(ok, message);
}

}  // namespace pelvaron::ui
