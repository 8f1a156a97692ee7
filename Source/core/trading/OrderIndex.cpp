#include "core/trading/OrderIndex.h"

#include <cstring>
#include <utility>

namespace vorn {

bool TOrderIndex::Pack(std::string_view key, std::uint64_t& low, std::uint64_t& high) {
  if (key.size() > kMaxKey) return false;
  unsigned char bytes[16] = {};
  std::memcpy(bytes, key.data(), key.size());
  bytes[15] = static_cast<unsigned char>(key.size());
  std::memcpy(&low, bytes, 8);
  std::memcpy(&high, bytes + 8, 8);
  return true;
}

std::size_t TOrderIndex::Hash(std::uint64_t low, std::uint64_t high) {
  std::uint64_t h = (low ^ (high * 0xC2B2AE3D27D4EB4FULL)) * 0x9E3779B97F4A7C15ULL;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 32;
  return static_cast<std::size_t>(h);
}

std::size_t TOrderIndex::Probe(std::uint64_t low, std::uint64_t high) const {
  std::size_t at = Hash(low, high) & mask_;
  for (;;) {
    const TSlot& slot = slots_[at];
    if (!slot.History || (slot.Low == low && slot.High == high)) return at;
    at = (at + 1) & mask_;
  }
}

TOrderList* TOrderIndex::Find(std::string_view key) const {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  if (count_ == 0 || !Pack(key, low, high)) return nullptr;
  return slots_[Probe(low, high)].History;
}

// At most half full, so probe runs stay short.
void TOrderIndex::Grow() {
  std::vector<TSlot> old;
  old.swap(slots_);
  const std::size_t size = old.empty() ? 64 : old.size() * 2;
  slots_.assign(size, TSlot{});
  mask_ = size - 1;
  for (const TSlot& slot : old)
    if (slot.History) slots_[Probe(slot.Low, slot.High)] = slot;
}

void TOrderIndex::Set(std::string_view key, TOrderList* history) {
  if (!history) {
    Erase(key);
    return;
  }
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  if (!Pack(key, low, high)) return;
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  TSlot& slot = slots_[Probe(low, high)];
  if (!slot.History) ++count_;
  slot = {low, high, history};
}

// Linear probing with backward-shift deletion: no tombstones, so look-ups never lengthen.
bool TOrderIndex::Erase(std::string_view key, const TOrderList* history) {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  if (count_ == 0 || !Pack(key, low, high)) return false;
  std::size_t hole = Probe(low, high);
  if (!slots_[hole].History || (history && slots_[hole].History != history)) return false;
  slots_[hole] = TSlot{};
  --count_;
  for (std::size_t at = (hole + 1) & mask_; slots_[at].History; at = (at + 1) & mask_) {
    const std::size_t home = Hash(slots_[at].Low, slots_[at].High) & mask_;
    // The entry may move back into the hole unless its home lies cyclically in (hole, at].
    const bool homeAfterHole =
        hole <= at ? (hole < home && home <= at) : (hole < home || home <= at);
    if (homeAfterHole) continue;
    slots_[hole] = std::exchange(slots_[at], TSlot{});
    hole = at;
  }
  return true;
}

void TOrderIndex::Clear() {
  slots_.clear();
  mask_ = 0;
  count_ = 0;
}

}  // namespace vorn
