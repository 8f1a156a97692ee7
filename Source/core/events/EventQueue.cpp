#include "core/events/EventQueue.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

namespace vorn {
namespace {

// A record: this header, then the payload bytes, padded to a multiple of 8.
struct TRecordHeader {
  std::int32_t Id;
  std::uint32_t Size;
};
static_assert(sizeof(TRecordHeader) == 8);

constexpr std::size_t RecordBytes(std::size_t size) {
  return sizeof(TRecordHeader) + (size + 7) / 8 * 8;
}
static_assert(RecordBytes(VN_CALLBACK_PAYLOAD_SIZE) <= TEventQueue::kBlockBytes);

}  // namespace

TEventQueue::~TEventQueue() {
  Clear();
}

bool TEventQueue::Push(std::int32_t id, const void* payload, std::size_t size) {
  size = payload ? std::min<std::size_t>(size, VN_CALLBACK_PAYLOAD_SIZE) : 0;
  const std::size_t bytes = RecordBytes(size);
  std::unique_ptr<TBlock> fresh;  // made outside the lock when no block has room
  for (;;) {
    std::unique_ptr<TBlock> unused;  // freed after the lock is released
    {
      std::lock_guard guard(lock_);
      if (!last_ || kBlockBytes - last_->Write < bytes) {
        TBlock* next = nullptr;
        if (fresh) {
          next = fresh.release();
          ++blocks_;
        } else if (spare_) {
          next = std::exchange(spare_, nullptr);
        }
        if (next) {
          next->Next = nullptr;
          next->Read = next->Write = 0;
          (last_ ? last_->Next : first_) = next;
          last_ = next;
        }
      }
      if (last_ && kBlockBytes - last_->Write >= bytes) {
        unsigned char* record = last_->Bytes + last_->Write;
        const TRecordHeader header{id, static_cast<std::uint32_t>(size)};
        std::memcpy(record, &header, sizeof header);
        if (size > 0) std::memcpy(record + sizeof header, payload, size);
        last_->Write += bytes;
        // A block made while another post made room keeps as the spare.
        if (fresh && !spare_) {
          spare_ = fresh.release();
          ++blocks_;
        }
        unused = std::move(fresh);
        // Written only under the lock: a store, no read-modify-write.
        const std::size_t count = count_.load(std::memory_order_relaxed);
        count_.store(count + 1, std::memory_order_release);
        return count == 0;
      }
    }
    // Default-initialised: the bytes are written before they are read.
    fresh.reset(new TBlock);
  }
}

bool TEventQueue::Pop(TCallbackQueueItem& item) {
  TBlock* emptied = nullptr;
  std::size_t size = 0;
  {
    std::lock_guard guard(lock_);
    if (count_.load(std::memory_order_relaxed) == 0) return false;
    TBlock* block = first_;
    const unsigned char* record = block->Bytes + block->Read;
    TRecordHeader header{};
    std::memcpy(&header, record, sizeof header);
    size = header.Size;
    item.Id = header.Id;
    std::memcpy(item.Payload, record + sizeof header, size);
    block->Read += RecordBytes(size);
    count_.store(count_.load(std::memory_order_relaxed) - 1, std::memory_order_release);
    if (block->Read == block->Write) {
      if (block == last_) {
        block->Read = block->Write = 0;
      } else {
        first_ = block->Next;
        if (!spare_) {
          spare_ = block;
        } else {
          emptied = block;
          --blocks_;
        }
      }
    }
  }
  std::memset(item.Payload + size, 0, sizeof item.Payload - size);
  delete emptied;
  return true;
}

void TEventQueue::Clear() {
  TBlock* blocks = nullptr;
  {
    std::lock_guard guard(lock_);
    blocks = first_;
    if (spare_) {
      spare_->Next = blocks;
      blocks = spare_;
    }
    first_ = last_ = spare_ = nullptr;
    blocks_ = 0;
    count_.store(0, std::memory_order_release);
  }
  FreeBlocks(blocks);
}

std::size_t TEventQueue::HeldBytes() const {
  std::lock_guard guard(lock_);
  return blocks_ * sizeof(TBlock);
}

void TEventQueue::FreeBlocks(TBlock* first) {
  while (first) {
    TBlock* next = first->Next;
    delete first;
    first = next;
  }
}

}  // namespace vorn
