// Wholesale pairs and the consolidated position through the exports, against a logged-on API
// object whose requests are recorded instead of sent.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/trading/TraderPosition.h"
#include "core/util/DateTime.h"
#include "core/util/Text.h"
#include "support/CallbackRecorder.h"
#include "support/FakeClock.h"
#include "support/HostText.h"
#include "support/RecordBytes.h"
#include "support/TempDir.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

struct TEvent {
  std::string ID, OldID;
  int Status;
};

class WholesaleOrdersTest : public TradingTest {
 protected:
  void SetUp() override {
    TradingTest::SetUp();
    StopCallbackThread();
    AddHostOrderIDs(1001, 2);
  }

  static std::vector<TEvent> OrderEvents() {
    std::vector<TEvent> events;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued()) {
      if (delivery.Id != VN_CB_ORDER) continue;
      OrderUpdateStruct update;
      std::memcpy(&update, delivery.Payload.data(), sizeof update);
      events.push_back({GetFixed(update.OrderID), GetFixed(update.OldOrderID), update.Status});
    }
    return events;
  }

  // A primary buy and a secondary sell of the future.
  static NewOrderStruct Primary() { return LimitOrder(); }
  static NewOrderStruct Secondary() {
    NewOrderStruct record = LimitOrder();
    record.BuySell = 'S';
    return record;
  }

  TFakeClock clock_{EncodeDate(2027, 1, 12) + EncodeTime(10, 15, 30, 0)};
  TClockInstaller installer_{clock_};
};

// One of the four exports on a pair of records.
using TPairExport =
    std::function<std::int32_t(const NewOrderStruct&, const NewOrderStruct&, OrderIDPair*)>;

LegPriceStruct LegPrices(const char* first, const char* second) {
  LegPriceStruct prices{};
  PutTextAndNul(prices.LegPrice[0], first);
  PutTextAndNul(prices.LegPrice[1], second);
  return prices;
}

BasisStruct Basis() {
  BasisStruct basis{};
  PutTextAndNul(basis.ISINCode, "GB0001");
  PutTextAndNul(basis.CashPrice, "99.5");
  basis.Methodology = 'M';
  PutTextAndNul(basis.BasisRef, "REF7");
  return basis;
}

const LegPriceStruct kLegs = LegPrices("1.5", "");
const BasisStruct kBasis = Basis();

struct TPairCase {
  const char* name;
  TPairExport enter;
  const char* batchType;
  bool sharesBatch;  // the secondary joins the primary's batch
};

const TPairCase kPairs[] = {
    {"crossing",
     [](const auto& p, const auto& s, auto* ids) { return vnAddCrossingOrder(&p, &s, &kLegs, ids, 'N'); },
     "42", true},
    {"crossing fill and kill",
     [](const auto& p, const auto& s, auto* ids) { return vnAddCrossingOrder(&p, &s, &kLegs, ids, 'k'); },
     "46", true},
    {"crossing fill and kill, capital",
     [](const auto& p, const auto& s, auto* ids) { return vnAddCrossingOrder(&p, &s, &kLegs, ids, 'K'); },
     "46", true},
    {"block", [](const auto& p, const auto& s, auto* ids) { return vnAddBlockOrder(&p, &s, &kLegs, ids); },
     "44", true},
    {"basis", [](const auto& p, const auto& s, auto* ids) { return vnAddBasisOrder(&p, &s, &kBasis, ids); },
     "43", false},
    {"against actual",
     [](const auto& p, const auto& s, auto* ids) { return vnAddAAOrder(&p, &s, "ALICE", "BOB", ids); },
     "45", false},
};

