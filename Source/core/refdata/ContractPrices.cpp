// TContractItem's price table, generic prices, depth lists and fill prices, and its queries of
// the subscription book.
#include "core/refdata/ContractItem.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "core/events/Callbacks.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"

namespace vorn {
namespace {

constexpr std::uint8_t kDirectionMask = VN_PE_UP | VN_PE_DOWN;
constexpr int kLastTradeKind = VN_PK_LAST_TRADE;
constexpr int kOldestTradeKind = VN_PK_OLDEST_TRADE;

std::atomic<std::uint64_t> lastTradeEpoch{0};

// The hour, minute and second of the last second a price stamp was decoded for, keyed by that
// second (counted from the date-time origin, plus 1 so that 0 means none): the stamp is decoded
// once a second, whichever thread writes.
std::atomic<std::uint64_t> stampCache{0};
constexpr int kStampBits = 17;  // hour 5, minute 6, second 6
constexpr double kMsPerDay = 86400000.0;
constexpr double kCachedDays = 3.0e6;  // past the year 9999

// Hour, minute and second of the coarse local time, as DecodeTime gives them.
void StampNow(std::uint8_t& hour, std::uint8_t& minute, std::uint8_t& second) {
  const TDateTime now = NowCoarse();
  std::uint64_t key = 0;
  if (now >= 0 && now < kCachedDays) {
    // The milliseconds DecodeTime rounds to; whole seconds of them decode alike.
    key = static_cast<std::uint64_t>(std::nearbyint(now * kMsPerDay)) / 1000 + 1;
    const std::uint64_t cached = stampCache.load(std::memory_order_relaxed);
    if (cached >> kStampBits == key) {
      hour = static_cast<std::uint8_t>(cached >> 12 & 31);
      minute = static_cast<std::uint8_t>(cached >> 6 & 63);
      second = static_cast<std::uint8_t>(cached & 63);
      return;
    }
  }
  int h = 0;
  int m = 0;
  int s = 0;
  int ms = 0;
  DecodeTime(now, h, m, s, ms);
  hour = static_cast<std::uint8_t>(h);
  minute = static_cast<std::uint8_t>(m);
  second = static_cast<std::uint8_t>(s);
  if (key != 0)
    stampCache.store(key << kStampBits | static_cast<std::uint64_t>(h) << 12 |
                         static_cast<std::uint64_t>(m) << 6 | static_cast<std::uint64_t>(s),
                     std::memory_order_relaxed);
}

bool SameEntryContent(const PriceEntry& entry, double value, std::int32_t volume,
                      std::uint8_t unset) {
  return entry.Value == value && entry.Volume == volume && entry.Unset == unset;
}

// Direction, age, value, volume, time and unset flag, as a price write sets them.
void WriteEntry(PriceEntry& entry, double value, std::int32_t volume, std::uint8_t unset,
                std::uint8_t age, std::uint8_t hour, std::uint8_t minute, std::uint8_t second) {
  std::uint8_t direction = entry.DirectionHour & kDirectionMask;
  if (value > entry.Value) {
    direction = VN_PE_UP;
    entry.Age = age;
  } else if (value < entry.Value) {
    direction = VN_PE_DOWN;
    entry.Age = age;
  }
  entry.Value = value;
  entry.Volume = volume;
  entry.DirectionHour = static_cast<std::uint8_t>(direction | (hour & VN_PE_HOUR_MASK));
  entry.Minute = minute;
  entry.Second = second;
  entry.Unset = unset;
}

bool ValidWrite(const TPriceWrite& write) {
  return write.Kind >= 0 && write.Kind < kPriceKindCount && std::isfinite(write.Value);
}

}  // namespace

PriceEntry EmptyPriceEntry() {
  PriceEntry entry;
  std::memset(&entry, 0, sizeof entry);
  entry.Unset = 1;
  return entry;
}

std::uint32_t PriceKindMaskBit(int kind) {
  if (kind < 0 || kind >= kPriceKindCount) return 0;
  if (kind <= 4) return 1u << kind;
  if (kind <= kOldestTradeKind) return VN_PM_TRADES;
  switch (kind) {
    case 25:
      return VN_PM_TOTAL_VOLUME;
    case 26:
      return VN_PM_HIGH;
    case 27:
      return VN_PM_LOW;
    case 28:
      return VN_PM_KIND_28;
    case 29:
      return VN_PM_OWN_LAST;
    default:
      break;
  }
  if (kind < VN_PK_OFFER_DEPTH) return VN_PM_BID_DEPTH;
  if (kind < VN_PK_OFFER_DEPTH + VN_PK_DEPTH_LEVELS) return VN_PM_OFFER_DEPTH;
  if (kind < VN_PK_SETTLEMENT_7) return VN_PM_KINDS_70_74;
  if (kind < VN_PK_GENERIC_28_1) return VN_PM_SETTLEMENT;
  return VN_PM_GENERIC_28;
}

std::uint64_t LastTradeEpoch() {
  return lastTradeEpoch.load(std::memory_order_acquire);
}

// --- Prices ----------------------------------------------------------------------------------

TContractItem::TPriceWriteFacts TContractItem::PriceWriteFacts() const {
  TPriceWriteFacts facts;
  std::shared_ptr<const TContractServices> services;
  {
    std::lock_guard guard(dataLock_);
    facts.Outright = LegsLocked() == 1;
    services = services_;
  }
  if (services && services->PriceAge) facts.Age = services->PriceAge();
  StampNow(facts.Hour, facts.Minute, facts.Second);
  return facts;
}

bool TContractItem::WritePriceLocked(const TPriceWrite& write, const TPriceWriteFacts& facts) {
  const int kind = write.Kind;
  const std::uint8_t unset = facts.Outright && write.Value == 0 && write.Volume == 0 ? 1 : 0;
  PriceEntry* entry = nullptr;
  if (!prices_ && kind == kOwnLastPriceKind) {
    entry = &ownLast_;
  } else {
    if (!prices_) {
      prices_ = std::make_unique<TPriceTable>();
      prices_->fill(EmptyPriceEntry());
      (*prices_)[kOwnLastPriceKind] = ownLast_;
    }
    if (kind == kLastTradeKind) {
      PriceEntry* trades = prices_->data() + kLastTradeKind;
      std::memmove(trades + 1, trades, sizeof(PriceEntry) * (kOldestTradeKind - kLastTradeKind));
    }
    entry = &(*prices_)[static_cast<std::size_t>(kind)];
  }
  const bool changed = !SameEntryContent(*entry, write.Value, write.Volume, unset);
  WriteEntry(*entry, write.Value, write.Volume, unset, facts.Age, facts.Hour, facts.Minute,
             facts.Second);
  return changed;
}

bool TContractItem::SetPrice(int kind, std::int32_t volume, double value) {
  const TPriceWrite write{kind, volume, value};
  if (!ValidWrite(write)) return false;
  // Read before the price lock: neither the data lock nor the services may be taken under it.
  const TPriceWriteFacts facts = PriceWriteFacts();
  bool changed = false;
  {
    std::lock_guard guard(priceLock_);
    changed = WritePriceLocked(write, facts);
    changeMask_.fetch_or(PriceKindMaskBit(kind), std::memory_order_acq_rel);
  }
  if (kind == kLastTradeKind) lastTradeEpoch.fetch_add(1, std::memory_order_acq_rel);
  return changed;
}

std::uint32_t TContractItem::SetPrices(std::span<const TPriceWrite> writes) {
  if (writes.size() > kMaxPriceWrites) throw EListError("Too many price writes in one batch");
  const TPriceWriteFacts facts = PriceWriteFacts();
  std::uint32_t changed = 0;
  std::uint32_t mask = 0;
  std::uint64_t trades = 0;
  {
    std::lock_guard guard(priceLock_);
    for (std::size_t i = 0; i < writes.size(); ++i) {
      const TPriceWrite& write = writes[i];
      if (!ValidWrite(write)) continue;
      if (WritePriceLocked(write, facts)) changed |= 1u << i;
      mask |= PriceKindMaskBit(write.Kind);
      if (write.Kind == kLastTradeKind) ++trades;
    }
    // Raised under the lock, as a reader takes it with its copy.
    if (mask != 0) changeMask_.fetch_or(mask, std::memory_order_acq_rel);
  }
  if (trades > 0) lastTradeEpoch.fetch_add(trades, std::memory_order_acq_rel);
  return changed;
}

PriceEntry TContractItem::GetPrice(int kind) const {
  if (kind < 0 || kind >= kPriceKindCount) return EmptyPriceEntry();
  std::lock_guard guard(priceLock_);
  if (prices_) return (*prices_)[static_cast<std::size_t>(kind)];
  return kind == kOwnLastPriceKind ? ownLast_ : EmptyPriceEntry();
}

void TContractItem::GetPrices(std::span<const int> kinds, std::span<PriceEntry> prices) const {
  if (kinds.size() != prices.size()) throw EListError("Price kinds and entries differ in number");
  const PriceEntry empty = EmptyPriceEntry();
  std::lock_guard guard(priceLock_);
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    const int kind = kinds[i];
    if (kind < 0 || kind >= kPriceKindCount)
      prices[i] = empty;
    else if (prices_)
      prices[i] = (*prices_)[static_cast<std::size_t>(kind)];
    else
      prices[i] = kind == kOwnLastPriceKind ? ownLast_ : empty;
  }
}

