#include "core/refdata/ContractQ.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/UUIDLog.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/Subscriptions.h"
#include "core/store/ObjStream.h"
#include "core/store/UUIDObjects.h"
#include "platform/Event.h"
#include "support/HostText.h"
#include "support/StoreSamples.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

class ContractQTest : public ::testing::Test {
 protected:
  ContractQTest() { CloseUUIDLog(); }
  ~ContractQTest() override { CloseUUIDLog(); }

  std::shared_ptr<TContractItem> Add(const std::string& exchange, const std::string& commodity,
                                     const std::string& date, const std::string& fields) {
    const int index = list_.AddFromFields(exchange, commodity, date, Fields(fields));
    EXPECT_GE(index, 0) << date;
    return index >= 0 ? list_.At(index) : nullptr;
  }
  std::vector<std::string> Dates(const TContractQ& list) const {
    std::vector<std::string> dates;
    for (int i = 0; i < list.Count(); ++i)
      dates.push_back(list.At(i)->ContractDate());
    return dates;
  }

  TTempDir dir_;
  std::atomic<bool> reading_{false};
  TLatch read_{true};
  TContractQ list_{reading_, read_};
};

TEST_F(ContractQTest, IndexOrderIsExchangeCommodityRankExpiryName) {
  Add("EX", "COM", "STRAT", "X1=BC|XD=20230101");
  Add("EX", "COM", "P1", "X1=P|XD=20240301");
  Add("EX", "COM", "JUN24", "X1=F|XD=20240601");
  Add("EX", "COM", "SPRD", "X1=EF|XD=20220101");
  Add("EX", "COM", "MAR24", "X1=C|XD=20240301");
  Add("EX", "ABC", "ZZZ", "X1=F|XD=20250101");
  Add("AEX", "COM", "DEC29", "X1=C|XD=20291201");
  Add("EX", "COM", "DEC24", "X1=F|XD=20241201");
  Add("EX", "COM", "JAN24C", "X1=C|XD=20240101");
  EXPECT_EQ(Dates(list_), (std::vector<std::string>{"DEC29", "ZZZ", "JUN24", "DEC24", "JAN24C",
                                                    "MAR24", "P1", "SPRD", "STRAT"}));
  for (int i = 0; i < list_.Count(); ++i) {
    const auto contract = list_.At(i);
    EXPECT_EQ(list_.IndexOfKey(contract->SortKey()), i);
  }
}

TEST_F(ContractQTest, FindsByTrimmedNamesAndRefusesASecondContractOfTheSameName) {
  const auto contract = Add("EX", "COM", "MAR24", "X1=F");
  EXPECT_EQ(list_.FindContract(" EX ", "COM  ", "\tMAR24 "), contract);
  EXPECT_EQ(list_.FindContract("EX", "COM", "JUN24"), nullptr);
  EXPECT_EQ(list_.AddFromFields("EX ", "COM", "MAR24", Fields("X1=C")), -1);
  EXPECT_EQ(list_.AddFromFields("EX", "COM", "MAR24", Fields("X1=F")), -1);
  EXPECT_EQ(list_.Count(), 1);
  EXPECT_THROW(list_.Add(std::make_shared<TTestItem>()), EListError);
}

