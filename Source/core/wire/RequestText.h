#pragma once
// A tagged host request written straight as its text: "name=value" items, each ended by 0x01,
// in the order they are added, by the rules a request's field list writes single-valued fields
// with: a value is trimmed, a value that trims to nothing is left out, and 0x01 bytes inside a
// value are dropped (application text never starts a new item). Names are literals without
// 0x01, distinct within a request (the field list would make a repeated name a group).
// Not thread-safe: one thread at a time.

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

class TRequestText {
 public:
  static constexpr std::size_t kTypicalRequestLength = 1024;  // an add request is about 400

  explicit TRequestText(std::size_t reserve = kTypicalRequestLength);

  void Add(std::string_view name, std::string_view value);
  // Appends raw bytes (a length word, items already written).
  void AppendRaw(std::string_view bytes) { text_.append(bytes); }
  // Moves the bytes from offset `from` to the end to offset `at` (at <= from); the bytes that
  // lay between follow them.
  void MoveTo(std::size_t at, std::size_t from);

  std::string_view Text() const { return text_; }
  std::size_t Size() const { return text_.size(); }
  char* Data() { return text_.data(); }
  void Clear() { text_.clear(); }

 private:
  std::string text_;
};

}  // namespace vorn
