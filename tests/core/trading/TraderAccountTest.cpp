#include "core/trading/TraderAccount.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/store/ObjStream.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

const TContractKey kFeb{"XCME", "ES", "FEB26"};
const TContractKey kMar{"XCME", "ES", "MAR26"};

TMarginOrderData Order(std::string id, TPurchase side, TOrderStatus state, std::int32_t lots,
                       std::int32_t filled, double price, TContractKey contract = kFeb) {
  TMarginOrderData order;
  order.OrderID = std::move(id);
  order.TraderAccount = "ACC1";
  order.Contract = std::move(contract);
  order.Side = side;
  order.State = state;
  order.TargetLots = lots;
  order.Filled = filled;
  order.Price = price;
  return order;
}

std::vector<std::string> Ids(const std::vector<TMarginOrderItem>& entries) {
  std::vector<std::string> ids;
  for (const auto& entry : entries)
    ids.push_back(entry.OrderID);
  return ids;
}

std::vector<std::string> Names(const TTraderAccountQ& accounts) {
  std::vector<std::string> names;
  for (int i = 0; i < accounts.Count(); ++i)
    names.push_back(accounts.At(i)->TraderAccount);
  return names;
}

// ---------------------------------------------------------------------------------------------
// The list

TEST(TraderAccountTest, AccountsAreKeyedByNameInKeyOrder) {
  TTraderAccountQ accounts;
  EXPECT_EQ(accounts.Name(), "Accounts");
  for (const char* name : {"ZED", "b2", "Abc", "b10", "abc"})
    EXPECT_TRUE(accounts.Add(std::make_shared<TTraderAccountItem>(name)).Added) << name;
  EXPECT_EQ(Names(accounts), (std::vector<std::string>{"abc", "Abc", "b10", "b2", "ZED"}));

  // A key listed already is refused, and the list keeps the first.
  const auto first = accounts.Get("b2");
  EXPECT_FALSE(accounts.Add(std::make_shared<TTraderAccountItem>("b2")).Added);
  EXPECT_EQ(accounts.Count(), 5);
  EXPECT_EQ(accounts.Get("b2"), first);

  // FindAccount trims; the key look-up takes the name as given.
  EXPECT_EQ(accounts.FindAccount("  b2 "), first);
  EXPECT_EQ(accounts.Get("b2 "), nullptr);
}

