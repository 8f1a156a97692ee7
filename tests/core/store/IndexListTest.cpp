#include "core/store/IndexList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "core/util/CompareKeys.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

// An item that counts the live instances of its class.
class TThing : public TStreamable {
 public:
  explicit TThing(std::string key) : Key(std::move(key)) { ++live; }
  ~TThing() override { --live; }
  const char* ClassName() const override { return "TThing"; }

  std::string Key;
  static inline std::atomic<int> live{0};
};

class TOther : public TStreamable {
 public:
  const char* ClassName() const override { return "TOther"; }
};

class TThingList : public TIndexListOf<TThing> {
 public:
  using TIndexList::SetLoading;
  using TIndexListOf::TIndexListOf;

  std::shared_ptr<TThing> AddNew(std::string key) {
    auto thing = std::make_shared<TThing>(std::move(key));
    Add(thing);
    return thing;
  }
  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (int i = 0; i < Count(); ++i)
      keys.push_back(At(i)->Key);
    return keys;
  }

  mutable std::atomic<int> keyCalls{0};

 protected:
  void KeyOf(const TThing& item, std::string& key) const override {
    ++keyCalls;
    key = item.Key;
  }
};

class IndexListTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(TThing::live, 0) << "items leaked or freed twice"; }
};

std::vector<std::string> SortedKeys(std::vector<std::string> keys, int direction) {
  std::sort(keys.begin(), keys.end(), [direction](const std::string& a, const std::string& b) {
    return CompareKeys(a, b) * direction < 0;
  });
  return keys;
}

TEST_F(IndexListTest, EmptyListFindsNothing) {
  TThingList list("Things");
  list.SetSorted(true);
  int index = -1;
  EXPECT_FALSE(list.Find("A", index));
  EXPECT_EQ(index, 0);
  EXPECT_EQ(list.IndexOfKey("A"), -1);
  EXPECT_EQ(list.FindItem("A"), nullptr);
  EXPECT_FALSE(list.KeyExists("A"));
  EXPECT_EQ(list.RemoveKey("A"), -1);
  EXPECT_EQ(list.DeleteKey("A"), -1);
}

TEST_F(IndexListTest, SortedListsKeepKeyOrderAndFindEveryKey) {
  const std::vector<std::string> keys = {"m", "B", "a", "Z", "10", "9", "b", "x\x01y", "x y", "A"};
  for (const bool ascending : {true, false}) {
    SCOPED_TRACE(ascending ? "ascending" : "descending");
    TThingList list("Things");
    list.SetSorted(true);
    list.SetAscending(ascending);
    for (const auto& key : keys) {
      const auto thing = std::make_shared<TThing>(key);
      const TAddResult result = list.Add(thing);
      ASSERT_TRUE(result.Added);
      EXPECT_EQ(list.At(result.Index), thing);
    }
    const int direction = ascending ? 1 : -1;
    EXPECT_EQ(list.Direction(), direction);
    ASSERT_EQ(list.Keys(), SortedKeys(keys, direction));
    for (int i = 0; i < list.Count(); ++i) {
      int index = -1;
      EXPECT_TRUE(list.Find(list.At(i)->Key, index));
      EXPECT_EQ(index, i);
      EXPECT_EQ(list.Get(list.At(i)->Key), list.At(i));
    }
    // A missing key gives the position it would be inserted at.
    for (const std::string missing : {"", "0", "aa", "X", "zz", "\xff"}) {
      int index = -1;
      EXPECT_FALSE(list.Find(missing, index)) << missing;
      auto expected = list.Keys();
      expected.insert(expected.begin() + index, missing);
      EXPECT_EQ(expected, SortedKeys(expected, direction)) << missing;
      EXPECT_EQ(list.IndexOfKey(missing), -1);
    }
  }
}

TEST_F(IndexListTest, DuplicateIsRefusedWithTraceLineAndStaysWithCaller) {
  TTempDir dir;
  ResetTraceState();
  OpenTraceFile();
  ASSERT_TRUE(TraceFileOpen());
  {
    TThingList list("Fill");
    list.SetSorted(true);
    list.AddNew("A");
    const auto first = list.AddNew(
        "B\x01"
        "7");
    list.AddNew("C");

    auto duplicate = std::make_shared<TThing>(
        "B\x01"
        "7");
    const TAddResult result = list.Add(duplicate);
    EXPECT_FALSE(result.Added);
    EXPECT_EQ(result.Index, 1);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.At(1), first);
    EXPECT_EQ(duplicate.use_count(), 1);

    const std::string trace = ReadFileText(TraceFileName());
    EXPECT_NE(trace.find(" Duplicate String \"B\x01"
                         "7\" in List Fill\r\n"),
              std::string::npos)
        << trace;
  }
  ResetTraceState();
}

