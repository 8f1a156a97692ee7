#include "core/trading/OrderExtras.h"

#include <algorithm>

namespace vorn {

const std::string& TOrderExtras::Get(TText text) const {
  static const std::string empty;
  for (const TEntry& entry : entries_) {
    if (entry.Text == text) return entry.Value;
    if (entry.Text > text) break;
  }
  return empty;
}

void TOrderExtras::Set(TText text, std::string_view value) {
  auto at = std::lower_bound(entries_.begin(), entries_.end(), text,
                             [](const TEntry& entry, TText t) { return entry.Text < t; });
  const bool present = at != entries_.end() && at->Text == text;
  if (value.empty()) {
    if (present) entries_.erase(at);
    return;
  }
  if (present) {
    at->Value.assign(value);
    return;
  }
  // Room for a few from the first text on: a state that has one usually has others.
  if (entries_.capacity() == 0) {
    entries_.reserve(4);
    at = entries_.begin();
  }
  entries_.insert(at, TEntry{text, std::string(value)});
}

const TOrderLegs& TOrderLegsBlock::Get() const {
  static const TOrderLegs none{};
  return legs_ ? *legs_ : none;
}

}  // namespace vorn
