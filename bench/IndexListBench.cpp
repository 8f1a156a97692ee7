// Keyed-list look-ups and inserts at 10^5 items, keyed like host order ids.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/store/IndexList.h"
#include "core/util/CompareKeys.h"

namespace {

using vorn::TIndexListOf;
using vorn::TStreamable;

class TBenchItem : public TStreamable {
 public:
  explicit TBenchItem(std::string key) : Key(std::move(key)) {}
  std::string Key;
};

class TBenchList : public TIndexListOf<TBenchItem> {
 public:
  using TIndexListOf::TIndexListOf;

 protected:
  void KeyOf(const TBenchItem& item, std::string& key) const override { key = item.Key; }
};

constexpr int kItems = 100000;

// Distinct keys ("1000000" upward, step 2 so that odd numbers are free) in random order.
std::vector<std::string> ShuffledKeys(int count) {
  std::vector<std::string> keys;
  keys.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    keys.push_back(std::to_string(1000000 + 2 * i));
  std::shuffle(keys.begin(), keys.end(), std::mt19937(42));
  return keys;
}

std::unique_ptr<TBenchList> FilledList(const std::vector<std::string>& keys) {
  auto list = std::make_unique<TBenchList>("Bench");
  list->SetSorted(true);
  for (const auto& key : keys)
    list->Add(std::make_shared<TBenchItem>(key));
  return list;
}

void BM_IndexListFindHit(benchmark::State& state) {
  const auto keys = ShuffledKeys(kItems);
  const auto list = FilledList(keys);
  std::size_t i = 0;
  for (auto _ : state) {
    int index = 0;
    benchmark::DoNotOptimize(list->Find(keys[i++ % keys.size()], index));
    benchmark::DoNotOptimize(index);
  }
}
BENCHMARK(BM_IndexListFindHit);

void BM_IndexListFindItemMiss(benchmark::State& state) {
  const auto keys = ShuffledKeys(kItems);
  const auto list = FilledList(keys);
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& key = keys[i++ % keys.size()];
    benchmark::DoNotOptimize(list->FindItem(key.substr(0, 6)));  // odd/short keys miss
  }
}
BENCHMARK(BM_IndexListFindItemMiss);

// One insert into, and one delete from, a list that holds 10^5 items.
void BM_IndexListAddDeleteAt100k(benchmark::State& state) {
  const auto keys = ShuffledKeys(kItems);
  const auto list = FilledList(keys);
  std::vector<std::shared_ptr<TBenchItem>> fresh;
  for (int i = 0; i < 1024; ++i)
    fresh.push_back(
        std::make_shared<TBenchItem>(std::to_string(1000001 + 2 * ((i * 97) % kItems))));
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& item = fresh[i++ % fresh.size()];
    list->Add(item);
    list->DeleteKey(item->Key);
  }
}
BENCHMARK(BM_IndexListAddDeleteAt100k);

// Filling an empty sorted list with 10^5 items: keys in random order, in key order (each
// insert appends) and in reverse key order (each insert goes to the front).
void BM_IndexListFill100k(benchmark::State& state) {
  auto keys = ShuffledKeys(kItems);
  if (state.range(0) != 0) {
    std::sort(keys.begin(), keys.end());
    if (state.range(0) == 2) std::reverse(keys.begin(), keys.end());
  }
  std::vector<std::shared_ptr<TStreamable>> items;
  for (const auto& key : keys)
    items.push_back(std::make_shared<TBenchItem>(key));
  for (auto _ : state) {
    TBenchList list("Bench");
    list.SetSorted(true);
    for (const auto& item : items)
      list.Add(item);
    benchmark::DoNotOptimize(list.Count());
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_IndexListFill100k)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Appending 10^5 items unsorted, then switching sorting on.
void BM_IndexListSort100k(benchmark::State& state) {
  const auto keys = ShuffledKeys(kItems);
  std::vector<std::shared_ptr<TStreamable>> items;
  for (const auto& key : keys)
    items.push_back(std::make_shared<TBenchItem>(key));
  for (auto _ : state) {
    TBenchList list("Bench");
    for (const auto& item : items)
      list.Add(item);
    list.SetSorted(true);
    benchmark::DoNotOptimize(list.Count());
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_IndexListSort100k)->Unit(benchmark::kMillisecond);

void BM_CompareKeys(benchmark::State& state) {
  const std::string a =
      "ESM4\x01"
      "20240315\x01"
      "4500.25";
  const std::string b =
      "ESM4\x01"
      "20240315\x01"
      "4500.75";
  for (auto _ : state)
    benchmark::DoNotOptimize(vorn::CompareKeys(a, b));
}
BENCHMARK(BM_CompareKeys);

}  // namespace
