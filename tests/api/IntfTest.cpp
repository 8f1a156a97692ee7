#include "vornintf.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" void IntfFillFromC(NewOrderStruct* order, OrderDetailStruct* detail, PriceStruct* prices,
                              SettlementStruct* settlement);

namespace {

TEST(IntfTest, LargeRecordsPutFieldsAtTheirOffsets) {
  struct Case {
    const char* field;
    std::size_t actual, expected;
  };
  const Case cases[] = {
      {"NewOrderStruct.BuySell", offsetof(NewOrderStruct, BuySell), 105},
      {"NewOrderStruct.XRefP", offsetof(NewOrderStruct, XRefP), 168},
      {"NewOrderStruct.ESARef", offsetof(NewOrderStruct, ESARef), 208},
      {"NewOrderStruct.BatchStatus", offsetof(NewOrderStruct, BatchStatus), 305},
      {"NewOrderStruct.BigRefField", offsetof(NewOrderStruct, BigRefField), 328},
      {"NewOrderStruct.MinClipSize", offsetof(NewOrderStruct, MinClipSize), 806},
      {"NewOrderStruct.TicketVersion", offsetof(NewOrderStruct, TicketVersion), 818},
      {"NewOrderStruct.RoutingID2", offsetof(NewOrderStruct, RoutingID2), 946},
      {"AmendOrderStruct.TraderAccount", offsetof(AmendOrderStruct, TraderAccount), 58},
      {"AmendOrderStruct.BatchCount", offsetof(AmendOrderStruct, BatchCount), 147},
      {"AmendOrderStruct.ESARef", offsetof(AmendOrderStruct, ESARef), 597},
      {"AmendOrderStruct.MaxClipSize", offsetof(AmendOrderStruct, MaxClipSize), 681},
      {"OrderDetailStruct.BuySell", offsetof(OrderDetailStruct, BuySell), 175},
      {"OrderDetailStruct.Status", offsetof(OrderDetailStruct, Status), 262},
      {"OrderDetailStruct.NonExecReason", offsetof(OrderDetailStruct, NonExecReason), 328},
      {"OrderDetailStruct.TriggerDate", offsetof(OrderDetailStruct, TriggerDate), 440},
      {"OrderDetailStruct.QuoteID", offsetof(OrderDetailStruct, QuoteID), 769},
      {"OrderDetailStruct.ESARef", offsetof(OrderDetailStruct, ESARef), 1069},
      {"OrderDetailStruct.OFSeqNumber", offsetof(OrderDetailStruct, OFSeqNumber), 1267},
      {"OrderDetailStruct.UUIDState", offsetof(OrderDetailStruct, UUIDState), 1309},
      {"OrderDetailStruct.RoutingID2", offsetof(OrderDetailStruct, RoutingID2), 1399},
      {"FillStruct.FillType", offsetof(FillStruct, FillType), 248},
      {"FillStruct.UUIDState", offsetof(FillStruct, UUIDState), 444},
      {"ExtendedContractStruct.UUIDState", offsetof(ExtendedContractStruct, UUIDState), 111},
      {"ExtendedContractStruct.Legs", offsetof(ExtendedContractStruct, Legs), 227},
      {"ExtendedContractStruct.Legs[1]", offsetof(ExtendedContractStruct, Legs[1]), 282},
      {"PriceStruct.Entries[5]", offsetof(PriceStruct, Entries[5]), 150},
      {"PriceStruct.Status", offsetof(PriceStruct, Status), 2400},
      {"LogonStatusStruct.GTOK", offsetof(LogonStatusStruct, GTOK), 342},
      {"CustReqStruct.OrderType", offsetof(CustReqStruct, OrderType), 99},
      {"CustReqStruct.Lots", offsetof(CustReqStruct, Lots), 163},
      {"ConnectivityStatusStruct.Field10", offsetof(ConnectivityStatusStruct, Field10), 383},
      {"TickerStruct.LastVolume", offsetof(TickerStruct, LastVolume), 144},
      {"SettlementStruct.SettlementDate", offsetof(SettlementStruct, SettlementDate), 98},
      {"OrderUpdateStruct.OFSeqNumber", offsetof(OrderUpdateStruct, OFSeqNumber), 23},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.actual, c.expected) << c.field;
}

// The C view of the records must match the layout as well.
TEST(IntfTest, FieldsWrittenFromCLandAtTheirOffsets) {
  NewOrderStruct order;
  OrderDetailStruct detail;
  PriceStruct prices;
  SettlementStruct settlement;
  std::memset(&order, 0, sizeof order);
  std::memset(&detail, 0, sizeof detail);
  std::memset(&prices, 0, sizeof prices);
  std::memset(&settlement, 0, sizeof settlement);
  IntfFillFromC(&order, &detail, &prices, &settlement);

  const auto* o = reinterpret_cast<const unsigned char*>(&order);
  EXPECT_EQ(o[105], 'S');
  EXPECT_STREQ(reinterpret_cast<const char*>(o + 208), "ESA");
  EXPECT_EQ(std::memcmp(o + 259, "\x04\x03\x02\x01", 4), 0);  // little-endian int32
  EXPECT_STREQ(reinterpret_cast<const char*>(o + 818), "TV1");
  EXPECT_STREQ(reinterpret_cast<const char*>(o + 946), "R2");

  const auto* d = reinterpret_cast<const unsigned char*>(&detail);
  EXPECT_EQ(d[262], 13);
  EXPECT_EQ(d[769], 'Q');
  EXPECT_EQ(d[1309], 3);
  EXPECT_STREQ(reinterpret_cast<const char*>(d + 1399), "R2");

  const auto* p = reinterpret_cast<const unsigned char*>(&prices);
  EXPECT_EQ(p[150 + 21], 7);
  std::int32_t mask;
  std::memcpy(&mask, p + 2404, sizeof mask);
  EXPECT_EQ(mask, 0x4020);

  const auto* s = reinterpret_cast<const char*>(&settlement);
  EXPECT_EQ(s[22], 'Z');
  EXPECT_STREQ(s + 98, "070509");
  EXPECT_STREQ(s + 105, "123000");
}

}  // namespace
