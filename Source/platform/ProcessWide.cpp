#include "platform/ProcessWide.h"

namespace vorn {
namespace {
std::atomic<TProcessWideBase*> newest{nullptr};
}  // namespace

void TProcessWideBase::Register(TProcessWideBase* object) {
  object->next_ = newest.load(std::memory_order_acquire);
  while (!newest.compare_exchange_weak(object->next_, object, std::memory_order_acq_rel)) {
  }
}

void FreeProcessWideObjects() {
  TProcessWideBase* object = newest.exchange(nullptr, std::memory_order_acq_rel);
  while (object) {
    TProcessWideBase* next = object->next_;
    delete object;
    object = next;
  }
}

}  // namespace vorn
