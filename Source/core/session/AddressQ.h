#pragma once
// Server address lists: the address set last is tried first.

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// A server address as the setting exports build it: IP and port, each at most 50 characters.
struct TAddressItem {
  static constexpr std::size_t kMaxText = 50;
  std::string IP;
  std::string Port;
};

class TAddressQ {
 public:
  // Inserts at index 0; longer texts are cut to 50 characters.
  void AddAddress(std::string_view ip, std::string_view port);
  std::optional<TAddressItem> Get(std::size_t index) const;
  std::size_t Count() const;
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<TAddressItem> items_;
};

}  // namespace vorn
