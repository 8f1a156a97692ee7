#include "core/util/SlabPool.h"

#include <thread>

#include "platform/MemoryStatus.h"
#include "platform/AddressSanitizer.h"

#if defined(VORN_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#define VORN_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define VORN_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define VORN_POISON(p, n) ((void)(p), (void)(n))
#define VORN_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace vorn {
namespace {

constexpr std::size_t kSlotAlign = alignof(std::max_align_t);

std::size_t RoundedSlot(std::size_t size) {
  if (size < sizeof(void*)) size = sizeof(void*);
  return (size + kSlotAlign - 1) / kSlotAlign * kSlotAlign;
}

}  // namespace

TSlabPool::TSlabPool(std::size_t slotSize) : slotSize_(RoundedSlot(slotSize)) {}

TSlabPool::~TSlabPool() {
  for (void* block : blocks_) {
    VORN_UNPOISON(block, kLargeBlockSize);
    FreeLargeBlock(block, kLargeBlockSize);
  }
}

void TSlabPool::Lock() const {
  while (locked_.exchange(true, std::memory_order_acquire)) {
    while (locked_.load(std::memory_order_relaxed))
      std::this_thread::yield();
  }
}

void TSlabPool::Grow() {
  void* block = AllocateLargeBlock(kLargeBlockSize);
  if (!block) throw std::bad_alloc();
  blocks_.push_back(block);
  VORN_POISON(block, kLargeBlockSize);
  next_ = static_cast<char*>(block);
  end_ = next_ + kLargeBlockSize / slotSize_ * slotSize_;
}

void* TSlabPool::Allocate() {
  void* slot = nullptr;
  Lock();
  try {
    if (free_) {
      VORN_UNPOISON(free_, slotSize_);
      slot = free_;
      free_ = free_->next;
    } else {
      if (next_ == end_) Grow();
      slot = next_;
      next_ += slotSize_;
      VORN_UNPOISON(slot, slotSize_);
    }
    ++inUse_;
  } catch (...) {
    Unlock();
    throw;
  }
  Unlock();
  return slot;
}

void TSlabPool::Deallocate(void* slot) {
  Lock();
  auto* entry = static_cast<TFreeSlot*>(slot);
  entry->next = free_;
  free_ = entry;
  VORN_POISON(slot, slotSize_);
  const bool last = --inUse_ == 0 && released_;
  Unlock();
  if (last) delete this;
}

void TSlabPool::Release() {
  Lock();
  released_ = true;
  const bool last = inUse_ == 0;
  Unlock();
  if (last) delete this;
}

std::size_t TSlabPool::SlotsInUse() const {
  Lock();
  const std::size_t n = inUse_;
  Unlock();
  return n;
}

std::size_t TSlabPool::BytesReserved() const {
  Lock();
  const std::size_t n = blocks_.size() * kLargeBlockSize;
  Unlock();
  return n;
}

}  // namespace vorn
