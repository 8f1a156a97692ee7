// The order list's open-lot index against a pass over every head, after every step of seeded
// random sequences of host order states (through the dispatcher, as the socket thread applies
// them) and of the other ways a head changes: history entries, expiry and deactivation, purge,
// re-keying, a store save and load, the download's clear.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/refdata/MarginRating.h"
#include "core/session/ClassAPI.h"
#include "core/store/ObjStream.h"
#include "core/trading/Margin.h"
#include "core/trading/MarginRequirement.h"
#include "core/trading/OpenLots.h"
#include "core/trading/OrderQ.h"
#include "support/HostText.h"
#include "support/ReceiverFixture.h"

namespace vorn {
namespace {

class OpenLotsSequenceTest : public HostReceiverTest {
 protected:
  OpenLotsSequenceTest() {
    AddRatedAccounts();
    Api().Contracts.AddFromFields("LIFFE", "FTSE", "JUN27", Fields("X1=F|X2=LIFFE|Mar=70"));
  }

  std::vector<std::shared_ptr<TTraderAccountItem>> Accounts() {
    return {Trader(), Api().Accounts.FindAccount("TRADER2")};
  }
  std::vector<std::shared_ptr<TContractItem>> Contracts() {
    return {nullptr, Future(), Api().Contracts.FindContract("LIFFE", "FTSE", "JUN27")};
  }

  // The heads' open lots by a pass over the list: margin states, queued, and the states the
  // rating margin counts (both together).
  void Scan(const TTraderAccountItem& account, TOpenLotsByKey& margin, TOpenLotsByKey& queued,
            TOpenLotsByKey& working) {
    TIndexListLock guard(Api().Orders);
    Api().Orders.ForEach([&](const TOrderList& history) {
      const auto head = history.GetCurrent();
      if (!head || !head->Contract || !head->TraderAccount) return;
      if (head->TraderAccount.get() != &account &&
          head->TraderAccount->TraderAccount != account.TraderAccount)
        return;
      const std::string key = head->Contract->NameKey();
      if (CountsAsWorking(head->Status)) working[key].Add(*head);
      if (head->Status == osQueued)
        queued[key].Add(*head);
      else if (CountsAsWorking(head->Status))
        margin[key].Add(*head);
    });
  }

  static void Drop0(TOpenLotsByKey& lots) {
    std::erase_if(lots, [](const auto& entry) { return entry.second == TOpenLots{}; });
  }

  void ExpectIndexIsTheScan(const std::vector<std::string>& excluded) {
    ASSERT_TRUE(Api().Orders.OpenLotsConsistent());
    for (const auto& account : Accounts()) {
      TOpenLotsByKey margin, queued, working, kept, keptQueued;
      Scan(*account, margin, queued, working);
      Api().Orders.GatherOpenLots(*account, kept, &keptQueued);
      // The ten states the rating margin counts are the margin states and the queued one.
      TOpenLotsByKey both = kept;
      for (const auto& [key, lots] : keptQueued)
        both[key] += lots;
      for (auto* lots : {&margin, &queued, &working, &kept, &keptQueued, &both})
        Drop0(*lots);
      ASSERT_EQ(kept, margin) << account->TraderAccount;
      ASSERT_EQ(keptQueued, queued) << account->TraderAccount;
      ASSERT_EQ(both, working) << account->TraderAccount;

      for (std::uint8_t mode = 0; mode <= TMarginRequirement::kOrderRequest; ++mode)
        for (const bool covered : {false, true})
          for (const auto& contract : Contracts())
            for (const std::int32_t lots : {0, -2, 5})
              for (const std::string& id : excluded) {
                auto& req = Api().MarginRequirement;
                const double kept =
                    req.CalcMarginReq(contract, *account, id, mode, lots, 101.5, covered);
                const double scanned =
                    req.CalcMarginReqByScan(contract, *account, id, mode, lots, 101.5, covered);
                ASSERT_EQ(std::bit_cast<std::uint64_t>(kept), std::bit_cast<std::uint64_t>(scanned))
                    << account->TraderAccount << " mode " << int{mode} << " covered " << covered
                    << " lots " << lots << " id '" << id << "'";
                if (kept != 0) ++nonZero_;
              }
    }
  }

