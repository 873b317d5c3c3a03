#include "core/cp1251.h"

#include <array>
#include <cstdint>
#include <cstring>

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

// The byte for a code point, or -1 when the code page has none.
constexpr int CodePointToByte(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(0xC0 + (cp - 0x0410));
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == cp) return static_cast<int>(0x80 + i);
  }
  return -1;
}

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
  out.reserve(cp1251.size() * 2);
  for (char c : cp1251) AppendUtf8(out, ByteToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::optional<std::string> Utf8ToCp1251(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = 0;
    if (!NextUtf8CodePoint(utf8, pos, cp)) return std::nullopt;
    int b = CodePointToByte(cp);
    if (b < 0) return std::nullopt;
    out += static_cast<char>(b);
  }
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
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const auto b0 = static_cast<unsigned char>(utf8[pos]);
    if (b0 < 0x80) {
      ++pos;
      continue;
    }
    // А..я (D0 90..D1 8F), the bulk of every text, all in the code page.
    if (pos + 1 < utf8.size()) {
      const auto b1 = static_cast<unsigned char>(utf8[pos + 1]);
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
  std::size_t n = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
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
