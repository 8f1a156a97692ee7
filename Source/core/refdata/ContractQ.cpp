#include "core/refdata/ContractQ.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/Exchange.h"
#include "core/store/ObjStream.h"
#include "core/store/UUIDObjects.h"
#include "core/util/NameWidths.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

// TContractItem::MakeNameKey's bytes, on the stack when the names are within their record
// widths (as received and as the query exports cut them), else on the heap.
class TNameKey {
 public:
  TNameKey(std::string_view exchange, std::string_view commodity, std::string_view contractDate) {
    const std::string_view e = TrimView(exchange);
    const std::string_view c = TrimView(commodity);
    const std::string_view d = TrimView(contractDate);
    const std::size_t size = e.size() + c.size() + d.size() + 2;
    char* out = local_;
    if (size > sizeof local_) {
      heap_.resize(size);
      out = heap_.data();
    }
    out = std::copy(e.begin(), e.end(), out);
    *out++ = '\1';
    out = std::copy(c.begin(), c.end(), out);
    *out++ = '\1';
    std::copy(d.begin(), d.end(), out);
    view_ = size > sizeof local_ ? std::string_view(heap_) : std::string_view(local_, size);
  }
  TNameKey(const TNameKey&) = delete;
  TNameKey& operator=(const TNameKey&) = delete;

  std::string_view View() const { return view_; }

 private:
  char local_[kExchangeNameWidth + kCommodityNameWidth + kContractDateWidth + 2];
  std::string heap_;
  std::string_view view_;
};

}  // namespace

std::shared_ptr<TContractServices> MakeContractServices(TCommodityQ& commodities,
                                                        TExchangeQ& exchanges) {
  auto services = std::make_shared<TContractServices>();
  services->FindCommodity = [&commodities](std::string_view exchange, std::string_view commodity) {
    return commodities.FindCommodity(exchange, commodity);
  };
  services->ReadCommodity = [&commodities, &exchanges](const TCommodity& commodity) {
    TCommodityFacts facts;
    std::shared_ptr<TExchange> exchange;
    {
      TIndexListLock guard(commodities);
      facts.TickSize = commodity.TickSize;
      facts.TicksPerPoint = commodity.TicksPerPoint;
      facts.OnePoint = commodity.OnePoint;
      facts.Currency = commodity.Currency;
      facts.State = commodity.State;
      exchange = commodity.Exchange();
    }
    if (exchange) {
      TIndexListLock guard(exchanges);
      facts.TicketType = exchange->TicketType;
    }
    return facts;
  };
  return services;
}

TContractQ::TContractQ(const std::atomic<bool>& contractsReading, TLatch& contractsRead)
    : TIndexListOf<TContractItem>("Contract Dates", &TContractItem::Class()),
      contractsReading_(contractsReading),
      contractsRead_(contractsRead) {
  SetSorted(true);
  SetOwnsObjects(true);
}

TContractQ::~TContractQ() {
  Clear();
}

void TContractQ::SetServices(std::shared_ptr<const TContractServices> services) {
  TIndexListLock guard(*this);
  services_ = std::move(services);
  for (int i = 0; i < Count(); ++i)
    At(i)->SetServices(services_);
}

std::shared_ptr<const TContractServices> TContractQ::Services() const {
  TIndexListLock guard(*this);
  return services_;
}

void TContractQ::SetUUIDObjects(std::shared_ptr<TUUIDObjectList> objects) {
  TIndexListLock guard(*this);
  uuidObjects_ = std::move(objects);
}

void TContractQ::SetContractsReadWait(std::chrono::milliseconds wait) {
  readWaitMs_.store(wait.count());
}

// --- Look-ups --------------------------------------------------------------------------------

std::shared_ptr<TContractItem> TContractQ::FindByNameKey(std::string_view nameKey) const {
  TIndexListLock guard(*this);
  const auto found = byName_.find(nameKey);
  return found != byName_.end() ? found->second : nullptr;
}