TEST(TraderAccountTest, FindAccountCreatesOnlyDuringTheDownload) {
  struct Case {
    const char* name;
    bool hasFlag;
    bool downloading;
    bool created;
  };
  const Case cases[] = {
      {"no flag", false, false, false},
      {"download over", true, false, false},
      {"downloading", true, true, true},
  };
  for (const Case& c : cases) {
    std::atomic<bool> downloading{c.downloading};
    TTraderAccountQ accounts(c.hasFlag ? &downloading : nullptr);
    const auto account = accounts.FindAccount(" NEW1 ");
    EXPECT_EQ(account != nullptr, c.created) << c.name;
    EXPECT_EQ(accounts.Count(), c.created ? 1 : 0) << c.name;
    if (account) {
      EXPECT_EQ(account->TraderAccount, "NEW1") << c.name;
      EXPECT_FALSE(account->Tradable) << c.name;
      EXPECT_EQ(accounts.FindAccount("NEW1"), account) << c.name;
      EXPECT_EQ(accounts.Count(), 1) << c.name;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Margin orders

TEST(TraderAccountTest, MarginOrdersKeepOneEntryPerOrderReplacedInPlace) {
  TTraderAccountItem account("ACC1");
  account.AddMarginOrder(Order("1", Buy, osWorking, 5, 0, 10));
  account.AddMarginOrder(Order("2", Sell, osQueued, 3, 0, 11));
  account.AddMarginOrder(Order("3", Buy, osWorking, 1, 0, 9, kMar));

  // A new state replaces the entry where it stands, whatever the old state was.
  account.AddMarginOrder(Order("1", Buy, osPart, 5, 2, 10));
  account.AddMarginOrder(Order("2", Sell, osSent, 3, 0, 11));
  account.AddMarginOrder(Order("2", Sell, osRejected, 3, 0, 11));
  account.AddMarginOrder(Order("2", Sell, osWorking, 3, 0, 11));
  auto feb = account.GetMarginOrders(kFeb);
  ASSERT_EQ(Ids(feb), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(feb[0].State, osPart);
  EXPECT_EQ(feb[0].Lots, 5);
  EXPECT_EQ(feb[0].FilledLots, 2);
  EXPECT_EQ(feb[1].State, osWorking);
  EXPECT_EQ(feb[1].TraderAccount, "ACC1");
  EXPECT_EQ(feb[1].Contract, kFeb);

  // A balance-cancelled order holds only what it filled.
  account.AddMarginOrder(Order("1", Buy, osBalCancelled, 5, 2, 10));
  EXPECT_EQ(account.GetMarginOrders(kFeb)[0].Lots, 2);

  // A fill is keyed by its own ID, so a repeated fill replaces its entry.
  account.AddMarginFill("F1", kMar, Buy, 4, 9.5);
  account.AddMarginFill("F1", kMar, Buy, 4, 9.5);
  const auto mar = account.GetMarginOrders(kMar);
  ASSERT_EQ(Ids(mar), (std::vector<std::string>{"3", "F1"}));
  EXPECT_EQ(mar[1].State, osFilled);
  EXPECT_EQ(mar[1].Lots, 4);
  EXPECT_EQ(mar[1].FilledLots, 4);

  EXPECT_TRUE(account.RemoveMarginOrder("1"));
  EXPECT_FALSE(account.RemoveMarginOrder("1"));
  EXPECT_FALSE(account.RemoveMarginOrder("unknown"));
  EXPECT_EQ(Ids(account.GetMarginOrders(kFeb)), std::vector<std::string>{"2"});
  // A removed order that comes back is appended.
  account.AddMarginOrder(Order("1", Buy, osWorking, 5, 0, 10));
  EXPECT_EQ(Ids(account.GetMarginOrders(kFeb)), (std::vector<std::string>{"2", "1"}));

  // Each contract once, in the order of its first entry, even after its entries are gone.
  EXPECT_EQ(ContractPositionKey(kFeb), "FEB26 \\ ES \\ XCME");
  EXPECT_TRUE(account.RemoveMarginOrder("3"));
  EXPECT_TRUE(account.RemoveMarginOrder("F1"));
  EXPECT_EQ(account.GetContractPositions(), (std::vector<TContractKey>{kFeb, kMar}));
  EXPECT_TRUE(account.GetMarginOrders({"XCME", "NQ", "FEB26"}).empty());
}

TEST(TraderAccountTest, SellsAverageWhatTheStartOfDayLotsCover) {
  TTraderAccountItem account("ACC1");
  std::int32_t available = 5;
  const TCoverLots cover = [&](std::int32_t wanted) {
    const std::int32_t taken = std::min(available, wanted);
    available -= taken;
    return taken;
  };
  struct Step {
    TOrderStatus state;
    std::int32_t filled;
    double price;
    std::int32_t coveredLots;
    double coveredAvg;
    std::int32_t available;
  };
  const Step steps[] = {
      {osWorking, 0, 10, 0, 0, 5},        // nothing filled, nothing covered
      {osPart, 2, 10, 2, 10, 3},          // first cover: the price itself
      {osPart, 4, 14, 4, 12, 1},          // (2 x 10 + 2 x 14) / 4
      {osAmendPending, 4, 20, 4, 12, 1},  // no new fills: carried over
      {osFilled, 8, 20, 5, 13.6, 0},      // only 1 of the 4 new lots is covered
      {osFilled, 8, 20, 5, 13.6, 0},      // a repeat covers nothing more
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const Step& s = steps[i];
    account.AddMarginOrder(Order("7", Sell, s.state, 8, s.filled, s.price), cover);
    const auto entries = account.GetMarginOrders(kFeb);
    ASSERT_EQ(entries.size(), 1u) << "step " << i;
    EXPECT_EQ(entries[0].CoveredLots, s.coveredLots) << "step " << i;
    EXPECT_DOUBLE_EQ(entries[0].CoveredAvgPrice, s.coveredAvg) << "step " << i;
    EXPECT_EQ(available, s.available) << "step " << i;
  }

  // Buys take no cover; without a position record nothing is covered.
  available = 5;
  account.AddMarginOrder(Order("8", Buy, osFilled, 3, 3, 10), cover);
  account.AddMarginOrder(Order("9", Sell, osFilled, 3, 3, 10));
  EXPECT_EQ(available, 5);
  for (const auto& entry : account.GetMarginOrders(kFeb)) {
    if (entry.OrderID == "7") continue;
    EXPECT_EQ(entry.CoveredLots, 0) << entry.OrderID;
    EXPECT_EQ(entry.CoveredAvgPrice, 0.0) << entry.OrderID;
  }

  // A removed order starts afresh.
  account.RemoveMarginOrder("7");
  account.AddMarginOrder(Order("7", Sell, osPart, 8, 1, 30), cover);
  const auto entries = account.GetMarginOrders(kFeb);
  EXPECT_EQ(entries.back().CoveredLots, 1);
  EXPECT_DOUBLE_EQ(entries.back().CoveredAvgPrice, 30);
}

TEST(TraderAccountTest, ASellNeverKeepsMoreCoveredLotsThanItHasFilled) {
  TTraderAccountItem account("ACC1");
  const TCoverLots plenty = [](std::int32_t wanted) { return wanted; };
  account.AddMarginOrder(Order("7", Sell, osPart, 8, 5, 10), plenty);
  account.AddMarginOrder(Order("7", Sell, osPart, 8, 3, 10), plenty);
  EXPECT_EQ(account.GetMarginOrders(kFeb)[0].CoveredLots, 3);
  EXPECT_EQ(account.GetOptionEntries(kFeb).CoveredSells.size(), 1u);
  account.AddMarginOrder(Order("7", Sell, osPart, 8, 0, 10), plenty);
  EXPECT_EQ(account.GetMarginOrders(kFeb)[0].CoveredLots, 0);
  EXPECT_EQ(account.GetMarginOrders(kFeb)[0].CoveredAvgPrice, 0.0);
  EXPECT_TRUE(account.GetOptionEntries(kFeb).CoveredSells.empty());
}

// A new start-of-day record: written first, under the account's lock, then the contract's filled
// sells in list order are covered afresh (or not at all) from its free lots.
TEST(TraderAccountTest, ARestartCoversTheFilledSellsAfresh) {
  TTraderAccountItem account("ACC1");
  std::int32_t available = 0;
  const TCoverLots cover = [&](std::int32_t wanted) {
    const std::int32_t taken = std::min(available, wanted);
    available -= taken;
    return taken;
  };
  available = 2;
  account.AddMarginOrder(Order("1", Sell, osFilled, 3, 3, 10), cover);  // covers 2
  account.AddMarginOrder(Order("2", Buy, osFilled, 4, 4, 11), cover);
  account.AddMarginOrder(Order("3", Sell, osWorking, 5, 0, 12), cover);
  account.AddMarginOrder(Order("4", Sell, osPart, 6, 4, 13), cover);
  account.AddMarginOrder(Order("5", Sell, osFilled, 1, 1, 14, kMar), cover);
  account.AddMarginOrder(Order("6", Sell, osPart, 6, 2, 15), cover);

  struct TCovered {
    std::string ID;
    std::int32_t Lots;
    double Avg;
    bool operator==(const TCovered&) const = default;
  };
  const auto covered = [&](const TContractKey& contract) {
    std::vector<TCovered> sells;
    for (const auto& entry : account.GetMarginOrders(contract))
      if (entry.CoveredLots != 0)
        sells.push_back({entry.OrderID, entry.CoveredLots, entry.CoveredAvgPrice});
    return sells;
  };
  ASSERT_EQ(covered(kFeb), (std::vector<TCovered>{{"1", 2, 10}}));

  account.RestartCover(
      kFeb, [&] { available = 5; }, cover);
  EXPECT_EQ(available, 0);
  EXPECT_EQ(covered(kFeb), (std::vector<TCovered>{{"1", 3, 10}, {"4", 2, 13}}));
  EXPECT_EQ(account.GetOptionEntries(kFeb).CoveredSells.size(), 2u);

  // Without a cover the sells are settled; another contract's are left alone.
  account.RestartCover(kMar, {}, {});
  account.RestartCover(kFeb, [&] { available = 5; }, {});
  EXPECT_EQ(available, 5);
  EXPECT_TRUE(covered(kFeb).empty());
  EXPECT_TRUE(account.GetOptionEntries(kFeb).CoveredSells.empty());
  EXPECT_EQ(account.GetOptionEntries(kFeb).FilledSells, 3);
  // A contract with no entries: the record is still written.
  bool stored = false;
  account.RestartCover(
      {"XCME", "NQ", "FEB26"}, [&] { stored = true; }, cover);
  EXPECT_TRUE(stored);
}

// ---------------------------------------------------------------------------------------------
// Ratings, traded contracts, totals

TEST(TraderAccountTest, ContractRatingsAndTradedContractsHoldOnePerContract) {
  TTraderAccountItem account("ACC1");
  double rate = -1;
  EXPECT_FALSE(account.FindContractRating("XCME", "ES", "FEB26", rate));
  account.AddContractRating({"XCME", "ES", "FEB26", 10});
  account.AddContractRating({"XCME", "ES", "MAR26", 20});
  account.AddContractRating({"XCME", "ES", "FEB26", 15});
  EXPECT_EQ(account.GetContractRatings().size(), 2u);
  ASSERT_TRUE(account.FindContractRating("XCME", "ES", "FEB26", rate));
  EXPECT_EQ(rate, 15);
  // The parts are compared whole: a separator inside a name does not join two parts.
  EXPECT_FALSE(account.FindContractRating("XCME", "ESFEB26", "", rate));
  EXPECT_TRUE(account.DropContractRating("XCME", "ES", "FEB26"));
  EXPECT_FALSE(account.DropContractRating("XCME", "ES", "FEB26"));
  EXPECT_FALSE(account.FindContractRating("XCME", "ES", "FEB26", rate));

  account.AddTradedContract(kMar);
  account.AddTradedContract(kFeb);
  account.AddTradedContract({"XCME", "ES", "MAR26"});
  EXPECT_EQ(account.GetTradedContracts(), (std::vector<TContractKey>{kMar, kFeb}));
}

TEST(TraderAccountTest, KeptTotalsAreValidOnlyUntilTheNextChange) {
  TTraderAccountItem account("ACC1");
  TKeptTotals totals;
  std::uint64_t generation = 0;
  // A new account has nothing computed yet.
  EXPECT_FALSE(account.GetKeptTotals(7, totals, generation));
  account.KeepTotals({12.5, 3, 1}, 7, generation);
  ASSERT_TRUE(account.GetKeptTotals(7, totals, generation));
  EXPECT_EQ(totals.PL, 12.5);
  EXPECT_EQ(totals.Buys, 3);
  EXPECT_EQ(totals.Sells, 1);
  EXPECT_FALSE(account.GetPosDirty());
  // A last trade since they were kept.
  EXPECT_FALSE(account.GetKeptTotals(8, totals, generation));

  // A fill that arrives while the totals are computed keeps them stale.
  account.SetPosDirty(true);
  ASSERT_FALSE(account.GetKeptTotals(8, totals, generation));
  account.SetPosDirty(true);
  account.KeepTotals({1, 1, 0}, 8, generation);
  EXPECT_TRUE(account.GetPosDirty());
  ASSERT_FALSE(account.GetKeptTotals(8, totals, generation));
  account.KeepTotals({2, 2, 0}, 8, generation);
  ASSERT_TRUE(account.GetKeptTotals(8, totals, generation));
  EXPECT_EQ(totals.PL, 2);
}

TEST(TraderAccountTest, MarginOrdersAndTotalsTakeConcurrentUse) {
  TTraderAccountItem account("ACC1");
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    TKeptTotals totals;
    std::uint64_t generation = 0;
    while (!stop) {
      for (const auto& entry : account.GetMarginOrders(kFeb))
        EXPECT_FALSE(entry.OrderID.empty());
      if (!account.GetKeptTotals(0, totals, generation)) account.KeepTotals({}, 0, generation);
      (void)account.GetContractPositions();
    }
  });
  for (int i = 0; i < 2000; ++i) {
    const std::string id = std::to_string(i % 50);
    account.AddMarginOrder(Order(id, Sell, osWorking, 2, 0, 10));
    account.SetPosDirty(true);
    if (i % 3 == 0) account.RemoveMarginOrder(id);
    account.SetMarginRating("R" + id);
  }
  stop = true;
  reader.join();
  EXPECT_LE(account.GetMarginOrders(kFeb).size(), 50u);
}

// ---------------------------------------------------------------------------------------------
// Store

TEST(TraderAccountTest, AccountsRoundTripThroughTheStore) {
  std::vector<std::string> names;
  for (const TPropInfo& property : TTraderAccountItem::Class().Properties())
    names.push_back(property.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"BackOfficeID", "EOSFlatten", "LossLimit",
                                             "MarginRating", "MaxOustandingOrders", "PosDirty",
                                             "ReceivedSOD", "Tradable", "TraderAccount"}));

  TTempDir dir;
  {
    TTraderAccountQ accounts;
    auto full = std::make_shared<TTraderAccountItem>("TRADER 1");
    full->SetBackOfficeID("BO-77");
    full->Tradable = true;
    full->MaxOustandingOrders = 40;
    full->LossLimit = -250000;
    full->SetMarginRating("GOLD");
    full->ReceivedSOD = true;
    full->EOSFlatten = true;
    TKeptTotals totals;
    std::uint64_t generation = 0;
    full->GetKeptTotals(0, totals, generation);
    full->KeepTotals({5, 1, 1}, 0, generation);
    full->AddMarginOrder(Order("1", Buy, osWorking, 1, 0, 1));
    accounts.Add(full);
    accounts.Add(std::make_shared<TTraderAccountItem>("ACC0"));
    accounts.SaveToFile(dir.File("VornInfo.dat"));
  }

  TStream stream;
  ASSERT_TRUE(stream.LoadFromFile(dir.File("VornInfo.dat")));
  ASSERT_TRUE(ReadStoreHeader(stream));
  TTraderAccountQ accounts;
  ASSERT_TRUE(accounts.LoadFromStream(stream, true));
  EXPECT_EQ(stream.Left(), 0u);
  ASSERT_EQ(Names(accounts), (std::vector<std::string>{"ACC0", "TRADER 1"}));
  const auto full = accounts.At(1);
  EXPECT_EQ(full->GetBackOfficeID(), "BO-77");
  EXPECT_TRUE(full->Tradable);
  EXPECT_EQ(full->MaxOustandingOrders, 40);
  EXPECT_EQ(full->LossLimit, -250000);
  EXPECT_EQ(full->GetMarginRating(), "GOLD");
  EXPECT_TRUE(full->ReceivedSOD);
  EXPECT_TRUE(full->EOSFlatten);
  // The totals are not stored, so they must be computed again; margin orders are not stored.
  EXPECT_TRUE(full->GetPosDirty());
  TKeptTotals totals;
  std::uint64_t generation = 0;
  EXPECT_FALSE(full->GetKeptTotals(0, totals, generation));
  EXPECT_TRUE(full->GetMarginOrders(kFeb).empty());
  const auto empty = accounts.At(0);
  EXPECT_EQ(empty->GetBackOfficeID(), "");
  EXPECT_FALSE(empty->Tradable);
}

}  // namespace
}  // namespace vorn
