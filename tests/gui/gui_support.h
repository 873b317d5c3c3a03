#pragma once

#include <QApplication>
#include <QImage>
#include <QString>
#include <QWidget>

#include <stdlib.h>

#include <filesystem>
#include <ostream>
#include <string>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace pelvaron::testing {

// The one application object of the GUI tests, on the offscreen platform
// unless the environment names another.
QApplication& GuiApp();

// What the widget shows, at one device pixel per logical pixel.
QImage Render(QWidget* widget);

// A folder of the test's own made the working folder, as the console's files
// are found there; the old working folder back and the folder gone at the end.
class WorkFolder {
 public:
  explicit WorkFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~WorkFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_, previous_;
};

}  // namespace pelvaron::testing
