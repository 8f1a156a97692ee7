#include "core/util/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vorn {
namespace {
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}
char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
}  // namespace

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  // Fixed-width fields end in runs of spaces: eight at a time first.
  constexpr std::uint64_t kSpaces = 0x2020202020202020;
  while (text.size() >= 8) {
    std::uint64_t tail = 0;
    std::memcpy(&tail, text.data() + text.size() - 8, sizeof tail);
    if (tail != kSpaces) break;
    text.remove_suffix(8);
  }
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string_view TrimmedName(std::string_view text, std::size_t width) {
  return TrimView(TrimView(text).substr(0, width));
}

std::string Trim(std::string_view text) {
  return std::string(TrimView(text));
}

std::string Copy(std::string_view text, std::ptrdiff_t index, std::ptrdiff_t count) {
  if (index < 1) index = 1;
  const auto length = static_cast<std::ptrdiff_t>(text.size());
  if (index > length || count <= 0) return {};
  const auto start = index - 1;
  return std::string(text.substr(static_cast<std::size_t>(start),
                                 static_cast<std::size_t>(std::min(count, length - start))));
}

std::string GetFixed(const char* field, std::size_t width) {
  if (!field || width == 0) return {};
  const void* nul = std::memchr(field, 0, width);
  const std::size_t length =
      nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : width;
  return std::string(field, length);
}

void PutFixed(char* field, std::size_t width, std::string_view text) {
  if (!field || width == 0) return;
  const std::size_t length = std::min(text.size(), width - 1);
  if (length > 0) std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, width - length);
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiUpper(x) == AsciiUpper(y);
         });
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), AsciiUpper);
  return result;
}

}  // namespace vorn