std::uint32_t TContractItem::ReadPrices(TPriceTable& prices) {
  std::lock_guard guard(priceLock_);
  if (prices_) {
    prices = *prices_;
  } else {
    prices.fill(EmptyPriceEntry());
    prices[kOwnLastPriceKind] = ownLast_;
  }
  return changeMask_.exchange(0, std::memory_order_acq_rel);
}

std::uint32_t TContractItem::TakeChangeMask() {
  std::lock_guard guard(priceLock_);
  return changeMask_.exchange(0, std::memory_order_acq_rel);
}

bool TContractItem::HasPriceTable() const {
  std::lock_guard guard(priceLock_);
  return prices_ != nullptr;
}

void TContractItem::ClearPrices(bool notify) {
  {
    std::lock_guard guard(priceLock_);
    if (!prices_) return;
    const PriceEntry empty = EmptyPriceEntry();
    std::fill(prices_->begin(), prices_->begin() + 5, empty);
    std::fill(prices_->begin() + VN_PK_BID_DEPTH,
              prices_->begin() + VN_PK_OFFER_DEPTH + VN_PK_DEPTH_LEVELS, empty);
    changeMask_.fetch_or(kClearedPricesMask, std::memory_order_acq_rel);
  }
  if (notify && PriceSubscriberCount() >= 1) {
    const TContractKey key = Key();
    AddPriceCallback(key.Exchange, key.Commodity, key.ContractDate);
    AddDOMCallback(key.Exchange, key.Commodity, key.ContractDate);
  }
}

