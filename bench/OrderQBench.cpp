// The order list with 10^5 and 10^6 orders listed: a new state through the rules, and a look-up
// by order ID against a hash map of the same keys.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <time.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/trading/OrderQ.h"
#include "core/util/SlabPool.h"

namespace {

using vorn::TOrderItem;
using vorn::TOrderQ;

std::shared_ptr<TOrderItem> State(std::string id, vorn::TOrderStatus status) {
  auto item = vorn::NewOrderItem();
  item->ID = std::move(id);
  item->Status = status;
  item->TargetLots = 10;
  item->ActualLots = 10;
  return item;
}

// Host IDs as the host hands them out: increasing numbers.
std::string HostID(std::int64_t n) {
  return std::to_string(100000000 + n);
}

std::unique_ptr<TOrderQ> Listed(std::int64_t count) {
  auto orders = std::make_unique<TOrderQ>();
  for (std::int64_t i = 0; i < count; ++i)
    orders->Add(State(HostID(i), vorn::osWorking));
  orders->QueuedWatch.Clear();
  orders->SentWatch.Clear();
  return orders;
}

// Bytes in use: the heap (arena and mapped) and the slots taken from the order states' slab
// blocks.
double BytesInUse() {
  const struct mallinfo2 info = mallinfo2();
  const vorn::TSlabPool& pool = vorn::OrderStatePool();
  return static_cast<double>(info.uordblks + info.hblkhd) +
         static_cast<double>(pool.SlotsInUse() * pool.SlotSize());
}

double MinorFaults() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_minflt);
}

// A new state of a listed order: the rules, the history and the watch lists. Every state is
// kept (histories grow), so the heap and the faults it costs show per state.
void BM_OrderQAddState(benchmark::State& state) {
  const std::int64_t count = state.range(0);
  auto orders = Listed(count);
  std::int64_t n = 0;
  const double bytes = BytesInUse();
  const double faults = MinorFaults();
  for (auto _ : state) {
    const std::string id = HostID((n * 7919) % count);
    ++n;
    benchmark::DoNotOptimize(orders->Add(State(id, vorn::osPart)));
  }
  const double states = static_cast<double>(state.iterations());
  state.counters["bytes_per_state"] = (BytesInUse() - bytes) / states;
  state.counters["faults_per_state"] = (MinorFaults() - faults) / states;
  state.counters["sizeof_state"] = sizeof(TOrderItem);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OrderQAddState)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// A new order: a new history keyed into the list.
void BM_OrderQAddNewOrder(benchmark::State& state) {
  const std::int64_t count = state.range(0);
  auto orders = Listed(count);
  std::int64_t n = count;
  for (auto _ : state) {
    benchmark::DoNotOptimize(orders->Add(State(HostID(n++), vorn::osQueued)));
    if (orders->QueuedWatch.Count() > 1000) orders->QueuedWatch.Clear();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OrderQAddNewOrder)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// The thread's CPU time: the machine may be shared, and time spent waiting for a processor
// would count against one side of the ratio only.
std::int64_t NowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The floor: std::unordered_map<std::string, const void*> of the same keys, each value a block
// of its own as large as a history, asked in the same sequence as often as the benchmark ran,
// with one load from the block found. Prints CPU ns per look-up of both and their ratio "x_map".
void ReportAgainstMap(benchmark::State& state, std::int64_t count, std::int64_t ns) {
  using TBlock = std::array<std::uint64_t, 32>;
  std::vector<std::unique_ptr<TBlock>> blocks;
  std::unordered_map<std::string, const void*> map;
  for (std::int64_t i = 0; i < count; ++i) {
    blocks.push_back(std::make_unique<TBlock>());
    (*blocks.back())[0] = static_cast<std::uint64_t>(i);
    map.emplace(HostID(i), blocks.back().get());
  }
  const auto iterations = static_cast<std::int64_t>(state.iterations());
  std::uint64_t sum = 0;
  const std::int64_t start = NowNs();
  for (std::int64_t n = 0; n < iterations; ++n) {
    const std::string id = HostID((n * 7919) % count);
    auto it = map.find(id);
    if (it != map.end()) sum += *static_cast<const std::uint64_t*>(it->second);
    benchmark::DoNotOptimize(sum);
  }
  const std::int64_t floor = NowNs() - start;
  const double per = iterations > 0 ? 1.0 / static_cast<double>(iterations) : 0;
  state.counters["ns_per_find"] = static_cast<double>(ns) * per;
  state.counters["floor_ns_per_find"] = static_cast<double>(floor) * per;
  state.counters["x_map"] = floor > 0 ? static_cast<double>(ns) / static_cast<double>(floor) : 0;
}

void BM_OrderQFindOrder(benchmark::State& state) {
  const std::int64_t count = state.range(0);
  auto orders = Listed(count);
  std::int64_t n = 0;
  const std::int64_t start = NowNs();
  for (auto _ : state) {
    const std::string id = HostID((n * 7919) % count);
    ++n;
    benchmark::DoNotOptimize(orders->FindOrder(id));
  }
  const std::int64_t ns = NowNs() - start;
  state.SetItemsProcessed(state.iterations());
  ReportAgainstMap(state, count, ns);
}
BENCHMARK(BM_OrderQFindOrder)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace
