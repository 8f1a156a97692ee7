#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "core/store/ContractDataThread.h"
#include "core/store/ObjStream.h"
#include "core/util/CompareKeys.h"
#include "core/util/Exceptions.h"
#include "platform/Files.h"
#include "support/StoreSamples.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

const std::string kVersionWord = "\x9D\xE9\xD2\xA5\x0B";

void AddAll(TTestItemList& list, const std::vector<std::shared_ptr<TTestItem>>& items) {
  for (const auto& item : items)
    list.Add(item);
}

// The list holds exactly these items (by key, with equal values), in key order.
void ExpectItems(const TTestItemList& list, const std::vector<std::shared_ptr<TTestItem>>& items,
                 const std::string& context) {
  ASSERT_EQ(list.Count(), static_cast<int>(items.size())) << context;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto held = list.Get(items[i]->Name);
    ASSERT_TRUE(held) << context << ": " << items[i]->Name;
    EXPECT_TRUE(SameTestItem(*held, *items[i])) << context << ": " << items[i]->Name;
  }
  for (int i = 1; i < list.Count(); ++i)
    EXPECT_LT(CompareKeys(list.At(i - 1)->Name, list.At(i)->Name), 0) << context;
}

std::vector<std::shared_ptr<TTestItem>> FirstItems(std::size_t count) {
  auto items = SampleItems();
  items.resize(count);
  return items;
}

// ---------------------------------------------------------------------------------------------
// Store files

TEST(StoreFileTest, StoreRoundTripsThroughTheClientPath) {
  TTempDir dir;
  const TSampleStore sample = MakeSampleStore();
  ASSERT_EQ(sample.Bytes.substr(0, 55), "Global Trading Compatible Dat File VER:8.1 BUILD:070509");
  EXPECT_EQ(sample.Bytes.substr(55, 5), kVersionWord);
  // The second list follows the first with no version word of its own.
  EXPECT_EQ(sample.Bytes[sample.ItemEnds.back()], '\x03');

  TStream out{std::string(sample.Bytes)};
  ASSERT_TRUE(out.SaveToFile(dir.File("VornInfo.dat")));
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"VornInfo.dat"});

  TStream in;
  ASSERT_TRUE(in.LoadFromFile(dir.File("VornInfo.dat")));
  ASSERT_TRUE(ReadStoreHeader(in));
  TTestItemList items;
  TTestTagList tags;
  EXPECT_TRUE(items.LoadFromStream(in, true));
  EXPECT_TRUE(tags.LoadFromStream(in, true));
  EXPECT_EQ(in.Left(), 0u);
  ExpectItems(items, SampleItems(), "round trip");
  EXPECT_FALSE(items.Loading());
  const auto sampleTags = SampleTags();
  ASSERT_EQ(tags.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(tags.At(i)->Text, sampleTags[i]->Text);
    EXPECT_EQ(tags.At(i)->Weight, sampleTags[i]->Weight);
  }
}

TEST(StoreFileTest, EmptyListFileIsHeaderVersionAndZeroCount) {
  TTempDir dir;
  TTestItemList empty;
  empty.SaveToFile(dir.File("logon.dat"));
  EXPECT_EQ(ReadFileText(dir.File("logon.dat")), StoreHeaderText() + kVersionWord + '\0');
  // Saved again over the old file, through a temporary name that does not stay behind.
  AddAll(empty, FirstItems(1));
  empty.SaveToFile(dir.File("logon.dat"));
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"logon.dat"});
  EXPECT_THROW(empty.SaveToFile(dir.File("no such folder/logon.dat")), EWriteError);
}

TEST(StoreFileTest, SortedListLoadedOutOfOrderIsSortedAndLaterDuplicatesDropped) {
  TTestItemList unsorted;
  unsorted.SetSorted(false);
  auto items = SampleItems();
  auto again = CloneItem(*items[1]);
  again->Quantity = 555;
  for (const auto& item : {items[3], items[1], items[0], again, items[2]})
    unsorted.Add(item);
  TStream stream;
  WriteStoreHeader(stream);
  unsorted.SaveToStream(stream);

  stream.SetPosition(0);
  ASSERT_TRUE(ReadStoreHeader(stream));
  TTestItemList sorted;
  EXPECT_TRUE(sorted.LoadFromStream(stream, true));
  ExpectItems(sorted, items, "re-sorted");
  EXPECT_EQ(sorted.Get("BRAVO")->Quantity, -1);  // the first one read stays
  int index = -1;
  EXPECT_TRUE(sorted.Find("delta", index));
}

TEST(StoreFileTest, WrongVersionWordRaisesAndLeavesTheListAsItWas) {
  TTestItemList list;
  AddAll(list, FirstItems(2));
  TStream stream(StoreHeaderText() + "\x9D\xE9\xD2\xA5\x0C" + '\0');
  ASSERT_TRUE(ReadStoreHeader(stream));
  try {
    list.LoadFromStream(stream, true);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Invalid IndexList Stream Version");
  }
  EXPECT_EQ(list.Count(), 2);
  EXPECT_FALSE(list.Loading());
}

