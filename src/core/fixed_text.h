#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace pelvaron {

// Fixed-width text fields of the stored records: the text runs to its
// terminating zero or to the field's end, whichever comes first.
template <std::size_t N>
std::string ReadFixedText(const char (&field)[N]) {
  const void* zero = std::memchr(field, 0, N);
  std::size_t len = zero ? static_cast<const char*>(zero) - field : N;
  return std::string(field, len);
}

// The same text without a copy, valid while the field is.
template <std::size_t N>
std::string_view FixedTextView(const char (&field)[N]) {
  const void* zero = std::memchr(field, 0, N);
  return std::string_view(field, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : N);
}

// Writes a Windows-1251 text into a field, cut to the field's size; a text as
// long as the field gets no terminating zero. Bytes behind the zero are kept.
template <std::size_t N>
void WriteFixedText(char (&field)[N], std::string_view cp1251) {
  std::size_t len = cp1251.size() < N ? cp1251.size() : N;
  std::memcpy(field, cp1251.data(), len);
  if (len < N) field[len] = '\0';
}

}  // namespace pelvaron
