#include "vornjni/core/EventQueue.h"


namespace vorn::bridge {

void TEventQueue::Add(std::int32_t type, const void* payload, std::size_t size) {
  TCallback item;
  item.Type = type;
  if (payload && size > 0) {
    const auto* bytes = static_cast<const std::uint8_t*>(payload);
    item.Data.assign(bytes, bytes + size);
  }
  {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
  }
  changed_.notify_one();
}

bool TEventQueue::Take(std::deque<TCallback>& round) {
  round.clear();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stopped_ || !items_.empty(); });
  if (stopped_) return false;
  round.swap(items_);
  return true;
}

void TEventQueue::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

void TEventQueue::Reset() {
  std::lock_guard lock(mutex_);
  items_.clear();
  stopped_ = false;
}

}  // namespace vorn::bridge