// Cuts, damage by hand and random bytes: what precedes the damage loads, nothing crashes or
// hangs, and where the reader must notice the damage nothing after it is loaded.
TEST(StoreFileTest, DamagedStoresLoadWhatPrecedesTheDamage) {
  const TSampleStore sample = MakeSampleStore();
  const auto all = SampleItems();
  const auto tagsAll = SampleTags();
  for (const TStoreCase& c : DamagedStoreCorpus(sample)) {
    TTestItemList items;
    TTestTagList tags;
    const bool whole = LoadSampleStore(c.Bytes, items, tags);
    EXPECT_FALSE(whole && c.Detectable) << c.Name;
    EXPECT_FALSE(items.Loading()) << c.Name;

    std::vector<std::shared_ptr<TTestItem>> intact;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (sample.ItemEnds[i] <= c.DamageAt) intact.push_back(all[i]);
    }
    std::size_t intactTags = 0;
    while (intactTags < tagsAll.size() && sample.TagEnds[intactTags] <= c.DamageAt)
      ++intactTags;
    if (c.Detectable) {
      ExpectItems(items, intact, c.Name);
      EXPECT_EQ(tags.Count(), static_cast<int>(intactTags)) << c.Name;
    } else {
      for (const auto& item : intact) {
        const auto held = items.Get(item->Name);
        ASSERT_TRUE(held) << c.Name << ": " << item->Name;
        EXPECT_TRUE(SameTestItem(*held, *item)) << c.Name << ": " << item->Name;
      }
      ASSERT_GE(tags.Count(), static_cast<int>(intactTags)) << c.Name;
    }
    for (std::size_t i = 0; i < intactTags; ++i)
      EXPECT_EQ(tags.At(static_cast<int>(i))->Text, tagsAll[i]->Text) << c.Name;

    // The list is usable afterwards.
    auto extra = std::make_shared<TTestItem>();
    extra->Name = "ZZZ";
    EXPECT_TRUE(items.Add(extra).Added) << c.Name;
  }
}

TEST(StoreFileTest, DamageIsTracedAndLoadingStopsThere) {
  TTempDir dir;
  ResetTraceState();
  OpenTraceFile();
  const TSampleStore sample = MakeSampleStore();
  TTestItemList items;
  TTestTagList tags;
  EXPECT_FALSE(LoadSampleStore(sample.Bytes.substr(0, sample.ItemEnds[1] - 1), items, tags));
  const std::string traceFile = TraceFileName();
  ResetTraceState();
  const std::string trace = ReadFileText(traceFile);
  EXPECT_NE(trace.find("unable to add TTestItem 3: Unexpected end of stream"), std::string::npos)
      << trace;
  EXPECT_NE(trace.find("LoadFromStream: Test Tags not loaded"), std::string::npos) << trace;
  EXPECT_EQ(items.Count(), 1);
}

// Unlike damage, an item that the list refuses leaves the stream in step: it is skipped and the
// rest loads.
class TRefusingList : public TTestItemList {
 public:
  TAddResult Add(const TItem& item) override {
    if (static_cast<const TTestItem&>(*item).Name == "BRAVO") throw EListError("refused");
    return TTestItemList::Add(item);
  }
};

TEST(StoreFileTest, RefusedItemIsSkippedAndTheRestLoads) {
  const TSampleStore sample = MakeSampleStore();
  TRefusingList items;
  TTestTagList tags;
  EXPECT_TRUE(LoadSampleStore(sample.Bytes, items, tags));
  auto expected = SampleItems();
  expected.erase(expected.begin() + 1);
  ExpectItems(items, expected, "refused");
  EXPECT_EQ(tags.Count(), 3);
}

// An item that cannot be written is left out; the count matches what was written.
TEST(StoreFileTest, ItemThatCannotBeWrittenIsLeftOut) {
  TIndexList mixed("Mixed", &TTestItem::Class());
  const auto items = FirstItems(2);
  mixed.Add(items[0]);
  mixed.Add(std::make_shared<TTestTag>("not an item of the class", 1));
  mixed.Add(items[1]);
  TStream stream;
  WriteStoreHeader(stream);
  mixed.SaveToStream(stream);

  stream.SetPosition(0);
  ASSERT_TRUE(ReadStoreHeader(stream));
  TTestItemList loaded;
  EXPECT_TRUE(loaded.LoadFromStream(stream, true));
  ExpectItems(loaded, items, "left out");
}

TEST(StoreFileTest, StopRequestEndsLoadingAfterTheCurrentItem) {
  TStream stream{MakeSampleStore().Bytes};
  std::atomic<bool> stop{true};
  stream.SetStopFlag(&stop);
  ASSERT_TRUE(ReadStoreHeader(stream));
  TTestItemList items;
  EXPECT_FALSE(items.LoadFromStream(stream, true));
  EXPECT_EQ(items.Count(), 0);
}

// ---------------------------------------------------------------------------------------------
// Contract data thread

