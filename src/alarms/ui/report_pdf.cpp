#include "alarms/ui/report_pdf.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTextDocument>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace pelvaron::ui {

namespace {

struct Chart {
  QUrl url;
  QImage image;
};

// Sharp on paper: twice the chart's own size.
constexpr int kScale = 2;

}  // namespace

bool WriteReportPdf(const std::string& html, const QString& path, QString& error) {
  const QString page = QString::fromStdString(html);
  static const QRegularExpression svg(QStringLiteral("<svg\\b.*?</svg>"),
                                      QRegularExpression::DotMatchesEverythingOption);
  QString laidOut;
  std::vector<Chart> charts;
  qsizetype at = 0;
  for (QRegularExpressionMatchIterator it = svg.globalMatch(page); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    laidOut += page.mid(at, m.capturedStart() - at);
    at = m.capturedEnd();
    QString chart = m.captured();
    if (!chart.contains(QStringLiteral("xmlns="))) {
      chart.insert(4, QStringLiteral(" xmlns=\"http://www.w3.org/2000/svg\""));
    }
    QSvgRenderer renderer(chart.toUtf8());
    if (!renderer.isValid()) continue;
    const QSize size = renderer.defaultSize();
    QImage image(size * kScale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      renderer.render(&painter);
    }
    const QUrl url(QStringLiteral("chart:%1").arg(charts.size()));
    laidOut += QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"%3\">")
                   .arg(url.toString())
                   .arg(size.width())
                   .arg(size.height());
    charts.push_back({url, std::move(image)});
  }
  laidOut += page.mid(at);

  QTextDocument document;
  document.setHtml(laidOut);
  for (const Chart& c : charts) document.addResource(QTextDocument::ImageResource, c.url, c.image);

  const QString temporary = path + QStringLiteral(".new");
  QFile::remove(temporary);  // what a crash left
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setOutputFileName(temporary);
  printer.setDocName(document.metaInformation(QTextDocument::DocumentTitle));
  document.print(&printer);
  if (QFileInfo(temporary).size() == 0) {
    QFile::remove(temporary);
    error = QStringLiteral("файл не создаётся (нет доступа к папке или диск заполнен)");
    return false;
  }
  if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
    error = QString::fromLocal8Bit(std::strerror(errno));
    QFile::remove(temporary);
    return false;
  }
  return true;
}

}  // namespace pelvaron::ui
