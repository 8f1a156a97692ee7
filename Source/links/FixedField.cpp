#include "links/FixedField.h"

#include <algorithm>
#include <cstring>

#include "core/util/Conversions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {

std::string_view GetFixedField(std::string_view body, std::size_t offset, std::size_t width) {
  if (offset >= body.size()) return {};
  std::string_view field = body.substr(offset, width);
  const std::size_t nul = field.find('\0');
  if (nul != std::string_view::npos) field = field.substr(0, nul);
  return field;
}

std::string FixedText(std::string_view body, TFixedField field) {
  return Trim(GetFixedField(body, field.Offset, field.Width));
}

// The conversions trim the text themselves.
std::int32_t FixedInt(std::string_view body, TFixedField field) {
  return SafeStrToInt(GetFixedField(body, field.Offset, field.Width), 0);
}

double FixedFloat(std::string_view body, TFixedField field) {
  return SafeStrToFloat(GetFixedField(body, field.Offset, field.Width), 0);
}

std::int32_t FixedBodyCode(std::string_view body) {
  return FixedInt(body, {0, 4});
}

void PutFixedField(std::string& body, std::size_t offset, std::size_t width,
                   std::string_view text) {
  if (offset >= body.size()) return;
  const std::size_t count = std::min({width, text.size(), body.size() - offset});
  if (count > 0) std::memcpy(body.data() + offset, text.data(), count);
}

std::string FormatCode4(int n) {
  const std::string text = "000" + IntToStr(n);
  return text.substr(text.size() - 4);
}

}  // namespace vorn
