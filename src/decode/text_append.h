#pragma once

#include <cstdint>
#include <string>

namespace pelvaron::decode_text {

// Formatting without temporaries: decoding builds its lines in place.

// A digit nibble above 9 shows as its uppercase hexadecimal letter, so a
// garbled frame still shows what the receiver sent.
inline char DigitChar(unsigned nibble) {
  return "0123456789ABCDEF"[nibble & 0x0Fu];
}

inline void AppendUnsigned(std::string& out, unsigned value) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out += digits[--n];
}

inline void AppendHex2(std::string& out, std::uint8_t value) {
  out += "0123456789abcdef"[value >> 4u];
  out += "0123456789abcdef"[value & 0x0Fu];
}

}  // namespace pelvaron::decode_text
