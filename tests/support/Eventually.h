#pragma once
// Waits a bounded time for a condition that another thread makes true.

#include <chrono>
#include <thread>

namespace vorn {

template <class F>
bool Eventually(F condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace vorn
