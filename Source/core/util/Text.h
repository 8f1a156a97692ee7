#pragma once
// Text helpers: strings hold raw 8-bit bytes, fixed-width fields are bounded by their width.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vorn {

// Removes bytes <= 0x20 at both ends.
std::string_view TrimView(std::string_view text);
// Trimmed, cut to width, and trimmed again where the cut leaves blanks at the end: a received
// name as it is kept, and an argument as a look-up reads it.
std::string_view TrimmedName(std::string_view text, std::size_t width);
std::string Trim(std::string_view text);

// 1-based substring: count bytes from index, clamped to the text (index < 1 counts from 1).
std::string Copy(std::string_view text, std::ptrdiff_t index, std::ptrdiff_t count);

// Reads a fixed-width text field: the bytes up to the first NUL, never past the width.
std::string GetFixed(const char* field, std::size_t width);
template <std::size_t N>
std::string GetFixed(const char (&field)[N]) {
  return GetFixed(field, N);
}

// Writes at most width-1 bytes of text and a NUL; the rest of the field is zeroed.
void PutFixed(char* field, std::size_t width, std::string_view text);
template <std::size_t N>
void PutFixed(char (&field)[N], std::string_view text) {
  PutFixed(field, N, text);
}
// Writes at most N-1 bytes of text and a NUL; the bytes after the NUL keep what the field held.
template <std::size_t N>
void PutTextAndNul(char (&field)[N], std::string_view text) {
  const std::size_t length = text.size() < N ? text.size() : N - 1;
  text.copy(field, length);
  field[length] = '\0';
}

bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive
std::string UpperCase(std::string_view text);           // ASCII letters only

// The hash of a text's bytes, for hash maps keyed by std::string that are looked up by a view
// (with std::equal_to<>): a look-up builds no key string.
struct TTextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

}  // namespace vorn
