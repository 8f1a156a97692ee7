#include "core/trading/TraderAccount.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "core/refdata/ContractItem.h"
#include "core/trading/OpenLots.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

std::string RatingKey(std::string_view exchange, std::string_view commodity,
                      std::string_view contract) {
  std::string key;
  key.reserve(exchange.size() + commodity.size() + contract.size() + 2);
  key += exchange;
  key += '\x01';
  key += commodity;
  key += '\x01';
  key += contract;
  return key;
}

}  // namespace

std::string ContractPositionKey(const TContractKey& contract) {
  std::string key;
  key.reserve(contract.ContractDate.size() + contract.Commodity.size() + contract.Exchange.size() +
              6);
  key += contract.ContractDate;
  key += " \\ ";
  key += contract.Commodity;
  key += " \\ ";
  key += contract.Exchange;
  return key;
}

// ---------------------------------------------------------------------------------------------
// The account

const TStreamClass& TTraderAccountItem::Class() {
  using T = TTraderAccountItem;
  static const TStreamClass& description = MakeStreamClass<T>(
      "TTraderAccountItem", &TStreamable::Class(),
      TPropertyTable<T>()
          .String("TraderAccount", &T::TraderAccount)
          .String("BackOfficeID", &T::GetBackOfficeID, &T::SetBackOfficeID)
          .Boolean(
              "Tradable", [](const T& a) { return a.Tradable.load(); },
              [](T& a, bool v) { a.Tradable = v; })
          .Integer(
              "MaxOustandingOrders", [](const T& a) { return a.MaxOustandingOrders.load(); },
              [](T& a, std::int32_t v) { a.MaxOustandingOrders = v; })
          .Integer(
              "LossLimit", [](const T& a) { return a.LossLimit.load(); },
              [](T& a, std::int32_t v) { a.LossLimit = v; })
          .String("MarginRating", &T::GetMarginRating, &T::SetMarginRating)
          .Boolean("PosDirty", &T::GetPosDirty, &T::SetPosDirty)
          .Boolean(
              "ReceivedSOD", [](const T& a) { return a.ReceivedSOD.load(); },
              [](T& a, bool v) { a.ReceivedSOD = v; })
          .Boolean(
              "EOSFlatten", [](const T& a) { return a.EOSFlatten.load(); },
              [](T& a, bool v) { a.EOSFlatten = v; }));
  return description;
}

void TTraderAccountItem::ReadExtra(TStream&) {
  SetPosDirty(true);
}

std::string TTraderAccountItem::GetBackOfficeID() const {
  std::lock_guard guard(lock_);
  return backOfficeID_;
}

void TTraderAccountItem::SetBackOfficeID(std::string value) {
  std::lock_guard guard(lock_);
  backOfficeID_ = std::move(value);
}

std::string TTraderAccountItem::GetMarginRating() const {
  std::lock_guard guard(lock_);
  return marginRating_;
}

void TTraderAccountItem::SetMarginRating(std::string value) {
  std::lock_guard guard(lock_);
  marginRating_ = std::move(value);
}

bool TTraderAccountItem::GetPosDirty() const {
  std::lock_guard guard(lock_);
  return posDirty_;
}

void TTraderAccountItem::SetPosDirty(bool value) {
  std::lock_guard guard(lock_);
  posDirty_ = value;
  if (value) ++dirtyGeneration_;
}

bool TTraderAccountItem::GetKeptTotals(std::uint64_t tradeEpoch, TKeptTotals& totals,
                                       std::uint64_t& generation) const {
  std::lock_guard guard(lock_);
  generation = dirtyGeneration_;
  if (posDirty_ || totalsEpoch_ != tradeEpoch) return false;
  totals = totals_;
  return true;
}

void TTraderAccountItem::KeepTotals(const TKeptTotals& totals, std::uint64_t tradeEpoch,
                                    std::uint64_t generation) {
  std::lock_guard guard(lock_);
  if (generation != dirtyGeneration_) return;
  totals_ = totals;
  totalsEpoch_ = tradeEpoch;
  posDirty_ = false;
}

bool TTraderAccountItem::FindContractRating(std::string_view exchange, std::string_view commodity,
                                            std::string_view contract, double& rate) const {
  const std::string key = RatingKey(exchange, commodity, contract);
  std::lock_guard guard(lock_);
  const auto it = contractRatings_.find(key);
  if (it == contractRatings_.end()) return false;
  rate = it->second.Rate;
  return true;
}

void TTraderAccountItem::AddContractRating(const TContractRating& rating) {
  std::string key = RatingKey(rating.Exchange, rating.Commodity, rating.Contract);
  std::lock_guard guard(lock_);
  contractRatings_.insert_or_assign(std::move(key), rating);
}

bool TTraderAccountItem::DropContractRating(std::string_view exchange, std::string_view commodity,
                                            std::string_view contract) {
  const std::string key = RatingKey(exchange, commodity, contract);
  std::lock_guard guard(lock_);
  return contractRatings_.erase(key) > 0;
}

