#include "sim/VORNToken.h"

#include "core/util/Conversions.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"

namespace vorn::sim {

std::string TVORNToken::Next() {
  const std::size_t end = text_.find(separator_, position_);
  if (end == std::string_view::npos) return std::string(text_.substr(position_));
  std::string column(text_.substr(position_, end - position_));
  position_ = end + 1;
  return column;
}

std::int32_t StrictStrToInt(std::string_view text) {
  std::int32_t value = 0;
  if (!TryStrToInt(text, value))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

std::int32_t LenientStrToInt(std::string_view text) {
  std::int32_t value = 0;
  return TryStrToInt(text, value) ? value : 0;
}

double ColumnToFloat(std::string_view text) {
  return SafeStrToFloat(text, 0);
}

}  // namespace vorn::sim
