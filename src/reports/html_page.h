#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pelvaron {

// The frame every report page shares: one HTML document in UTF-8 that needs
// nothing else (its style inside, no script, no fonts or pictures from
// elsewhere) and prints on A4. Texts given here are escaped; what is
// appended to out directly must be escaped by whoever appends it.
class HtmlPage {
 public:
  // The page's start with title as its heading and the line under it.
  HtmlPage(std::string_view title, std::string_view subtitle);

  std::string& out() { return out_; }
  void Heading(std::string_view text);
  void Paragraph(std::string_view text, std::string_view cls = {});

  void BeginTable(std::initializer_list<std::string_view> headers, std::string_view cls = {});
  void EndTable() { out_ += "</tbody></table>\n"; }
  void BeginRow(std::string_view attributes = {});
  void EndRow() { out_ += "</tr>\n"; }
  void Cell(std::string_view text, std::string_view cls = {});
  // A figure the tests and readers can find by name: data-figure="name".
  void FigureCell(std::string_view name, std::string_view text, std::string_view cls = {});
  // "label: value" with the value as a named figure.
  void FigureParagraph(std::string_view label, std::string_view name, std::string_view text);

  std::string Finish();

 private:
  std::string out_;
};

// "83 %" of part in whole, rounded; "—" of nothing.
std::string PercentText(std::size_t part, std::size_t whole);

}  // namespace pelvaron
