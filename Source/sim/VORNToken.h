#pragma once
// The simulator's text tokenizer and the number readers of its data files.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn::sim {

// Splits a line at a separator, column by column from the left. A column asked for after the
// last separator is the whole remaining text again, so a line with too few columns repeats its
// last one. Columns are not trimmed. The text must outlive the tokenizer.
class TVORNToken {
 public:
  explicit TVORNToken(std::string_view text, char separator = ',')
      : text_(text), separator_(separator) {}

  std::string Next();

 private:
  std::string_view text_;
  char separator_;
  std::size_t position_ = 0;
};

// A strict integer column: decimal digits with an optional sign, nothing else; throws
// EConvertError on any other text.
std::int32_t StrictStrToInt(std::string_view text);
// A lenient integer column: 0 when the text is not a number.
std::int32_t LenientStrToInt(std::string_view text);
// A decimal column with '.' as the separator: 0 when the text is not a number.
double ColumnToFloat(std::string_view text);

}  // namespace vorn::sim
