#include "core/trading/OpenLots.h"

#include <utility>

#include "core/refdata/ContractItem.h"
#include "core/trading/Margin.h"
#include "core/trading/TraderAccount.h"

namespace vorn {

bool IsMarginOpenState(TOrderStatus status) {
  return status != osQueued && CountsAsWorking(status);
}

TOpenLotShare TOpenLotShare::Of(const TOrderItem* head) {
  TOpenLotShare share;
  if (!head || !head->Contract || !head->TraderAccount) return share;
  const bool margin = IsMarginOpenState(head->Status);
  if (!margin && head->Status != osQueued) return share;
  share.Account = head->TraderAccount;
  share.Contract = head->Contract;
  share.Lots.Add(*head);
  share.Queued = !margin;
  return share;
}

void TOpenLotIndex::Apply(const TOpenLotShare& share, int sign) {
  if (!share.Counts()) return;
  auto account = accounts_.find(share.Account.get());
  if (account == accounts_.end()) {
    if (sign < 0) return;
    account = accounts_.emplace(share.Account.get(), TAccountBuckets{share.Account, {}}).first;
  }
  auto& buckets = account->second.ByContract;
  auto bucket = buckets.find(share.Contract.get());
  if (bucket == buckets.end()) {
    if (sign < 0) return;
    bucket = buckets.emplace(share.Contract.get(), TBucket{share.Contract, {}, {}, 0}).first;
  }
  TBucket& into = bucket->second;
  TOpenLots& lots = share.Queued ? into.Queued : into.Margin;
  if (sign > 0) {
    lots += share.Lots;
    ++into.Shares;
    return;
  }
  lots -= share.Lots;
  if (--into.Shares > 0) return;
  buckets.erase(bucket);
  if (buckets.empty()) accounts_.erase(account);
}

void TOpenLotIndex::Replace(TOpenLotShare& recorded, TOpenLotShare now) {
  if (recorded == now) return;
  Apply(recorded, -1);
  Apply(now, +1);
  recorded = std::move(now);
}

bool TOpenLotIndex::operator==(const TOpenLotIndex& other) const {
  if (accounts_.size() != other.accounts_.size()) return false;
  for (const auto& [item, buckets] : accounts_) {
    const auto match = other.accounts_.find(item);
    if (match == other.accounts_.end()) return false;
    const auto& theirs = match->second.ByContract;
    if (buckets.ByContract.size() != theirs.size()) return false;
    for (const auto& [contract, bucket] : buckets.ByContract) {
      const auto same = theirs.find(contract);
      if (same == theirs.end() || !(same->second.Margin == bucket.Margin) ||
          !(same->second.Queued == bucket.Queued) || same->second.Shares != bucket.Shares)
        return false;
    }
  }
  return true;
}

void TOpenLotIndex::Gather(const TTraderAccountItem& account, TOpenLotsByKey& margin,
                           TOpenLotsByKey* queued) const {
  for (const auto& [item, buckets] : accounts_) {
    if (item != &account && buckets.Account->TraderAccount != account.TraderAccount) continue;
    for (const auto& [contract, bucket] : buckets.ByContract) {
      const std::string key = contract->NameKey();
      margin[key] += bucket.Margin;
      if (queued) (*queued)[key] += bucket.Queued;
    }
  }
}

}  // namespace vorn
