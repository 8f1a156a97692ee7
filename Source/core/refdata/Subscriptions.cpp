#include "core/refdata/Subscriptions.h"

#include <algorithm>
#include <utility>

#include "core/diag/Trace.h"
#include "core/util/NumberText.h"

namespace vorn {
namespace {

void MoveToEnd(std::list<TContractKey>& list, const TContractKey& key) {
  auto it = std::find(list.begin(), list.end(), key);
  if (it != list.end()) {
    list.splice(list.end(), list, it);
  } else {
    list.push_back(key);
  }
}

void Remove(std::list<TContractKey>& list, const TContractKey& key) {
  auto it = std::find(list.begin(), list.end(), key);
  if (it != list.end()) list.erase(it);
}

// Lets the next batch go whatever way this one ends.
class TBusyFlag {
 public:
  explicit TBusyFlag(std::atomic<bool>& flag) : flag_(flag) {}
  TBusyFlag(const TBusyFlag&) = delete;
  TBusyFlag& operator=(const TBusyFlag&) = delete;
  ~TBusyFlag() { flag_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool>& flag_;
};

}  // namespace

std::string TContractKey::Text() const {
  std::string text;
  text.reserve(Exchange.size() + Commodity.size() + ContractDate.size() + 2);
  text += Exchange;
  text += '\\';
  text += Commodity;
  if (!IsCommodity()) {
    text += '\\';
    text += ContractDate;
  }
  return text;
}

std::size_t TContractKeyHash::operator()(const TContractKey& key) const {
  const std::hash<std::string_view> hash;
  std::size_t value = hash(key.Exchange);
  value = value * 31 + hash(key.Commodity);
  return value * 31 + hash(key.ContractDate);
}

TSubscriptions::TSubscriptions() = default;

TSubscriptions::~TSubscriptions() {
  WriteTraceLine("Starting to Destroy TSubscriptions");
  {
    std::lock_guard guard(lock_);
    priceRequests_.clear();
    priceSubscribed_.clear();
    marketRequests_.clear();
    marketSubscribed_.clear();
  }
  WriteTraceLine("Finished Destroying TSubscriptions");
}

void TSubscriptions::SetOnDropPriceTable(TDropPriceTableEvent handler) {
  std::lock_guard guard(lock_);
  onDropPriceTable_ = std::move(handler);
}

// ---------------------------------------------------------------------------------------------
// Shared helpers

int TSubscriptions::PriceCountLocked(const TContractKey& contract) const {
  auto it = prices_.find(contract);
  return it == prices_.end() ? 0 : it->second.Count;
}

int TSubscriptions::MarketCountLocked(const TContractKey& item) const {
  auto own = depth_.find(item);
  int count = own == depth_.end() ? 0 : own->second.Count;
  if (!item.IsCommodity()) {
    auto commodity = depth_.find(item.CommodityKey());
    if (commodity != depth_.end()) count += commodity->second.Count;
  }
  return count;
}

TSubscriptions::TDepthEntry& TSubscriptions::DepthEntryLocked(const TContractKey& item) {
  return depth_[item];
}

void TSubscriptions::PruneLocked(const TContractKey& item) {
  if (auto it = prices_.find(item);
      it != prices_.end() && it->second.Count == 0 && !it->second.Forced && !it->second.Listed)
    prices_.erase(it);
  if (auto it = depth_.find(item);
      it != depth_.end() && it->second.Count == 0 && !it->second.Listed)
    depth_.erase(it);
}

void TSubscriptions::NoteDropLocked(const TContractKey& contract, TDrops& drops) const {
  // Prices and depth share the table: it stays while either kind of subscriber remains.
  if (PriceCountLocked(contract) == 0 && MarketCountLocked(contract) == 0)
    drops.push_back(contract);
}

void TSubscriptions::DropPriceTables(const TDrops& drops) {
  if (drops.empty()) return;
  TDropPriceTableEvent handler;
  {
    std::lock_guard guard(lock_);
    handler = onDropPriceTable_;
  }
  if (!handler) return;
  for (const auto& contract : drops)
    handler(contract);
}

// ---------------------------------------------------------------------------------------------
// Prices

void TSubscriptions::SubscribePriceLocked(const TContractKey& contract, bool force) {
  TPriceEntry& entry = prices_[contract];
  if (!(entry.Forced && entry.Count > 0)) ++entry.Count;
  if (entry.Count == 1 || force) {
    if (entry.Forced) ++entry.Count;
    priceRequests_.push_back({TSubscriptionKind::Price, contract, true});
    MoveToEnd(priceSubscribed_, contract);
    entry.Listed = true;
  }
}

void TSubscriptions::SubscribePrice(const TContractKey& contract, bool force) {
  std::lock_guard guard(lock_);
  SubscribePriceLocked(contract, force);
}

void TSubscriptions::UnsubscribePrice(const TContractKey& contract) {
  TDrops drops;
  {
    std::lock_guard guard(lock_);
    auto it = prices_.find(contract);
    if (it == prices_.end()) return;
    TPriceEntry& entry = it->second;
    if (entry.Forced || entry.Count < 1) return;
    if (--entry.Count == 0) {
      priceRequests_.push_back({TSubscriptionKind::Price, contract, false});
      Remove(priceSubscribed_, contract);
      entry.Listed = false;
      NoteDropLocked(contract, drops);
      PruneLocked(contract);
    }
  }
  DropPriceTables(drops);
}

void TSubscriptions::Unsubscribetoall() {
  WriteTraceLine("Unsubscribetoall");
  TDrops drops;
  {
    std::lock_guard guard(lock_);
    const std::vector<TContractKey> subscribed(priceSubscribed_.rbegin(), priceSubscribed_.rend());
    for (const auto& contract : subscribed) {
      TPriceEntry& entry = prices_[contract];
      if (entry.Count < 1) {
        WriteTraceLine("Subscribe count = " + IntToStr(entry.Count) + " for " + contract.Text());
        continue;
      }
      if (--entry.Count == 0) {
        Remove(priceSubscribed_, contract);
        entry.Listed = false;
        NoteDropLocked(contract, drops);
        PruneLocked(contract);
        WriteTraceLine("Removing " + contract.Text());
      }
    }
  }
  DropPriceTables(drops);
}

void TSubscriptions::ResubscribePrices() {
  std::lock_guard guard(lock_);
  const std::vector<TContractKey> subscribed(priceSubscribed_.rbegin(), priceSubscribed_.rend());
  for (const auto& contract : subscribed) {
    TPriceEntry& entry = prices_[contract];
    entry.Count = entry.Forced ? 0 : entry.Count - 1;
    SubscribePriceLocked(contract, true);
  }
}

void TSubscriptions::SendPriceRequests(ISubscriptionSender& sender) {
  SendQueue(sender, priceRequests_, priceSending_);
}

bool TSubscriptions::IsSubscribed(const TContractKey& contract) const {
  std::lock_guard guard(lock_);
  auto it = prices_.find(contract);
  return it != prices_.end() && it->second.Listed;
}

int TSubscriptions::PriceSubscriberCount(const TContractKey& contract) const {
  std::lock_guard guard(lock_);
  return PriceCountLocked(contract);
}

void TSubscriptions::SetForcedSubscription(const TContractKey& contract, bool value) {
  std::lock_guard guard(lock_);
  if (value) {
    prices_[contract].Forced = true;
  } else if (auto it = prices_.find(contract); it != prices_.end()) {
    it->second.Forced = false;
    PruneLocked(contract);
  }
}

bool TSubscriptions::ForcedSubscription(const TContractKey& contract) const {
  std::lock_guard guard(lock_);
  auto it = prices_.find(contract);
  return it != prices_.end() && it->second.Forced;
}

void TSubscriptions::QueueBroadcastRequest(std::string_view exchange, bool subscribe) {
  std::lock_guard guard(lock_);
  priceRequests_.push_back(
      {TSubscriptionKind::Broadcast, {std::string(exchange), {}, {}}, subscribe});
}

// ---------------------------------------------------------------------------------------------
// Market depth

void TSubscriptions::SubscribeMarket(const TContractKey& item) {
  std::lock_guard guard(lock_);
  TDepthEntry& entry = DepthEntryLocked(item);
  ++entry.Count;
  const bool first = item.IsCommodity() ? entry.Count == 1 : MarketCountLocked(item) == 1;
  if (first) {
    marketRequests_.push_back(
        {item.IsCommodity() ? TSubscriptionKind::CommodityDepth : TSubscriptionKind::ContractDepth,
         item, true});
    MoveToEnd(marketSubscribed_, item);
    entry.Listed = true;
  }
}

void TSubscriptions::UnsubscribeMarket(const TContractKey& item) {
  TDrops drops;
  {
    std::lock_guard guard(lock_);
    auto it = depth_.find(item);
    // Only the item's own subscribers can leave: a contract that its commodity covers and that
    // has none of its own is left alone rather than counted below zero.
    if (it == depth_.end() || it->second.Count < 1) return;
    TDepthEntry& entry = it->second;
    --entry.Count;
    if (item.IsCommodity()) {
      if (entry.Count == 0) {
        marketRequests_.push_back({TSubscriptionKind::CommodityDepth, item, false});
        Remove(marketSubscribed_, item);
        entry.Listed = false;
        SettleCommodityLocked(item, true, drops);
      }
    } else if (MarketCountLocked(item) == 0) {
      marketRequests_.push_back({TSubscriptionKind::ContractDepth, item, false});
      Remove(marketSubscribed_, item);
      entry.Listed = false;
      NoteDropLocked(item, drops);
    }
    PruneLocked(item);
  }
  DropPriceTables(drops);
}

void TSubscriptions::SettleCommodityLocked(const TContractKey& commodity, bool queueRequests,
                                           TDrops& drops) {
  std::vector<TContractKey> contracts;
  for (const auto& [key, entry] : depth_)
    if (!key.IsCommodity() && key.Exchange == commodity.Exchange &&
        key.Commodity == commodity.Commodity)
      contracts.push_back(key);
  for (const auto& contract : contracts) {
    TDepthEntry& entry = depth_[contract];
    if (entry.Count > 0 && !entry.Listed) {
      if (queueRequests)
        marketRequests_.push_back({TSubscriptionKind::ContractDepth, contract, true});
      marketSubscribed_.push_back(contract);
      entry.Listed = true;
    } else if (entry.Count == 0 && entry.Listed) {
      if (queueRequests)
        marketRequests_.push_back({TSubscriptionKind::ContractDepth, contract, false});
      Remove(marketSubscribed_, contract);
      entry.Listed = false;
      NoteDropLocked(contract, drops);
      PruneLocked(contract);
    }
  }
}

void TSubscriptions::MarketUnsubscribetoall() {
  WriteTraceLine("MarketUnsubscribetoall");
  TDrops drops;
  {
    std::lock_guard guard(lock_);
    const std::vector<TContractKey> subscribed(marketSubscribed_.rbegin(),
                                               marketSubscribed_.rend());
    for (const auto& item : subscribed) {
      auto it = depth_.find(item);
      if (it == depth_.end() || !it->second.Listed) continue;  // settled with its commodity
      TDepthEntry& entry = it->second;
      if (entry.Count < 1) {
        WriteTraceLine("MarketSubscribe count = " + IntToStr(entry.Count) + " for " + item.Text());
        continue;
      }
      --entry.Count;
      if (MarketCountLocked(item) != 0) continue;
      Remove(marketSubscribed_, item);
      entry.Listed = false;
      if (item.IsCommodity()) {
        SettleCommodityLocked(item, false, drops);
      } else {
        NoteDropLocked(item, drops);
      }
      PruneLocked(item);
      WriteTraceLine("Removing " + item.Text());
    }
  }
  DropPriceTables(drops);
}

void TSubscriptions::ResubscribeMarkets() {
  std::lock_guard guard(lock_);
  WriteTraceLine("Market Resubscribe to " + IntToStr(marketSubscribed_.size()) + " items");
  const std::vector<TContractKey> subscribed(marketSubscribed_.rbegin(), marketSubscribed_.rend());
  for (const auto& item : subscribed) {
    marketRequests_.push_back(
        {item.IsCommodity() ? TSubscriptionKind::CommodityDepth : TSubscriptionKind::ContractDepth,
         item, true});
    MoveToEnd(marketSubscribed_, item);
  }
}

void TSubscriptions::SendMarketRequests(ISubscriptionSender& sender) {
  SendQueue(sender, marketRequests_, marketSending_);
}

int TSubscriptions::MarketSubscriptionCount(const TContractKey& item) const {
  std::lock_guard guard(lock_);
  return MarketCountLocked(item);
}

// ---------------------------------------------------------------------------------------------
// Sending

bool TSubscriptions::SendOne(ISubscriptionSender& sender, const TSubscriptionRequest& request) {
  const bool on = request.Subscribe;
  switch (request.Kind) {
    case TSubscriptionKind::Price:
      return sender.SendPriceSubscription(on ? kPriceSubscribeCode : kPriceUnsubscribeCode,
                                          request.Item);
    case TSubscriptionKind::Broadcast:
      return sender.SendBroadcastSubscription(
          on ? kBroadcastSubscribeCode : kBroadcastUnsubscribeCode, request.Item.Exchange);
    case TSubscriptionKind::ContractDepth:
      return sender.SendPriceSubscription(on ? kMarketSubscribeCode : kMarketUnsubscribeCode,
                                          request.Item);
    case TSubscriptionKind::CommodityDepth:
      return sender.SendMarketSubscription(on ? kMarketSubscribeCode : kMarketUnsubscribeCode,
                                           request.Item);
  }
  return false;
}

void TSubscriptions::SendQueue(ISubscriptionSender& sender, TRequestQueue& queue,
                               std::atomic<bool>& busy) {
  if (!sender.Connected()) return;
  if (busy.exchange(true, std::memory_order_acq_rel)) return;  // a batch is going out
  TBusyFlag release(busy);

  TRequestQueue batch;
  {
    std::lock_guard guard(lock_);
    batch.swap(queue);
  }
  if (batch.empty()) return;

  // What did not go out goes back to the front, ahead of what was queued meanwhile.
  std::size_t sent = 0;
  auto putBack = [&] {
    if (sent == batch.size()) return;
    std::lock_guard guard(lock_);
    queue.insert(queue.begin(), batch.begin() + static_cast<std::ptrdiff_t>(sent), batch.end());
  };
  try {
    while (sent < batch.size() && SendOne(sender, batch[sent]))
      ++sent;
  } catch (...) {
    putBack();
    throw;
  }
  putBack();
  if (sent > 0) sender.SendHandshake();
}

// ---------------------------------------------------------------------------------------------
// Copies

std::vector<TContractKey> TSubscriptions::PriceSubscribed() const {
  std::lock_guard guard(lock_);
  return {priceSubscribed_.begin(), priceSubscribed_.end()};
}

std::vector<TContractKey> TSubscriptions::MarketSubscribed() const {
  std::lock_guard guard(lock_);
  return {marketSubscribed_.begin(), marketSubscribed_.end()};
}

std::vector<TSubscriptionRequest> TSubscriptions::PendingPriceRequests() const {
  std::lock_guard guard(lock_);
  return {priceRequests_.begin(), priceRequests_.end()};
}

std::vector<TSubscriptionRequest> TSubscriptions::PendingMarketRequests() const {
  std::lock_guard guard(lock_);
  return {marketRequests_.begin(), marketRequests_.end()};
}

}  // namespace vorn
