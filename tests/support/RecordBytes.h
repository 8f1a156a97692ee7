#pragma once
// Byte-level reads of the interface's packed records in tests: prefilled records whose untouched
// bytes show, and fields read at their offsets.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vorn {

inline constexpr unsigned char kPrefill = 0xCC;

template <class Record>
Record Prefilled() {
  Record record;
  std::memset(&record, kPrefill, sizeof record);
  return record;
}

template <class Record>
const unsigned char* Bytes(const Record& record) {
  return reinterpret_cast<const unsigned char*>(&record);
}

template <class Record>
std::int32_t IntAt(const Record& record, std::size_t offset) {
  std::int32_t value = 0;
  std::memcpy(&value, Bytes(record) + offset, sizeof value);
  return value;
}

// The text of a field: up to its NUL, which must lie within the width.
template <class Record>
std::string TextAt(const Record& record, std::size_t offset, std::size_t width) {
  const char* field = reinterpret_cast<const char*>(Bytes(record) + offset);
  const void* nul = std::memchr(field, '\0', width);
  EXPECT_NE(nul, nullptr) << "no NUL in the field at " << offset;
  return nul ? std::string(field) : std::string();
}

template <class Record>
bool AllZeroFrom(const Record& record, std::size_t from = 0) {
  for (std::size_t i = from; i < sizeof record; ++i)
    if (Bytes(record)[i] != 0) return false;
  return true;
}

}  // namespace vorn
