#include "core/session/AddressQ.h"

namespace vorn {

void TAddressQ::AddAddress(std::string_view ip, std::string_view port) {
  TAddressItem item{std::string(ip.substr(0, TAddressItem::kMaxText)),
                    std::string(port.substr(0, TAddressItem::kMaxText))};
  std::lock_guard guard(lock_);
  items_.insert(items_.begin(), std::move(item));
}

std::optional<TAddressItem> TAddressQ::Get(std::size_t index) const {
  std::lock_guard guard(lock_);
  if (index >= items_.size()) return std::nullopt;
  return items_[index];
}

std::size_t TAddressQ::Count() const {
  std::lock_guard guard(lock_);
  return items_.size();
}

void TAddressQ::Clear() {
  std::lock_guard guard(lock_);
  items_.clear();
}

}  // namespace vorn
