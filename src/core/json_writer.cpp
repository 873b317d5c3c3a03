#include "core/json_writer.h"

#include <charconv>
#include <cstring>

#include "core/cp1251.h"

namespace pelvaron {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Keys up to this length are written in one piece; longer ones take the
// string writer.
constexpr std::size_t kShortKey = 60;

// Bytes that stand for themselves inside a JSON string.
constexpr bool IsPlain(unsigned char b) {
  return b >= 0x20 && b < 0x7F && b != '"' && b != '\\';
}

void AppendEscapedCode(std::string& out, unsigned code) {
  char text[6] = {'\\', 'u', '0', '0', kHex[(code >> 4) & 0xF], kHex[code & 0xF]};
  out.append(text, sizeof text);
}

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

constexpr bool HasZeroByte(std::uint64_t v) {
  return ((v - kOnes) & ~v & kHighBits) != 0;
}

// Eight bytes that stand for themselves: no control, quote, backslash, DEL
// or byte of a multi-byte character among them.
constexpr bool IsPlainWord(std::uint64_t w) {
  if ((w & kHighBits) != 0) return false;
  // With every high bit clear, a borrow or a carry shows the byte that made it.
  if (((w - 0x20 * kOnes) & kHighBits) != 0 || ((w + kOnes) & kHighBits) != 0) return false;
  return !HasZeroByte(w ^ ('"' * kOnes)) && !HasZeroByte(w ^ ('\\' * kOnes));
}

// The escaped body of s (no quotes). Runs that need nothing are copied whole.
void AppendEscaped(std::string& out, std::string_view s) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t size = s.size();
  std::size_t pos = 0;
  std::size_t run = 0;
  while (pos < size) {
    std::uint64_t word;
    while (pos + sizeof word <= size && (std::memcpy(&word, bytes + pos, sizeof word), IsPlainWord(word)))
      pos += sizeof word;
    while (pos < size && IsPlain(bytes[pos])) ++pos;
    // Four Cyrillic letters (D0 xx / D1 xx) at a time, then two-byte
    // characters one by one: from U+00C0 on they stand for themselves; C2 xx
    // (the C1 controls among them) takes the path below.
    while (pos + sizeof word <= size && (std::memcpy(&word, bytes + pos, sizeof word),
                                         (word & 0xC0FEC0FEC0FEC0FEull) == 0x80D080D080D080D0ull))
      pos += sizeof word;
    while (pos + 1 < size && static_cast<unsigned>(bytes[pos] - 0xC3) < 0x1D && (bytes[pos + 1] & 0xC0) == 0x80)
      pos += 2;
    if (pos == size) break;
    const unsigned char b = bytes[pos];
    if (IsPlain(b)) continue;
    char32_t cp = 0;
    std::size_t next = pos;
    const bool character = b >= 0x80 && NextUtf8CodePoint(s, next, cp);
    if (character && cp > 0x9F) {
      pos = next;
      continue;
    }
    out.append(s.data() + run, pos - run);
    if (character) {
      AppendEscapedCode(out, static_cast<unsigned>(cp));  // the C1 controls
      pos = next;
    } else if (b >= 0x80) {
      out += "\\ufffd";
      ++pos;
    } else {
      switch (b) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        case '\b':
          out += "\\b";
          break;
        case '\f':
          out += "\\f";
          break;
        default:
          AppendEscapedCode(out, b);  // other controls and DEL
      }
      ++pos;
    }
    run = pos;
  }
  out.append(s.data() + run, pos - run);
}

// True when AppendEscaped would copy s unchanged.
bool NeedsEscape(std::string_view s) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    const auto b = static_cast<unsigned char>(s[pos]);
    if (b < 0x80) {
      if (!IsPlain(b)) return true;
      ++pos;
      continue;
    }
    char32_t cp = 0;
    if (!NextUtf8CodePoint(s, pos, cp) || cp <= 0x9F) return true;
  }
  return false;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
  // Room for the text as it is and its quotes: unless it needs escapes, the
  // string grows once at most.
  out.reserve(out.size() + s.size() + 2);
  out += '"';
  AppendEscaped(out, s);
  out += '"';
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  // Keys are the program's own short names: comma, quotes and colon go in
  // with the name in one append when it needs no escaping.
  bool plain = key.size() <= kShortKey;
  for (std::size_t i = 0; plain && i < key.size(); ++i) plain = IsPlain(static_cast<unsigned char>(key[i]));
  const bool comma = needComma_;
  needComma_ = false;
  if (!plain) {
    if (comma) out_ += ',';
    AppendJsonString(out_, key);
    out_ += ':';
    return *this;
  }
  char text[kShortKey + 4];
  char* p = text;
  if (comma) *p++ = ',';
  *p++ = '"';
  if (!key.empty()) std::memcpy(p, key.data(), key.size());
  p += key.size();
  *p++ = '"';
  *p++ = ':';
  out_.append(text, static_cast<std::size_t>(p - text));
  return *this;
}

JsonWriter& JsonWriter::Int(std::int64_t value) {
  Separate();
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out_.append(text, static_cast<std::size_t>(result.ptr - text));
  return *this;
}

void JsonWriter::EscapeTail(std::size_t start) {
  const std::string_view tail(out_.data() + start, out_.size() - start);
  if (NeedsEscape(tail)) {
    // Rare: move the raw text aside and write it again escaped.
    const std::string raw(tail);
    out_.resize(start);
    AppendEscaped(out_, raw);
  }
  out_ += '"';
}

}  // namespace pelvaron
