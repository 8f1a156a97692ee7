#pragma once
// TOrderIndex: the order list's index of its histories by order ID, a flat open-addressing table
// whose slots hold the key bytes themselves, so a look-up touches one slot and then the history.
//
// Not thread-safe: the order list uses it under its own lock. It holds no reference: the order
// list owns the histories and takes an entry out before it lets a history go.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vorn {

class TOrderList;

class TOrderIndex {
 public:
  // Keys of up to this many bytes (order IDs are cut to 10).
  static constexpr std::size_t kMaxKey = 15;

  // The history under the key, or null (also for a key longer than kMaxKey).
  TOrderList* Find(std::string_view key) const;
  // Puts the history under the key, replacing what was there. A key longer than kMaxKey is not
  // kept (Find cannot ask for it).
  void Set(std::string_view key, TOrderList* history);
  // Takes the key out when it stands for that history (any history when null); false when not.
  bool Erase(std::string_view key, const TOrderList* history = nullptr);
  void Clear();
  std::size_t Size() const { return count_; }

 private:
  // The key as two words: bytes 0-7, then bytes 8-14 with the length in the top byte. A slot
  // without a history is free.
  struct TSlot {
    std::uint64_t Low = 0;
    std::uint64_t High = 0;
    TOrderList* History = nullptr;
  };
  static bool Pack(std::string_view key, std::uint64_t& low, std::uint64_t& high);
  static std::size_t Hash(std::uint64_t low, std::uint64_t high);
  // The slot holding the key, or the free slot where it would go; the table is never full.
  std::size_t Probe(std::uint64_t low, std::uint64_t high) const;
  void Grow();

  std::vector<TSlot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

}  // namespace vorn
