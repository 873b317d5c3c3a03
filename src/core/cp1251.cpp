#include "core/cp1251.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace pelvaron {
namespace {

// Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F.
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr char32_t ByteToCodePoint(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return 0x0410 + (b - 0xC0);
  return kHigh[b - 0x80];
}

// Where the code page's characters live outside ASCII: U+0080..U+049F (the
// Latin-1 signs and Cyrillic), U+2010..U+203F (dashes, quotes, daggers) and
// three strays. One table each, so that no character is looked up by search.
constexpr char32_t kLowFirst = 0x0080;
constexpr char32_t kLowEnd = 0x04A0;
constexpr char32_t kPunctFirst = 0x2010;
constexpr char32_t kPunctEnd = 0x2040;
constexpr char32_t kStrays[] = {0x20AC, 0x2116, 0x2122};

// Byte by code point; 0 where the code page has none (no character but
// U+0000 is byte 0, and that one is ASCII).
struct ReverseTables {
  unsigned char low[kLowEnd - kLowFirst] = {};
  unsigned char punct[kPunctEnd - kPunctFirst] = {};
  unsigned char strays[std::size(kStrays)] = {};
};

constexpr ReverseTables kReverse = [] {
  ReverseTables t;
  for (int b = 0x80; b < 0x100; ++b) {
    const char32_t cp = ByteToCodePoint(static_cast<unsigned char>(b));
    const auto byte = static_cast<unsigned char>(b);
    if (cp >= kLowFirst && cp < kLowEnd) {
      t.low[cp - kLowFirst] = byte;
    } else if (cp >= kPunctFirst && cp < kPunctEnd) {
      t.punct[cp - kPunctFirst] = byte;
    } else {
      for (std::size_t i = 0; i < std::size(kStrays); ++i) {
        if (kStrays[i] == cp) t.strays[i] = byte;
      }
    }
  }
  return t;
}();

// The byte for a code point, or -1 when the code page has none.
constexpr int CodePointToByte(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  unsigned char b = 0;
  if (cp < kLowEnd) {
    b = kReverse.low[cp - kLowFirst];
  } else if (cp >= kPunctFirst && cp < kPunctEnd) {
    b = kReverse.punct[cp - kPunctFirst];
  } else {
    for (std::size_t i = 0; i < std::size(kStrays); ++i) {
      if (kStrays[i] == cp) b = kReverse.strays[i];
    }
  }
  return b != 0 ? b : -1;
}

// Every byte comes back from its code point: the ranges above hold them all.
constexpr bool EveryByteRoundTrips() {
  for (int b = 0; b < 0x100; ++b) {
    if (CodePointToByte(ByteToCodePoint(static_cast<unsigned char>(b))) != b) return false;
  }
  return true;
}
static_assert(EveryByteRoundTrips());

// Every byte's UTF-8 (at most three bytes: nothing beyond U+FFFF).
struct Utf8Bytes {
  char bytes[3];
  unsigned char size;
};

constexpr std::array<Utf8Bytes, 256> kUtf8Of = [] {
  std::array<Utf8Bytes, 256> table{};
  for (std::size_t b = 0; b < table.size(); ++b) {
    const char32_t cp = ByteToCodePoint(static_cast<unsigned char>(b));
    Utf8Bytes& u = table[b];
    if (cp < 0x80) {
      u = {{static_cast<char>(cp), 0, 0}, 1};
    } else if (cp < 0x800) {
      u = {{static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F)), 0}, 2};
    } else {
      u = {{static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
            static_cast<char>(0x80 | (cp & 0x3F))},
           3};
    }
  }
  return table;
}();

// The byte of every two-byte character D0 80..D1 BF (U+0400..U+047F, the
// Cyrillic block most texts stay in), '?' where the code page has none.
constexpr std::array<char, 128> kCyrillicBytes = [] {
  std::array<char, 128> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int b = CodePointToByte(static_cast<char32_t>(0x0400 + i));
    bytes[i] = static_cast<char>(b < 0 ? '?' : b);
  }
  return bytes;
}();

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  AppendCp1251AsUtf8(out, cp1251);
  return out;
}

void AppendCp1251AsUtf8(std::string& out, std::string_view cp1251) {
  // Measured first and written in place: one allocation at most, and no
  // growth check a character.
  const auto* src = reinterpret_cast<const unsigned char*>(cp1251.data());
  std::size_t size = 0;
  for (std::size_t i = 0; i < cp1251.size(); ++i) size += kUtf8Of[src[i]].size;
  const std::size_t start = out.size();
  out.resize(start + size);
  char* dst = out.data() + start;
  for (std::size_t i = 0; i < cp1251.size(); ++i) {
    const Utf8Bytes& u = kUtf8Of[src[i]];
    dst[0] = u.bytes[0];
    if (u.size > 1) dst[1] = u.bytes[1];
    if (u.size > 2) dst[2] = u.bytes[2];
    dst += u.size;
  }
}