std::shared_ptr<TContractItem> TContractQ::FindByName(std::string_view exchange,
                                                      std::string_view commodity,
                                                      std::string_view contractDate) const {
  const TNameKey key(exchange, commodity, contractDate);
  return FindByNameKey(key.View());
}

std::shared_ptr<TContractItem> TContractQ::FindContract(std::string_view exchange,
                                                        std::string_view commodity,
                                                        std::string_view contractDate) const {
  const TNameKey key(exchange, commodity, contractDate);
  // The flag is read before the look-up: a read that ends between the two has added its
  // contracts, and is waited for (at once) and looked in again.
  const bool reading = contractsReading_.load(std::memory_order_acquire);
  if (auto contract = FindByNameKey(key.View())) return contract;
  if (!reading) return nullptr;
  // The latch stays set once the file has been read, so every waiter is released.
  contractsRead_.WaitFor(std::chrono::milliseconds(readWaitMs_.load()));
  return FindByNameKey(key.View());
}

std::shared_ptr<TContractItem> TContractQ::GetLegContract(
    const std::shared_ptr<TContractItem>& strategy, int leg) const {
  if (!strategy || leg < 1 || leg > kMaxContractLegs || leg > strategy->GetLegs()) return strategy;
  std::string fields[3];
  for (int field = 0; field < 3; ++field)
    fields[field] = strategy->GetLegField(leg, field + 1);
  TIndexListLock guard(*this);
  for (int i = 0; i < Count(); ++i) {
    auto contract = At(i);
    if (contract->GetLegs() != 1) continue;
    if (contract->GetLegField(1, 1) == fields[0] && contract->GetLegField(1, 2) == fields[1] &&
        contract->GetLegField(1, 3) == fields[2])
      return contract;
  }
  return strategy;
}

bool TContractQ::DropPriceTableIfUnsubscribed(const TContractKey& key,
                                              const TSubscriptions& book) const {
  const auto contract = FindByName(key.Exchange, key.Commodity, key.ContractDate);
  return contract && contract->DropPriceTableIfUnsubscribed(book);
}

// --- Adding and removing ---------------------------------------------------------------------

TAddResult TContractQ::Add(const TItem& item) {
  auto contract = std::dynamic_pointer_cast<TContractItem>(item);
  // A null item or another class: the base raises the list error.
  if (!contract) return TIndexListOf<TContractItem>::Add(item);
  TIndexListLock guard(*this);
  const std::string sortKey = contract->SortKey();
  const std::string nameKey = contract->NameKey();
  const TContractItem* held = nullptr;
  if (const auto found = bySortKey_.find(sortKey); found != bySortKey_.end()) {
    held = found->second;
  } else if (const auto named = byName_.find(nameKey); named != byName_.end()) {
    held = named->second.get();
  }
  if (held) {
    WriteTraceLine("Duplicate String \"" + (held->SortKey() == sortKey ? sortKey : nameKey) +
                   "\" in List " + Name());
    return {IndexOf(held), false};
  }
  TFillPrices fillPrices = contract->GetFillPrices();
  fillPrices.FirstFillPriceEntered = false;
  fillPrices.LastFillPriceEntered = false;
  contract->SetFillPrices(fillPrices);
  if (services_) contract->SetServices(services_);
  const TAddResult result = TIndexListOf<TContractItem>::Add(item);
  if (!result.Added) return result;
  byName_.emplace(nameKey, contract);
  bySortKey_.emplace(sortKey, contract.get());
  contract->SetListed(true);
  return result;
}

void TContractQ::DropIndexesLocked(TContractItem& contract) {
  if (const auto named = byName_.find(contract.NameKey());
      named != byName_.end() && named->second.get() == &contract)
    byName_.erase(named);
  if (const auto keyed = bySortKey_.find(contract.SortKey());
      keyed != bySortKey_.end() && keyed->second == &contract)
    bySortKey_.erase(keyed);
  stored_.erase(&contract);
  contract.SetListed(false);
}

void TContractQ::LeaveGroupsLocked(TContractItem& contract) {
  if (!uuidObjects_) return;
  try {
    uuidObjects_->LeaveGroups(contract);
  } catch (...) {
    WriteErrorLogLine("Error removing a Contract Date from its UUID groups");
  }
}

