// The option margin's live entries, the position figures read without their fills and the kept
// P/L terms against the reference ways (the whole margin-order list, the walked fills, a P/L
// worked out afresh) after every step of seeded random sequences through the receivers: order
// states and fills on a future and an option, repeated fills (rebuilds), covered sells, start
// and end of day (in and after the download), an exchange's end of session, last trades, the
// margin mode and the exchange rate (0 too, where the option margin fails). The covers hold to
// the start-of-day long lots: no sell covers more than it filled, and the lots covered and still
// free never exceed the last record's long lots (equal them just after it).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/refdata/Exchange.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/MarginRating.h"
#include "core/session/ClassAPI.h"
#include "core/trading/MarginRequirement.h"
#include "core/trading/OpenLots.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "core/util/Conversions.h"
#include "support/HostText.h"
#include "support/ReceiverFixture.h"

namespace vorn {
namespace {

std::uint64_t Bits(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

class OptionMarginSequenceTest : public HostReceiverTest {
 protected:
  OptionMarginSequenceTest() {
    AddRatedAccounts();
    Api().Contracts.AddFromFields("LIFFE", "FTSE", "JUN27 C6500", Fields("X1=C|X2=LIFFE|Mar=7"));
    Api().Features.MarginMode = true;
  }

  std::shared_ptr<TContractItem> Option() {
    return Api().Contracts.FindContract("LIFFE", "FTSE", "JUN27 C6500");
  }
  std::vector<std::shared_ptr<TTraderAccountItem>> Accounts() {
    return {Trader(), Api().Accounts.FindAccount("TRADER2")};
  }

  // I4: each sublist is the whole list filtered, in list order.
  void ExpectEntriesAreTheFilteredList(const TTraderAccountItem& account,
                                       const TContractItem& contract) {
    TMarginOptionEntries filtered;
    for (const TMarginOrderItem& entry : account.GetMarginOrders(contract.Key())) {
      if (IsMarginOpenState(entry.State) && entry.Lots != entry.FilledLots)
        filtered.Working.push_back(entry);
      if (entry.Side == Sell && entry.FilledLots > 0) {
        ++filtered.FilledSells;
        if (entry.CoveredLots != 0) filtered.CoveredSells.push_back(entry);
      }
    }
    const TMarginOptionEntries kept = account.GetOptionEntries(contract.Key());
    ASSERT_EQ(kept.Working, filtered.Working);
    ASSERT_EQ(kept.CoveredSells, filtered.CoveredSells);
    ASSERT_EQ(kept.FilledSells, filtered.FilledSells);
    workingSeen_ += static_cast<int>(kept.Working.size());
    coveredSeen_ += static_cast<int>(kept.CoveredSells.size());
  }

  // The figures read without the fills are the record's, its lot count the walked sum; I5: the
  // P/L read through the kept term is the one worked out afresh, bitwise, in either mode.
  void ExpectFiguresAreTheRecords(const TTraderAccountItem& account,
                                  const TContractItem& contract) {
    const auto position = ExistingPositionOf(contract);
    if (!position) return;
    const auto record = position->GetAccountPosition(account.TraderAccount);
    std::vector<TPosFill> fills;
    const auto figures = position->GetAccountFigures(account.TraderAccount, &fills);
    ASSERT_EQ(record.has_value(), figures.has_value());
    if (!record) return;
    std::int32_t walked = 0;
    for (const TPosFill& fill : record->Netted.Fills)
      walked = SaturatedLots(std::int64_t{walked} + fill.Lots);
    ASSERT_EQ(figures->TotalLots, walked);
    ASSERT_EQ(fills.size(), record->Netted.Fills.size());
    ASSERT_EQ(figures->LongPosn, record->LongPosn);
    ASSERT_EQ(figures->ShortPosn, record->ShortPosn);
    ASSERT_EQ(figures->Side, record->Side);
    ASSERT_EQ(Bits(figures->CurrentPL), Bits(record->CurrentPL));
    ASSERT_EQ(Bits(figures->LastPrice), Bits(record->LastPrice));
    ASSERT_EQ(figures->StartOfDaySet, !record->Netted.StartOfDay.Account.empty());
    ASSERT_EQ(figures->StartOfDayLong, record->Netted.StartOfDay.LongLots);
    ASSERT_EQ(figures->StartOfDayShort, record->Netted.StartOfDay.ShortLots);

    for (const bool marginMode : {false, true}) {
      double fresh = 0, kept = 0;
      std::int32_t freshBuys = 0, freshSells = 0, keptBuys = 0, keptSells = 0;
      Api().Positions.GetContractPosUncached(contract, account.TraderAccount, fresh, freshBuys,
                                             freshSells, marginMode);
      Api().Positions.GetContractPos(contract, account.TraderAccount, kept, keptBuys, keptSells,
                                     marginMode);
      ASSERT_EQ(Bits(kept), Bits(fresh)) << "margin mode " << marginMode;
      ASSERT_EQ(keptBuys, freshBuys);
      ASSERT_EQ(keptSells, freshSells);
      if (fresh != 0) ++plSeen_;
    }
  }

  void ExpectMarginIsTheReference(const std::vector<std::string>& excluded) {
    const bool mode = Api().Features.MarginMode;
    for (const bool marginMode : {false, true}) {
      Api().Features.MarginMode = marginMode;
      for (const auto& account : Accounts())
        for (std::uint8_t m = 0; m <= TMarginRequirement::kOrderRequest; ++m)
          for (const bool covered : {false, true})
            for (const auto& contract : {std::shared_ptr<TContractItem>(), Future(), Option()})
              for (const std::int32_t lots : {0, -2, 5})
                for (const std::string& id : excluded) {
                  auto& req = Api().MarginRequirement;
                  const double kept =
                      req.CalcMarginReq(contract, *account, id, m, lots, 4.5, covered);
                  const double reference =
                      req.CalcMarginReqByScan(contract, *account, id, m, lots, 4.5, covered);
                  ASSERT_EQ(Bits(kept), Bits(reference))
                      << account->TraderAccount << " F " << marginMode << " mode " << int{m}
                      << " covered " << covered << " lots " << lots << " id '" << id << "'";
                  if (kept != 0 && contract == Option()) ++optionMarginSeen_;
                }
    }
    Api().Features.MarginMode = mode;
  }

  // The start-of-day long lots of the last record on each account and contract, and whether
  // it came with the last step.
  struct TLastRecord {
    std::int32_t LongLots = 0;
    bool Now = false;
  };
  std::map<std::pair<std::string, std::string>, TLastRecord> records_;

  void ExpectCoversHoldToTheRecord(const TTraderAccountItem& account,
                                   const TContractItem& contract) {
    std::int64_t covered = 0;
    for (const TMarginOrderItem& entry : account.GetMarginOrders(contract.Key())) {
      ASSERT_GE(entry.CoveredLots, 0) << entry.OrderID;
      ASSERT_LE(entry.CoveredLots, std::max(entry.FilledLots, 0)) << entry.OrderID;
      if (entry.Side == Sell) covered += entry.CoveredLots;
    }
    const auto position = ExistingPositionOf(contract);
    const auto record =
        position ? position->GetAccountPosition(account.TraderAccount) : std::nullopt;
    const std::int32_t free = record ? record->Netted.StartOfDay.LongLots2 : 0;
    const TLastRecord last = records_[{account.TraderAccount, contract.ContractDate()}];
    const std::int64_t bound = std::max(last.LongLots, 0);
    if (last.Now)
      ASSERT_EQ(covered + std::max(free, 0), bound);
    else
      ASSERT_LE(covered + std::max(free, 0), bound);
    if (covered > 0 && contract.IsOption()) ++coversSeen_;
  }

  void ExpectAll(const std::vector<std::string>& excluded) {
    for (const auto& account : Accounts())
      for (const auto& contract : {Future(), Option()}) {
        ExpectEntriesAreTheFilteredList(*account, *contract);
        if (HasFatalFailure()) return;
        ExpectFiguresAreTheRecords(*account, *contract);
        if (HasFatalFailure()) return;
        ExpectCoversHoldToTheRecord(*account, *contract);
        if (HasFatalFailure()) return;
      }
    ExpectMarginIsTheReference(excluded);
    for (auto& [key, record] : records_)
      record.Now = false;
  }

  void RunSequence(std::uint32_t seed);

  int workingSeen_ = 0;
  int coveredSeen_ = 0;
  int plSeen_ = 0;
  int optionMarginSeen_ = 0;
  int coversSeen_ = 0;
};

// One seeded sequence of steps, each followed by the comparison with the reference.
void OptionMarginSequenceTest::RunSequence(std::uint32_t seed) {
  const int states[] = {osSent,        osWorking,      osWorking,    osPart,     osPart,
                        osFilled,      osCancelled,    osBalCancelled, osRejected,
                        osCancelPending, osAmendPending, osORPIFilled, osORPIPart,
                        osTransferred, osQueued};
  {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<std::uint32_t>(n)); };
    auto account = [&] { return std::string(pick(4) == 0 ? "TRADER2" : "TRADER1"); };
    auto date = [&] { return std::string(pick(2) ? "JUN27 C6500" : "MAR27"); };
    int sequence = 0;
    for (int step = 0; step < 200; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      const std::string id = std::to_string(101 + pick(12));
      const int action = pick(100);
      if (action < 40) {
        const int target = 1 + pick(9);
        Host("Msg=3601|OID=" + id + "|Sts=" + std::to_string(states[pick(std::size(states))]) +
             "|Seq=" + std::to_string(++sequence) + "|Flg=1|Fil=" +
             std::to_string(pick(target + 1)) + "|TA=" + account() +
             "|Ex=LIFFE|C=FTSE|CD=" + date() + "|OTy=LIMIT|BS=" + (pick(2) ? "1" : "2") +
             "|Pr=" + std::to_string(3 + pick(4)) + "|TLt=" + std::to_string(target) +
             "|ALt=" + std::to_string(target) + "|");
      } else if (action < 58) {
        // A repeated fill id re-nets the position (a rebuild).
        Host("Msg=3602|FID=F" + std::to_string(pick(15)) + "|OID=" + id +
             "|Ex=LIFFE|C=FTSE|CD=" + date() + "|BS=" + (pick(2) ? "1" : "2") +
             "|Fil=" + std::to_string(1 + pick(5)) + "|Pr=" + std::to_string(2 + pick(6)) +
             "|FTy=1|TA=" + account() + "|Usr=trader1|DF=20261209093000|HRx=20261209093001|");
      } else if (action < 64) {
        const std::string trader = account();
        const std::string contractDate = date();
        const std::int32_t longLots = pick(7);
        Host("Msg=" + std::string(pick(3) ? "3676" : "3677") + "|Ex=LIFFE|C=FTSE|CD=" +
             contractDate + "|TA=" + trader + "|Psl=" + std::to_string(longLots) +
             "|Pss=" + std::to_string(pick(5)) + "|Pr=" + std::to_string(2 + pick(5)) + "|");
        records_[{trader, contractDate}] = {longLots, true};
      } else if (action < 68) {
        Api().Positions.EndOfSession(*Api().Exchanges.FindExchange("LIFFE"));
      } else if (action < 74) {
        // A sell booked directly, covered from the start-of-day long lots.
        TMarginOrderData sell;
        sell.OrderID = "C" + std::to_string(pick(4));
        sell.TraderAccount = "TRADER1";
        sell.Contract = Option()->Key();
        sell.Side = Sell;
        sell.State = pick(2) ? osPart : osFilled;
        sell.TargetLots = 6;
        sell.Filled = pick(7);
        sell.Price = 3 + pick(3);
        Trader()->AddMarginOrder(sell, StartOfDayCover(*Option(), Trader()->TraderAccount));
      } else if (action < 90) {
        const auto contract = pick(2) ? Option() : Future();
        contract->SetPrice(5, 1, pick(6) == 0 ? 0.0 : 2 + pick(8) * 0.5);
      } else if (action < 92) {
        Api().Features.MarginMode = !Api().Features.MarginMode.load();
      } else if (action < 94) {
        Api().Logon.DownloadInProgress = !Api().Logon.DownloadInProgress.load();
      } else {
        const double rates[] = {1.0, 2.0, 0.0};
        Api().ExchangeRates.Get("GBP")->Rate = rates[pick(3)];
      }
      ExpectAll({"", id, std::to_string(101 + pick(12))});
      if (HasFatalFailure()) return;
    }
  }
  // The sequence reached what it is to prove.
  EXPECT_GT(workingSeen_, 100);
  EXPECT_GT(coveredSeen_, 10);
  EXPECT_GT(plSeen_, 25);
  EXPECT_GT(optionMarginSeen_, 500);
  EXPECT_GT(coversSeen_, 25);
}

// Each seed is a test of its own, so a sanitizer build runs them side by side within the time
// each test is given.
TEST_F(OptionMarginSequenceTest, KeptFiguresEqualTheReferenceAfterEveryStepOfSeed3) {
  RunSequence(3);
}

TEST_F(OptionMarginSequenceTest, KeptFiguresEqualTheReferenceAfterEveryStepOfSeed2027) {
  RunSequence(2027);
}

}  // namespace
}  // namespace vorn