std::optional<std::string> Utf8ToCp1251(std::string_view utf8) {
  // Where every character fits, the lossy writer has nothing to replace.
  if (!FitsCp1251(utf8)) return std::nullopt;
  std::string out;
  AppendUtf8AsCp1251Lossy(out, utf8);
  return out;
}

std::string Utf8ToCp1251Lossy(std::string_view utf8) {
  std::string out;
  AppendUtf8AsCp1251Lossy(out, utf8);
  return out;
}

void AppendUtf8AsCp1251Lossy(std::string& out, std::string_view utf8) {
  // Every character, and every malformed byte, takes one byte or more in
  // UTF-8 and gives one: the text never grows, so it is written in place.
  const std::size_t start = out.size();
  out.resize(start + utf8.size());
  char* dst = out.data() + start;
  const auto* src = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t size = utf8.size();
  std::size_t pos = 0;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  // Runs of ASCII and runs of D0 xx / D1 xx (the Cyrillic letters, by table)
  // in tight loops of their own, eight bytes at a time where a word has
  // them: a text alternates between the two by words.
  while (pos < size) {
    std::uint64_t word;
    while (pos + sizeof word <= size && (std::memcpy(&word, src + pos, sizeof word), (word & kHighBits) == 0)) {
      std::memcpy(dst, &word, sizeof word);
      dst += sizeof word;
      pos += sizeof word;
    }
    while (pos < size && src[pos] < 0x80) *dst++ = static_cast<char>(src[pos++]);
    while (pos + sizeof word <= size && (std::memcpy(&word, src + pos, sizeof word),
                                         (word & 0xC0FEC0FEC0FEC0FEull) == 0x80D080D080D080D0ull)) {
      for (int i = 0; i < 4; ++i) {
        const auto pair = static_cast<unsigned>(word >> (16 * i));
        dst[i] = kCyrillicBytes[((pair & 1u) << 6) | ((pair >> 8) & 0x3Fu)];
      }
      dst += 4;
      pos += sizeof word;
    }
    while (pos + 1 < size && (src[pos] & 0xFE) == 0xD0 && (src[pos + 1] & 0xC0) == 0x80) {
      *dst++ = kCyrillicBytes[((src[pos] & 1u) << 6) | (src[pos + 1] & 0x3Fu)];
      pos += 2;
    }
    if (pos == size || src[pos] < 0x80) continue;
    char32_t cp = 0;
    const int b = NextUtf8CodePoint(utf8, pos, cp) ? CodePointToByte(cp) : -1;
    *dst++ = b < 0 ? '?' : static_cast<char>(b);
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
}

bool FitsCp1251(std::string_view utf8) {
  // Utf8ToCp1251's verdict without building the text: every line is checked.
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    // ASCII eight bytes at a time.
    std::uint64_t word;
    while (pos + sizeof word <= utf8.size() &&
           (std::memcpy(&word, bytes + pos, sizeof word), (word & 0x8080808080808080ull) == 0)) {
      pos += sizeof word;
    }
    if (pos == utf8.size()) break;
    const unsigned char b0 = bytes[pos];
    if (b0 < 0x80) {
      ++pos;
      continue;
    }
    // А..я (D0 90..D1 8F), the bulk of every text, all in the code page.
    if (pos + 1 < utf8.size()) {
      const unsigned char b1 = bytes[pos + 1];
      if ((b0 == 0xD0 && b1 >= 0x90 && b1 <= 0xBF) || (b0 == 0xD1 && b1 >= 0x80 && b1 <= 0x8F)) {
        pos += 2;
        continue;
      }
    }
    char32_t cp = 0;
    if (!NextUtf8CodePoint(utf8, pos, cp) || CodePointToByte(cp) < 0) return false;
  }
  return true;
}

std::size_t Utf8Length(std::string_view utf8) {
  // Every byte but a continuation byte (10xxxxxx) starts a character;
  // counted eight bytes at a time.
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t size = utf8.size();
  std::size_t continuations = 0;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    // Bit 7 of each byte set where the byte is 10xxxxxx.
    const std::uint64_t marks = word & ~(word << 1) & 0x8080808080808080ull;
    continuations += static_cast<std::size_t>(std::popcount(marks));
  }
  for (; i < size; ++i) continuations += (bytes[i] & 0xC0) == 0x80 ? 1 : 0;
  return size - continuations;
}

std::string Utf8Prefix(std::string_view utf8, std::size_t max) {
  return std::string(Utf8PrefixView(utf8, max));
}

std::string_view Utf8PrefixView(std::string_view utf8, std::size_t max) {
  // A text of at most max bytes has at most max characters.
  if (utf8.size() <= max) return utf8;
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      if (n == max) return utf8.substr(0, i);
      ++n;
    }
  }
  return utf8;
}

}  // namespace pelvaron