// The look-up builds its key on the stack (on the heap past the record widths): it finds what
// the key string finds, for names padded, of other case, holding blanks, empty, or too long for
// the stack.
TEST_F(ContractQTest, LookUpsFindWhatTheNameKeyFinds) {
  const std::string longDate(70, 'D');
  const std::string longCommodity = "C" + std::string(40, 'c');
  const std::vector<std::shared_ptr<TContractItem>> held = {
      Add("EX", "COM", "MAR24", "X1=F"),          Add("EX", "COM", "mar24", "X1=F"),
      Add("EX", "COM", "JUN24 C100", "X1=C"),      Add("EX", "", "DEC24", "X1=F"),
      Add("EXCHANGE10", "COMMODITY1", longDate.substr(0, 50), "X1=F"),
      Add("EX", longCommodity, longDate, "X1=F"),
  };
  struct TProbe {
    std::string Exchange, Commodity, Date;
  };
  const std::vector<TProbe> probes = {
      {"EX", "COM", "MAR24"},       {" EX\t", "COM ", " MAR24  "}, {"EX", "COM", "mar24"},
      {"EX", "COM", "Mar24"},       {"EX", "COM", "JUN24 C100"},   {"EX", "COM", "JUN24  C100"},
      {"EX", "", "DEC24"},          {"EX", " ", "DEC24"},          {"EX", "COM", ""},
      {"EXCHANGE10", "COMMODITY1", longDate.substr(0, 50)},
      {"EX", longCommodity, longDate}, {"EX", longCommodity, longDate.substr(1)},
      {"", "", ""},
  };
  for (const auto& probe : probes) {
    SCOPED_TRACE(probe.Exchange + "|" + probe.Commodity + "|" + probe.Date);
    const std::string key = TContractItem::MakeNameKey(probe.Exchange, probe.Commodity, probe.Date);
    std::shared_ptr<TContractItem> expected;
    for (const auto& contract : held)
      if (contract && contract->NameKey() == key) expected = contract;
    EXPECT_EQ(list_.FindByNameKey(key), expected);
    EXPECT_EQ(list_.FindByName(probe.Exchange, probe.Commodity, probe.Date), expected);
    EXPECT_EQ(list_.FindContract(probe.Exchange, probe.Commodity, probe.Date), expected);
  }
  EXPECT_NE(list_.FindContract(" EX", "COM", "MAR24"), nullptr);
  EXPECT_NE(list_.FindContract("EX", longCommodity, longDate), nullptr);
}

TEST_F(ContractQTest, FindContractWaitsForTheContractFileWithoutHoldingTheList) {
  reading_ = true;
  read_.Reset();
  list_.SetContractsReadWait(std::chrono::minutes(10));
  std::shared_ptr<TContractItem> found[2];
  TEvent done[2] = {TEvent(true), TEvent(true)};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&, i] {
      found[i] = list_.FindContract("EX", "COM", "MAR24");
      done[i].SetEvent();
    });
  }
  // The waiters hold no list lock: the contract file's contracts can be added meanwhile.
  const auto added = Add("EX", "COM", "MAR24", "X1=F");
  reading_ = false;
  read_.Set();
  for (int i = 0; i < 2; ++i)
    EXPECT_TRUE(done[i].WaitFor(std::chrono::seconds(30))) << "waiter " << i << " not released";
  for (auto& waiter : waiters)
    waiter.join();
  EXPECT_EQ(found[0], added);
  EXPECT_EQ(found[1], added);

  // A read that never ends gives up after the wait.
  reading_ = true;
  read_.Reset();
  list_.SetContractsReadWait(std::chrono::milliseconds(1));
  EXPECT_EQ(list_.FindContract("EX", "COM", "JUN24"), nullptr);
}

// A reload (simulator logon, live start and logoff) frees the list and adds new contracts with
// new UUIDs: the removed ones must leave their groups and be freed, whatever path removed them.
TEST_F(ContractQTest, RemovedContractsLeaveTheirGroupsAcrossReloads) {
  auto objects = std::make_shared<TUUIDObjectList>();
  list_.SetUUIDObjects(objects);
  std::vector<std::weak_ptr<TContractItem>> earlier;
  for (int reload = 0; reload < 200; ++reload) {
    switch (reload % 3) {
      case 0: list_.FreeAll(); break;
      case 1: list_.RemoveCommodityContracts("EX", "COM"); break;
      default:
        while (list_.Count() > 0) list_.RemoveItem(list_.At(0).get());
        break;
    }
    EXPECT_EQ(objects->Count(), 0) << reload;
    for (const char* date : {"MAR24", "JUN24", "SEP24"}) {
      auto contract = Add("EX", "COM", date, "X1=F");
      if (contract) earlier.push_back(contract);
    }
    ASSERT_EQ(objects->Count(), 3);
    for (int i = 0; i < objects->Count(); ++i) EXPECT_EQ(objects->At(i)->Members.Count(), 1u);
  }
  // A move to a new key keeps the group.
  const auto moved = list_.FindByName("EX", "COM", "MAR24");
  ASSERT_TRUE(list_.UpdateFields(moved, Fields("X1=F|XD=20991231")));
  EXPECT_EQ(objects->FindGroup(moved->GetUUID())->Members.Count(), 1u);
  list_.FreeAll();
  EXPECT_EQ(objects->Count(), 0);
  int alive = 0;
  for (const auto& contract : earlier) alive += contract.expired() ? 0 : 1;
  EXPECT_EQ(alive, 1);  // only the one this test still holds
}

