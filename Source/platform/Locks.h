#pragma once
// Critical sections and thread lists in place of the platform's.

#include <atomic>
#include <mutex>
#include <thread>

namespace vorn {

// A lock for critical sections of a few copies that never block and take no other lock: a
// waiter spins a short while, then yields its time slice until the lock is free. Not
// re-entrant. BasicLockable, so std::lock_guard works on it.
class TSpinLock {
 public:
  void lock() noexcept {
    int spins = 0;
    while (locked_.exchange(true, std::memory_order_acquire)) {
      while (locked_.load(std::memory_order_relaxed)) {
        if (++spins < kSpinsBeforeYield) {
          Pause();
        } else {
          std::this_thread::yield();
        }
      }
    }
  }
  bool try_lock() noexcept {
    return !locked_.load(std::memory_order_relaxed) &&
           !locked_.exchange(true, std::memory_order_acquire);
  }
  void unlock() noexcept { locked_.store(false, std::memory_order_release); }

 private:
  static constexpr int kSpinsBeforeYield = 100;
  static void Pause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }

  std::atomic<bool> locked_{false};
};

// A re-entrant critical section.
class TCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  // BasicLockable, so std::lock_guard and std::unique_lock work on it.
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  bool try_lock() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

// A container guarded by its own lock: LockList hands out the container with the lock held.
template <class Container>
class TThreadList {
 public:
  class Locked {
   public:
    explicit Locked(TThreadList& owner) : lock_(owner.mutex_), items_(owner.items_) {}
    Container* operator->() { return &items_; }
    Container& operator*() { return items_; }

   private:
    std::unique_lock<std::recursive_mutex> lock_;
    Container& items_;
  };

  Locked LockList() { return Locked(*this); }

  template <class Item>
  void Add(Item&& item) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::forward<Item>(item));
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    items_.clear();
  }

  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

 private:
  std::recursive_mutex mutex_;
  Container items_;
};

}  // namespace vorn
