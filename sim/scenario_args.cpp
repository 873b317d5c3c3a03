#include "sim/scenario_args.h"

#include <cctype>
#include <charconv>

namespace pelvaron::sim {

namespace {

constexpr std::int64_t kLongestDurationMs = 24LL * 3600 * 1000;

}  // namespace

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    std::size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::optional<long long> Number(std::string_view s) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  if (s.empty() || s.size() > 12) return std::nullopt;
  long long v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || end != s.data() + s.size() || v < 0) return std::nullopt;
  return v;
}

std::optional<std::uint8_t> HexByte(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  if (s.empty() || s.size() > 2) return std::nullopt;
  unsigned v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return static_cast<std::uint8_t>(v);
}

std::optional<std::int64_t> Duration(std::string_view s) {
  std::size_t digits = 0;
  while (digits < s.size() && (std::isdigit(static_cast<unsigned char>(s[digits])) || s[digits] == '.'))
    ++digits;
  std::string_view number = s.substr(0, digits), unit = s.substr(digits);
  if (number.empty() || number.front() == '.' || number.back() == '.') return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc() || end != number.data() + number.size()) return std::nullopt;
  double factor;
  if (unit.empty() || unit == "ms") {
    factor = 1;
  } else if (unit == "s") {
    factor = 1000;
  } else if (unit == "min") {
    factor = 60000;
  } else {
    return std::nullopt;
  }
  double ms = value * factor;
  if (ms > static_cast<double>(kLongestDurationMs)) return std::nullopt;
  return static_cast<std::int64_t>(ms + 0.5);
}

Args::Args(const std::vector<std::string_view>& words, std::size_t from, std::string* error) : error_(error) {
  for (std::size_t i = from; i < words.size(); ++i) {
    auto eq = words[i].find('=');
    if (eq == std::string_view::npos) {
      if (!flags_.emplace(std::string(words[i]), false).second)
        Fail("\"" + std::string(words[i]) + "\" twice");
      continue;
    }
    std::string key(words[i].substr(0, eq));
    if (!values_.emplace(key, std::string(words[i].substr(eq + 1))).second) {
      Fail("\"" + key + "=\" is given twice");
    }
  }
}

bool Args::Fail(const std::string& what) {
  if (error_->empty()) *error_ = what;
  return false;
}

bool Args::Int(const char* key, long long low, long long high, int& out, bool required) {
  auto it = values_.find(key);
  if (it == values_.end()) return required ? Fail(std::string("\"") + key + "=\" is missing") : true;
  used_.insert(it->first);
  auto v = Number(it->second);
  if (!v || *v < low || *v > high) {
    return Fail(std::string(key) + "=" + it->second + ": expected a number from " + std::to_string(low) +
                " to " + std::to_string(high));
  }
  out = static_cast<int>(*v);
  return true;
}

bool Args::Dur(const char* key, std::int64_t& out) {
  auto it = values_.find(key);
  if (it == values_.end()) return true;
  used_.insert(it->first);
  auto d = Duration(it->second);
  if (!d) return Fail(std::string(key) + "=" + it->second + ": expected a duration such as 250ms or 2s");
  out = *d;
  return true;
}

std::optional<std::string> Args::Text(const char* key) {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  used_.insert(it->first);
  return it->second;
}

bool Args::Flag(const char* word) {
  auto it = flags_.find(word);
  if (it == flags_.end()) return false;
  it->second = true;
  return true;
}

bool Args::Either(const char* yes, const char* no, bool fallback) {
  bool y = Flag(yes), n = Flag(no);
  if (y && n) Fail(std::string("\"") + yes + "\" and \"" + no + "\" together");
  return y ? true : n ? false : fallback;
}

bool Args::NothingLeft() {
  for (const auto& [key, value] : values_) {
    if (!used_.count(key)) return Fail("unknown setting \"" + key + "=\"");
  }
  for (const auto& [word, used] : flags_) {
    if (!used) return Fail("unknown word \"" + word + "\"");
  }
  return Ok();
}

}  // namespace pelvaron::sim