TEST_F(ContractQTest, AddFromFieldsRegistersTheContract) {
  TSubscriptions book;
  TExchangeQ exchangeList(book);
  TCommodityQ commodities(exchangeList);
  auto objects = std::make_shared<TUUIDObjectList>();
  list_.SetUUIDObjects(objects);
  list_.SetServices(MakeContractServices(commodities, exchangeList));

  // During the download the commodity need not exist yet.
  const int first = list_.AddFromFields("EX", "COM", "MAR24",
                                        Fields("Act=2|GUID={ABC}|X1=F|XD=20240315|MkR=R1|ETe=E"));
  ASSERT_GE(first, 0);
  const auto contract = list_.At(first);
  EXPECT_EQ(contract->State, TUUIDStreamable::usInactive);
  EXPECT_EQ(contract->GetUUID(), "{ABC}");
  EXPECT_EQ(contract->GetMarketReference(), "R1");
  EXPECT_EQ(contract->GetESATemplate(), 'E');
  EXPECT_EQ(contract->GetCommodity(), nullptr);
  ASSERT_NE(objects->FindGroup("{ABC}"), nullptr);
  EXPECT_EQ(objects->FindGroup("{ABC}")->Members.Count(), 1u);

  auto commodity = std::make_shared<TCommodity>();
  commodity->SetName("COM");
  commodity->SetExchangeName("EX");
  commodity->TickSize = 0.5;
  ASSERT_TRUE(commodities.Add(commodity).Added);
  const int second = list_.AddFromFields("EX", "COM", "JUN24", Fields("Act=1|X1=F|XD=20240615"));
  ASSERT_EQ(second, 1);
  const auto next = list_.At(second);
  EXPECT_EQ(next->State, TUUIDStreamable::usActive);
  EXPECT_EQ(next->GetUUID().size(), 38u);
  EXPECT_EQ(commodity->Members.Count(), 1u);
  // The first one finds its commodity now.
  EXPECT_EQ(contract->GetCommodity(), commodity);
  EXPECT_EQ(contract->GetTickSize(), 0.5);

  EXPECT_EQ(ReadFileText(dir_.File(kUUIDObjectFileName)),
            "EX/COM/MAR24\t\t{ABC}\tStatus=Inactive\r\n"
            "EX/COM/JUN24\t\t" +
                next->GetUUID() + "\tStatus=Active\r\n");
  list_.FreeAll();
}

TEST_F(ContractQTest, AKeyChangeMovesTheContract) {
  const auto june = Add("EX", "COM", "JUN24", "X1=F|XD=20240601");
  Add("EX", "COM", "SEP24", "X1=F|XD=20240901");
  list_.AddStoredContract(june);
  EXPECT_THROW(june->SetFields(Fields("X1=F|XD=20241201")), EListError);
  EXPECT_EQ(june->GetExpiryDate(), "20240601");

  EXPECT_TRUE(list_.UpdateFields(june, Fields("X1=F|XD=20241201|TSz=2")));
  EXPECT_EQ(Dates(list_), (std::vector<std::string>{"SEP24", "JUN24"}));
  EXPECT_EQ(june->GetOwnTickSize(), 2.0);
  EXPECT_TRUE(june->Listed());
  EXPECT_TRUE(list_.IsStoredContract(*june));
  EXPECT_EQ(list_.FindContract("EX", "COM", "JUN24"), june);
  EXPECT_EQ(list_.IndexOfKey(june->SortKey()), 1);

  // A field list that leaves the key alone is applied in place.
  EXPECT_TRUE(list_.UpdateFields(june, Fields("X1=F|XD=20241201|TSz=3")));
  EXPECT_EQ(june->GetOwnTickSize(), 3.0);

  // Expiry and name run together in the sort key, so two contracts can meet there: refused.
  const auto odd = Add("EX", "COM", "1X", "X1=F|XD=2024010");
  const auto other = Add("EX", "COM", "X", "X1=F|XD=20230101");
  EXPECT_FALSE(list_.UpdateFields(other, Fields("X1=F|XD=20240101")));
  EXPECT_EQ(other->GetExpiryDate(), "20230101");
  EXPECT_EQ(list_.Count(), 4);

  auto stranger = std::make_shared<TContractItem>();
  EXPECT_FALSE(list_.UpdateFields(stranger, Fields("X1=F")));
}