class ContractDataThreadTest : public ::testing::Test {
 protected:
  TContractStore Store(TIndexList& list, std::function<void()> record = {}) {
    if (!record) record = [this] { ++recorded_; };
    return {list, dir_.Path(), read_, saved_, reading_, storeLoaded_, std::move(record)};
  }
  std::string FilePath() const { return dir_.File(kContractStoreFileName); }

  TTempDir dir_;
  TTestItemList contracts_{"Contract Dates"};
  TLatch read_{true};
  TLatch saved_{true};
  std::atomic<bool> reading_{false};
  std::atomic<bool> storeLoaded_{true};
  int recorded_ = 0;  // written by the thread before it sets the latch
};

TEST_F(ContractDataThreadTest, WritesEveryContractThenReadsThemBack) {
  AddAll(contracts_, SampleItems());
  {
    TContractDataThread writer(Store(contracts_), TContractDataThread::cdaWrite);
    writer.Start();
    ASSERT_TRUE(saved_.WaitFor(10s));
  }
  EXPECT_EQ(dir_.Files(), std::vector<std::string>{kContractStoreFileName});
  const TSampleStore sample = MakeSampleStore();
  EXPECT_EQ(ReadFileText(FilePath()), sample.Bytes.substr(0, sample.ItemEnds.back()));

  TTestItemList loaded("Contract Dates");
  AddAll(loaded, FirstItems(1));
  storeLoaded_ = false;
  TContractDataThread reader(Store(loaded), TContractDataThread::cdaRead);
  reader.Start();
  ASSERT_TRUE(read_.WaitFor(10s));
  EXPECT_FALSE(reading_);
  EXPECT_TRUE(storeLoaded_);
  EXPECT_EQ(recorded_, 1);
  ExpectItems(loaded, SampleItems(), "read back");
}

TEST_F(ContractDataThreadTest, MissingFileReleasesWaitersAndLoadsNothing) {
  TContractDataThread reader(Store(contracts_), TContractDataThread::cdaRead);
  reader.Start();
  ASSERT_TRUE(read_.WaitFor(10s));
  EXPECT_EQ(contracts_.Count(), 0);
  EXPECT_EQ(recorded_, 0);
  EXPECT_TRUE(storeLoaded_);
}

TEST_F(ContractDataThreadTest, FileOfAnotherBuildIsDeletedAndTheStoreMarkedNotLoaded) {
  std::string other = MakeSampleStore().Bytes;
  other[StoreHeaderText().size() - 1] = '8';
  WriteFileText(FilePath(), other);
  TContractDataThread reader(Store(contracts_), TContractDataThread::cdaRead);
  reader.Start();
  ASSERT_TRUE(read_.WaitFor(10s));
  EXPECT_FALSE(FileExists(FilePath()));
  EXPECT_FALSE(storeLoaded_);
  EXPECT_EQ(contracts_.Count(), 0);
}

TEST_F(ContractDataThreadTest, FailedReadKeepsWhatPrecedesTheDamageAndReleasesEveryWaiter) {
  const TSampleStore sample = MakeSampleStore();
  WriteFileText(FilePath(), sample.Bytes.substr(0, sample.ItemEnds[2] - 3));
  TEvent go(true);
  TContractDataThread reader(Store(contracts_, [&go] { go.Wait(); }), TContractDataThread::cdaRead);
  reader.Start();  // the latch is re-armed before Start returns
  EXPECT_TRUE(reading_);
  std::vector<std::thread> waiters;
  std::atomic<int> released{0};
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (read_.WaitFor(10s)) ++released;
    });
  go.SetEvent();
  for (auto& waiter : waiters)
    waiter.join();
  EXPECT_EQ(released, 3);
  EXPECT_TRUE(read_.IsSet());
  EXPECT_FALSE(reading_);
  EXPECT_FALSE(storeLoaded_);  // the next logon asks for everything
  ExpectItems(contracts_, FirstItems(2), "damaged");
  EXPECT_TRUE(FileExists(FilePath()));
}

TEST_F(ContractDataThreadTest, WriterWaitsForTheReader) {
  AddAll(contracts_, FirstItems(2));
  read_.Reset();  // a read in progress
  TContractDataThread writer(Store(contracts_), TContractDataThread::cdaWrite);
  writer.Start();
  EXPECT_FALSE(saved_.WaitFor(100ms));
  EXPECT_FALSE(FileExists(FilePath()));
  read_.Set();
  ASSERT_TRUE(saved_.WaitFor(10s));
  EXPECT_TRUE(FileExists(FilePath()));
}

TEST_F(ContractDataThreadTest, StoppedWriterWritesNothingAndReleasesWaiters) {
  AddAll(contracts_, FirstItems(2));
  read_.Reset();
  TContractDataThread writer(Store(contracts_), TContractDataThread::cdaWrite);
  writer.Start();
  writer.Stop();
  EXPECT_TRUE(saved_.IsSet());
  EXPECT_FALSE(FileExists(FilePath()));
}

}  // namespace
}  // namespace vorn