bool TContractItem::AgePrices() {
  std::lock_guard guard(priceLock_);
  if (!prices_) return false;
  bool expired = false;
  for (int kind = 0; kind < kPriceKindCount; ++kind) {
    PriceEntry& entry = (*prices_)[static_cast<std::size_t>(kind)];
    if (entry.Age == 0) continue;
    if (--entry.Age == 0) {
      changeMask_.fetch_or(PriceKindMaskBit(kind), std::memory_order_acq_rel);
      entry.DirectionHour &= VN_PE_HOUR_MASK;
      expired = true;
    }
  }
  return expired;
}

void TContractItem::DropPriceTable() {
  std::unique_ptr<TPriceTable> dropped;
  std::lock_guard guard(priceLock_);
  if (!prices_) return;
  ownLast_ = (*prices_)[kOwnLastPriceKind];
  dropped = std::move(prices_);
}

bool TContractItem::DropPriceTableIfUnsubscribed(const TSubscriptions& book) {
  const TContractKey key = Key();
  std::lock_guard guard(priceLock_);
  // The book's lock comes after this one.
  if (book.PriceSubscriberCount(key) > 0 || book.MarketSubscriptionCount(key) > 0) return false;
  if (!prices_) return false;
  ownLast_ = (*prices_)[kOwnLastPriceKind];
  prices_.reset();
  return true;
}