TEST_F(ContractQTest, RemovingAndClearingLeaveNoIndexEntryBehind) {
  const auto mar = Add("EX", "COM", "MAR24", "X1=F");
  const auto jun = Add("EX", "COM ", "JUN24", "X1=F");
  const auto other = Add("EX", "ABC", "MAR24", "X1=F");
  const auto sep = Add("EX", "COM", "SEP24", "X1=F");
  list_.AddStoredContract(mar);
  list_.AddStoredContract(other);

  EXPECT_EQ(list_.RemoveCommodityContracts(" EX", "COM"), 3);
  EXPECT_EQ(list_.Count(), 1);
  EXPECT_EQ(list_.FindContract("EX", "COM", "MAR24"), nullptr);
  EXPECT_FALSE(list_.IsStoredContract(*mar));
  EXPECT_FALSE(mar->Listed());
  // Still whole for whoever holds it, and can join a list again.
  mar->SetPrice(VN_PK_BID, 1, 2.0);
  EXPECT_EQ(Add("EX", "COM", "MAR24", "X1=F")->ContractDate(), "MAR24");

  EXPECT_EQ(list_.RemoveItem(other.get()), 0);
  EXPECT_EQ(list_.RemoveItem(other.get()), -1);
  EXPECT_EQ(list_.FindContract("EX", "ABC", "MAR24"), nullptr);
  list_.FreeAll();
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(list_.FindContract("EX", "COM", "MAR24"), nullptr);
  EXPECT_FALSE(jun->Listed());
  EXPECT_FALSE(sep->Listed());
}

TEST_F(ContractQTest, StoreRoundTripKeepsStoredContractsOnceInListOrder) {
  const auto option = Add("EX", "COM", "MAR24 C100",
                          "GUID={OPT}|X1=C|XD=20240315|LT=20240314|TSz=0.05|TPP=20|Mar=1500|"
                          "MkR=REF|ETe=S|lnEx=LE|lnC=LC|lnCD=LD|X2=EX|X3=COM|X4=MAR24|X5=100");
  const auto future = Add("EX", "COM", "MAR24", "GUID={FUT}|X1=F|XD=20240315");
  Add("EX", "COM", "JUN24", "X1=F|XD=20240615");
  option->SetPrice(VN_PK_OWN_LAST, 0, 12.5);
  option->Deleted = true;
  option->Deactivate(false);
  list_.AddStoredContract(option);
  list_.AddStoredContract(future);
  list_.AddStoredContract(option);

  TStream out;
  WriteStoreHeader(out);
  list_.SaveToStream(out);
  ASSERT_TRUE(out.SaveToFile(dir_.File("VornInfo.dat")));

  std::atomic<bool> reading{false};
  TLatch read{true};
  TContractQ loaded(reading, read);
  TStream in;
  ASSERT_TRUE(in.LoadFromFile(dir_.File("VornInfo.dat")));
  ASSERT_TRUE(ReadStoreHeader(in));
  ASSERT_TRUE(loaded.LoadFromStream(in, false));
  EXPECT_EQ(Dates(loaded), (std::vector<std::string>{"MAR24", "MAR24 C100"}));

  const auto copy = loaded.FindContract("EX", "COM", "MAR24 C100");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->SortKey(), option->SortKey());
  EXPECT_EQ(copy->GetUUID(), "{OPT}");
  EXPECT_EQ(copy->State, TUUIDStreamable::usInactive);
  EXPECT_TRUE(copy->Deleted);
  EXPECT_EQ(copy->GetLastTradeDate(), "20240314");
  EXPECT_EQ(copy->GetTickSize(), 0.05);
  EXPECT_EQ(copy->GetTicksPerPoint(), 20);
  EXPECT_EQ(copy->GetMarginRequired(), 1500.0);
  EXPECT_EQ(copy->GetMargin(), "1500");
  EXPECT_EQ(copy->GetMarketReference(), "REF");
  EXPECT_EQ(copy->GetESATemplate(), 'S');
  EXPECT_EQ(copy->GetlnExchange(), "LE");
  EXPECT_EQ(copy->GetlnCommodity(), "LC");
  EXPECT_EQ(copy->GetlnContractDate(), "LD");
  EXPECT_EQ(copy->GetLegs(), 1);
  EXPECT_EQ(copy->GetLegField(1, 4), "MAR24");
  EXPECT_TRUE(copy->IsOption());
  EXPECT_EQ(ValueOf(copy->GetPrice(VN_PK_OWN_LAST)), 12.5);
  EXPECT_EQ(copy->GetPrice(VN_PK_OWN_LAST).Unset, 0);
  EXPECT_EQ(loaded.FindContract("EX", "COM", "MAR24")->GetPrice(VN_PK_OWN_LAST).Unset, 1);

  // Read again over the filled list: the contracts held stay, the copies are dropped.
  TStream again;
  ASSERT_TRUE(again.LoadFromFile(dir_.File("VornInfo.dat")));
  ASSERT_TRUE(ReadStoreHeader(again));
  loaded.LoadFromStream(again, false);
  EXPECT_EQ(loaded.Count(), 2);
  EXPECT_EQ(loaded.FindContract("EX", "COM", "MAR24 C100"), copy);
  EXPECT_EQ(loaded.At(1), copy);

  // The whole list, as the contract file is written, holds every contract.
  TStream all;
  WriteStoreHeader(all);
  list_.TIndexList::SaveToStream(all);
  all.SetPosition(0);
  ASSERT_TRUE(ReadStoreHeader(all));
  TContractQ every(reading, read);
  ASSERT_TRUE(every.LoadFromStream(all, false));
  EXPECT_EQ(every.Count(), 3);
}

