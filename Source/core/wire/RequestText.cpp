#include "core/wire/RequestText.h"

#include <algorithm>
#include <cstring>

#include "core/util/Text.h"
#include "core/wire/FieldsList.h"

namespace vorn {

TRequestText::TRequestText(std::size_t reserve) {
  text_.reserve(reserve);
}

void TRequestText::Add(std::string_view name, std::string_view value) {
  if (value.empty()) return;
  // Most values need no trimming: look at both ends before calling the trimmer.
  if (static_cast<unsigned char>(value.front()) <= ' ' ||
      static_cast<unsigned char>(value.back()) <= ' ') {
    value = TrimView(value);
    if (value.empty()) return;
  }
  text_.append(name);
  text_ += '=';
  while (!value.empty()) {
    const void* found = std::memchr(value.data(), kFieldSeparator, value.size());
    if (!found) {
      text_.append(value);
      break;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - value.data());
    text_.append(value.substr(0, at));
    value.remove_prefix(at + 1);
  }
  text_ += kFieldSeparator;
}

void TRequestText::MoveTo(std::size_t at, std::size_t from) {
  std::rotate(text_.begin() + static_cast<std::ptrdiff_t>(at),
              text_.begin() + static_cast<std::ptrdiff_t>(from), text_.end());
}

}  // namespace vorn
