#include "core/trading/Fill.h"

#include <algorithm>
#include <utility>

#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/store/ObjStream.h"
#include "core/store/UUIDObjects.h"
#include "core/trading/TraderAccount.h"
#include "core/util/Text.h"

namespace vorn {

const TStreamClass& TFill::Class() {
  static const TStreamClass& description = MakeStreamClass<TFill>(
      "TFill", &TUUIDStreamable::Class(),
      TPropertyTable<TFill>()
          .String("FillID", &TFill::FillID)
          .Enumeration("BuySell", Cross, &TFill::BuySell)
          .Integer("Lots", &TFill::Lots)
          .Float("Price", &TFill::Price)
          .String("OrderID", &TFill::OrderID)
          .Enumeration("Status", flORPI, &TFill::Status)
          .String("DateFilled", &TFill::DateFilled)
          .String("TimeFilled", &TFill::TimeFilled)
          .String("DateHostReceived", &TFill::DateHostReceived)
          .String("TimeHostReceived", &TFill::TimeHostReceived)
          .String("ExchangeOrderID", &TFill::ExchangeOrderID)
          .Enumeration("FillType", fltpRETAINED, &TFill::FillType)
          .String("UserName", &TFill::UserName)
          .String("AccountName", &TFill::GetAccountName, &TFill::SetAccountName)
          .String("ExchangeFillID", &TFill::ExchangeFillID)
          .String("ExchangeRawPrice", &TFill::ExchangeRawPrice)
          .String("ExecutionID", &TFill::ExecutionID)
          .Boolean("IsSODFill", &TFill::IsSODFill)
          .Boolean("IsEODFill", &TFill::IsEODFill)
          .Integer("FillSubType", &TFill::FillSubType));
  return description;
}

void TFill::WriteExtra(TStream& stream) const {
  WriteContractReference(stream, Contract.get());
}

void TFill::ReadExtra(TStream& stream) {
  Contract = ReadContractReference(stream, GetOrderServices().get());
}

void TFill::Notify() const {
  AddFillCallback(OrderID, FillID);
}

void TFill::Activate(bool) {
  SetTimeStamp(skActivation);
  State = usActive;
  Notify();
}

void TFill::Deactivate(bool) {
  SetTimeStamp(skDeactivation);
  State = usInactive;
  Notify();
}

void TFill::Expire() {
  SetTimeStamp(skExpiry);
  State = usExpired;
  Notify();
}

void TFill::Purge(TDateTime time) {
  if (!CanPurge(time)) return;
  auto services = GetOrderServices();
  if (TUUIDObjectList* groups = services ? services->UUIDObjects() : nullptr)
    groups->LeaveGroups(*this);
  // The list's reference may be the last one: the list releases it after its lock is left,
  // and the caller holds this fill while it runs.
  if (TFillQ* list = list_.load(std::memory_order_acquire)) list->RemoveItem(this);
}

std::string TFill::KeyFor(std::string_view fillID, TFillType type) {
  std::string key;
  if (type == fltpNETTED || type == fltpRETAINED) {
    key.reserve(fillID.size() + 1);
    key += kPositionFillKeyPrefix;
  }
  key += fillID;
  return key;
}

std::string TFill::GetAccountName() const {
  return Account ? Account->TraderAccount : std::string();
}

void TFill::SetAccountName(std::string_view name) {
  Account.reset();
  const std::string trimmed = Trim(name);
  if (trimmed.empty()) return;
  if (auto services = GetOrderServices()) Account = services->FindAccount(trimmed);
}

// ---------------------------------------------------------------------------------------------

TFillQ::TFillQ() : TIndexListOf<TFill>("Fill", &TFill::Class()) {
  SetSorted(true);
  SetAscending(false);
  SetOwnsObjects(true);
}

TFillQ::~TFillQ() {
  // Fills held elsewhere must not reach back into a list that is gone.
  TIndexListLock guard(*this);
  const int count = Count();
  for (int i = 0; i < count; ++i)
    At(i)->list_.store(nullptr, std::memory_order_release);
}

TAddResult TFillQ::Add(const TItem& item) {
  auto fill = std::dynamic_pointer_cast<TFill>(item);
  if (fill && fill->Contract) {
    // The contract's price lock is taken without this list's lock held.
    const std::shared_ptr<TContractItem>& contract = fill->Contract;
    if (contract->GetPrice(5).Unset) {
      TFillPrices prices = contract->GetFillPrices();
      prices.LastFillPrice = fill->Price;
      prices.LastFillPriceEntered = true;
      if (!prices.FirstFillPriceEntered) {
        prices.FirstFillPrice = fill->Price;
        prices.FirstFillPriceEntered = true;
      }
      contract->SetFillPrices(prices);
    }
  }
  TIndexListLock guard(*this);
  const TAddResult result = TIndexListOf<TFill>::Add(item);
  if (result.Added && fill) {
    if (!Loading()) byKey_[fill->Key()] = fill;
    fill->list_.store(this, std::memory_order_release);
  }
  return result;
}

void TFillQ::Unindex(const TFill& fill) {
  auto found = byKey_.find(fill.Key());
  if (found != byKey_.end() && found->second.get() == &fill) byKey_.erase(found);
}

int TFillQ::RemoveItem(const TStreamable* item) {
  TIndexListLock guard(*this);
  const int index = TIndexListOf<TFill>::RemoveItem(item);
  if (index >= 0)
    if (auto fill = dynamic_cast<const TFill*>(item)) Unindex(*fill);
  return index;
}

int TFillQ::RemoveKey(std::string_view key) {
  TIndexListLock guard(*this);
  auto fill = Get(key);
  return fill ? RemoveItem(fill.get()) : -1;
}

int TFillQ::DeleteKey(std::string_view key) {
  return RemoveKey(key);
}

void TFillQ::FreeAt(int index) {
  TIndexListLock guard(*this);
  auto fill = At(index);
  RemoveItem(fill.get());
}

void TFillQ::Clear() {
  std::unordered_map<std::string, std::shared_ptr<TFill>> dropped;
  {
    TIndexListLock guard(*this);
    dropped.swap(byKey_);
    TIndexListOf<TFill>::Clear();
  }
}

void TFillQ::FreeAll() {
  std::unordered_map<std::string, std::shared_ptr<TFill>> dropped;
  {
    TIndexListLock guard(*this);
    dropped.swap(byKey_);
    TIndexListOf<TFill>::FreeAll();
  }
}

std::shared_ptr<TFill> TFillQ::FindByKey(std::string_view key) const {
  TIndexListLock guard(*this);
  auto found = byKey_.find(std::string(key));
  return found == byKey_.end() ? nullptr : found->second;
}

std::shared_ptr<TFill> TFillQ::FindByID(std::string_view fillID) const {
  TIndexListLock guard(*this);
  if (auto fill = FindByKey(TFill::KeyFor(fillID, fltpFILL))) return fill;
  return FindByKey(TFill::KeyFor(fillID, fltpNETTED));
}

bool TFillQ::SetFillType(const std::shared_ptr<TFill>& fill, TFillType type) {
  TIndexListLock guard(*this);
  const std::string newKey = TFill::KeyFor(fill->FillID, type);
  if (newKey == fill->Key()) {
    fill->FillType = type;
    return true;
  }
  if (byKey_.count(newKey)) return false;
  const bool listed = RemoveItem(fill.get()) >= 0;
  fill->FillType = type;
  if (listed) {
    TIndexListOf<TFill>::Add(fill);
    byKey_[newKey] = fill;
  }
  return true;
}

std::vector<std::shared_ptr<TFill>> TFillQ::Snapshot() const {
  TIndexListLock guard(*this);
  std::vector<std::shared_ptr<TFill>> fills;
  const int count = Count();
  fills.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    fills.push_back(At(i));
  return fills;
}

void TFillQ::Reindex() {
  TIndexListLock guard(*this);
  byKey_.clear();
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    auto fill = At(i);
    byKey_[fill->Key()] = fill;
    fill->list_.store(this, std::memory_order_release);
  }
}

}  // namespace vorn
