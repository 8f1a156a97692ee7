// The store form of order states, byte for byte: the bytes below were written by the layout that
// kept every text of a state inline, so any change to how a state holds its values must still
// save and load exactly these bytes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/refdata/OrderType.h"
#include "core/store/ObjStream.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderList.h"
#include "support/OrderFixture.h"

namespace vorn {
namespace {

#include "core/trading/OrderStoreSample.inc"

// A distinct value in every published property, through the property table.
void FillEveryProperty(TOrderItem& order) {
  const auto& properties = TOrderItem::Class().Properties();
  for (std::size_t i = 0; i < properties.size(); ++i) {
    const TPropInfo& p = properties[i];
    const auto n = static_cast<std::int32_t>(i);
    switch (p.Kind) {
      case TPropKind::Integer:
        p.Set(order, TPropValue(std::int32_t{2000 + n}));
        break;
      case TPropKind::Enumeration:
        p.Set(order, TPropValue(std::int32_t{n % p.MaxOrdinal + 1}));
        break;
      case TPropKind::Char:
        p.Set(order, TPropValue(static_cast<char>('a' + n % 26)));
        break;
      case TPropKind::Float:
        p.Set(order, TPropValue(n * 1.5 - 7.125));
        break;
      default:
        if (p.Name == "TraderAccountName")
          p.Set(order, TPropValue(std::string("ACC1")));
        else
          p.Set(order,
                TPropValue(p.Name + "=" + std::string(static_cast<std::size_t>(n % 23), 'x')));
        break;
    }
  }
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// One history saved: the newest state with every property set, then a state with only its ID.
struct TSampleHistory {
  TOrderServicesScope services;
  std::shared_ptr<TOrderList> history = std::make_shared<TOrderList>("1234");

  TSampleHistory() {
    services->AddAccount("ACC1");
    auto contract = services->AddContract("EX", "COM", "MAR24");
    auto type = services->AddOrderType("EX", "LIMIT", otLimit);
    auto bare = std::make_shared<TOrderItem>();
    bare->ID = "1234";
    auto full = std::make_shared<TOrderItem>();
    FillEveryProperty(*full);
    full->ID = "1234";
    full->OrderHistorySeq = 9;
    full->Contract = contract;
    full->OrderType = type;
    history->Add(bare);
    history->Add(full);
  }

  static std::string Save(TOrderList& list) {
    TStream stream;
    list.SaveToStream(stream);
    return stream.Bytes();
  }
};

TEST(OrderStoreFormatTest, SavesTheSampleBytesAndLoadsThemBack) {
  TSampleHistory sample;
  ASSERT_EQ(sample.history->Count(), 2);
  const std::string bytes = TSampleHistory::Save(*sample.history);
  EXPECT_EQ(Hex(bytes), kOrderStoreSampleHex);

  // Loaded, every property reads back as written, and saving again gives the same bytes.
  TStream stream(bytes);
  auto loaded = std::make_shared<TOrderList>("1234");
  ASSERT_TRUE(loaded->LoadFromStream(stream, false));
  ASSERT_EQ(loaded->Count(), 2);
  for (int i = 0; i < 2; ++i) {
    for (const TPropInfo& p : TOrderItem::Class().Properties())
      EXPECT_EQ(p.Get(*sample.history->At(i)), p.Get(*loaded->At(i))) << i << " " << p.Name;
  }
  EXPECT_EQ(loaded->At(0)->Contract, sample.history->At(0)->Contract);
  EXPECT_EQ(loaded->At(0)->OrderType, sample.history->At(0)->OrderType);
  EXPECT_EQ(Hex(TSampleHistory::Save(*loaded)), kOrderStoreSampleHex);
}

}  // namespace
}  // namespace vorn
