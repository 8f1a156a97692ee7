#include "support/StoreSamples.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>

#include "core/util/CompareKeys.h"
#include "core/util/DateTime.h"

namespace vorn {

const TStreamClass& TTestItem::Class() {
  static const TStreamClass& description =
      MakeStreamClass<TTestItem>("TTestItem", &TUUIDStreamable::Class(),
                                 TPropertyTable<TTestItem>()
                                     .Int64("Volume", &TTestItem::Volume)
                                     .String("Name", &TTestItem::Name)
                                     .Float("Price", &TTestItem::Price)
                                     .Integer("Quantity", &TTestItem::Quantity)
                                     .Enumeration("Side", TTestSide::Cross, &TTestItem::Side)
                                     .Char("Code", &TTestItem::Code)
                                     .SetOf("Flags", &TTestItem::Flags)
                                     .Float("Ratio", &TTestItem::Ratio)
                                     .Float("Stamp", &TTestItem::Stamp)
                                     .String("UUID", &TTestItem::GetUUID, &TTestItem::SetUUID)
                                     .Boolean("Working", &TTestItem::Working));
  return description;
}

void TTestItem::WriteExtra(TStream& stream) const {
  stream.WriteCompact(static_cast<std::int32_t>(Legs.size()));
  for (std::int32_t leg : Legs)
    stream.WriteCompact(leg);
  stream.WriteBoolean(HasNote);
  if (HasNote) stream.WriteString(Note);
}

void TTestItem::ReadExtra(TStream& stream) {
  const std::int32_t count = stream.ReadCount(1);
  Legs.clear();
  for (std::int32_t i = 0; i < count; ++i)
    Legs.push_back(stream.ReadCompact());
  HasNote = stream.ReadBoolean();
  Note = HasNote ? stream.ReadString() : std::string();
}

bool SameTestItem(const TTestItem& a, const TTestItem& b) {
  return a.Name == b.Name && a.Code == b.Code && a.Flags == b.Flags && a.Quantity == b.Quantity &&
         std::bit_cast<std::uint64_t>(a.Price) == std::bit_cast<std::uint64_t>(b.Price) &&
         std::bit_cast<std::uint32_t>(a.Ratio) == std::bit_cast<std::uint32_t>(b.Ratio) &&
         a.Side == b.Side &&
         std::bit_cast<std::uint64_t>(a.Stamp) == std::bit_cast<std::uint64_t>(b.Stamp) &&
         a.GetUUID() == b.GetUUID() && a.Volume == b.Volume && a.Working == b.Working &&
         a.Legs == b.Legs && a.HasNote == b.HasNote && a.Note == b.Note;
}

TTestItemList::TTestItemList(std::string name)
    : TIndexListOf(std::move(name), &TTestItem::Class()) {
  SetSorted(true);
}

TIndexList::TItem TTestTagList::ReadItem(TStream& stream) {
  auto tag = std::make_shared<TTestTag>();
  tag->Text = stream.ReadString();
  tag->Weight = stream.ReadCompact();
  return tag;
}

void TTestTagList::WriteItem(TStream& stream, const TStreamable& item) {
  const auto& tag = dynamic_cast<const TTestTag&>(item);
  stream.WriteString(tag.Text);
  stream.WriteCompact(tag.Weight);
}

std::vector<std::shared_ptr<TTestItem>> SampleItems() {
  std::vector<std::shared_ptr<TTestItem>> items;
  auto add = [&](const char* name, const char* uuid) {
    auto item = std::make_shared<TTestItem>();
    item->Name = name;
    item->SetUUID(uuid);
    items.push_back(item);
    return item;
  };
  auto alpha = add("ALPHA", "{11111111-1111-4111-8111-111111111111}");
  alpha->Code = 'A';
  alpha->Flags = 0x05;
  alpha->Quantity = 100;
  alpha->Price = 101.25;
  alpha->Ratio = 0.5f;
  alpha->Stamp = EncodeDate(2007, 5, 9) + EncodeTime(14, 30, 15, 250);
  alpha->Volume = std::int64_t{1} << 40;
  alpha->Working = true;
  alpha->Legs = {1, 2, 3};
  alpha->HasNote = true;
  alpha->Note = "first";

  auto bravo = add("BRAVO", "{22222222-2222-4222-8222-222222222222}");
  bravo->Code = '\0';
  bravo->Quantity = -1;
  bravo->Price = -0.1;
  bravo->Ratio = 0.25f;
  bravo->Side = TTestSide::Sell;
  bravo->Volume = std::numeric_limits<std::int64_t>::min();

  auto charlie = add("CHARLIE", "{33333333-3333-4333-8333-333333333333}");
  charlie->Code = '\xFF';
  charlie->Flags = 0xFFFFFFFFu;
  charlie->Quantity = std::numeric_limits<std::int32_t>::max();
  charlie->Price = std::numeric_limits<double>::denorm_min();
  charlie->Ratio = -3.5f;
  charlie->Side = TTestSide::Cross;
  charlie->Stamp = -1.5;
  charlie->Volume = std::numeric_limits<std::int64_t>::max();
  charlie->Working = true;
  charlie->Legs = {std::numeric_limits<std::int32_t>::min(),
                   std::numeric_limits<std::int32_t>::max()};
  charlie->HasNote = true;
  charlie->Note = std::string("\0\xFF\r\n", 4);

  auto delta = add("delta", "{44444444-4444-4444-8444-444444444444}");
  delta->Quantity = std::numeric_limits<std::int32_t>::min();
  delta->Price = -0.0;
  delta->Ratio = std::numeric_limits<float>::max();
  delta->Stamp = 1e308;
  delta->HasNote = true;
  delta->Note = std::string(300, 'n');  // a two-byte length
  return items;
}

std::vector<std::shared_ptr<TTestTag>> SampleTags() {
  return {std::make_shared<TTestTag>("red", 1), std::make_shared<TTestTag>("green", -70),
          std::make_shared<TTestTag>("", 0)};
}

TSampleStore MakeSampleStore() {
  TTestItemList items;
  TTestTagList tags;
  for (const auto& item : SampleItems())
    items.Add(item);
  for (const auto& tag : SampleTags())
    tags.Add(tag);
  TStream stream;
  WriteStoreHeader(stream);
  items.SaveToStream(stream);
  tags.SaveToStream(stream);

  TSampleStore sample;
  sample.Bytes = stream.Bytes();
  // Each item's encoding on its own gives its extent: header, version word and a one-byte count
  // come first.
  std::size_t at = StoreHeaderText().size() + 5 + 1;
  for (int i = 0; i < items.Count(); ++i) {
    TStream one;
    WriteProperties(one, *items.At(i), TTestItem::Class());
    items.At(i)->WriteExtra(one);
    at += one.Size();
    sample.ItemEnds.push_back(at);
  }
  at += 1;  // the tag count
  for (int i = 0; i < tags.Count(); ++i) {
    TStream one;
    tags.WriteItem(one, *tags.At(i));
    at += one.Size();
    sample.TagEnds.push_back(at);
  }
  if (at != sample.Bytes.size()) throw std::logic_error("sample store layout changed");
  return sample;
}

namespace {

std::string Encoded(double value) {
  const TExtended raw = DoubleToExtended(value);
  return std::string(reinterpret_cast<const char*>(raw.data()), raw.size());
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values)
    out += static_cast<char>(v);
  return out;
}

}  // namespace