TEST_F(IndexListTest, UnsortedAndLoadingListsAppendEqualKeys) {
  TThingList unsorted("Plain");
  const auto first = unsorted.AddNew("K");
  unsorted.AddNew("A");
  const TAddResult again = unsorted.Add(std::make_shared<TThing>("K"));
  EXPECT_TRUE(again.Added);
  EXPECT_EQ(again.Index, 2);
  EXPECT_EQ(unsorted.Keys(), (std::vector<std::string>{"K", "A", "K"}));
  EXPECT_EQ(unsorted.IndexOfKey("K"), 0);
  EXPECT_EQ(unsorted.Get("K"), first);

  // Items read from a store go in as they come; the search then stops at the first equal key
  // that it meets, which need not be the leftmost.
  TThingList loaded("Loaded");
  loaded.SetSorted(true);
  loaded.SetLoading(true);
  for (const char* key : {"A", "A", "A", "B"})
    EXPECT_TRUE(loaded.Add(std::make_shared<TThing>(key)).Added);
  loaded.SetLoading(false);
  EXPECT_EQ(loaded.Count(), 4);
  EXPECT_EQ(loaded.IndexOfKey("A"), 1);
  EXPECT_EQ(loaded.IndexOfKey("B"), 3);
  EXPECT_FALSE(loaded.Add(std::make_shared<TThing>("B")).Added);
}

TEST_F(IndexListTest, SwitchingOrderSortsOnlyWhenItChanges) {
  TThingList list("Things");
  for (const char* key : {"d", "B", "a", "C", "e"})
    list.AddNew(key);

  list.SetSorted(true);
  EXPECT_EQ(list.Keys(), (std::vector<std::string>{"a", "B", "C", "d", "e"}));

  list.keyCalls = 0;
  list.SetSorted(true);
  list.SetAscending(true);
  EXPECT_EQ(list.keyCalls, 0);

  list.SetAscending(false);
  EXPECT_EQ(list.Keys(), (std::vector<std::string>{"e", "d", "C", "B", "a"}));

  // Unsorted, the direction is only recorded.
  list.SetSorted(false);
  list.SetAscending(true);
  EXPECT_EQ(list.Keys(), (std::vector<std::string>{"e", "d", "C", "B", "a"}));
}

TEST_F(IndexListTest, QuickSortHandlesAwkwardInputs) {
  std::mt19937 random(7);
  const auto randomKeys = [&](int count, int spread) {
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i)
      keys.push_back("k" + std::to_string(random() % spread));
    return keys;
  };
  std::vector<std::string> ascending;
  for (int i = 0; i < 3000; ++i)
    ascending.push_back(std::to_string(100000 + i));
  std::vector<std::string> descending(ascending.rbegin(), ascending.rend());
  std::vector<std::string> organPipe(ascending.begin(), ascending.begin() + 1500);
  organPipe.insert(organPipe.end(), descending.begin() + 1500, descending.end());

  const std::vector<std::vector<std::string>> inputs = {
      {"only"},
      std::vector<std::string>(500, "same"),
      randomKeys(5000, 100),
      randomKeys(5000, 1000000),
      ascending,
      descending,
      organPipe,
  };
  for (const auto& keys : inputs) {
    for (const bool ascendingOrder : {true, false}) {
      TThingList list("Things");
      list.SetAscending(ascendingOrder);
      for (const auto& key : keys)
        list.AddNew(key);
      list.SetSorted(true);
      EXPECT_EQ(list.Keys(), SortedKeys(keys, ascendingOrder ? 1 : -1))
          << keys.size() << " keys from " << keys.front();
    }
  }
}

