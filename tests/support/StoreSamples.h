#pragma once
// A small store for the streaming tests and fuzz targets: a test item class with published
// properties of every kind and extra data, a list streamed by its item class, a list streamed by
// ReadItem/WriteItem, a sample store file of both, a corpus of damaged copies of it, and a check
// of a list against the items it must hold.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/IndexList.h"
#include "core/store/ObjStream.h"
#include "core/store/Streamable.h"

namespace vorn {

enum class TTestSide : std::int32_t { Buy, Sell, Cross };

class TTestItem : public TUUIDStreamable {
 public:
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  void WriteExtra(TStream& stream) const override;
  void ReadExtra(TStream& stream) override;

  void Activate(bool) override { State = usActive; }
  void Deactivate(bool) override { State = usInactive; }
  void Expire() override {
    SetTimeStamp(skExpiry);
    State = usExpired;
  }
  void Purge(TDateTime) override { ++Purged; }

  // Published.
  std::string Name;
  char Code = ' ';
  std::uint32_t Flags = 0;
  std::int32_t Quantity = 0;
  double Price = 0;
  float Ratio = 0;
  TTestSide Side = TTestSide::Buy;
  TDateTime Stamp = 0;
  std::int64_t Volume = 0;
  bool Working = false;
  // Written by WriteExtra.
  std::vector<std::int32_t> Legs;
  bool HasNote = false;
  std::string Note;
  // Neither.
  int Purged = 0;
};

// Same values, floats compared bit for bit.
bool SameTestItem(const TTestItem& a, const TTestItem& b);

// Sorted by Name; streamed by TTestItem's properties.
class TTestItemList : public TIndexListOf<TTestItem> {
 public:
  explicit TTestItemList(std::string name = "Test Items");
  using TIndexList::SetLoading;

 protected:
  void KeyOf(const TTestItem& item, std::string& key) const override { key = item.Name; }
};

// A list without an item class: unsorted, streamed by ReadItem/WriteItem.
class TTestTag : public TStreamable {
 public:
  TTestTag() = default;
  TTestTag(std::string text, std::int32_t weight) : Text(std::move(text)), Weight(weight) {}
  const char* ClassName() const override { return "TTestTag"; }
  std::string Text;
  std::int32_t Weight = 0;
};

class TTestTagList : public TIndexListOf<TTestTag> {
 public:
  TTestTagList() : TIndexListOf("Test Tags") {}
  TItem ReadItem(TStream& stream) override;
  void WriteItem(TStream& stream, const TStreamable& item) override;

 protected:
  void KeyOf(const TTestTag& item, std::string& key) const override { key = item.Text; }
};

// The items of the sample store, in key order, and its tags.
std::vector<std::shared_ptr<TTestItem>> SampleItems();
std::vector<std::shared_ptr<TTestTag>> SampleTags();

struct TSampleStore {
  std::string Bytes;
  // Offset just past each item: the items of the item list in order, then the tags.
  std::vector<std::size_t> ItemEnds;
  std::vector<std::size_t> TagEnds;
};
// Header, the item list, then the tag list.
TSampleStore MakeSampleStore();

struct TStoreCase {
  std::string Name;
  std::string Bytes;
  // The first byte that differs from the sample (for a cut, the cut).
  std::size_t DamageAt = 0;
  // The reader must notice the damage there, so nothing after it is loaded.
  bool Detectable = false;
};
// Every cut of the sample short of its full length, damage made by hand at chosen fields, and
// single bytes changed at random from a fixed seed.
std::vector<TStoreCase> DamagedStoreCorpus(const TSampleStore& sample, std::uint32_t seed = 70509,
                                           int randomCases = 300);

// Adds each item to the list.
void AddAll(TTestItemList& list, const std::vector<std::shared_ptr<TTestItem>>& items);
// The first count items of SampleItems().
std::vector<std::shared_ptr<TTestItem>> FirstItems(std::size_t count);
// The list holds exactly these items (by key, with equal values), in key order; a failure names
// the context.
void ExpectItems(const TTestItemList& list, const std::vector<std::shared_ptr<TTestItem>>& items,
                 const std::string& context);

// Reads bytes as the sample store, the way a store reader does: header, then each list; stops
// at a refused header or version. Never throws. True when both lists were read whole.
bool LoadSampleStore(std::string_view bytes, TTestItemList& items, TTestTagList& tags);

}  // namespace vorn