bool TContractItem::SetGenericPrice(int kind, std::int32_t volume, double value) {
  if (kind < 0 || kind >= kGenericPriceCount || !std::isfinite(value)) return false;
  const std::uint8_t age = PriceAge();
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  StampNow(hour, minute, second);
  const std::uint8_t unset = value == 0 && volume == 0 ? 1 : 0;
  std::lock_guard guard(priceLock_);
  if (!genericPrices_) {
    genericPrices_ = std::make_unique<TGenericPriceTable>();
    std::memset(genericPrices_->data(), 0, sizeof(TGenericPriceTable));
  }
  PriceEntry& entry = (*genericPrices_)[static_cast<std::size_t>(kind)];
  const bool changed = !SameEntryContent(entry, value, volume, unset);
  WriteEntry(entry, value, volume, unset, age, hour, minute, second);
  return changed;
}

PriceEntry TContractItem::GetGenericPrice(int kind) const {
  if (kind < 0 || kind >= kGenericPriceCount) return EmptyPriceEntry();
  std::lock_guard guard(priceLock_);
  if (!genericPrices_) return EmptyPriceEntry();
  return (*genericPrices_)[static_cast<std::size_t>(kind)];
}

TAtBestPrices TContractItem::GetAtBest() const {
  std::lock_guard guard(priceLock_);
  return atBest_;
}

void TContractItem::SetAtBest(TAtBestPrices atBest) {
  std::lock_guard guard(priceLock_);
  std::swap(atBest_, atBest);
}

std::vector<TSubscriberDepth> TContractItem::GetSubscriberDepth() const {
  std::lock_guard guard(priceLock_);
  return subscriberDepth_;
}

void TContractItem::SetSubscriberDepth(std::vector<TSubscriberDepth> depth) {
  std::lock_guard guard(priceLock_);
  std::swap(subscriberDepth_, depth);
}

TFillPrices TContractItem::GetFillPrices() const {
  std::lock_guard guard(priceLock_);
  return fillPrices_;
}

void TContractItem::SetFillPrices(const TFillPrices& prices) {
  std::lock_guard guard(priceLock_);
  fillPrices_ = prices;
}

// --- Subscriptions ---------------------------------------------------------------------------

std::uint8_t TContractItem::PriceAge() const {
  const auto services = Services();
  return services && services->PriceAge ? services->PriceAge() : 0;
}

const TSubscriptions* TContractItem::SubscriptionBook() const {
  const auto services = Services();
  return services ? services->Subscriptions : nullptr;
}

bool TContractItem::IsPriceSubscribed() const {
  const TSubscriptions* book = SubscriptionBook();
  return book && book->IsSubscribed(Key());
}

std::int32_t TContractItem::PriceSubscriberCount() const {
  const TSubscriptions* book = SubscriptionBook();
  return book ? book->PriceSubscriberCount(Key()) : 0;
}

std::int32_t TContractItem::MarketSubscriptionCount() const {
  const TSubscriptions* book = SubscriptionBook();
  return book ? book->MarketSubscriptionCount(Key()) : 0;
}

bool TContractItem::ForcedSubscription() const {
  const TSubscriptions* book = SubscriptionBook();
  return book && book->ForcedSubscription(Key());
}

}  // namespace vorn