// Runs of inserts and removals at the front, at the back and anywhere, against a plain vector:
// a few long runs that exhaust the room at one end while the other has plenty, then random
// ones. The live count shows that a vacated slot keeps no reference.
TEST_F(IndexListTest, EditsAtEitherEndMatchAModel) {
  enum TEdit { InsertFront, InsertBack, InsertAnywhere, RemoveFront, RemoveBack, RemoveAnywhere };
  std::vector<std::pair<TEdit, int>> runs = {
      {InsertBack, 1000}, {RemoveBack, 900}, {InsertFront, 700},
      {RemoveFront, 600}, {InsertBack, 700}, {RemoveAnywhere, 500},
  };
  std::mt19937 random(11);
  for (int i = 0; i < 200; ++i)
    runs.emplace_back(static_cast<TEdit>(random() % 6), 1 + static_cast<int>(random() % 60));

  TThingList list("Things");
  std::vector<std::string> model;
  int next = 0;
  for (std::size_t run = 0; run < runs.size(); ++run) {
    const auto [edit, length] = runs[run];
    for (int step = 0; step < length; ++step) {
      const int count = static_cast<int>(model.size());
      const bool remove = edit >= RemoveFront;
      if (remove && count == 0) break;
      int index = 0;
      switch (edit) {
        case InsertBack:
          index = count;
          break;
        case RemoveBack:
          index = count - 1;
          break;
        case InsertAnywhere:
          index = static_cast<int>(random() % (count + 1u));
          break;
        case RemoveAnywhere:
          index = static_cast<int>(random() % static_cast<unsigned>(count));
          break;
        default:
          break;
      }
      if (remove) {
        if (step % 2) {
          list.Delete(index);
        } else {
          EXPECT_EQ(list.RemoveItem(list.At(index).get()), index);
        }
        model.erase(model.begin() + index);
      } else {
        const std::string key = std::to_string(next++);
        list.Insert(index, std::make_shared<TThing>(key));
        model.insert(model.begin() + index, key);
      }
    }
    ASSERT_EQ(list.Keys(), model) << "run " << run;
    ASSERT_EQ(TThing::live, list.Count());
  }
}

TEST_F(IndexListTest, DeleteIfDropsThePickedAndKeepsTheRestSortedAndFound) {
  const std::vector<std::string> keys = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"};
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"none", ""}, {"all", "abcdefghij"}, {"every other", "acegi"}, {"first", "a"},
      {"last", "j"}, {"a run inside", "defg"},
  };
  for (const auto& [name, dropped] : cases) {
    TThingList list("Things");
    list.SetSorted(true);
    for (const auto& key : keys)
      list.AddNew(key);
    const auto picked = [&](TStreamable& item) {
      return dropped.find(static_cast<TThing&>(item).Key) != std::string::npos;
    };
    EXPECT_EQ(list.DeleteIf(picked), static_cast<int>(dropped.size())) << name;
    std::vector<std::string> expected;
    for (const auto& key : keys)
      if (dropped.find(key) == std::string::npos) expected.push_back(key);
    EXPECT_EQ(list.Keys(), expected) << name;
    EXPECT_EQ(TThing::live, list.Count()) << name << ": the dropped items are released";
    // The array stays usable at both ends and in the middle.
    list.AddNew("0");
    list.AddNew("z");
    list.AddNew("dd");
    int index = 0;
    EXPECT_TRUE(list.Find("dd", index)) << name;
    EXPECT_EQ(list.Keys().front(), "0") << name;
    EXPECT_EQ(list.Keys().back(), "z") << name;
  }

  TThingList list("Things");
  for (const auto& key : keys)
    list.AddNew(key);
  int calls = 0;
  EXPECT_THROW(list.DeleteIf([&](TStreamable&) -> bool {
                 if (++calls == 5) throw std::runtime_error("picking failed");
                 return true;
               }),
               std::runtime_error);
  EXPECT_EQ(list.Keys(), keys) << "a failed pick leaves the list whole";
}