TEST_F(WholesaleOrdersTest, EachExportListsBothOrdersAnnouncesThemAndSendsOnePairRequest) {
  for (const TPairCase& pair : kPairs) {
    SCOPED_TRACE(pair.name);
    NewOrderStruct secondary = Secondary();
    secondary.BuySell = 'X';  // any side but 'B' sells
    PutTextAndNul(secondary.BatchID, "777");
    OrderIDPair ids;
    std::memset(&ids, 'x', sizeof ids);
    ASSERT_EQ(pair.enter(Primary(), secondary, &ids), 0);
    EXPECT_STREQ(ids.PrimaryOrderID, "1001");
    EXPECT_STREQ(ids.SecondaryOrderID, "1002");

    const auto primaryOrder = Api().Orders.FindOrder("1001");
    const auto secondaryOrder = Api().Orders.FindOrder("1002");
    ASSERT_NE(primaryOrder, nullptr);
    ASSERT_NE(secondaryOrder, nullptr);
    EXPECT_EQ(primaryOrder->Status, osQueued);
    EXPECT_EQ(secondaryOrder->Status, osQueued);
    EXPECT_EQ(primaryOrder->BuySell, Buy);
    EXPECT_EQ(secondaryOrder->BuySell, Sell);
    EXPECT_EQ(secondaryOrder->UserName, "USER1");
    EXPECT_EQ(primaryOrder->BatchType(), pair.batchType);
    EXPECT_EQ(secondaryOrder->BatchType(), pair.batchType);
    EXPECT_EQ(primaryOrder->BatchID(), "1001");
    EXPECT_EQ(secondaryOrder->BatchID(), pair.sharesBatch ? "1001" : "1002")
        << "the record's batch ID is never taken";

    const auto requests = requests_->WholesaleRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests_->OrderRequests().empty());
    const auto& request = requests[0];
    EXPECT_EQ(request.Primary->ID, "1001");
    EXPECT_EQ(request.Secondary->ID, "1002");
    EXPECT_EQ(request.Secondary->BatchType(), pair.batchType);
    EXPECT_EQ(request.HasLegPrices, pair.sharesBatch);
    if (request.HasLegPrices) {
      EXPECT_STREQ(request.LegPrices.LegPrice[0], "1.5");
    }
    EXPECT_EQ(request.HasBasis, std::string(pair.batchType) == "43");
    EXPECT_EQ(request.AgainstActual, std::string(pair.batchType) == "45");
    if (request.HasBasis) {
      for (const auto& order : {primaryOrder, secondaryOrder, request.Secondary}) {
        EXPECT_EQ(order->ISINCode(), "GB0001");
        EXPECT_EQ(order->CashPrice(), "99.5");
        EXPECT_EQ(order->Methodology, 'M');
        EXPECT_EQ(order->BasisRef(), "REF7");
      }
    }

    const auto events = OrderEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].ID, "1001");
    EXPECT_EQ(events[0].OldID, "1001");
    EXPECT_EQ(events[0].Status, osQueued);
    EXPECT_EQ(events[1].ID, "1002");
    EXPECT_EQ(events[1].Status, osQueued);

    // Next pair on fresh ids and a fresh recorder.
    Api().Orders.Clear();
    requests_ = &TFakeLinkRequests::Install(Api());
    AddHostOrderIDs(1001, 2);
  }
}

TEST_F(WholesaleOrdersTest, AgainstActualNamesTheBuyersUserFirst) {
  for (const char side : {'B', 'S'}) {
    SCOPED_TRACE(side);
    NewOrderStruct primary = Primary();
    primary.BuySell = side;
    NewOrderStruct secondary = Primary();
    secondary.BuySell = side == 'B' ? 'S' : 'B';
    // An 11-byte field filled to the brim is read no further.
    char second[12] = "BOB45678901";
    second[11] = 'Z';
    ASSERT_EQ(vnAddAAOrder(&primary, &secondary, "ALICE", second, nullptr), 0);
    const auto requests = requests_->WholesaleRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].FirstUser, side == 'B' ? "ALICE" : "BOB45678901");
    EXPECT_EQ(requests[0].SecondUser, side == 'B' ? "BOB45678901" : "ALICE");
    requests_ = &TFakeLinkRequests::Install(Api());
    AddHostOrderIDs(2001, 2);
  }
}

