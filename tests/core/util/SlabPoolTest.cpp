#include "core/util/SlabPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "platform/MemoryStatus.h"

namespace vorn {
namespace {

// The owner's reference, released at the end of the test.
struct TPoolScope {
  explicit TPoolScope(std::size_t slotSize) : pool(new TSlabPool(slotSize)) {}
  ~TPoolScope() { pool->Release(); }
  TSlabPool* pool;
};

TEST(SlabPoolTest, SlotsAreDistinctAlignedAndReusedAcrossBlocks) {
  TPoolScope scope(1000);
  TSlabPool& pool = *scope.pool;
  EXPECT_EQ(pool.SlotSize() % alignof(std::max_align_t), 0u);
  EXPECT_GE(pool.SlotSize(), 1000u);
  // More than one block's worth.
  const std::size_t count = kLargeBlockSize / pool.SlotSize() + 10;
  std::vector<void*> slots;
  for (std::size_t i = 0; i < count; ++i) {
    slots.push_back(pool.Allocate());
    std::memset(slots.back(), static_cast<int>(i & 0xFF), pool.SlotSize());
  }
  EXPECT_EQ(pool.SlotsInUse(), count);
  EXPECT_EQ(pool.BytesReserved(), 2 * kLargeBlockSize);
  std::set<std::uintptr_t> addresses;
  for (std::size_t i = 0; i < count; ++i) {
    const auto at = reinterpret_cast<std::uintptr_t>(slots[i]);
    EXPECT_EQ(at % alignof(std::max_align_t), 0u);
    addresses.insert(at);
    EXPECT_EQ(static_cast<unsigned char*>(slots[i])[pool.SlotSize() - 1], i & 0xFF) << i;
  }
  EXPECT_EQ(addresses.size(), count);
  for (void* slot : slots)
    pool.Deallocate(slot);
  EXPECT_EQ(pool.SlotsInUse(), 0u);
  // Freed slots come back before the pool reserves more.
  std::vector<void*> again;
  for (std::size_t i = 0; i < count; ++i)
    again.push_back(pool.Allocate());
  EXPECT_EQ(pool.BytesReserved(), 2 * kLargeBlockSize);
  for (void* slot : again) {
    EXPECT_TRUE(addresses.count(reinterpret_cast<std::uintptr_t>(slot)));
    pool.Deallocate(slot);
  }
}

TEST(SlabPoolTest, ThreadsAllocateAndFreeConcurrently) {
  TPoolScope scope(200);
  TSlabPool& pool = *scope.pool;
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  // Each thread keeps a few slots stamped with its number and checks them before freeing:
  // a slot handed to two threads at once shows as a foreign stamp.
  std::atomic<int> clashes{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&pool, &clashes, t] {
      std::vector<int*> held;
      for (int i = 0; i < kRounds; ++i) {
        auto* slot = static_cast<int*>(pool.Allocate());
        *slot = t;
        held.push_back(slot);
        if (held.size() > 16 || i % 3 == 0) {
          int* back = held.front();
          held.erase(held.begin());
          if (*back != t) ++clashes;
          pool.Deallocate(back);
        }
      }
      for (int* slot : held) {
        if (*slot != t) ++clashes;
        pool.Deallocate(slot);
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(clashes.load(), 0);
  EXPECT_EQ(pool.SlotsInUse(), 0u);
}

// Shared items of a pool whose owner has let go stay valid until the last one goes.
TEST(SlabPoolTest, ItemsOutliveTheOwnersReference) {
  auto* pool = new TSlabPool(sizeof(std::string) + 64);
  auto first = std::allocate_shared<std::string>(TSlabAllocator<std::string>(*pool), 40, 'a');
  auto second = std::allocate_shared<std::string>(TSlabAllocator<std::string>(*pool), "b");
  EXPECT_EQ(pool->SlotsInUse(), 2u);
  pool->Release();
  first.reset();
  EXPECT_EQ(*second, "b");
  second.reset();  // the pool goes with it (the sanitizer builds check the memory)
}

TEST(SlabPoolTest, LargerRequestsGoToTheHeap) {
  TPoolScope scope(64);
  TSlabAllocator<char> bytes(*scope.pool);
  char* one = bytes.allocate(1);
  char* many = bytes.allocate(1000);
  EXPECT_EQ(scope.pool->SlotsInUse(), 1u);
  std::memset(many, 1, 1000);
  bytes.deallocate(many, 1000);
  bytes.deallocate(one, 1);
  EXPECT_EQ(scope.pool->SlotsInUse(), 0u);
}

}  // namespace
}  // namespace vorn
