// The tagged-text parser over arbitrary received bodies.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/wire/FieldsList.h"

using namespace vorn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TFieldsList fields;
  fields.SetFields(text);
  std::size_t total = 0;
  for (int i = 0; i < fields.Count(); ++i) {
    const std::string_view name = fields.NameAt(i);
    const int values = fields.GetValueCountAt(i);
    for (int v = 0; v < values; ++v)
      total += fields.GetFieldValue(name, v).size();
    if (fields.GetFieldCount(name) < 1) __builtin_trap();
  }
  fields.SetFieldsFromBuffer(text, size / 2);
  volatile std::size_t keep = total;  // the values are read, not optimised away
  (void)keep;
  return 0;
}