int TContractQ::TakeOutLocked(const TStreamable* item, TItem& kept) {
  const int index = IndexOf(item);
  if (index < 0) return -1;
  kept = Items(index);
  TIndexList::Delete(index);
  DropIndexesLocked(static_cast<TContractItem&>(*kept));
  return index;
}

int TContractQ::RemoveItem(const TStreamable* item) {
  TItem kept;  // released after the lock is left
  TIndexListLock guard(*this);
  const int index = TakeOutLocked(item, kept);
  if (index >= 0) LeaveGroupsLocked(static_cast<TContractItem&>(*kept));
  return index;
}

int TContractQ::RemoveKey(std::string_view key) {
  TItem kept;
  TIndexListLock guard(*this);
  kept = FindItem(key);
  return kept ? RemoveItem(kept.get()) : -1;
}

void TContractQ::FreeAt(int index) {
  TItem kept;
  TIndexListLock guard(*this);
  kept = Items(index);
  RemoveItem(kept.get());
}

void TContractQ::Clear() {
  decltype(byName_) dropped;
  TIndexListLock guard(*this);
  for (auto& [key, contract] : byName_) {
    contract->SetListed(false);
    LeaveGroupsLocked(*contract);
  }
  dropped.swap(byName_);
  bySortKey_.clear();
  stored_.clear();
  TIndexList::Clear();
}

void TContractQ::FreeAll() {
  Clear();
}

int TContractQ::AddFromFields(std::string_view exchange, std::string_view commodity,
                              std::string_view contractDate, TFieldsList fields) {
  auto contract = std::make_shared<TContractItem>();
  contract->SetNames(exchange, commodity, contractDate);
  const std::string active = Trim(fields.GetFieldValue("Act", 0));
  contract->SetUUID(fields.GetFieldValue("GUID", 0));
  contract->SetFields(std::move(fields));
  contract->State =
      !active.empty() && active[0] == '2' ? TUUIDStreamable::usInactive : TUUIDStreamable::usActive;

  TIndexListLock guard(*this);
  const TAddResult result = Add(contract);
  if (!result.Added) return -1;

  const std::string& uuid = contract->GetUUID();
  try {
    contract->BelongsTo.Add(uuid);
    if (uuidObjects_) uuidObjects_->Add(contract);
  } catch (...) {
    WriteErrorLogLine("Error adding UUIDstr to UUIDBelongsToList for a Contract Date");
  }
  WriteUUIDLine(kUUIDObjectFileName, std::string(exchange) + "/" + std::string(commodity) + "/" +
                                         std::string(contractDate) + "\t\t" + uuid + "\t" +
                                         UUIDStatusToStr(contract->State));
  // During the download the commodity may not be there yet; the contract looks for it later.
  if (auto owner = contract->GetCommodity()) owner->AddMember(contract);
  return result.Index;
}

bool TContractQ::RekeyLocked(const std::shared_ptr<TContractItem>& contract,
                             const std::string& sortKey, const std::string& nameKey,
                             const std::function<void()>& change) {
  if (!contract || !contract->Listed() || FindByNameKey(contract->NameKey()) != contract)
    return false;
  if (sortKey == contract->SortKey() && nameKey == contract->NameKey()) {
    change();
    return true;
  }
  const auto keyed = bySortKey_.find(sortKey);
  const auto named = byName_.find(nameKey);
  if ((keyed != bySortKey_.end() && keyed->second != contract.get()) ||
      (named != byName_.end() && named->second != contract)) {
    WriteTraceLine("Duplicate String \"" + sortKey + "\" in List " + Name());
    return false;
  }
  const bool stored = stored_.count(contract.get()) != 0;
  // Moved, not removed: it keeps its groups. Released after the lock is left by the caller's
  // own reference.
  TItem kept;
  TakeOutLocked(contract.get(), kept);
  try {
    change();
  } catch (...) {
    Add(contract);
    if (stored) stored_.insert(contract.get());
    throw;
  }
  Add(contract);
  if (stored) stored_.insert(contract.get());
  return true;
}