std::vector<TStoreCase> DamagedStoreCorpus(const TSampleStore& sample, std::uint32_t seed,
                                           int randomCases) {
  const std::string& good = sample.Bytes;
  std::vector<TStoreCase> cases;
  for (std::size_t cut = 0; cut < good.size(); ++cut)
    cases.push_back({"cut at " + std::to_string(cut), good.substr(0, cut), cut, true});

  // Damage by hand in the second item (BRAVO); its fields are found by their unique values.
  const std::size_t from = sample.ItemEnds[0];
  auto find = [&](const std::string& marker) {
    const std::size_t at = good.find(marker, from);
    if (at == std::string::npos || at >= sample.ItemEnds[1])
      throw std::logic_error("marker not found in the sample");
    return at;
  };
  auto replaced = [&](const char* name, std::size_t at, std::size_t length,
                      const std::string& bytes) {
    std::string damaged = good;
    damaged.replace(at, length, bytes);
    cases.push_back({name, damaged, at, true});
  };
  const std::size_t name = find(Bytes({5}) + "BRAVO");
  const std::size_t price = find(Encoded(-0.1));
  const std::size_t side = find(Encoded(0.25)) + 10;
  const std::size_t quantity = price + 10;
  const std::size_t uuid = find(Bytes({38}) + "{22222222");
  const std::size_t working = uuid + 1 + 38 + 8;
  const std::size_t legs = working + 1;
  const std::size_t listCount = StoreHeaderText().size() + 5;
  const std::string huge = Bytes({0xBF, 0xFF, 0xFF, 0xFF, 0x0F});  // 2^31 - 1
  replaced("string longer than the bytes left", name, 1, huge);
  replaced("negative string length", name, 1, Bytes({0x40}));
  replaced("enumeration out of range", side, 1, Bytes({0x03}));
  replaced("Boolean property out of range", working, 1, Bytes({0x02}));
  replaced("NaN float", price, 10, Bytes({0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F}));
  replaced("infinite float", price, 10, Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F}));
  replaced("float beyond a double", price, 10, Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0x70}));
  replaced("unnormal float", price, 10, Bytes({0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F}));
  replaced("compact integer of six bytes", quantity, 1,
           Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x8F, 0x01}));
  replaced("compact integer beyond 32 bits", quantity, 1, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x1F}));
  replaced("extra count beyond the bytes left", legs, 1, huge);
  replaced("negative list count", listCount, 1, Bytes({0x40}));
  replaced("wrong version word", listCount - 1, 1, Bytes({0x0A}));
  replaced("header of another build", StoreHeaderText().size() - 1, 1, "0");
  // The items the bytes hold are read after a count that is too large; nothing more is sure.
  std::string counted = good;
  counted.replace(listCount, 1, huge);
  cases.push_back({"list count beyond the bytes left", counted, listCount, false});

  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> position(0, good.size() - 1);
  std::uniform_int_distribution<int> mask(1, 255);
  for (int i = 0; i < randomCases; ++i) {
    const std::size_t at = position(random);
    std::string damaged = good;
    damaged[at] = static_cast<char>(damaged[at] ^ mask(random));
    cases.push_back({"byte " + std::to_string(at) + " changed", damaged, at, false});
  }
  return cases;
}

bool LoadSampleStore(std::string_view bytes, TTestItemList& items, TTestTagList& tags) {
  try {
    TStream stream{std::string(bytes)};
    if (!ReadStoreHeader(stream)) return false;
    const bool itemsWhole = items.LoadFromStream(stream, true);
    const bool tagsWhole = tags.LoadFromStream(stream, true);
    return itemsWhole && tagsWhole;
  } catch (const std::exception&) {
    return false;
  }
}

void AddAll(TTestItemList& list, const std::vector<std::shared_ptr<TTestItem>>& items) {
  for (const auto& item : items)
    list.Add(item);
}

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

}  // namespace vorn