std::vector<TContractRating> TTraderAccountItem::GetContractRatings() const {
  std::lock_guard guard(lock_);
  std::vector<TContractRating> ratings;
  ratings.reserve(contractRatings_.size());
  for (const auto& [key, rating] : contractRatings_)
    ratings.push_back(rating);
  return ratings;
}

// ---------------------------------------------------------------------------------------------
// Margin orders

void TTraderAccountItem::AddMarginOrder(const TMarginOrderData& order,
                                        const TCoverLots& coverLots) {
  TMarginOrderItem entry;
  entry.OrderID = order.OrderID;
  entry.TraderAccount = order.TraderAccount;
  entry.Contract = order.Contract;
  entry.Side = order.Side;
  entry.State = order.State;
  entry.Lots = order.State == osBalCancelled ? order.Filled : order.TargetLots;
  entry.FilledLots = order.Filled;
  entry.Price = order.Price;

  const std::string key = ContractPositionKey(entry.Contract);
  std::lock_guard guard(lock_);

  // The entry this one replaces, wherever it is listed.
  TMarginOrderList* oldList = nullptr;
  TSlotIterator old;
  bool sameContract = false;
  if (const auto at = marginOrderContract_.find(entry.OrderID); at != marginOrderContract_.end()) {
    if (const auto list = marginOrders_.find(at->second); list != marginOrders_.end()) {
      if (const auto it = list->second.ByOrderID.find(entry.OrderID);
          it != list->second.ByOrderID.end()) {
        oldList = &list->second;
        old = it->second;
        sameContract = at->second == key;
      }
    }
  }

  if (entry.Side == Sell) {
    std::int32_t filledBefore = 0;
    // Lots covered on another contract came from that contract's start-of-day lots.
    if (sameContract) {
      entry.CoveredAvgPrice = old->Item.CoveredAvgPrice;
      entry.CoveredLots = std::min(old->Item.CoveredLots, std::max(entry.FilledLots, 0));
      if (entry.CoveredLots == 0) entry.CoveredAvgPrice = 0;
      filledBefore = old->Item.FilledLots;
    }
    const std::int32_t newlyFilled = entry.FilledLots - filledBefore;
    const std::int32_t n = newlyFilled > 0 && coverLots ? coverLots(newlyFilled) : 0;
    if (n > 0) {
      // With no lots covered yet the average is simply the price.
      entry.CoveredAvgPrice =
          (entry.CoveredLots * entry.CoveredAvgPrice + n * entry.Price) / (entry.CoveredLots + n);
      entry.CoveredLots += n;
    }
  }

  // The lists are made with the first entry of their contract and kept, so a new list is a new
  // contract position.
  const auto [at, made] = marginOrders_.try_emplace(key);
  if (made) contractPositions_.push_back(entry.Contract);
  TMarginOrderList& list = at->second;
  if (oldList == &list) {
    Unfile(list, *old);
    old->Item = std::move(entry);
    File(list, *old);
  } else {
    if (oldList) {
      Unfile(*oldList, *old);
      oldList->ByOrderID.erase(entry.OrderID);
      oldList->Entries.erase(old);
    }
    list.Entries.push_back({std::move(entry), list.NextPlace++});
    const auto added = std::prev(list.Entries.end());
    File(list, *added);
    list.ByOrderID[added->Item.OrderID] = added;
    marginOrderContract_[added->Item.OrderID] = key;
  }
}

void TTraderAccountItem::AddMarginOrder(const TOrderItem& order, const TCoverLots& coverLots) {
  if (!order.Contract) return;
  TMarginOrderData data;
  data.OrderID = order.ID;
  data.TraderAccount = order.GetTraderAccountName();
  data.Contract = order.Contract->Key();
  data.Side = order.BuySell;
  data.State = order.Status;
  data.TargetLots = order.TargetLots;
  data.Filled = order.Filled;
  data.Price = order.Price;
  AddMarginOrder(data, coverLots);
}

void TTraderAccountItem::AddMarginOrder(const std::shared_ptr<TOrderItem>& order,
                                        const TCoverLots& coverLots) {
  if (order) AddMarginOrder(*order, coverLots);
}

void TTraderAccountItem::AddMarginFill(std::string_view fillID, const TContractKey& contract,
                                       TPurchase side, std::int32_t lots, double price,
                                       const TCoverLots& coverLots) {
  TMarginOrderData fill;
  fill.OrderID = fillID;
  fill.TraderAccount = TraderAccount;
  fill.Contract = contract;
  fill.Side = side;
  fill.State = osFilled;
  fill.TargetLots = lots;
  fill.Filled = lots;
  fill.Price = price;
  AddMarginOrder(fill, coverLots);
}