// Each row leaves the list, the link, the event queue and the caller's IDs untouched.
TEST_F(WholesaleOrdersTest, EachFailureReturnsItsCodeInOrderAndEntersNothing) {
  const auto crossing = [](const auto& p, const auto& s, auto* ids) {
    return vnAddCrossingOrder(&p, &s, nullptr, ids, 'N');
  };
  const auto basis = [](const auto& p, const auto& s, auto* ids) {
    return vnAddBasisOrder(&p, &s, &kBasis, ids);
  };
  const struct {
    const char* name;
    TPairExport enter;
    std::function<void(TClassAPI&, TFakeLinks&, NewOrderStruct&, NewOrderStruct&)> change;
    std::int32_t code;
    std::size_t idsLeft;  // of the two the fixture adds
    const char* lastError;
  } cases[] = {
      {"not logged on", crossing, [](auto& api, auto&, auto&, auto&) { api.Logon.LoggedOn = false; },
       4, 2, nullptr},
      {"no order ids", crossing,
       [](auto& api, auto&, auto&, auto&) {
         api.OrderIDs.ClearNewOrderIDs();
         api.OrderIDs.SetOrderIDStatus(TOrderIDPool::kStatusNoLocalIDs);
       },
       40, 0, nullptr},
      {"host link down", crossing,
       [](auto&, auto& links, auto&, auto&) { links.Host->connected = false; }, 35, 0, nullptr},
      {"price link down while market data is required", crossing,
       [](auto& api, auto& links, auto&, auto&) {
         api.Features.MarketDataRequired = true;
         links.Price->connected = false;
       },
       36, 0, nullptr},
      {"exchanges differ", crossing,
       [](auto&, auto&, auto&, auto& s) { PutTextAndNul(s.ExchangeName, "CME"); }, 41, 0,
       nullptr},
      {"primary does not build", crossing,
       [](auto&, auto&, auto& p, auto&) { PutTextAndNul(p.TraderAccount, "NOBODY"); }, 99, 0,
       "Error Building Primary Order"},
      {"primary price not a number", basis,
       [](auto&, auto&, auto& p, auto&) { PutTextAndNul(p.Price, "1O0"); }, 99, 0,
       "Error Building Primary Order"},
      {"secondary does not build", crossing,
       [](auto&, auto&, auto&, auto& s) { PutTextAndNul(s.OrderType, "AGGR"); }, 99, 0,
       "Error Building SecondaryOrder"},
      {"basis secondary does not build", basis,
       [](auto&, auto&, auto&, auto& s) { s.Lots = 0; }, 99, 0, "Error Building Secondary Order"},
      {"a null record", [](const auto& p, const auto&, auto* ids) {
         return vnAddAAOrder(&p, nullptr, "A", "B", ids);
       },
       [](auto&, auto&, auto&, auto&) {}, 99, 2, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLastError();
    NewOrderStruct primary = Primary(), secondary = Secondary();
    c.change(Api(), links_, primary, secondary);
    OrderIDPair ids;
    std::memset(&ids, 'x', sizeof ids);
    EXPECT_EQ(c.enter(primary, secondary, &ids), c.code);
    EXPECT_EQ(ids.PrimaryOrderID[0], 'x');
    EXPECT_EQ(Api().Orders.Count(), 0);
    EXPECT_TRUE(requests_->WholesaleRequests().empty());
    EXPECT_EQ(CallbackQueueCount(), 0u);
    EXPECT_EQ(Api().OrderIDs.PreAllocatedIDs().size(), c.idsLeft);
    if (c.lastError) {
      EXPECT_EQ(LastError().Message, c.lastError);
    }

    Api().Logon.LoggedOn = true;
    Api().Features.MarketDataRequired = false;
    links_.Host->connected = true;
    links_.Price->connected = true;
    Api().OrderIDs.SetOrderIDStatus(TOrderIDPool::kStatusNone);
    Api().OrderIDs.ClearNewOrderIDs();
    AddHostOrderIDs(1001, 2);
  }
}

// The pair builder leaves the contract's permission unchecked (order entry gives 48).
TEST_F(WholesaleOrdersTest, PairIsBuiltWithoutThePermissionCheck) {
  ASSERT_GE(Api().Contracts.AddFromFields("LIFFE", "FTSE", "MAR27-JUN27", Fields("X1=BC|X2=LIFFE")),
            0);
  Api().Exchanges.FindExchange("LIFFE")->TicketType = 'E';
  NewOrderStruct primary = Primary(), secondary = Secondary();
  PutTextAndNul(primary.ContractDate, "MAR27-JUN27");
  PutTextAndNul(secondary.ContractDate, "MAR27-JUN27");
  EXPECT_EQ(vnAddOrder(&primary, nullptr), VN_RC_CONTRACT_NOT_PERMITTED);
  AddHostOrderIDs(1002, 2);
  ASSERT_EQ(vnAddBlockOrder(&primary, &secondary, nullptr, nullptr), 0);
  EXPECT_EQ(requests_->WholesaleRequests().size(), 1u);
}

// A held primary holds the pair: nothing is sent, and the held order waits for its trigger like
// any held order, keyed and subscribed; a failed secondary lists nothing at all.
TEST_F(WholesaleOrdersTest, HeldPrimarySendsNothingAndAFailedSecondaryListsNothing) {
  Api().SetMarginMode(true);
  const TContractKey option = Option()->Key();
  NewOrderStruct primary = Primary(), secondary = Secondary();
  for (NewOrderStruct* record : {&primary, &secondary})
    PutTextAndNul(record->ContractDate, "JUN27 C6500");
  PutTextAndNul(primary.OrderType, "SYNSTOP");
  PutTextAndNul(secondary.TraderAccount, "NOBODY");
  EXPECT_EQ(vnAddCrossingOrder(&primary, &secondary, nullptr, nullptr, 'N'), 99);
  EXPECT_EQ(Api().Orders.Count(), 0);
  EXPECT_EQ(Api().Subscriptions.PriceSubscriberCount(option), 0);
  EXPECT_FALSE(Api().Orders.IsSyntheticContract(TOrderQ::SyntheticContractKey(option)));
  EXPECT_TRUE(Api().Accounts.FindAccount("TRADER1")->GetMarginOrders(option).empty());
  EXPECT_EQ(CallbackQueueCount(), 0u);

  AddHostOrderIDs(2001, 2);
  PutTextAndNul(secondary.TraderAccount, "TRADER1");
  OrderIDPair ids;
  ASSERT_EQ(vnAddCrossingOrder(&primary, &secondary, nullptr, &ids, 'N'), 0);
  EXPECT_STREQ(ids.PrimaryOrderID, "S2") << "the failed pair used S1";
  EXPECT_STREQ(ids.SecondaryOrderID, "2002");
  EXPECT_EQ(Api().Orders.FindOrder("S2")->Status, osHeldOrder);
  EXPECT_EQ(Api().Orders.FindOrder("2002")->Status, osQueued) << "waits without being sent";
  EXPECT_EQ(Api().Orders.FindOrder("2002")->BatchID(), "S2");
  EXPECT_TRUE(requests_->WholesaleRequests().empty());
  EXPECT_TRUE(requests_->OrderRequests().empty());
  EXPECT_EQ(Api().Subscriptions.PriceSubscriberCount(option), 1);
  EXPECT_EQ(Api().Orders.SyntheticContractCount(TOrderQ::SyntheticContractKey(option)), 1);
  const auto margins = Api().Accounts.FindAccount("TRADER1")->GetMarginOrders(option);
  ASSERT_EQ(margins.size(), 2u) << "both kept orders book their margin";
  const auto events = OrderEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].ID, "S2");
  EXPECT_EQ(events[0].Status, osHeldOrder);
  EXPECT_EQ(events[1].ID, "2002");
}

