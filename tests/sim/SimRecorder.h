#pragma once
// The application's side of the events that the simulator's tests read: procedures for the ids
// of a logon and a moving market, each delivery recorded with its payload; one recorder per
// test program.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "vornintf.h"

namespace vorn::sim::testing {

using namespace std::chrono_literals;

// The events the library delivered, by id, with the payload bytes of those the test reads.
struct TDelivery {
  int Id = 0;
  std::string Payload;
};

class TRecorder {
 public:
  void Add(int id, const void* payload, std::size_t size) {
    std::lock_guard guard(lock_);
    deliveries_.push_back(
        {id, payload ? std::string(static_cast<const char*>(payload), size) : std::string()});
    changed_.notify_all();
  }
  void Clear() {
    std::lock_guard guard(lock_);
    deliveries_.clear();
  }
  std::vector<TDelivery> Deliveries() {
    std::lock_guard guard(lock_);
    return deliveries_;
  }
  // Waits until count deliveries of the id arrived; false after the time-out.
  bool WaitFor(int id, std::size_t count, std::chrono::milliseconds timeout = 20s) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return CountLocked(id) >= count; });
  }
  std::size_t Count(int id) {
    std::lock_guard guard(lock_);
    return CountLocked(id);
  }

 private:
  std::size_t CountLocked(int id) const {
    std::size_t n = 0;
    for (const TDelivery& d : deliveries_)
      n += d.Id == id ? 1 : 0;
    return n;
  }
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<TDelivery> deliveries_;
};

inline TRecorder recorder;

template <int Id>
inline void VN_STDCALL Notify() {
  recorder.Add(Id, nullptr, 0);
}
template <int Id>
inline void VN_STDCALL LinkState(const LinkStateStruct* state) {
  recorder.Add(Id, state, sizeof *state);
}
inline void VN_STDCALL ConStatus(const ConnectivityStatusStruct* status) {
  recorder.Add(VN_CB_CONNECTIVITY_STATUS, status, sizeof *status);
}
inline void VN_STDCALL PriceUpdate(const ContractKeyStruct* key) {
  recorder.Add(VN_CB_PRICE_UPDATE, key, sizeof *key);
}
inline void VN_STDCALL OrderUpdate(const OrderUpdateStruct* update) {
  recorder.Add(VN_CB_ORDER, update, sizeof *update);
}

// The text of a fixed-width field, up to its NUL.
inline std::string Field(const char* text, std::size_t width) {
  std::size_t n = 0;
  while (n < width && text[n] != 0)
    ++n;
  return std::string(text, n);
}

}  // namespace vorn::sim::testing
