#pragma once
// Fixed-width text fields of price-feed and legacy host bodies: a field is addressed by a 0-based
// offset and a width. Reads and writes are bounded by the body, so a short body never yields bytes
// of an earlier, longer message and a long text never spills into the next field.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn {

// The field's bytes, at most width of them, ended early at a NUL byte or at the end of the body
// (a field that starts past the end is empty). Callers trim it before converting.
std::string_view GetFixedField(std::string_view body, std::size_t offset, std::size_t width);

// A field of a fixed-width body: its 0-based offset and its width.
struct TFixedField {
  std::size_t Offset;
  std::size_t Width;
};

// The field's text trimmed, and as a number (0 when it is not one).
std::string FixedText(std::string_view body, TFixedField field);
std::int32_t FixedInt(std::string_view body, TFixedField field);
double FixedFloat(std::string_view body, TFixedField field);

// The code of a fixed-width body, its first four characters, as a number (0 when it is not one).
std::int32_t FixedBodyCode(std::string_view body);

// Copies the text into the field, cut to the width and to the end of the body; the bytes behind
// a shorter text are left as they are (the body is blank-filled first), and nothing is ended.
void PutFixedField(std::string& body, std::size_t offset, std::size_t width, std::string_view text);

// The four-character code of a price-feed body: the last four characters of "000" + n
// ("0066" for 66, "0201" for 201).
std::string FormatCode4(int n);

}  // namespace vorn