TEST_F(WholesaleOrdersTest, LocalIDsSendNothing) {
  Api().OrderIDs.ClearNewOrderIDs();
  const NewOrderStruct primary = Primary(), secondary = Secondary();
  OrderIDPair ids;
  ASSERT_EQ(vnAddBasisOrder(&primary, &secondary, &kBasis, &ids), 0);
  EXPECT_STREQ(ids.PrimaryOrderID, "N1");
  EXPECT_STREQ(ids.SecondaryOrderID, "N2");
  EXPECT_TRUE(requests_->WholesaleRequests().empty());
  EXPECT_EQ(OrderEvents().size(), 2u);
}

TEST_F(WholesaleOrdersTest, TraceLines) {
  EnableDebugFlags(kTraceAppCalls);
  NewOrderStruct primary = Primary(), secondary = Secondary();
  secondary.Lots = 3;
  const LegPriceStruct legs = LegPrices("1.5", "  ");
  LegPriceStruct blank{};
  std::memset(blank.LegPrice[3], ' ', sizeof blank.LegPrice[3] - 1);
  ASSERT_EQ(vnAddCrossingOrder(&primary, &secondary, &legs, nullptr, 'k'), 0);
  AddHostOrderIDs(2001, 8);
  ASSERT_EQ(vnAddCrossingOrder(&primary, &secondary, &blank, nullptr, 'N'), 0);
  ASSERT_EQ(vnAddBlockOrder(&primary, &secondary, &legs, nullptr), 0);
  ASSERT_EQ(vnAddBasisOrder(&primary, &secondary, &kBasis, nullptr), 0);
  ASSERT_EQ(vnAddAAOrder(&primary, &secondary, "A", "B", nullptr), 0);
  DisableDebugFlags(kTraceAppCalls);
  const std::string trace = ReadFileText(TraceFileName());
  for (const char* line : {
           "  vnAddCrossingOrder: Primary Order FTSE MAR27 B 1 k, Secondary OrderFTSE MAR27 S 3 k, "
           "Leg Prices 1.5,\r\n",
           "  vnAddCrossingOrder: Primary Order FTSE MAR27 B 1 N, Secondary OrderFTSE MAR27 S 3 N\r\n",
           " vnAddBlockOrder: Primary Order FTSE MAR27 B 1, Secondary Order FTSE MAR27 S 3, Leg "
           "Prices 1.5,\r\n",
           " vnAddBasisOrder: Order FTSE MAR27 B 1, Secondary Order FTSE MAR27 S 3\r\n",
           " vnAddAAOrder: Order FTSE MAR27 B 1, Secondary Order FTSE MAR27 S 3\r\n"})
    EXPECT_NE(trace.find(line), std::string::npos) << line << trace;
  EXPECT_EQ(trace.find("vnAddOrder"), std::string::npos) << "the pair builder writes no line";
}