bool TContractQ::UpdateFields(const std::shared_ptr<TContractItem>& contract, TFieldsList fields) {
  if (!contract) return false;
  const TContractKey names = contract->Key();
  const std::string sortKey = TContractItem::MakeSortKey(
      names.Exchange, names.Commodity, Trim(fields.GetFieldValue("X1", 0)),
      Copy(fields.GetFieldValue("XD", 0), 1, 8), names.ContractDate);
  const std::string nameKey =
      TContractItem::MakeNameKey(names.Exchange, names.Commodity, names.ContractDate);
  TIndexListLock guard(*this);
  return RekeyLocked(contract, sortKey, nameKey, [&] { contract->SetFields(std::move(fields)); });
}

bool TContractQ::ChangeCommodity(const std::shared_ptr<TContractItem>& contract,
                                 const std::shared_ptr<TCommodity>& commodity) {
  if (!contract || !commodity) return false;
  const std::string& exchange = commodity->ExchangeName();
  const std::string& name = commodity->Name();
  const std::string sortKey = TContractItem::MakeSortKey(
      exchange, name, contract->GetTypeCode(), contract->GetExpiryDate(), contract->ContractDate());
  const std::string nameKey = TContractItem::MakeNameKey(exchange, name, contract->ContractDate());
  TIndexListLock guard(*this);
  return RekeyLocked(contract, sortKey, nameKey, [&] { contract->SetCommodity(commodity); });
}

int TContractQ::RemoveCommodityContracts(std::string_view exchange, std::string_view commodity) {
  const std::string_view wantedExchange = TrimView(exchange);
  const std::string_view wantedCommodity = TrimView(commodity);
  std::vector<TItem> removed;  // released after the lock is left
  TIndexListLock guard(*this);
  for (int i = Count() - 1; i >= 0; --i) {
    auto contract = At(i);
    const TContractKey names = contract->Key();
    if (TrimView(names.Exchange) != wantedExchange || TrimView(names.Commodity) != wantedCommodity)
      continue;
    TIndexList::Delete(i);
    DropIndexesLocked(*contract);
    LeaveGroupsLocked(*contract);
    removed.push_back(std::move(contract));
  }
  return static_cast<int>(removed.size());
}

// --- Stored contracts ------------------------------------------------------------------------

void TContractQ::AddStoredContract(const std::shared_ptr<TContractItem>& contract) {
  if (!contract) return;
  TIndexListLock guard(*this);
  // Only a listed contract: one taken out since would never be removed from the set.
  if (FindByNameKey(contract->NameKey()) == contract) stored_.insert(contract.get());
}

bool TContractQ::IsStoredContract(const TContractItem& contract) const {
  TIndexListLock guard(*this);
  return stored_.count(&contract) != 0;
}

void TContractQ::RecordHeldContracts() {
  TIndexListLock guard(*this);
  for (const auto& [key, contract] : byName_)
    stored_.insert(contract.get());
}

void TContractQ::SaveToStream(TStream& stream) {
  const std::string routine = "SaveToStream: " + Name();
  TTraceScope scope(routine);
  // Written to a stream of their own first, so that a contract that fails can be left out and
  // the count still matches what follows it.
  TStream items;
  std::int32_t written = 0;
  {
    TIndexListLock guard(*this);
    for (int i = 0; i < Count(); ++i) {
      const auto contract = At(i);
      if (!stored_.count(contract.get())) continue;
      const std::size_t mark = items.Position();
      try {
        WriteProperties(items, *contract, TContractItem::Class());
        contract->WriteExtra(items);
        ++written;
      } catch (const std::exception& e) {
        items.Truncate(mark);
        WriteTraceLine("unable to save " + contract->GetDescription() + " in " + Name() + ": " +
                       e.what());
      }
    }
  }
  if (stream.Position() == StoreHeaderText().size()) stream.WriteCompact(kStoreVersionWord);
  stream.WriteCompact(written);
  stream.WriteBuffer(items.Bytes().data(), items.Size());
}

}  // namespace vorn
