// The shift report's page as a browser shows it: headless Chromium renders
// it to a picture, and reads it into the document a reader's browser builds.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "report_samples.h"
#include "reports/report_formats.h"

namespace pelvaron {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> FindChromium() {
  const char* path = getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const fs::path candidate = fs::path(dir) / "chromium";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

// A folder of its own, gone with the test.
struct TempFolder {
  TempFolder() {
    std::string name = (fs::temp_directory_path() / "pelvaron-report-XXXXXX").string();
    if (mkdtemp(name.data()) != nullptr) path = name;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
  fs::path path;
};

class BrowserTest : public testing::ReportTest {
 protected:
  void SetUp() override {
    testing::ReportTest::SetUp();
    chromium_ = FindChromium();
    if (!chromium_) GTEST_SKIP() << "Chromium is not installed (Debian package chromium; scripts/ensure-deps.sh installs it)";
    ASSERT_FALSE(folder_.path.empty());
  }

  // Runs Chromium headless on the page with a profile of its own; its
  // standard output, and what it said on stderr in *log.
  std::string Run(const std::string& html, const std::string& what, std::string* log) {
    const fs::path page = folder_.path / "report.html", errors = folder_.path / "chromium.log";
    std::ofstream(page, std::ios::binary) << html;
    const std::string command = "timeout 50 '" + chromium_->string() +
                                "' --headless --no-sandbox --disable-gpu --disable-background-networking"
                                " --disable-component-update --disable-sync --no-first-run --user-data-dir='" +
                                (folder_.path / ("profile-" + std::to_string(++runs_))).string() + "' " + what +
                                " 'file://" + page.string() + "' 2>'" + errors.string() + "'";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
      char buffer[65536];
      for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
      pclose(p);
    }
    std::ifstream in(errors);
    log->assign(std::istreambuf_iterator<char>(in), {});
    return out;
  }

  TempFolder folder_;
  std::optional<fs::path> chromium_;
  int runs_ = 0;
};

struct Picture {
  png_image image{};
  std::vector<unsigned char> pixels;  // RGB
};

std::optional<Picture> ReadPng(const fs::path& file) {
  Picture p;
  p.image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&p.image, file.c_str())) return std::nullopt;
  p.image.format = PNG_FORMAT_RGB;
  p.pixels.resize(PNG_IMAGE_SIZE(p.image));
  if (!png_image_finish_read(&p.image, nullptr, p.pixels.data(), 0, nullptr)) return std::nullopt;
  return p;
}

TEST_F(BrowserTest, TheShiftReportRendersWithItsCharts) {
  const std::string html = RenderReport(testing::SampleShift(), ReportKind::Shift, ReportFormat::Html);
  const fs::path shot = folder_.path / "report.png";
  std::string log;
  Run(html, "--hide-scrollbars --window-size=1000,1400 --screenshot='" + shot.string() + "'", &log);
  const std::optional<Picture> picture = ReadPng(shot);
  ASSERT_TRUE(picture) << "no screenshot; Chromium said:\n" << log;
  ASSERT_EQ(picture->image.width, 1000u);
  // Not blank: text on white, and the bars in the colours of the priorities
  // (fire #FF4040 by the station's table) and of the waits within the
  // threshold (#40A050).
  std::size_t white = 0, fire = 0, within = 0, all = picture->pixels.size() / 3;
  for (std::size_t i = 0; i < all; ++i) {
    const unsigned char* px = &picture->pixels[i * 3];
    if (px[0] == 255 && px[1] == 255 && px[2] == 255) ++white;
    if (px[0] == 0xFF && px[1] == 0x40 && px[2] == 0x40) ++fire;
    if (px[0] == 0x40 && px[1] == 0xA0 && px[2] == 0x50) ++within;
  }
  EXPECT_LT(white, all * 98 / 100) << "a blank page";
  EXPECT_GT(white, all / 2) << "not a page on white";
  EXPECT_GT(fire, 50u) << "no fire alarms in the chart per hour";
  EXPECT_GT(within, 50u) << "no waits within the threshold in the distribution";
}

// What a browser makes of a hostile text: text, not markup.
TEST_F(BrowserTest, AHostileTextIsTextInTheBrowsersDocument) {
  ReportData data = testing::SampleShift();
  const std::string hostile = "</td></tr></table><script>document.title='x'</script><b>жирный</b>";
  data.alarms[1].text = hostile;
  data.station = hostile;
  const std::string html = RenderReport(data, ReportKind::Shift, ReportFormat::Html);
  std::string log;
  const std::string dom = Run(html, "--dump-dom", &log);
  ASSERT_NE(dom.find("</html>"), std::string::npos) << "no document; Chromium said:\n" << log;
  EXPECT_EQ(dom.find("<script"), std::string::npos);
  EXPECT_EQ(dom.find("<b>"), std::string::npos);
  EXPECT_NE(dom.find("&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;script&gt;"), std::string::npos);
  // The browser's document has the tables the page was written with.
  const auto count = [](const std::string& s, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t pos = 0; (pos = s.find(what, pos)) != std::string::npos; pos += what.size()) ++n;
    return n;
  };
  EXPECT_EQ(count(dom, "<tr"), count(html, "<tr"));
  EXPECT_EQ(count(dom, "<svg"), 2u);
}

}  // namespace
}  // namespace pelvaron