// ---------------------------------------------------------------------------------------------
// Consolidated position

class ConsolidatedPositionTest : public TradingTest {
 protected:
  std::int32_t Consolidated(std::int32_t mode, FillStruct& record, const char* date = "MAR27",
                            const char* account = " TRADER1 ") {
    return vngetConsolidatedPosition("LIFFE", "FTSE", date, account, mode, &record);
  }

  // The five fields written, and every other byte still 0xCC.
  static void ExpectWritten(const FillStruct& record, char side, std::int32_t lots,
                            const std::string& price) {
    EXPECT_EQ(TextAt(record, 75, 11), "LIFFE");
    EXPECT_EQ(TextAt(record, 86, 11), "FTSE");
    EXPECT_EQ(Bytes(record)[148], static_cast<unsigned char>(side));
    EXPECT_EQ(IntAt(record, 149), lots);
    EXPECT_EQ(TextAt(record, 153, 21), price);
    for (std::size_t i = 0; i < sizeof record; ++i) {
      if (i >= 75 && i < 97) continue;
      if (i >= 148 && i < 174) continue;
      EXPECT_EQ(Bytes(record)[i], kPrefill) << "byte " << i;
    }
  }
};

TEST_F(ConsolidatedPositionTest, StartOfDayAndEndOfSessionFiguresByMode) {
  PositionOf(*Future())->SetStartOfDay("TRADER1", {"TRADER1", 10, 10, 4, 99.5, 0});
  FillStruct record = Prefilled<FillStruct>();
  ASSERT_EQ(Consolidated(VN_POSITION_START_OF_DAY, record), 0);
  ExpectWritten(record, 'B', 6, "99.5");

  record = Prefilled<FillStruct>();
  ASSERT_EQ(Consolidated(VN_POSITION_END_OF_SESSION, record), 0);
  ExpectWritten(record, 'B', 0, "0");  // no end of session yet

  ASSERT_TRUE(PositionOf(*Future())->ApplyEndOfSession("TRADER1", 2, 101.25, 5));
  record = Prefilled<FillStruct>();
  ASSERT_EQ(Consolidated(VN_POSITION_END_OF_SESSION, record), 0);
  ExpectWritten(record, 'S', 3, "101.25");

  const FillStruct untouched = Prefilled<FillStruct>();
  for (const std::int32_t mode : {2, -1}) {
    record = untouched;
    EXPECT_EQ(Consolidated(mode, record), 0);
    EXPECT_EQ(std::memcmp(&record, &untouched, sizeof record), 0) << mode;
  }
  EXPECT_EQ(vngetConsolidatedPosition("LIFFE", "FTSE", "MAR27", "TRADER1", 2, nullptr), 0);

  record = Prefilled<FillStruct>();
  ASSERT_EQ(Consolidated(VN_POSITION_START_OF_DAY, record, "MAR27", "NOBODY"), 0);
  ExpectWritten(record, 'B', 0, "0");  // an account without a position
}

TEST_F(ConsolidatedPositionTest, FailuresLeaveTheRecordUntouched) {
  const FillStruct untouched = Prefilled<FillStruct>();
  FillStruct record = untouched;
  EXPECT_EQ(Consolidated(VN_POSITION_START_OF_DAY, record, "DEC99"), VN_RC_NO_DATA);
  EXPECT_EQ(vngetConsolidatedPosition("LIFFE", "FTSE", "MAR27", "TRADER1", 0, nullptr), 99);
  Api().Logon.LoggedOn = false;
  EXPECT_EQ(Consolidated(VN_POSITION_START_OF_DAY, record), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(std::memcmp(&record, &untouched, sizeof record), 0);
}

TEST_F(ConsolidatedPositionTest, TraceLines) {
  EnableDebugFlags(kDebugging | kTraceAppCalls);
  FillStruct record = Prefilled<FillStruct>();
  ASSERT_EQ(Consolidated(VN_POSITION_START_OF_DAY, record), 0);
  DisableDebugFlags(kDebugging | kTraceAppCalls);
  const std::string trace = ReadFileText(TraceFileName());
  for (const char* line : {" Start : vnGetConsolidatedPosition: FTSE\\ TRADER1 \r\n",
                           " End : vnGetConsolidatedPosition: FTSE\\ TRADER1 \r\n"})
    EXPECT_NE(trace.find(line), std::string::npos) << line << trace;
}

}  // namespace
}  // namespace vorn