  int nonZero_ = 0;
};

TEST_F(OpenLotsSequenceTest, IndexEqualsTheScanAfterEveryStep) {
  // The host's states, rule 9's part-then-working, the ORPI states, amend pending, transfer.
  const int states[] = {osSent,     osWorking,       osWorking,           osPart,
                        osPart,     osFilled,        osCancelled,         osBalCancelled,
                        osRejected, osCancelPending, osAmendPending,      osORPIFilled,
                        osORPIPart, osTransferred,   osExternalCancelled, osQueued};
  for (const std::uint32_t seed : {1u, 7u, 2026u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<std::uint32_t>(n)); };
    std::vector<std::string> ids;
    for (int i = 101; i <= 110; ++i)
      ids.push_back(std::to_string(i));
    int sequence = 0;
    int rekeyed = 300;
    for (int step = 0; step < 250; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      const std::string id = ids[pick(static_cast<int>(ids.size()))];
      const int action = pick(100);
      if (action < 70) {
        const int target = 1 + pick(9);
        const int actual = pick(3) == 0 ? 1 + pick(9) : target;
        const int filled = pick(target + 1);
        const int status = states[pick(static_cast<int>(std::size(states)))];
        Host("Msg=3601|OID=" + id + "|Sts=" + std::to_string(status) +
             "|Seq=" + std::to_string(++sequence) + "|Flg=1|Fil=" + std::to_string(filled) +
             "|TA=" + (pick(4) == 0 ? "TRADER2" : "TRADER1") + "|Ex=LIFFE|C=FTSE|CD=" +
             (pick(3) == 0 ? "JUN27" : "MAR27") + "|OTy=LIMIT|BS=" + (pick(2) ? "1" : "2") +
             "|Pr=100|TLt=" + std::to_string(target) + "|ALt=" + std::to_string(actual) + "|");
      } else if (action < 75) {
        // A state behind the head (or the head of a new history).
        auto item = std::make_shared<TOrderItem>();
        item->ID = id;
        item->Status = osWorking;
        item->TargetLots = 4;
        item->BuySell = Sell;
        item->TraderAccount = Trader();
        item->Contract = Future();
        Api().Orders.AddToHistory(item);
      } else if (action < 80) {
        if (auto head = Api().Orders.FindOrder(id)) head->Expire();
      } else if (action < 84) {
        if (auto head = Api().Orders.FindOrder(id)) head->Deactivate(false);
      } else if (action < 88) {
        if (auto head = Api().Orders.FindOrder(id)) head->Purge(1e6);
      } else if (action < 92) {
        const std::string to = std::to_string(++rekeyed);
        if (Api().Orders.ReKeyOrder(Api().Orders.FindOrderList(id), to)) {
          for (auto& each : ids)
            if (each == id) each = to;
        }
      } else if (action < 96) {
        TStream stream;
        Api().Orders.SaveToStream(stream);
        stream.SetPosition(0);
        ASSERT_TRUE(Api().Orders.LoadFromStream(stream, true));
      } else if (action < 98) {
        Api().Orders.FreeAll();
      } else {
        Api().Features.MarginMode = !Api().Features.MarginMode.load();
      }
      std::vector<std::string> excluded = {"", "999", id};
      for (int i = 0; i < 2; ++i)
        excluded.push_back(ids[pick(static_cast<int>(ids.size()))]);
      ExpectIndexIsTheScan(excluded);
      if (HasFatalFailure()) return;
    }
  }
  // The figures were not all zero.
  EXPECT_GT(nonZero_, 1000);
}

}  // namespace
}  // namespace vorn
