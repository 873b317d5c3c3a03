#include "support/fakes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>

#include "core/cp1251.h"

namespace pelvaron::testing {

void FakeClock::SetLocal(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  now = static_cast<std::int64_t>(timegm(&tm));
}

bool FakeClock::ToLocalTime(std::int64_t t, std::tm& out) {
  if (!convertible) return false;
  std::time_t tt = static_cast<std::time_t>(t);
  return gmtime_r(&tt, &out) != nullptr;
}

void FakeClock::SleepMs(int ms) {
  sleeps.push_back(ms);
  monotonic += ms;
  sleptRemainderMs_ += ms;
  now += sleptRemainderMs_ / 1000;
  sleptRemainderMs_ %= 1000;
}

int MemoryFileSystem::ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) {
  out.clear();
  if (failRead) return failRead;
  auto it = files.find(path);
  if (it == files.end()) return 2;
  out.assign(it->second.begin(), it->second.begin() + std::min(max, it->second.size()));
  return 0;
}

int MemoryFileSystem::ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) {
  ++replaceCount;
  if (failReplace) return failReplace;
  files[path].assign(data.begin(), data.end());
  return 0;
}

int MemoryFileSystem::Append(const std::string& path, std::span<const std::uint8_t> data) {
  ++appendCount;
  if (failAppend) return failAppend;
  auto& f = files[path];
  f.insert(f.end(), data.begin(), data.end());
  return 0;
}

std::string MemoryFileSystem::Text(const std::string& path) const {
  auto it = files.find(path);
  if (it == files.end()) return {};
  return std::string(it->second.begin(), it->second.end());
}

std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument("not hex: " + text);
    int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd hex digits: " + text);
  return out;
}

std::string Cp(const std::string& utf8) {
  auto cp = Utf8ToCp1251(utf8);
  if (!cp) throw std::invalid_argument("not Windows-1251: " + utf8);
  return *cp;
}

}  // namespace pelvaron::testing
