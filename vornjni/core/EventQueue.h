#pragma once
// The bridge's queue of API events on their way into Java: the API's callback thread appends,
// the one Java thread parked in processCallbacks takes them a round at a time.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace vorn::bridge {

// One event: the API's callback id and the bridge's own copy of its payload.
struct TCallback {
  std::int32_t Type = 0;
  std::vector<std::uint8_t> Data;
};

// Thread-safe. No caller of Take holds the queue's lock once Take returns, so a handler may
// call Stop or Add (and anything that waits for the API's callback thread) freely.
class TEventQueue {
 public:
  // Appends a copy of size bytes at payload and wakes the taker. Any thread.
  void Add(std::int32_t type, const void* payload, std::size_t size);
  // Waits until events are queued or Stop is called. Gives false once stopped (events still
  // queued are dropped, not delivered); else true with every event queued so far moved into
  // round, in order.
  bool Take(std::deque<TCallback>& round);
  // Ends Take now, or the next Take if none is waiting (a stop is never lost). Any thread.
  void Stop();
  // A new session: drops queued events and clears the stop.
  void Reset();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TCallback> items_;
  bool stopped_ = false;
};

}  // namespace vorn::bridge
