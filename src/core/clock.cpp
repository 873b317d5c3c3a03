#include "core/clock.h"

namespace pelvaron {

std::string FormatTime(const std::tm& tm, const char* format) {
  char buffer[256];
  std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
  return std::string(buffer, n);
}

}  // namespace pelvaron
