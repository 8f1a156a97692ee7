#pragma once
// Process-wide objects of the library. They are made on first use and are not destroyed with
// the static objects of the process (threads and the unload handling may still use them then);
// FreeProcessWideObjects, the last step of the library's unload, frees them all, newest first.

#include <atomic>

namespace vorn {

class TProcessWideBase {
 public:
  virtual ~TProcessWideBase() = default;

  // Links the object into the list that FreeProcessWideObjects walks.
  static void Register(TProcessWideBase* object);

 private:
  friend void FreeProcessWideObjects();

  TProcessWideBase* next_ = nullptr;
};

void FreeProcessWideObjects();

// Keeps an object made once (new) for the life of the library, like a TProcessWide.
template <class T>
T& KeepProcessWide(T* object) {
  struct TKept final : TProcessWideBase {
    explicit TKept(T* value) : value(value) {}
    ~TKept() override { delete value; }
    T* value;
  };
  TProcessWideBase::Register(new TKept(object));
  return *object;
}

template <class T>
class TProcessWide {
 public:
  T& Get() {
    Holder* holder = holder_.load(std::memory_order_acquire);
    if (!holder) {
      auto* fresh = new Holder(this);
      if (holder_.compare_exchange_strong(holder, fresh, std::memory_order_acq_rel)) {
        TProcessWideBase::Register(fresh);
        holder = fresh;
      } else {
        delete fresh;
      }
    }
    return holder->value;
  }

 private:
  struct Holder final : TProcessWideBase {
    explicit Holder(TProcessWide* owner) : owner(owner) {}
    ~Holder() override { owner->holder_.store(nullptr, std::memory_order_release); }
    TProcessWide* owner;
    T value{};
  };

  std::atomic<Holder*> holder_{nullptr};  // trivially destructible: never torn down at exit
};

}  // namespace vorn
