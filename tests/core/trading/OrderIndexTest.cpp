// The order list's look-up structures against plain references, over seeded random sequences:
// the flat index against std::map, the order list's index and cached heads against the sorted
// list itself, and the indexed watch lists against the linear list they replace.
#include "core/trading/OrderIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/store/ObjStream.h"
#include "core/trading/OrderQ.h"
#include "core/util/CompareKeys.h"

namespace vorn {
namespace {

std::shared_ptr<TOrderItem> MakeState(const std::string& id, TOrderStatus status,
                                      std::int32_t sequence = 0) {
  auto item = std::make_shared<TOrderItem>();
  item->ID = id;
  item->DisplayID = id;
  item->Status = status;
  item->TargetLots = 10;
  item->ActualLots = 10;
  item->OrderHistorySeq = sequence;
  return item;
}

// IDs of mixed widths, so that new keys land at either end and in the middle of the list, and
// IDs of 10 and more characters, which share a key.
std::string RandomID(std::mt19937& random) {
  switch (random() % 6) {
    case 0:
      return std::to_string(random() % 50);
    case 1:
      return std::to_string(10000000 + random() % 50);
    case 2:
      return "N" + std::to_string(random() % 20);
    case 3:
      return "12345678" + std::to_string(random() % 300);
    default:
      return std::to_string(1000 + random() % 200);
  }
}

TEST(OrderIndexTest, MatchesAMapOverRandomSetsAndErases) {
  std::mt19937 random(20);
  TOrderIndex index;
  std::map<std::string, TOrderList*> model;
  // Stand-in histories: the index only stores and compares the pointers.
  std::vector<char> targets(64);
  const auto target = [&](std::size_t i) {
    return reinterpret_cast<TOrderList*>(&targets[i % targets.size()]);
  };
  const auto key = [&] {
    // Short keys, keys that differ only past byte 8 and in their length, the longest kept.
    const std::size_t length = random() % 16;
    std::string text(length, '0');
    for (char& c : text)
      c = static_cast<char>('0' + random() % 3);
    return text;
  };
  for (int step = 0; step < 20000; ++step) {
    const std::string k = key();
    switch (random() % 4) {
      case 0:
      case 1: {
        TOrderList* history = target(random());
        index.Set(k, history);
        model[k] = history;
        break;
      }
      case 2: {
        const bool erased = index.Erase(k);
        EXPECT_EQ(erased, model.erase(k) == 1) << k;
        break;
      }
      default: {
        // Erased only when it stands for the history named.
        auto it = model.find(k);
        TOrderList* other = target(random());
        const bool expected = it != model.end() && it->second == other;
        EXPECT_EQ(index.Erase(k, other), expected) << k;
        if (expected) model.erase(it);
        break;
      }
    }
    ASSERT_EQ(index.Size(), model.size());
    if (step % 500 == 0 || step > 19900) {
      for (const auto& [k2, history] : model)
        ASSERT_EQ(index.Find(k2), history) << k2;
    }
  }
  // Every key of up to three digits, whether kept or not.
  for (std::size_t length = 0; length <= 3; ++length) {
    std::string k(length, '0');
    for (;;) {
      auto it = model.find(k);
      EXPECT_EQ(index.Find(k), it == model.end() ? nullptr : it->second) << k;
      std::size_t at = 0;
      while (at < length && k[at] == '2')
        k[at++] = '0';
      if (at == length) break;
      ++k[at];
    }
  }
  EXPECT_EQ(index.Find(std::string(16, '0')), nullptr);
  index.Set(std::string(16, '0'), target(0));
  EXPECT_EQ(index.Find(std::string(16, '0')), nullptr);
  index.Clear();
  EXPECT_EQ(index.Size(), 0u);
  EXPECT_EQ(index.Find(""), nullptr);
}

// Every listed history is found by its ID with its entry 0 as the cached head, nothing else is
// found, the list stays in key order and the open-lot shares stay those of the heads.
void ExpectConsistent(TOrderQ& orders,
                      const std::map<std::string, std::shared_ptr<TOrderList>>& model,
                      const std::vector<std::string>& askedFor, int step) {
  SCOPED_TRACE("step " + std::to_string(step));
  ASSERT_EQ(orders.Count(), static_cast<int>(model.size()));
  for (int i = 0; i < orders.Count(); ++i) {
    const auto history = orders.At(i);
    if (i > 0) {
      ASSERT_LT(CompareKeys(orders.At(i - 1)->OrderID(), history->OrderID()), 0);
    }
    auto it = model.find(history->OrderID());
    ASSERT_NE(it, model.end()) << history->OrderID();
    ASSERT_EQ(it->second, history);
  }
  for (const auto& [key, history] : model) {
    ASSERT_EQ(orders.FindOrderList(key), history) << key;
    const auto head = history->Count() > 0 ? history->At(0) : nullptr;
    ASSERT_EQ(orders.FindOrder(key), head) << key;
    ASSERT_EQ(history->GetCurrent(), head) << key;
    ASSERT_EQ(history->PeekHead(), head.get()) << key;
  }
  // The IDs asked for lately (all of them at the end): those not listed are not found.
  const std::size_t from = step < 0 || askedFor.size() < 20 ? 0 : askedFor.size() - 20;
  for (std::size_t i = from; i < askedFor.size(); ++i) {
    const std::string& id = askedFor[i];
    if (model.count(OrderKey(id))) continue;
    ASSERT_EQ(orders.FindOrder(id), nullptr) << id;
    ASSERT_EQ(orders.FindOrderList(id), nullptr) << id;
  }
  ASSERT_TRUE(orders.OpenLotsConsistent());
}

// The listed history with that key, found entry by entry.
std::shared_ptr<TOrderList> ScanFor(const TOrderQ& orders, const std::string& key) {
  for (int i = 0; i < orders.Count(); ++i)
    if (orders.At(i)->OrderID() == key) return orders.At(i);
  return nullptr;
}

TEST(OrderIndexTest, OrderListIndexAndHeadsFollowEveryChange) {
  std::mt19937 random(2026);
  auto host = std::make_shared<IOrderQHost>();
  TOrderQ orders;
  orders.SetHost(host);
  std::map<std::string, std::shared_ptr<TOrderList>> model;  // by key
  std::vector<std::string> asked;
  std::map<std::string, TOrderListRef> refs;  // by key, as the order road last used them
  const auto anyListed = [&]() -> std::shared_ptr<TOrderList> {
    if (model.empty()) return nullptr;
    auto it = model.begin();
    std::advance(it, static_cast<long>(random() % model.size()));
    return it->second;
  };
  const TOrderStatus states[] = {osQueued, osSent, osWorking, osPart, osFilled, osCancelled};
  for (int step = 0; step < 3000; ++step) {
    const std::string id = RandomID(random);
    asked.push_back(id);
    const std::string key = OrderKey(id);
    switch (random() % 10) {
      case 0:
      case 1:
      case 2: {
        // A state through the rules: a new history or a new head (or an ignored state).
        const TOrderStatus status = states[random() % std::size(states)];
        auto item = MakeState(id, status, static_cast<std::int32_t>(random() % 5));
        // Now and then with the history found for the key some steps before, valid or not.
        const auto remembered = refs.find(key);
        const TOrderListRef known =
            remembered != refs.end() && random() % 2 == 0 ? remembered->second : TOrderListRef{};
        TOrderListRef used;
        orders.Add(item, known, &used);
        if (!model.count(key))
          if (auto made = ScanFor(orders, key)) model[key] = made;
        ASSERT_TRUE(used.History);
        EXPECT_EQ(used.History, model[key]);
        EXPECT_EQ(orders.FindOrder(id, known), model[key]->GetCurrent());
        refs[key] = used;
        break;
      }
      case 3: {
        // Behind the head, or the head of a new history.
        orders.AddToHistory(MakeState(id, osWorking));
        if (!model.count(key)) model[key] = ScanFor(orders, key);
        break;
      }
      case 4: {
        if (auto history = anyListed()) {
          const std::string from = history->OrderID();
          if (orders.ReKeyOrder(history, id)) {
            model.erase(from);
            model[key] = history;
          } else {
            EXPECT_TRUE(model.count(key) && model[key] != history);
          }
        }
        break;
      }
      case 5: {
        if (auto history = anyListed()) {
          EXPECT_GE(orders.RemoveItem(history.get()), 0);
          model.erase(history->OrderID());
          // Gone: not found again.
          EXPECT_EQ(orders.RemoveItem(history.get()), -1);
        }
        break;
      }
      case 6: {
        const bool listed = model.erase(key) == 1;
        EXPECT_EQ(orders.RemoveKey(key) >= 0, listed);
        break;
      }
      case 7: {
        const bool listed = model.erase(key) == 1;
        EXPECT_EQ(orders.DeleteKey(key) >= 0, listed);
        break;
      }
      case 8: {
        if (orders.Count() > 0) {
          const int at = static_cast<int>(random() % static_cast<unsigned>(orders.Count()));
          model.erase(orders.At(at)->OrderID());
          orders.FreeAt(at);
        }
        break;
      }
      default: {
        // The head's entries change under the order list's lock: closing state by sequence, or
        // the head dropped from its history.
        if (auto history = anyListed()) {
          TIndexListLock guard(orders);
          if (random() % 2 == 0 || history->Count() < 2) {
            history->InsertBySequence(MakeState(history->OrderID(), osCancelled, 99));
          } else {
            history->Delete(0);
          }
          orders.NoteHead(*history);
        }
        break;
      }
    }
    ExpectConsistent(orders, model, asked, step);
    if (HasFatalFailure()) return;
  }
  // A store round trip and a clear leave index and heads in step as well.
  TStream stream;
  orders.SaveToStream(stream);
  stream.SetPosition(0);
  TOrderQ loaded;
  loaded.SetHost(host);
  ASSERT_TRUE(loaded.LoadFromStream(stream, true));
  std::map<std::string, std::shared_ptr<TOrderList>> stored;
  for (int i = 0; i < loaded.Count(); ++i)
    stored[loaded.At(i)->OrderID()] = loaded.At(i);
  ExpectConsistent(loaded, stored, asked, -1);
  orders.Clear();
  ExpectConsistent(orders, {}, asked, -2);
}

TEST(OrderIndexTest, AKnownHistoryIsUsedOnlyWhileStillListed) {
  TOrderQ orders;
  ASSERT_TRUE(orders.Add(MakeState("7", osQueued)));
  const TOrderListRef known = orders.FindOrderListRef("7");
  ASSERT_TRUE(known.History);
  TOrderListRef used;
  ASSERT_TRUE(orders.Add(MakeState("7", osSent), known, &used));
  EXPECT_EQ(used.History, known.History);
  EXPECT_EQ(orders.FindOrder("7", used)->Status, osSent);
  // Not for another ID.
  EXPECT_EQ(orders.FindOrder("8", known), nullptr);
  // Taken out, and the ID listed afresh: the old history is left alone.
  orders.RemoveItem(known.History.get());
  ASSERT_TRUE(orders.Add(MakeState("7", osWorking), known, &used));
  EXPECT_NE(used.History, known.History);
  EXPECT_EQ(known.History->Count(), 2);
  EXPECT_EQ(orders.FindOrder("7", known)->Status, osWorking);
  // Re-keyed away.
  const TOrderListRef now = orders.FindOrderListRef("7");
  ASSERT_TRUE(orders.ReKeyOrder(now.History, "9"));
  EXPECT_EQ(orders.FindOrder("7", now), nullptr);
  EXPECT_EQ(orders.FindOrder("9", now), now.History->GetCurrent());
}

TEST(OrderIndexTest, ChangesThatBypassTheOverridesRebuildTheIndex) {
  TOrderQ orders;
  for (const char* id : {"1", "2", "3"})
    ASSERT_TRUE(orders.Add(MakeState(id, osQueued)));
  const auto second = orders.FindOrderList("2");
  orders.Delete(1);
  EXPECT_EQ(orders.FindOrderList("2"), nullptr);
  orders.Insert(1, second);
  EXPECT_EQ(orders.FindOrderList("2"), second);
  EXPECT_EQ(orders.FindOrder("2"), second->At(0));
}

// The linear list the indexed watch list replaces.
class TReferenceWatch {
 public:
  void Add(const std::shared_ptr<TOrderItem>& order) { entries_.push_back({order->ID, order}); }
  bool Remove(const std::string& id) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const auto& entry) { return entry.first == id; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
  }
  void Rename(const std::string& from, const std::string& to) {
    for (auto& entry : entries_)
      if (entry.first == from) entry.first = to;
  }
  bool Contains(const std::string& id) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const auto& entry) { return entry.first == id; });
  }
  std::vector<std::string> Tick(std::map<const TOrderItem*, int>& countdowns) {
    std::vector<std::string> expired;
    for (std::size_t i = entries_.size(); i-- > 0;) {
      if (--countdowns[entries_[i].second.get()] < 1) {
        expired.push_back(entries_[i].first);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    return expired;
  }
  std::vector<std::shared_ptr<TOrderItem>> Entries() const {
    std::vector<std::shared_ptr<TOrderItem>> orders;
    for (const auto& entry : entries_)
      orders.push_back(entry.second);
    return orders;
  }

 private:
  std::vector<std::pair<std::string, std::shared_ptr<TOrderItem>>> entries_;
};

TEST(OrderIndexTest, IndexedWatchListMatchesTheLinearOne) {
  std::mt19937 random(7);
  TOrderWatchList watch(&TOrderFields::SentTimeOut);
  TReferenceWatch reference;
  // The reference's own countdowns, started where the items' are.
  std::map<const TOrderItem*, int> countdowns;
  const auto id = [&] { return std::to_string(random() % 40); };
  for (int step = 0; step < 20000; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    switch (random() % 8) {
      case 0:
      case 1:
      case 2: {
        // Repeated IDs too: the first entry of an ID is the one removed.
        auto order = MakeState(id(), osSent);
        const int ticks = static_cast<int>(random() % 6);
        order->SentTimeOut = ticks;
        countdowns[order.get()] = ticks;
        watch.Add(order);
        reference.Add(order);
        break;
      }
      case 3:
      case 4: {
        const std::string which = id();
        ASSERT_EQ(watch.Remove(which), reference.Remove(which));
        break;
      }
      case 5: {
        // Onto an ID that may be watched already: the two merge in list order.
        const std::string from = id();
        const std::string to = id();
        watch.Rename(from, to);
        reference.Rename(from, to);
        break;
      }
      case 6:
        if (random() % 4 == 0) {
          ASSERT_EQ(watch.Tick(), reference.Tick(countdowns));
        }
        break;
      default: {
        const std::string which = id();
        ASSERT_EQ(watch.Contains(which), reference.Contains(which));
        break;
      }
    }
    ASSERT_EQ(watch.Entries(), reference.Entries());
    ASSERT_EQ(watch.Count(), reference.Entries().size());
  }
  watch.Clear();
  EXPECT_EQ(watch.Count(), 0u);
  EXPECT_FALSE(watch.Contains("1"));
  EXPECT_TRUE(watch.Entries().empty());
}

}  // namespace
}  // namespace vorn
