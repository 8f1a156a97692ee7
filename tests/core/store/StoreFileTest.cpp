#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/diag/Trace.h"
#include "core/store/ObjStream.h"
#include "core/util/Exceptions.h"
#include "platform/Files.h"
#include "support/StoreSamples.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

const std::string kVersionWord = "\x9D\xE9\xD2\xA5\x0B";

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

}  // namespace
}  // namespace vorn
