#pragma once
// Fixed-size slots carved from large pre-touched blocks (platform/MemoryStatus.h), for items made
// by the hundred thousand on the socket thread (order states): a new slot is a free-list pop or
// a bump of a pointer, with no heap growth and no page fault.
//
// Thread-safe: any thread allocates and frees, under a spin lock held for a few instructions.
// Blocks are never handed back while the pool lives. The pool is reference-counted by its owner
// and by every slot in use: when the owner releases it, it stays until the last slot is freed,
// so an item outlives the object that made its pool.

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace vorn {

class TSlabPool {
 public:
  // Slots of at least slotSize bytes, aligned for any object. The caller holds the owner's
  // reference; Release gives it up.
  explicit TSlabPool(std::size_t slotSize);
  TSlabPool(const TSlabPool&) = delete;
  TSlabPool& operator=(const TSlabPool&) = delete;

  std::size_t SlotSize() const { return slotSize_; }
  // A slot; throws std::bad_alloc when no block can be had.
  void* Allocate();
  // A slot of this pool. May delete the pool (the last slot after Release).
  void Deallocate(void* slot);
  // The owner's reference. The pool goes with it when no slot is in use, else with the last.
  void Release();

  // Figures, read under the lock.
  std::size_t SlotsInUse() const;
  std::size_t BytesReserved() const;

 private:
  ~TSlabPool();
  void Lock() const;
  void Unlock() const { locked_.store(false, std::memory_order_release); }
  // A new block for the bump pointer; under the lock.
  void Grow();

  struct TFreeSlot {
    TFreeSlot* next;
  };

  const std::size_t slotSize_;
  mutable std::atomic<bool> locked_{false};
  // Under the lock.
  TFreeSlot* free_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::vector<void*> blocks_;
  std::size_t inUse_ = 0;
  bool released_ = false;
};

// An allocator whose single objects of at most the pool's slot size come from the pool (any
// other request from the heap), for std::allocate_shared: the shared_ptr's control block keeps
// the allocator, hence the pool, for the life of the object.
template <class T>
class TSlabAllocator {
 public:
  using value_type = T;

  explicit TSlabAllocator(TSlabPool& pool) noexcept : pool_(&pool) {}
  template <class U>
  TSlabAllocator(const TSlabAllocator<U>& other) noexcept : pool_(other.Pool()) {}

  T* allocate(std::size_t n) {
    if (Pooled(n)) return static_cast<T*>(pool_->Allocate());
    return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t{alignof(T)}));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (Pooled(n))
      pool_->Deallocate(p);
    else
      ::operator delete(p, std::align_val_t{alignof(T)});
  }

  TSlabPool* Pool() const noexcept { return pool_; }
  template <class U>
  bool operator==(const TSlabAllocator<U>& other) const noexcept {
    return pool_ == other.Pool();
  }

 private:
  bool Pooled(std::size_t n) const noexcept {
    return n == 1 && sizeof(T) <= pool_->SlotSize() && alignof(T) <= alignof(std::max_align_t);
  }

  TSlabPool* pool_;
};

}  // namespace vorn