void TTraderAccountItem::RestartCover(const TContractKey& contract,
                                      const std::function<void()>& store,
                                      const TCoverLots& coverLots) {
  const std::string key = ContractPositionKey(contract);
  std::lock_guard guard(lock_);
  if (store) store();
  const auto list = marginOrders_.find(key);
  if (list == marginOrders_.end()) return;
  for (TMarginOrderSlot& slot : list->second.Entries) {
    TMarginOrderItem& item = slot.Item;
    if (item.Side != Sell || (item.FilledLots <= 0 && item.CoveredLots == 0)) continue;
    Unfile(list->second, slot);
    item.CoveredLots = 0;
    item.CoveredAvgPrice = 0;
    const std::int32_t n = item.FilledLots > 0 && coverLots ? coverLots(item.FilledLots) : 0;
    if (n > 0) {
      item.CoveredLots = n;
      item.CoveredAvgPrice = item.Price;
    }
    File(list->second, slot);
  }
}

bool TTraderAccountItem::RemoveMarginOrder(std::string_view orderID) {
  const std::string id(orderID);
  std::lock_guard guard(lock_);
  const auto at = marginOrderContract_.find(id);
  if (at == marginOrderContract_.end()) return false;
  bool removed = false;
  if (const auto list = marginOrders_.find(at->second); list != marginOrders_.end()) {
    if (const auto it = list->second.ByOrderID.find(id); it != list->second.ByOrderID.end()) {
      Unfile(list->second, *it->second);
      list->second.Entries.erase(it->second);
      list->second.ByOrderID.erase(it);
      removed = true;
    }
  }
  marginOrderContract_.erase(at);
  return removed;
}

std::vector<TMarginOrderItem> TTraderAccountItem::GetMarginOrders(
    const TContractKey& contract) const {
  const std::string key = ContractPositionKey(contract);
  std::lock_guard guard(lock_);
  const auto list = marginOrders_.find(key);
  if (list == marginOrders_.end()) return {};
  std::vector<TMarginOrderItem> entries;
  entries.reserve(list->second.Entries.size());
  for (const TMarginOrderSlot& slot : list->second.Entries)
    entries.push_back(slot.Item);
  return entries;
}

TMarginOptionEntries TTraderAccountItem::GetOptionEntries(const TContractKey& contract) const {
  const std::string key = ContractPositionKey(contract);
  TMarginOptionEntries entries;
  std::lock_guard guard(lock_);
  const auto list = marginOrders_.find(key);
  if (list == marginOrders_.end()) return entries;
  entries.Working.reserve(list->second.Working.size());
  for (const auto& [place, item] : list->second.Working)
    entries.Working.push_back(*item);
  entries.CoveredSells.reserve(list->second.CoveredSells.size());
  for (const auto& [place, item] : list->second.CoveredSells)
    entries.CoveredSells.push_back(*item);
  entries.FilledSells = list->second.FilledSells;
  return entries;
}

void TTraderAccountItem::File(TMarginOrderList& list, const TMarginOrderSlot& slot) {
  const TMarginOrderItem& item = slot.Item;
  if (IsMarginOpenState(item.State) && item.Lots != item.FilledLots)
    list.Working.emplace(slot.Place, &item);
  if (item.Side == Sell && item.FilledLots > 0) {
    ++list.FilledSells;
    if (item.CoveredLots != 0) list.CoveredSells.emplace(slot.Place, &item);
  }
}

void TTraderAccountItem::Unfile(TMarginOrderList& list, const TMarginOrderSlot& slot) {
  list.Working.erase(slot.Place);
  list.CoveredSells.erase(slot.Place);
  const TMarginOrderItem& item = slot.Item;
  if (item.Side == Sell && item.FilledLots > 0) --list.FilledSells;
}

std::vector<TContractKey> TTraderAccountItem::GetContractPositions() const {
  std::lock_guard guard(lock_);
  return contractPositions_;
}

void TTraderAccountItem::AddTradedContract(const TContractKey& contract) {
  std::string key = ContractPositionKey(contract);
  std::lock_guard guard(lock_);
  if (tradedKeys_.insert(std::move(key)).second) tradedContracts_.push_back(contract);
}

std::vector<TContractKey> TTraderAccountItem::GetTradedContracts() const {
  std::lock_guard guard(lock_);
  return tradedContracts_;
}

// ---------------------------------------------------------------------------------------------
// The list

TTraderAccountQ::TTraderAccountQ(const std::atomic<bool>* downloadInProgress)
    : TIndexListOf<TTraderAccountItem>("Accounts", &TTraderAccountItem::Class()),
      downloadInProgress_(downloadInProgress) {
  SetSorted(true);
  SetOwnsObjects(true);
}

std::shared_ptr<TTraderAccountItem> TTraderAccountQ::FindAccount(std::string_view name) {
  const std::string key = Trim(name);
  TIndexListLock guard(*this);
  if (auto account = Get(key)) return account;
  if (!downloadInProgress_ || !downloadInProgress_->load()) return nullptr;
  auto account = std::make_shared<TTraderAccountItem>(key);
  Add(account);
  return account;
}

void WriteTraderRecord(const TTraderAccountItem& account, TraderAcctStruct& record) {
  PutFixed(record.TraderAccount, account.TraderAccount);
  PutFixed(record.BackOfficeID, account.GetBackOfficeID());
  record.Tradable = account.Tradable ? 'Y' : 'N';
  record.LossLimit = account.LossLimit;
}

}  // namespace vorn
