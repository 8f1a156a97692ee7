#include "core/session/Link.h"

#include <mutex>

namespace vorn {
namespace {
std::mutex factoryLock;
TLinkFactory linkFactory;
}  // namespace

void SetLinkFactory(TLinkFactory factory) {
  std::lock_guard guard(factoryLock);
  linkFactory = std::move(factory);
}

TLinkFactory GetLinkFactory() {
  std::lock_guard guard(factoryLock);
  return linkFactory;
}

}  // namespace vorn
