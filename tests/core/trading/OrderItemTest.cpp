#include "core/trading/OrderItem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/store/ObjStream.h"
#include "core/util/DateTime.h"
#include "core/util/SlabPool.h"
#include "core/util/Text.h"
#include "support/FakeClock.h"
#include "support/OrderFixture.h"
#include "support/TempDir.h"
#include "support/TimeZone.h"

namespace vorn {
namespace {

// The store layout of an order state: every published property in the order it is written.
const std::vector<std::string> kStoredOrder = {"ActualLots",
                                               "APIM",
                                               "APIMUser",
                                               "AveragePrice",
                                               "Badge",
                                               "BasisRef",
                                               "BatchCount",
                                               "BatchID",
                                               "BatchStatus",
                                               "BatchType",
                                               "BigRefField",
                                               "BOFID",
                                               "BuySell",
                                               "CancelSent",
                                               "CancelTimeOut",
                                               "CashPrice",
                                               "Checked",
                                               "ChildCount",
                                               "ClientID",
                                               "CreationDate",
                                               "DateClientSent",
                                               "DateExchangeAcknowledged",
                                               "DateExchangeReceived",
                                               "DateFilled",
                                               "DateHostReceived",
                                               "DisplayID",
                                               "DoneForDay",
                                               "EntryDate",
                                               "EntryTime",
                                               "ESARef",
                                               "ExchangeField",
                                               "ExchangeID",
                                               "ExchangeName",
                                               "ExecutionID",
                                               "Filled",
                                               "GoodTillDate",
                                               "ICSFarLegPrice",
                                               "ICSNearLegPrice",
                                               "ID",
                                               "ISINCode",
                                               "IsProtectionOrder",
                                               "LastSequence",
                                               "LinkedOrder",
                                               "LocalBOF",
                                               "LocalEAC",
                                               "LocalOrderID",
                                               "LocalTraderAccount",
                                               "LocalUserName",
                                               "LotsPosted",
                                               "MarginRequired",
                                               "MarloDateSent",
                                               "MarloStage",
                                               "MarloTimeSent",
                                               "MaxClipSize",
                                               "Methodology",
                                               "MinClipSize",
                                               "NonExecReason",
                                               "NoOfFills",
                                               "OFSeqNumber",
                                               "OpenOrClose",
                                               "OPr",
                                               "OrderHistorySeq",
                                               "ParentID",
                                               "Pr1Price",
                                               "Pr1Volume",
                                               "Pr2Price",
                                               "Pr2Volume",
                                               "Pr3Price",
                                               "Pr3Volume",
                                               "Price",
                                               "Price2",
                                               "Priority",
                                               "ProfitLevel",
                                               "QueuedTimeOut",
                                               "QuoteID",
                                               "Randomise",
                                               "Rawprice",
                                               "Rawprice2",
                                               "Reference",
                                               "RoutingID1",
                                               "RoutingID2",
                                               "SenderLocationID",
                                               "SentTimeOut",
                                               "Status",
                                               "StPrice",
                                               "StSteps1",
                                               "StSteps2",
                                               "StType",
                                               "SubState",
                                               "TargetLots",
                                               "TicketType",
                                               "TicketVersion",
                                               "TimeClientSent",
                                               "TimeExchangeAcknowledged",
                                               "TimeExchangeReceived",
                                               "TimeFilled",
                                               "TimeHostReceived",
                                               "TimeOut",
                                               "TraderAccountName",
                                               "TriggerDate",
                                               "TriggeredDate",
                                               "TriggeredTime",
                                               "TriggerTime",
                                               "UpdateSequence",
                                               "UserName",
                                               "XRef",
                                               "XRefP",
                                               "YDSPAudit"};

const std::string kLongReference = "REFERENCE-TEXT-OF-THIRTY-CHARS";  // 30 characters

// A distinct value in every published property (the account by name, so it must be known).
void FillEveryProperty(TOrderItem& order, const std::string& account) {
  const auto& properties = TOrderItem::Class().Properties();
  for (std::size_t i = 0; i < properties.size(); ++i) {
    const TPropInfo& p = properties[i];
    const auto n = static_cast<std::int32_t>(i);
    switch (p.Kind) {
      case TPropKind::Integer:
        p.Set(order, TPropValue(std::int32_t{1000 + n}));
        break;
      case TPropKind::Enumeration:
        p.Set(order, TPropValue(std::int32_t{n % p.MaxOrdinal + 1}));
        break;
      case TPropKind::Char:
        p.Set(order, TPropValue(static_cast<char>('A' + n % 26)));
        break;
      case TPropKind::Float:
        p.Set(order, TPropValue(n + 0.25));
        break;
      default:
        if (p.Name == "TraderAccountName")
          p.Set(order, TPropValue(account));
        else if (p.Name == "Reference")
          p.Set(order, TPropValue(kLongReference));
        else
          p.Set(order, TPropValue(p.Name + "#" + std::to_string(n)));
        break;
    }
  }
}

void ExpectSameProperties(const TOrderItem& expected, const TOrderItem& actual) {
  for (const TPropInfo& p : TOrderItem::Class().Properties())
    EXPECT_EQ(p.Get(expected), p.Get(actual)) << p.Name;
}

std::vector<std::int32_t> Sequences(const TOrderList& history) {
  std::vector<std::int32_t> out;
  for (int i = 0; i < history.Count(); ++i)
    out.push_back(history.At(i)->OrderHistorySeq);
  return out;
}

std::vector<TOrderStatus> States(const TOrderList& history) {
  std::vector<TOrderStatus> out;
  for (int i = 0; i < history.Count(); ++i)
    out.push_back(history.At(i)->Status);
  return out;
}

// ---------------------------------------------------------------------------------------------
// The item, its store form and its copies

TEST(OrderItemTest, PublishesEveryFieldInStoreOrder) {
  std::vector<std::string> names;
  for (const TPropInfo& p : TOrderItem::Class().Properties())
    names.push_back(p.Name);
  EXPECT_EQ(names, kStoredOrder);
}

TEST(OrderItemTest, ReferenceKeepsTwentyFiveCharactersAndAccountNameResolves) {
  TOrderServicesScope services;
  auto account = services->AddAccount("ACC1");
  TOrderItem order;
  order.SetReference(kLongReference);
  EXPECT_EQ(order.GetReference(), kLongReference.substr(0, 25));
  order.SetTraderAccountName("  ACC1 ");
  EXPECT_EQ(order.TraderAccount, account);
  EXPECT_EQ(order.GetTraderAccountName(), "ACC1");
  order.SetTraderAccountName("NOBODY");
  EXPECT_EQ(order.TraderAccount, nullptr);
  EXPECT_EQ(order.GetTraderAccountName(), "");
}

TEST(OrderItemTest, StoreRoundTripKeepsEveryValueAndTheReferences) {
  TTempDir dir;
  TOrderServicesScope services;
  services->AddAccount("ACC1");
  auto contract = services->AddContract("EX", "COM", "MAR24");
  auto type = services->AddOrderType("EX", "LIMIT", otLimit);

  auto first = std::make_shared<TOrderItem>();
  FillEveryProperty(*first, "ACC1");
  first->Contract = contract;
  first->OrderType = type;
  auto second = first->Copy();
  second->Status = osFilled;
  second->OrderHistorySeq = 2;
  TOrderList history("1234");
  history.Add(first);
  history.Add(second);
  history.SaveToFile(dir.File("orders.dat"));

  auto load = [&] {
    TStream stream;
    EXPECT_TRUE(stream.LoadFromFile(dir.File("orders.dat")));
    EXPECT_TRUE(ReadStoreHeader(stream));
    auto loaded = std::make_shared<TOrderList>("1234");
    EXPECT_TRUE(loaded->LoadFromStream(stream, false));
    return loaded;
  };
  services->OrderSequence = 0;
  auto loaded = load();
  ASSERT_EQ(loaded->Count(), 2);
  ExpectSameProperties(*second, *loaded->At(0));
  ExpectSameProperties(*first, *loaded->At(1));
  EXPECT_EQ(loaded->At(0)->GetReference(), kLongReference.substr(0, 25));
  EXPECT_EQ(loaded->At(0)->Contract, contract);
  EXPECT_EQ(loaded->At(0)->OrderType, type);
  EXPECT_EQ(loaded->At(0)->TraderAccount, services->Accounts[0]);
  // The order sequence counter moves past every stored UpdateSequence.
  EXPECT_EQ(services->OrderSequence, first->UpdateSequence + 1);

  // Names no longer known leave the references empty.
  services->Contracts.clear();
  services->Accounts.clear();
  loaded = load();
  ASSERT_EQ(loaded->Count(), 2);
  EXPECT_EQ(loaded->At(0)->Contract, nullptr);
  EXPECT_EQ(loaded->At(0)->OrderType, nullptr);
  EXPECT_EQ(loaded->At(0)->TraderAccount, nullptr);
  EXPECT_EQ(loaded->At(0)->ID, second->ID);
}

TEST(OrderItemTest, CopyIsASeparateVersionWithEveryValue) {
  TOrderServicesScope services;
  services->AddAccount("ACC1");
  TOrderItem order;
  FillEveryProperty(order, "ACC1");
  order.Contract = services->AddContract("EX", "COM", "MAR24");
  order.OrderType = services->AddOrderType("EX", "LIMIT", otLimit);
  order.MutableStrategyLegs()[15][0] = 'L';
  std::memcpy(order.MutableLegPrices()[3].data(), "101.5", 6);
  order.SetUUID("{GROUP}");
  order.BelongsTo.Add(std::string("{GROUP}"));

  auto copy = order.Copy();
  ExpectSameProperties(order, *copy);
  EXPECT_EQ(copy->Contract, order.Contract);
  EXPECT_EQ(copy->OrderType, order.OrderType);
  EXPECT_EQ(copy->TraderAccount, order.TraderAccount);
  EXPECT_EQ(copy->StrategyLegs(), order.StrategyLegs());
  EXPECT_EQ(copy->LegPrices(), order.LegPrices());
  // A new version has an identity of its own.
  EXPECT_EQ(copy->GetUUID(), "");
  EXPECT_EQ(copy->BelongsTo.Count(), 0u);

  copy->Status = osCancelled;
  copy->SentTimeOut = 99;
  copy->SetReference("OTHER");
  EXPECT_NE(order.Status, osCancelled);
  EXPECT_NE(order.SentTimeOut, 99);
  EXPECT_EQ(order.GetReference(), kLongReference.substr(0, 25));
}

// Rarely set texts take room only once they hold something; the legs only once written.
TEST(OrderItemTest, RareTextsAndLegsTakeRoomOnlyWhenSet) {
  TOrderItem order;
  EXPECT_EQ(order.BatchID(), "");
  EXPECT_FALSE(order.HasLegs());
  EXPECT_EQ(order.StrategyLegs()[0][0], '\0');
  order.SetRoutingID1("");
  order.SetBatchID("B1");
  order.SetLocalUserName("LU");
  order.SetBatchID("B2");
  EXPECT_EQ(order.BatchID(), "B2");
  EXPECT_EQ(order.LocalUserName(), "LU");
  EXPECT_EQ(order.RoutingID1(), "");
  order.SetBatchID("");
  EXPECT_EQ(order.BatchID(), "");
  EXPECT_EQ(order.LocalUserName(), "LU");
  // Every text on its own, in any order, reads back as set.
  TOrderItem all;
  const auto& properties = TOrderItem::Class().Properties();
  for (std::size_t i = properties.size(); i-- > 0;) {
    if (properties[i].Kind == TPropKind::String && properties[i].Name != "TraderAccountName")
      properties[i].Set(all, TPropValue("v" + std::to_string(i)));
  }
  for (std::size_t i = 0; i < properties.size(); ++i) {
    if (properties[i].Kind == TPropKind::String && properties[i].Name != "TraderAccountName") {
      EXPECT_EQ(properties[i].Get(all), TPropValue("v" + std::to_string(i))) << properties[i].Name;
    }
  }
}

TEST(OrderItemTest, StatesAndCopiesComeFromTheStatePoolAndCopyTheirBlocks) {
  TSlabPool& pool = OrderStatePool();
  const std::size_t before = pool.SlotsInUse();
  auto state = NewOrderItem();
  state->SetBatchID("B1");
  state->MutableStrategyLegs()[2][0] = 'L';
  auto copy = state->Copy();
  EXPECT_EQ(pool.SlotsInUse(), before + 2);
  copy->SetBatchID("B2");
  copy->MutableStrategyLegs()[2][0] = 'M';
  EXPECT_EQ(state->BatchID(), "B1");
  EXPECT_EQ(state->StrategyLegs()[2][0], 'L');
  TOrderFields constructed(*copy);
  copy->SetBatchID("");
  copy->MutableStrategyLegs()[2][0] = 'N';
  EXPECT_EQ(constructed.BatchID(), "B2");
  EXPECT_EQ(constructed.StrategyLegs()[2][0], 'M');
  state.reset();
  copy.reset();
  EXPECT_EQ(pool.SlotsInUse(), before);
}

// ---------------------------------------------------------------------------------------------
// The history

TEST(OrderListTest, NewestFirstAndStatesInsertedBySequence) {
  TOrderList history("12345678901234");
  EXPECT_EQ(history.OrderID(), "1234567890");
  EXPECT_EQ(history.Name(), "Order List 1234567890");
  EXPECT_TRUE(history.IsNew());
  EXPECT_EQ(history.GetCurrent(), nullptr);
  history.Add(MakeOrderState("1", osQueued, 1));
  history.Add(MakeOrderState("1", osWorking, 3));
  EXPECT_FALSE(history.IsNew());
  EXPECT_EQ(history.GetCurrent()->Status, osWorking);

  // Into entries of sequences 5, 3, 1: where a state of each sequence goes.
  const struct {
    std::int32_t sequence;
    int index;
  } cases[] = {{6, 0}, {5, 0}, {4, 1}, {3, 1}, {2, 2}, {0, 3}};
  for (const auto& c : cases) {
    TOrderList h("1");
    for (std::int32_t s : {1, 3, 5})
      h.Add(MakeOrderState("1", osWorking, s));
    h.SetIsNew(true);
    auto item = MakeOrderState("1", osPart, c.sequence);
    h.InsertBySequence(item);
    EXPECT_EQ(h.IndexOf(item.get()), c.index) << c.sequence;
    EXPECT_FALSE(h.IsNew());
    auto seqs = Sequences(h);
    EXPECT_TRUE(std::is_sorted(seqs.rbegin(), seqs.rend())) << c.sequence;
  }
}

TEST(OrderListTest, InsertSecondGoesBehindTheHeadExceptInANewOrEmptyHistory) {
  const struct {
    const char* name;
    int entries;
    bool isNew;
    int index;
  } cases[] = {
      {"new history", 0, true, 0},
      {"headed history", 2, false, 1},
      {"stored history without entries", 0, false, 0},
  };
  for (const auto& c : cases) {
    TOrderList history("9");
    for (int i = 0; i < c.entries; ++i)
      history.Add(MakeOrderState("9", osWorking, i));
    history.SetIsNew(c.isNew);
    auto head = history.GetCurrent();
    auto item = MakeOrderState("9", osORPIFilled);
    history.InsertSecond(item);
    EXPECT_EQ(history.IndexOf(item.get()), c.index) << c.name;
    EXPECT_EQ(item->OFSeqNumber, c.entries + 1) << c.name;
    EXPECT_FALSE(history.IsNew()) << c.name;
    if (head) {
      EXPECT_EQ(history.GetCurrent(), head) << c.name;
    }
  }
}

TEST(OrderListTest, FindStatusWorkingLotsAndOrderID) {
  TOrderList history("5");
  auto oldest = MakeOrderState("5", osPart, 1, 1, 4);
  history.Add(oldest);
  history.Add(MakeOrderState("5", osPart, 2, 2, 6));
  history.Add(MakeOrderState("5", osWorking, 3, 0, 0));
  history.Add(MakeOrderState("5", osFilled, 4, 6, 6));
  EXPECT_EQ(history.FindStatus(osPart), oldest);
  EXPECT_EQ(history.FindStatus(osRejected), nullptr);
  // The newest working state with lots: the Working entry has none.
  EXPECT_EQ(history.GetWorkingLots(), 6);
  EXPECT_EQ(TOrderList("6").GetWorkingLots(), 0);

  history.SetOrderID("N77");
  EXPECT_EQ(history.OrderID(), "N77");
  for (int i = 0; i < history.Count(); ++i) {
    EXPECT_EQ(history.At(i)->ID, "N77");
    EXPECT_EQ(history.At(i)->DisplayID, "N77");
  }
}

TEST(OrderListTest, ResolveORPIDropsTheOldestAndPromotesTheNewest) {
  {
    TOrderList history("7");
    auto older = MakeOrderState("7", osORPIFilled, 1, 7);
    auto newer = MakeOrderState("7", osORPIFilled, 2, 9);
    history.Add(older);
    history.Add(newer);
    history.Add(MakeOrderState("7", osWorking, 3));
    history.SetIsNew(true);
    history.ResolveORPI(osORPIFilled, osFilled);
    ASSERT_EQ(history.Count(), 2);
    EXPECT_EQ(history.GetCurrent(), newer);
    EXPECT_EQ(newer->Status, osFilled);
    EXPECT_EQ(history.IndexOf(older.get()), -1);
    EXPECT_FALSE(history.IsNew());
  }
  {
    TOrderList history("8");
    history.Add(MakeOrderState("8", osORPIPart, 1, 2));
    history.Add(MakeOrderState("8", osWorking, 2));
    history.Add(MakeOrderState("8", osORPIPart, 3, 4));
    history.Add(MakeOrderState("8", osORPIPart, 4, 5));
    history.ResolveORPI(osORPIPart, osPart);
    EXPECT_EQ(States(history), (std::vector<TOrderStatus>{osPart, osPart, osWorking}));
    EXPECT_EQ(history.GetCurrent()->Filled, 5);
  }
  {
    TOrderList history("9");
    history.Add(MakeOrderState("9", osWorking, 1));
    history.ResolveORPI(osORPIFilled, osFilled);
    EXPECT_EQ(States(history), (std::vector<TOrderStatus>{osWorking}));
  }
}

TEST(OrderListTest, ReKeyTakesTheHistoryOutAndPutsItBack) {
  TTestOrderQ orders;
  auto local = std::make_shared<TOrderList>("N1");
  local->Add(MakeOrderState("N1", osQueued));
  auto other = std::make_shared<TOrderList>("300");
  orders.Add(local);
  orders.Add(other);
  ASSERT_EQ(orders.At(0), other);

  EXPECT_TRUE(ReKeyOrderList(orders, local, "200"));
  EXPECT_EQ(orders.At(0), local);
  EXPECT_EQ(orders.Get("200"), local);
  EXPECT_EQ(orders.Get("N1"), nullptr);
  EXPECT_EQ(local->GetCurrent()->ID, "200");

  // A key that another history holds is refused and nothing changes.
  EXPECT_FALSE(ReKeyOrderList(orders, local, "300"));
  EXPECT_EQ(orders.Get("200"), local);
  EXPECT_EQ(orders.Get("300"), other);
  EXPECT_EQ(local->GetCurrent()->ID, "200");
  EXPECT_EQ(orders.Count(), 2);
}

// ---------------------------------------------------------------------------------------------
// Expiry, exchange close and purge

TEST(OrderItemTest, ExpireAndDeactivateCloseAWorkingOrderWithANewHead) {
  const struct {
    const char* name;
    TOrderStatus status;
    std::int32_t filled;
    char gtc;
    bool expire;
    std::optional<TOrderStatus> newHead;  // none: the history is unchanged
    std::int32_t state;                   // of the new head, else of the order itself
  } cases[] = {
      {"expire part filled", osWorking, 3, 'N', true, osBalCancelled, TUUIDStreamable::usExpired},
      {"expire unfilled", osWorking, 0, 'N', true, osCancelled, TUUIDStreamable::usExpired},
      {"expire filled", osFilled, 10, 'N', true, std::nullopt, TUUIDStreamable::usExpired},
      {"close working", osPart, 3, 'N', false, osExternalCancelled, TUUIDStreamable::usInactive},
      {"close good till cancelled", osWorking, 0, 'Y', false, std::nullopt,
       TUUIDStreamable::usActive},
      {"close cancelled", osCancelled, 0, 'N', false, std::nullopt, TUUIDStreamable::usInactive},
  };
  for (const auto& c : cases) {
    TOrderServicesScope services;
    auto type = services->AddOrderType("EX", "T", otLimit);
    type->GTCFlag = c.gtc;
    // The host's sequence runs ahead of the history's count.
    auto order = MakeOrderState("42", c.status, 9, c.filled);
    order->OrderType = type;
    auto history = services->AddHistory("42", {order});
    if (c.expire)
      order->Expire();
    else
      order->Deactivate(true);
    if (c.newHead) {
      ASSERT_EQ(history->Count(), 2) << c.name;
      auto head = history->GetCurrent();
      EXPECT_NE(head, order) << c.name;
      EXPECT_EQ(head->Status, *c.newHead) << c.name;
      EXPECT_EQ(head->State, c.state) << c.name;
      EXPECT_EQ(head->Filled, c.filled) << c.name;
      EXPECT_EQ(head->OrderHistorySeq, 9) << c.name;
      EXPECT_EQ(head->OFSeqNumber, 2) << c.name;
      EXPECT_EQ(head->NonExecReason(),
                c.expire ? "" : "The order has been cancelled due to the exchange closing")
          << c.name;
      EXPECT_EQ(services->Forgotten, std::vector<std::string>{"42"}) << c.name;
    } else {
      EXPECT_EQ(history->Count(), 1) << c.name;
      EXPECT_EQ(order->State, c.state) << c.name;
      EXPECT_TRUE(services->Forgotten.empty()) << c.name;
    }
  }
}

TEST(OrderItemTest, ExpireOfAnOrderWithoutHistoryOnlyChangesItsState) {
  TOrderServicesScope services;
  auto order = MakeOrderState("43", osWorking);  // no order type: not good till cancelled
  order->Deactivate(true);
  EXPECT_EQ(order->State, TUUIDStreamable::usInactive);
  order->Expire();
  EXPECT_EQ(order->State, TUUIDStreamable::usExpired);
  EXPECT_EQ(order->Status, osWorking);
  EXPECT_TRUE(services->Forgotten.empty());
}

TEST(OrderItemTest, PurgeRemovesAnExpiredOrderFromItsGroupsAndTheOrderList) {
  TFakeClock clock(EncodeDate(2024, 3, 5) + EncodeTime(17, 0, 0, 0));
  TClockInstaller installer(clock);
  TOrderServicesScope services;
  auto order = MakeOrderState("44", osFilled, 1, 10);
  auto older = MakeOrderState("44", osWorking, 0);
  auto history = services->AddHistory("44", {order, older});
  services->AddHistory("45", {MakeOrderState("45", osWorking)});
  auto buddy = MakeOrderState("46", osWorking);
  order->SetUUID("{ONE}");
  buddy->SetUUID("{TWO}");
  services->Groups.Add(order);
  services->Groups.Add(buddy);
  services->Groups.FindGroup("{TWO}")->AddMember(order);
  order->BelongsTo.Add(std::string("{ONE}"));
  order->BelongsTo.Add(std::string("{TWO}"));

  order->Expire();  // closed already: only expires, stamped now
  order->Purge(clock.NowLocal() - 1.0);
  EXPECT_EQ(services->OrderQ.Count(), 2) << "not expired by then";

  order->Purge(clock.NowLocal());
  EXPECT_EQ(services->OrderQ.Count(), 1);
  EXPECT_EQ(services->OrderQ.Get("44"), nullptr);
  EXPECT_EQ(history->Count(), 0);
  EXPECT_EQ(services->Groups.FindGroup("{ONE}"), nullptr);
  auto two = services->Groups.FindGroup("{TWO}");
  ASSERT_NE(two, nullptr);
  auto members = two->Members.LockList();
  ASSERT_EQ(members->size(), 1u);
  EXPECT_EQ(members->front().lock(), buddy);
  EXPECT_EQ(order->BelongsTo.Count(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Building an order from an order-entry record

class BuildOrderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services_->AddAccount("ACC1");
    services_->AddAccount("VIEW", false);
    services_->AddContract("EX", "COM", "MAR24", "F", 100);
    option_ = services_->AddContract("EX", "COM", "MAR24 C100", "C", 100);
    services_->AddOrderType("EX", "LIMIT", otLimit);
    services_->AddOrderType("EX", "STOPLIM", otGTDStopLimit, 2);
    services_->AddOrderType("EX", "SYNSTOP", otSyntheticStop);
    services_->AddOrderType("EX", "RFQ", otRFQi, 0);
    services_->AddOrderType("EX", "AUTO", otAggregateOrder)->AutoCreated = true;
    ResetRecord();
  }

  void ResetRecord() {
    std::memset(&record_, 0, sizeof record_);
    PutFixed(record_.TraderAccount, "ACC1");
    PutFixed(record_.OrderType, "LIMIT");
    PutFixed(record_.ExchangeName, "EX");
    PutFixed(record_.CommodityName, "COM");
    PutFixed(record_.ContractDate, "MAR24");
    record_.BuySell = 'B';
    PutFixed(record_.Price, "101.25");
    record_.Lots = 5;
    record_.XRef = 7;
    record_.XRefP = 8;
    PutFixed(record_.Reference, kLongReference);
    record_.Priority = 3;
    record_.OpenOrClose = 'O';
  }

  TBuildOrderResult Build() { return TOrderItem::BuildOrder(record_, "1001", "TRADER"); }

  TFakeClock clock_{EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0)};
  TClockInstaller installer_{clock_};
  TOrderServicesScope services_;
  std::shared_ptr<TContractItem> option_;
  NewOrderStruct record_;
};

TEST_F(BuildOrderTest, EachFailedCheckReturnsItsCodeAndLeavesNothingBehind) {
  const struct {
    const char* name;
    std::function<void(NewOrderStruct&)> change;
    std::int32_t code;
  } cases[] = {
      {"unknown account", [](auto& r) { PutFixed(r.TraderAccount, "NOBODY"); }, 9},
      {"view-only account", [](auto& r) { PutFixed(r.TraderAccount, "VIEW"); }, 34},
      {"unknown contract", [](auto& r) { PutFixed(r.ContractDate, "JUN24"); }, 22},
      {"unknown order type", [](auto& r) { PutFixed(r.OrderType, "NOPE"); }, 21},
      {"auto-created order type", [](auto& r) { PutFixed(r.OrderType, "AUTO"); }, 39},
      {"blank price", [](auto& r) { PutFixed(r.Price, "  "); }, 24},
      {"blank second price",
       [](auto& r) {
         PutFixed(r.OrderType, "STOPLIM");
         PutFixed(r.Price2, "");
       },
       24},
      {"no lots", [](auto& r) { r.Lots = 0; }, 29},
      {"price not a number", [](auto& r) { PutFixed(r.Price, "1O1"); }, 99},
      {"trigger date not a date",
       [](auto& r) {
         PutFixed(r.OrderType, "SYNSTOP");
         PutFixed(r.TriggerDate, "31022024");
         PutFixed(r.TriggerTime, "103000");
       },
       99},
      {"trigger without a time",
       [](auto& r) {
         PutFixed(r.OrderType, "SYNSTOP");
         PutFixed(r.TriggerDate, "01032024");
       },
       99},
  };
  for (const auto& c : cases) {
    ResetRecord();
    c.change(record_);
    const TBuildOrderResult result = Build();
    EXPECT_EQ(result.Code, c.code) << c.name;
    EXPECT_EQ(result.Order, nullptr) << c.name;
    EXPECT_EQ(services_->SyntheticCount, 0) << c.name;
    EXPECT_TRUE(services_->Matched.empty()) << c.name;
    EXPECT_EQ(services_->OrderQ.Count(), 0) << c.name;
  }
}

TEST_F(BuildOrderTest, FillsTheOrderFromTheRecord) {
  services_->MatchAnswer = "N5";
  const TBuildOrderResult result = Build();
  ASSERT_EQ(result.Code, 0);
  ASSERT_NE(result.Order, nullptr);
  const TOrderItem& order = *result.Order;
  EXPECT_TRUE(services_->Matched.empty()) << "a new order is never matched to a local one";
  EXPECT_EQ(order.ID, "1001");
  EXPECT_EQ(order.BatchID(), "");
  EXPECT_EQ(order.DisplayID, "");
  EXPECT_EQ(order.Status, osQueued);
  EXPECT_EQ(order.UserName, "TRADER");
  EXPECT_EQ(order.GetTraderAccountName(), "ACC1");
  EXPECT_EQ(order.Contract, services_->Contracts[0]);
  EXPECT_EQ(order.OrderType->Name(), "LIMIT");
  EXPECT_EQ(order.BuySell, Buy);
  EXPECT_DOUBLE_EQ(order.Price, 101.25);
  EXPECT_DOUBLE_EQ(order.Price2, 0.0);
  EXPECT_EQ(order.TargetLots, 5);
  EXPECT_EQ(order.OpenOrClose, 'O');
  EXPECT_EQ(order.XRef, 7);
  EXPECT_EQ(order.XRefP, 8);
  EXPECT_EQ(order.Priority, 3);
  EXPECT_EQ(order.GetReference(), kLongReference.substr(0, 25));
  EXPECT_EQ(order.DateClientSent, "20240305");
  EXPECT_EQ(order.TimeClientSent, "140709");
  EXPECT_EQ(order.TriggerDate(), "");
  EXPECT_FALSE(order.Checked);

  record_.BuySell = 'T';
  EXPECT_EQ(Build().Order->BuySell, TwoSided);
  record_.BuySell = 'Q';
  EXPECT_EQ(Build().Order->BuySell, Illegal);
  PutFixed(record_.OrderType, "RFQ");
  record_.Lots = 0;
  EXPECT_EQ(Build().Code, 0) << "a request for quote may have no lots";
}

TEST_F(BuildOrderTest, SyntheticOrderIsHeldUnderASyntheticID) {
  PutFixed(record_.OrderType, "SYNSTOP");
  const TBuildOrderResult result = Build();
  ASSERT_EQ(result.Code, 0);
  EXPECT_EQ(result.Order->ID, "S1");
  EXPECT_EQ(result.Order->Status, osHeldOrder);
}

// A wholesale pair's order: any side but 'B' sells, and the order is its own batch whatever
// the record's batch ID.
TEST_F(BuildOrderTest, WholesalePairOrderSellsOnAnySideButBuyAndIsItsOwnBatch) {
  TBuildOrderOptions pair;
  pair.WholesalePair = true;
  PutFixed(record_.BatchID, "555");
  const struct {
    char side;
    TPurchase expected;
  } sides[] = {{'B', Buy}, {'S', Sell}, {'T', Sell}, {'X', Sell}, {'Q', Sell}, {'\0', Sell}};
  for (const auto& c : sides) {
    record_.BuySell = c.side;
    const TBuildOrderResult result = TOrderItem::BuildOrder(record_, "1001", "TRADER", pair);
    ASSERT_EQ(result.Code, 0) << c.side;
    EXPECT_EQ(result.Order->BuySell, c.expected) << c.side;
    EXPECT_EQ(result.Order->BatchID(), "1001");
  }
  PutFixed(record_.OrderType, "SYNSTOP");
  EXPECT_EQ(TOrderItem::BuildOrder(record_, "1001", "TRADER", pair).Order->BatchID(), "S1")
      << "a held order is its own batch under its held ID";
}

TEST_F(BuildOrderTest, TriggerIsStoredInUTC) {
  PutFixed(record_.TriggerDate, "01072024");
  PutFixed(record_.TriggerTime, "103000");
  const TBuildOrderResult result = [&] {
    TScopedTimeZone zone("Europe/London");
    return Build();
  }();
  ASSERT_EQ(result.Code, 0);
  EXPECT_EQ(result.Order->TriggerDate(), "20240701");
  EXPECT_EQ(result.Order->TriggerTime(), "093000");
}

TEST_F(BuildOrderTest, MarginIsBookedOnlyForOptionsInMarginMode) {
  const TContractKey names{"EX", "COM", "MAR24 C100"};
  PutFixed(record_.ContractDate, "MAR24 C100");
  auto option = Build().Order;
  ASSERT_NE(option, nullptr);
  EXPECT_TRUE(option->TraderAccount->GetMarginOrders(names).empty()) << "not before acceptance";
  BookOrderMargin(option, false);
  EXPECT_TRUE(option->TraderAccount->GetMarginOrders(names).empty());
  BookOrderMargin(option, true);
  const auto entries = option->TraderAccount->GetMarginOrders(names);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].OrderID, "1001");
  EXPECT_EQ(entries[0].Lots, 5);

  PutFixed(record_.ContractDate, "MAR24");
  auto future = Build().Order;
  BookOrderMargin(future, true);
  EXPECT_TRUE(future->TraderAccount->GetMarginOrders({"EX", "COM", "MAR24"}).empty());
}

}  // namespace
}  // namespace vorn