TEST_F(IndexListTest, RemovingDropsOnlyTheListsReference) {
  auto kept = std::make_shared<TThing>("kept");
  {
    TThingList list("Things");
    list.SetSorted(true);
    list.SetOwnsObjects(true);
    list.Add(kept);
    for (const char* key : {"a", "b", "c", "d", "e", "f"})
      list.AddNew(key);
    ASSERT_EQ(TThing::live, 7);

    // Remove and delete alike leave an item alive while a caller holds it...
    auto b = list.Get("b");
    EXPECT_EQ(list.RemoveKey("b"), 1);
    EXPECT_EQ(list.RemoveItem(list.Get("c").get()), 1);
    EXPECT_EQ(list.RemoveItem(b.get()), -1);
    EXPECT_EQ(b->Key, "b");
    EXPECT_EQ(list.DeleteKey("kept"), 4);
    EXPECT_EQ(kept->Key, "kept");
    EXPECT_EQ(TThing::live, 6);  // c had no other holder

    // ...and free it when the list held the last reference.
    EXPECT_EQ(list.DeleteKey("a"), 0);
    list.FreeAt(0);  // d
    EXPECT_EQ(list.Keys(), (std::vector<std::string>{"e", "f"}));
    EXPECT_EQ(TThing::live, 4);

    list.FreeAll();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(TThing::live, 2);

    list.Add(kept);
    list.AddNew("g");
  }
  EXPECT_EQ(TThing::live, 1);  // the list's destruction freed g, the scope b
  EXPECT_EQ(kept.use_count(), 1);
}

TEST_F(IndexListTest, RefusesBadItemsAndIndexes) {
  TThingList list("Things");
  list.SetSorted(true);
  list.AddNew("a");

  EXPECT_THROW(list.Add(nullptr), EListError);
  const auto other = std::make_shared<TOther>();
  try {
    list.Add(other);
    FAIL() << "an item of another class was taken";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "TOther not an item of list Things");
  }
  std::string key;
  EXPECT_THROW(list.GetKey(*other, key), EListError);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(other.use_count(), 1);

  for (const int index : {-1, 1, 1000}) {
    try {
      list.At(index);
      FAIL() << index;
    } catch (const EListError& e) {
      EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(index) + ")");
    }
    EXPECT_THROW(list.FreeAt(index), EListError) << index;
  }
  EXPECT_THROW(list.Insert(2, std::make_shared<TThing>("z")), EListError);
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(IndexListTest, BaseListAsksItsKeyProvider) {
  TIndexList list("Orders");
  list.Add(std::make_shared<TThing>("b"));  // unsorted: no key needed
  try {
    list.IndexOfKey("b");
    FAIL() << "no key provider";
  } catch (const EListError&) {
    FAIL() << "wrong exception class";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Key Provider not assigned in list Orders");
  }
  list.SetOnGetKey([](const TStreamable& item, std::string& key) {
    key = static_cast<const TThing&>(item).Key;
  });
  list.SetSorted(true);
  list.Add(std::make_shared<TThing>("a"));
  EXPECT_EQ(list.IndexOfKey("a"), 0);
  EXPECT_EQ(list.IndexOfKey("b"), 1);
}

TEST_F(IndexListTest, LockIsReentrantAndExcludesOtherThreads) {
  TThingList list("Order List");
  const auto otherThreadGetsLock = [&list] {
    bool got = false;
    std::thread([&] {
      got = list.TryLock();
      if (got) list.Unlock();
    }).join();
    return got;
  };
  {
    TIndexListLock outer(list);
    list.Lock();
    list.AddNew("a");  // takes the lock a third time
    list.Unlock();
    EXPECT_FALSE(otherThreadGetsLock());
  }
  EXPECT_TRUE(otherThreadGetsLock());
}

TEST_F(IndexListTest, ConcurrentAddAndFindKeepTheListConsistent) {
  TThingList list("Contract");
  list.SetSorted(true);
  constexpr int kThreads = 4;
  constexpr int kKeys = 1500;
  std::atomic<int> added{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kKeys; ++i) {
        // Half of the keys are shared by every thread, so duplicates race each other.
        const std::string key = (i % 2 ? "shared" : "own" + std::to_string(t)) + std::to_string(i);
        if (list.Add(std::make_shared<TThing>(key)).Added) ++added;
        TIndexListLock guard(list);  // find, then use
        int index = -1;
        ASSERT_TRUE(list.Find(key, index));
        ASSERT_EQ(list.At(index)->Key, key);
        if (i % 100 == 0) list.RemoveKey(key);
      }
    });
  }
  for (auto& thread : threads)
    thread.join();

  EXPECT_EQ(added, kThreads * kKeys / 2 + kKeys / 2);
  EXPECT_EQ(list.Count(), added - kThreads * (kKeys / 100));  // removed: own keys only
  const auto keys = list.Keys();
  EXPECT_EQ(keys, SortedKeys(keys, 1));
  EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
}

}  // namespace
}  // namespace vorn
