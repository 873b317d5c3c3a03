// The shift report's page as a browser shows it: headless Chromium renders
// it to a picture.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "report_samples.h"
#include "reports/report_formats.h"

namespace pelvaron {
namespace {

namespace fs = std::filesystem;

class BrowserTest : public testing::ReportTest {
 protected:
  void SetUp() override {
    testing::ReportTest::SetUp();
    if (std::system("command -v chromium >/dev/null 2>&1") != 0) {
      GTEST_SKIP()
          << "Chromium is not installed (Debian package chromium; scripts/ensure-deps.sh installs it)";
    }
    std::string name = (fs::temp_directory_path() / "pelvaron-report-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    folder_ = name;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
    testing::ReportTest::TearDown();
  }

  // Chromium headless with a profile of its own makes a screenshot of the
  // page; what it said on stderr, for when it made none.
  std::string Screenshot(const std::string& html, const fs::path& shot) {
    const fs::path page = folder_ / "report.html", errors = folder_ / "chromium.log";
    std::ofstream(page, std::ios::binary) << html;
    const std::string command =
        "timeout 50 chromium --headless --no-sandbox --disable-gpu --disable-background-networking"
        " --disable-component-update --disable-sync --no-first-run --user-data-dir='" +
        (folder_ / "profile").string() + "' --hide-scrollbars --window-size=1000,1400 --screenshot='" +
        shot.string() + "' 'file://" + page.string() + "' >/dev/null 2>'" + errors.string() + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "Chromium failed: " << command;
    std::ifstream in(errors);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path folder_;
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
  const fs::path shot = folder_ / "report.png";
  const std::string log = Screenshot(html, shot);
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

}  // namespace
}  // namespace pelvaron
