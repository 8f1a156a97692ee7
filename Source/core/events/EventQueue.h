#pragma once
// TEventQueue: the store of the callback queue. Each event is kept as its id, its size and the
// payload bytes posted (rounded up to 8), packed one after another in blocks; so a queued event
// holds what was posted and no more (about 90 bytes for a price event, 160 for a ticker, where
// a whole item is 505), and a post is one copy into the newest block. The events are taken out
// in posting order, each into a whole item whose payload area is zero past the bytes posted.
//
// Threads: any thread posts, takes out, clears and counts. One spin lock guards the blocks and
// is held only to copy a record in or out; blocks are allocated and freed outside it. A block
// emptied by the reader is kept as the one spare for the next block needed.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/Locks.h"
#include "vornintf.h"

namespace vorn {

// One event as the callback thread delivers it: the id and the payload area, the builder's
// record at its start and zeros after it (readers such as the Java bridge copy a few bytes past
// some records).
#pragma pack(push, 1)
struct TCallbackQueueItem {
  std::int32_t Id;
  unsigned char Payload[VN_CALLBACK_PAYLOAD_SIZE];
};
#pragma pack(pop)
static_assert(sizeof(TCallbackQueueItem) == 505);

class TEventQueue {
 public:
  static constexpr std::size_t kBlockBytes = 32 * 1024;

  TEventQueue() = default;
  TEventQueue(const TEventQueue&) = delete;
  TEventQueue& operator=(const TEventQueue&) = delete;
  ~TEventQueue();

  // Appends the event: size bytes of payload (cut to the payload area; none when payload is
  // null). True when the queue was empty before it. std::bad_alloc, queueing nothing, when no
  // block can be had.
  bool Push(std::int32_t id, const void* payload, std::size_t size);
  // Takes the oldest event out into item; false, leaving item as it was, when there is none.
  bool Pop(TCallbackQueueItem& item);
  // Frees every queued event and the spare block.
  void Clear();
  std::size_t Count() const { return count_.load(std::memory_order_acquire); }
  // The bytes of the blocks held, the spare included.
  std::size_t HeldBytes() const;

 private:
  struct TBlock {
    TBlock* Next = nullptr;
    std::size_t Read = 0;   // offset of the oldest record not taken out
    std::size_t Write = 0;  // offset past the newest record
    alignas(8) unsigned char Bytes[kBlockBytes];
  };

  static void FreeBlocks(TBlock* first);

  mutable TSpinLock lock_;
  // Every block but the newest holds at least one record; the newest is empty only when it
  // is the only one.
  TBlock* first_ = nullptr;
  TBlock* last_ = nullptr;
  TBlock* spare_ = nullptr;
  std::size_t blocks_ = 0;  // in the list and spare
  std::atomic<std::size_t> count_{0};  // written under lock_
};

}  // namespace vorn
