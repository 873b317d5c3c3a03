#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace pelvaron::sim {

// The words of a scenario line, split at white space.
std::vector<std::string_view> Words(std::string_view line);

// Decimal, or hexadecimal after 0x; never negative.
std::optional<long long> Number(std::string_view s);

// Two hex digits, with or without 0x.
std::optional<std::uint8_t> HexByte(std::string_view s);

// "250", "250ms", "2s", "1.5s", "2min", a day at most, in milliseconds.
std::optional<std::int64_t> Duration(std::string_view s);

// The arguments after a command: key=value settings and bare words. Every one
// must be asked for, so a typo is reported instead of silently ignored. The
// first problem goes to *error; later ones are not told over it.
class Args {
 public:
  Args(const std::vector<std::string_view>& words, std::size_t from, std::string* error);

  bool Fail(const std::string& what);
  bool Ok() const { return error_->empty(); }

  bool Int(const char* key, long long low, long long high, int& out, bool required = false);
  bool Dur(const char* key, std::int64_t& out);
  std::optional<std::string> Text(const char* key);
  bool Flag(const char* word);
  // Of two opposite words, which one was given (fallback when neither).
  bool Either(const char* yes, const char* no, bool fallback);
  // Whether every argument was asked for (and nothing failed).
  bool NothingLeft();

 private:
  std::string* error_;
  std::map<std::string, std::string> values_;
  std::map<std::string, bool> flags_;
  std::set<std::string> used_;
};

}  // namespace pelvaron::sim
