#include "reports/html_page.h"

#include "reports/report_escape.h"

namespace pelvaron {
namespace {

// Black on white for paper; the colours of the charts and of what is over a
// threshold are printed too, not dropped as backgrounds usually are.
constexpr std::string_view kStyle = R"(
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
body{font-family:"DejaVu Sans",Arial,sans-serif;font-size:11pt;color:#000;background:#fff;margin:16px}
h1{font-size:16pt;margin:0 0 4px}
h2{font-size:13pt;margin:18px 0 6px;border-bottom:1px solid #888}
p{margin:4px 0}
p.sub{margin:0 0 12px;color:#333}
p.none{color:#555}
table{border-collapse:collapse;margin:4px 0 10px}
th,td{border:1px solid #999;padding:2px 6px;text-align:left;vertical-align:top}
th{background:#eee}
td.n{text-align:right;white-space:nowrap}
td.t{white-space:nowrap}
.over{background:#ffd0d0;font-weight:bold}
.open{color:#b00000}
tr.actions td{border-top:none;font-size:10pt}
ul{margin:0;padding-left:18px}
table.list{font-size:10pt}
svg{display:block;margin:6px 0 12px;max-width:100%;height:auto}
@page{size:A4;margin:12mm}
@media print{body{margin:0;font-size:9pt}table.list{font-size:8pt}h2{break-after:avoid}tr,svg{break-inside:avoid}thead{display:table-header-group}}
)";

void AppendClass(std::string& out, std::string_view cls) {
  if (cls.empty()) return;
  out += " class=\"";
  AppendHtml(out, cls);
  out += '"';
}

}  // namespace

HtmlPage::HtmlPage(std::string_view title, std::string_view subtitle) {
  out_ = "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
  AppendHtml(out_, title);
  out_ += "</title>\n<style>";
  out_ += kStyle;
  out_ += "</style>\n</head>\n<body>\n<h1>";
  AppendHtml(out_, title);
  out_ += "</h1>\n";
  Paragraph(subtitle, "sub");
}

void HtmlPage::Heading(std::string_view text) {
  out_ += "<h2>";
  AppendHtml(out_, text);
  out_ += "</h2>\n";
}

void HtmlPage::Paragraph(std::string_view text, std::string_view cls) {
  out_ += "<p";
  AppendClass(out_, cls);
  out_ += '>';
  AppendHtml(out_, text);
  out_ += "</p>\n";
}

void HtmlPage::BeginTable(std::initializer_list<std::string_view> headers, std::string_view cls) {
  out_ += "<table";
  AppendClass(out_, cls);
  out_ += "><thead><tr>";
  for (std::string_view h : headers) {
    out_ += "<th>";
    AppendHtml(out_, h);
    out_ += "</th>";
  }
  out_ += "</tr></thead><tbody>\n";
}

void HtmlPage::BeginRow(std::string_view attributes) {
  out_ += "<tr";
  if (!attributes.empty()) {
    out_ += ' ';
    out_ += attributes;
  }
  out_ += '>';
}

void HtmlPage::Cell(std::string_view text, std::string_view cls) {
  out_ += "<td";
  AppendClass(out_, cls);
  out_ += '>';
  AppendHtml(out_, text);
  out_ += "</td>";
}

void HtmlPage::FigureCell(std::string_view name, std::string_view text, std::string_view cls) {
  out_ += "<td";
  AppendClass(out_, cls);
  out_ += " data-figure=\"";
  AppendHtml(out_, name);
  out_ += "\">";
  AppendHtml(out_, text);
  out_ += "</td>";
}

void HtmlPage::FigureParagraph(std::string_view label, std::string_view name, std::string_view text) {
  out_ += "<p>";
  AppendHtml(out_, label);
  out_ += ": <span data-figure=\"";
  AppendHtml(out_, name);
  out_ += "\">";
  AppendHtml(out_, text);
  out_ += "</span></p>\n";
}

std::string HtmlPage::Finish() {
  out_ += "</body>\n</html>\n";
  return std::move(out_);
}

std::string PercentText(std::size_t part, std::size_t whole) {
  if (whole == 0) return "—";
  return std::to_string((part * 200 + whole) / (whole * 2)) + " %";
}

}  // namespace pelvaron