TEST_F(ContractQTest, RecordedContractsAreTheOnesHeldThen) {
  const auto first = Add("EX", "COM", "MAR24", "X1=F");
  list_.RecordHeldContracts();
  const auto later = Add("EX", "COM", "JUN24", "X1=F");
  EXPECT_TRUE(list_.IsStoredContract(*first));
  EXPECT_FALSE(list_.IsStoredContract(*later));
  auto unlisted = std::make_shared<TContractItem>();
  list_.AddStoredContract(unlisted);
  EXPECT_FALSE(list_.IsStoredContract(*unlisted));
}

TEST_F(ContractQTest, PriceTableIsDroppedOnlyWithoutSubscribers) {
  const auto contract = Add("EX", "COM", "MAR24", "X1=F");
  contract->SetPrice(VN_PK_OWN_LAST, 0, 3.0);
  contract->SetPrice(VN_PK_BID, 1, 2.0);
  TSubscriptions book;
  book.SubscribePrice(contract->Key());
  EXPECT_FALSE(list_.DropPriceTableIfUnsubscribed(contract->Key(), book));
  EXPECT_TRUE(contract->HasPriceTable());
  book.UnsubscribePrice(contract->Key());
  book.SubscribeMarket(contract->Key());
  EXPECT_FALSE(list_.DropPriceTableIfUnsubscribed(contract->Key(), book));
  book.UnsubscribeMarket(contract->Key());
  EXPECT_TRUE(list_.DropPriceTableIfUnsubscribed(contract->Key(), book));
  EXPECT_FALSE(contract->HasPriceTable());
  EXPECT_EQ(ValueOf(contract->GetPrice(VN_PK_OWN_LAST)), 3.0);
  EXPECT_FALSE(list_.DropPriceTableIfUnsubscribed({"EX", "COM", "NONE"}, book));
}

TEST_F(ContractQTest, LegContractIsTheOutrightMatchingTheLeg) {
  const auto outright = Add("EX", "COM", "MAR24", "X1=F|X2=EX|X3=COM");
  Add("EX", "COM", "JUN24", "X1=F|X2=EX|X3=OTHER");
  const auto strategy =
      Add("EX", "COM", "CAL", "<SG=1|X1=F|X2=EX|X3=COM|EG>=1|<SG=1|X1=F|X2=EX|X3=NONE|EG>=1");
  EXPECT_EQ(list_.GetLegContract(strategy, 1), outright);
  EXPECT_EQ(list_.GetLegContract(strategy, 2), strategy);
  EXPECT_EQ(list_.GetLegContract(strategy, 3), strategy);
  EXPECT_EQ(list_.GetLegContract(strategy, 0), strategy);
}

}  // namespace
}  // namespace vorn
