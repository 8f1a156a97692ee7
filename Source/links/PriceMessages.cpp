#include "links/PriceMessages.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/session/ClassAPI.h"
#include "core/trading/OrderQ.h"
#include "core/util/Conversions.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/wire/FieldsList.h"
#include "links/FixedField.h"

namespace vorn {
namespace {

// The contract's price-array flags.
constexpr std::uint8_t kArrayBid = 1;
constexpr std::uint8_t kArrayOffer = 2;
constexpr std::uint8_t kArrayLast = 4;
constexpr std::uint8_t kArrayApplied = 8;

constexpr int kBidKind = VN_PK_BID;
constexpr int kOfferKind = VN_PK_OFFER;
constexpr int kLastKind = VN_PK_LAST_TRADE;
constexpr int kTotalVolumeKind = VN_PK_TOTAL_VOLUME;
constexpr int kBidDepthKind = VN_PK_BID_DEPTH;
constexpr int kOfferDepthKind = VN_PK_OFFER_DEPTH;
constexpr int kDepthLevels = VN_PK_DEPTH_LEVELS;

// --- Field readers: views into the body, no allocation ---------------------------------------

std::string_view TextAt(std::string_view body, std::size_t offset, std::size_t width) {
  return TrimView(GetFixedField(body, offset, width));
}

double FloatAt(std::string_view body, std::size_t offset, std::size_t width) {
  return SafeStrToFloat(GetFixedField(body, offset, width), 0);
}

std::int32_t IntAt(std::string_view body, std::size_t offset, std::size_t width,
                   std::int32_t otherwise = 0) {
  return SafeStrToInt(GetFixedField(body, offset, width), otherwise);
}

char CharAt(std::string_view body, std::size_t offset) {
  const std::string_view field = GetFixedField(body, offset, 1);
  return field.empty() ? ' ' : field[0];
}

// How many entries of that width, from offset on, lie wholly inside the body.
std::size_t WholeEntries(std::string_view body, std::size_t offset, std::size_t width) {
  return body.size() > offset ? (body.size() - offset) / width : 0;
}

// The trimmed names that open every price body.
struct TBodyNames {
  std::string_view Exchange;
  std::string_view Commodity;
  std::string_view ContractDate;
};

TBodyNames NamesOf(std::string_view body) {
  return {TextAt(body, 4, kExchangeNameWidth), TextAt(body, 14, kCommodityNameWidth),
          TextAt(body, 24, kContractDateWidth)};
}

std::shared_ptr<TContractItem> FindContract(const TClassAPI& api, const TBodyNames& names) {
  return api.Contracts.FindContract(names.Exchange, names.Commodity, names.ContractDate);
}

// exchange\commodity\contract date, as the trace lines name a contract.
std::string NamesText(const TBodyNames& names) {
  std::string text(names.Exchange);
  text += '\\';
  text += names.Commodity;
  text += '\\';
  text += names.ContractDate;
  return text;
}

bool Downloading(const TClassAPI& api) {
  return api.Logon.DownloadInProgress.load(std::memory_order_acquire);
}

bool IsEUREX(std::string_view exchange) {
  return SameText(TrimView(exchange), "EUREX");
}

// --- Writing a body's prices -------------------------------------------------------------------

// The price writes of one body, collected after every field has been read and applied together,
// a lock of the contract and one time stamp for each kMaxPriceWrites of them.
class TPriceWrites {
 public:
  static constexpr std::size_t kCapacity = 48;

  // The write's index, for Changed.
  int Add(int kind, std::int32_t volume, double value) {
    writes_[count_] = {kind, volume, value};
    return static_cast<int>(count_++);
  }

  // Writes in order.
  void Apply(TContractItem& contract) {
    const std::span<const TPriceWrite> all(writes_.data(), count_);
    for (std::size_t first = 0; first < count_; first += kMaxPriceWrites) {
      const std::size_t size = std::min(kMaxPriceWrites, count_ - first);
      changed_ |= std::uint64_t{contract.SetPrices(all.subspan(first, size))} << first;
    }
  }

  bool AnyChanged() const { return changed_ != 0; }
  // False for index -1 (a write that was not made).
  bool Changed(int index) const { return index >= 0 && ((changed_ >> index) & 1) != 0; }

 private:
  std::array<TPriceWrite, kCapacity> writes_{};
  std::size_t count_ = 0;
  std::uint64_t changed_ = 0;
};
static_assert(TPriceWrites::kCapacity <= 64);

TTickerPrices TickerOf(const TContractItem& contract) {
  static constexpr std::array<int, 3> kKinds{kBidKind, kOfferKind, kLastKind};
  std::array<PriceEntry, 3> read;
  contract.GetPrices(kKinds, read);
  const auto& [bid, offer, last] = read;
  return {bid.Value, bid.Volume, offer.Value, offer.Volume, last.Value, last.Volume};
}

bool HasHeldOrders(const TClassAPI& api, const TContractKey& key) {
  return api.Orders.IsSyntheticContract(TOrderQ::SyntheticContractKey(key));
}

// A new last trade releases the held synthetic orders it triggers. Only a contract with held
// orders goes to the order list, whose guard every trade would otherwise contend for.
void CheckHeldOrders(TClassAPI& api, const TContractItem& contract, const TContractKey& key) {
  if (HasHeldOrders(api, key)) api.Orders.CheckSyntheticOrders(contract);
}

// --- Price array -------------------------------------------------------------------------------

// The status for every contract of an exchange, or of one commodity of it. The contracts are
// walked over a copy: statuses are written and events posted without the list's lock.
void ApplyStatusToMany(TClassAPI& api, const TBodyNames& names, std::int32_t status) {
  if (!api.Exchanges.FindExchange(names.Exchange)) return;
  const bool oneCommodity = !names.Commodity.empty();
  if (oneCommodity && !api.Commodities.FindCommodity(names.Exchange, names.Commodity)) return;
  std::vector<std::shared_ptr<TContractItem>> contracts;
  {
    TIndexListLock guard(api.Contracts);
    const int count = api.Contracts.Count();
    contracts.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
      contracts.push_back(api.Contracts.At(i));
  }
  for (const auto& contract : contracts) {
    const TContractKey key = contract->Key();
    const std::string_view exchange = TrimView(key.Exchange);
    const std::string_view commodity = TrimView(key.Commodity);
    if (exchange != names.Exchange || (oneCommodity && commodity != names.Commodity)) continue;
    if (contract->Status.exchange(status) == status) continue;
    if (contract->PriceSubscriberCount() > 0)
      AddStatusChangeCallback(exchange, commodity, TrimView(key.ContractDate), status);
  }
}

// The fields of a price array.
struct TPriceArrayFields {
  double Bid, Offer, Last, High, Low, Kind28, Kind29, Kind2, Kind3;
  std::int32_t BidVolume, OfferVolume, TotalVolume, LastVolume, Kind28Volume, Kind2Volume,
      Kind3Volume, Kind4Volume;

  explicit TPriceArrayFields(std::string_view body)
      : Bid(FloatAt(body, 94, 11)),
        Offer(FloatAt(body, 105, 11)),
        Last(FloatAt(body, 116, 11)),
        High(FloatAt(body, 127, 11)),
        Low(FloatAt(body, 138, 11)),
        Kind28(FloatAt(body, 149, 11)),
        Kind29(FloatAt(body, 160, 11)),
        Kind2(FloatAt(body, 248, 11)),
        Kind3(FloatAt(body, 270, 11)),
        BidVolume(IntAt(body, 204, 11)),
        OfferVolume(IntAt(body, 215, 11)),
        TotalVolume(IntAt(body, 226, 11)),
        LastVolume(IntAt(body, 237, 11)),
        Kind28Volume(IntAt(body, 171, 11)),
        Kind2Volume(IntAt(body, 259, 11)),
        Kind3Volume(IntAt(body, 281, 11)),
        Kind4Volume(IntAt(body, 292, 11)) {}
};

// --- Depth of market ---------------------------------------------------------------------------

constexpr std::size_t kLevelWidth = 21;

struct TLevel {
  double Price = 0;
  std::int32_t Volume = 0;
};

// A level record: price (11 characters) then volume (10).
TLevel LevelAt(std::string_view body, std::size_t offset) {
  return {FloatAt(body, offset, 11), IntAt(body, offset + 11, 10)};
}

// The last trade of a depth body is written when its volume is above 0, no price array has
// written the last trade (or the exchange is "EUREX"), and it differs from the stored one.
int AddDepthLastTrade(TPriceWrites& writes, const TContractItem& contract,
                      const TBodyNames& names, const TLevel& last) {
  if (last.Volume <= 0) return -1;
  if ((contract.PriceArrayFlags() & kArrayLast) != 0 && !IsEUREX(names.Exchange)) return -1;
  const PriceEntry stored = contract.GetPrice(kLastKind);
  if (stored.Volume == last.Volume && stored.Value == last.Price) return -1;
  return writes.Add(kLastKind, last.Volume, last.Price);
}

// After a depth body's writes: held orders, then the ticker (17) and depth (21) events.
void FinishDepth(TClassAPI& api, TContractItem& contract, const TBodyNames& names,
                 const TPriceWrites& writes, int bidWrite, int lastWrite) {
  const bool lastChanged = writes.Changed(lastWrite);
  if (lastChanged) CheckHeldOrders(api, contract, contract.Key());
  if (!writes.AnyChanged() || Downloading(api)) return;
  AddTickerCallback(names.Exchange, names.Commodity, names.ContractDate, TickerOf(contract),
                    writes.Changed(bidWrite), false, lastChanged);
  AddDOMCallback(names.Exchange, names.Commodity, names.ContractDate);
}

// --- At best and subscriber depth ----------------------------------------------------------------

bool SameAtBest(const TAtBestPrices& a, const TAtBestPrices& b) {
  if (a.Bid != b.Bid || a.Offer != b.Offer || a.LastBuyer != b.LastBuyer ||
      a.LastSeller != b.LastSeller || a.Entries.size() != b.Entries.size())
    return false;
  return std::equal(a.Entries.begin(), a.Entries.end(), b.Entries.begin(),
                    [](const TAtBest& x, const TAtBest& y) {
                      return x.Code == y.Code && x.Volume == y.Volume && x.Type == y.Type;
                    });
}

bool SameDepth(const std::vector<TSubscriberDepth>& a, const std::vector<TSubscriberDepth>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const TSubscriberDepth& x, const TSubscriberDepth& y) {
                      return x.Price == y.Price && x.Volume == y.Volume && x.Code == y.Code &&
                             x.Type == y.Type;
                    });
}

// The number of entries a body holds: its count (-1 when not a number, so none), cut to the
// entries lying wholly inside the body.
std::size_t EntryCount(std::string_view body, TFixedField count, std::size_t first,
                       std::size_t width) {
  const std::int32_t sent = IntAt(body, count.Offset, count.Width, -1);
  if (sent <= 0) return 0;
  return std::min(static_cast<std::size_t>(sent), WholeEntries(body, first, width));
}

// --- Blanking ----------------------------------------------------------------------------------

// Clears the prices of every price-subscribed contract of the exchange (and commodity, when
// given). The book is copied: a price lock may not be taken under the book's lock.
void ClearSubscribedPrices(TClassAPI& api, std::string_view exchange,
                           std::optional<std::string_view> commodity) {
  for (const TContractKey& key : api.Subscriptions.PriceSubscribed()) {
    if (TrimView(key.Exchange) != exchange) continue;
    if (commodity && TrimView(key.Commodity) != *commodity) continue;
    if (const auto contract = api.Contracts.FindByName(key.Exchange, key.Commodity,
                                                       key.ContractDate))
      contract->ClearPrices(false);
  }
}

void PostBlankPrices(const TClassAPI& api, std::string_view exchange, std::string_view commodity,
                     std::string_view contractDate) {
  if (!Downloading(api)) AddBlankPricesCallback(exchange, commodity, contractDate);
}

// --- Settlement --------------------------------------------------------------------------------

constexpr std::size_t kUntypedSettlementLength = 99;

// The price kind of a settlement type the table keeps; -1 for the others.
int SettlementKind(std::int32_t type) {
  switch (type) {
    case 7:
      return VN_PK_SETTLEMENT_7;
    case 25:
      return VN_PK_SETTLEMENT_25;
    case 24:
      return VN_PK_SETTLEMENT_24;
    default:
      return -1;
  }
}

bool StoresNothing(std::int32_t type) {
  return type >= 33 && type <= 38;
}

void TraceSettlement(const TBodyNames& names, std::string_view priceText) {
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("StlPrice: " + NamesText(names) + " " + std::string(priceText));
}

// Stores a typed settlement price, whatever the download flag says, then posts its event.
void ApplySettlement(const TClassAPI& api, TContractItem& contract, const TBodyNames& names,
                     std::int32_t type, std::string_view date, std::string_view time, double price,
                     bool traceInvalid) {
  const int kind = SettlementKind(type);
  if (kind >= 0)
    contract.SetPrice(kind, 0, price);
  else if (!StoresNothing(type) && traceInvalid)
    WriteTraceLine("invalid settlement type = " + IntToStr(type));
  if (Downloading(api) || type == 23) return;
  AddSettlementCallback(names.Exchange, names.Commodity, names.ContractDate, type, date, time,
                        price);
}

// --- Connectivity ------------------------------------------------------------------------------

constexpr std::array<TFixedField, 10> kConnectivityFields = {{{29, 36},
                                                              {169, 16},
                                                              {185, 16},
                                                              {201, 16},
                                                              {217, 20},
                                                              {237, 255},
                                                              {492, 10},
                                                              {502, 20},
                                                              {522, 14},
                                                              {536, 10}}};
constexpr std::size_t kConnectivityLength = 546;

}  // namespace

// ---------------------------------------------------------------------------------------------

void TMPriceArray::Receive(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMPriceArray.Receive");
  const TBodyNames names = NamesOf(body);
  const bool statusSent = GetFixedField(body, 93, 1) == "1";
  const std::int32_t status = IntAt(body, 303, 11);
  if (statusSent && names.ContractDate.empty()) {
    if (!Downloading(api)) ApplyStatusToMany(api, names, status);
    return;
  }
  const auto contract = FindContract(api, names);
  if (!contract) return;
  const TContractKey key = contract->Key();

  // Everything the writes depend on is read before the first of them.
  const TPriceArrayFields f(body);
  const PriceEntry storedLast = contract->GetPrice(kLastKind);
  const PriceEntry storedTotal = contract->GetPrice(kTotalVolumeKind);
  // "EUREX" sends no last volume of its own: the stored one stays, and is what a repeated trade
  // is recognised by.
  const std::int32_t lastVolume = IsEUREX(names.Exchange) ? storedLast.Volume : f.LastVolume;
  const bool repeatedTrade = f.TotalVolume == storedTotal.Volume &&
                             lastVolume == storedLast.Volume && f.Last == storedLast.Value;
  if (DebugFlagOn(kDebugDebugging) && HasHeldOrders(api, key))
    WriteTraceLine("Synthetic Price Update for " + NamesText(names) + " Last Price\\Volume " +
                   std::string(TextAt(body, 116, 11)) + "\\" + std::string(TextAt(body, 237, 11)));

  TPriceWrites writes;
  const int bidWrite = writes.Add(kBidKind, f.BidVolume, f.Bid);
  const int offerWrite = writes.Add(kOfferKind, f.OfferVolume, f.Offer);
  const int lastWrite = repeatedTrade ? -1 : writes.Add(kLastKind, lastVolume, f.Last);
  writes.Add(VN_PK_HIGH, 0, f.High);
  writes.Add(VN_PK_LOW, 0, f.Low);
  writes.Add(28, f.Kind28Volume, f.Kind28);
  if (f.Kind29 != 0) writes.Add(VN_PK_OWN_LAST, 0, f.Kind29);
  writes.Add(kTotalVolumeKind, f.TotalVolume, 0);
  writes.Add(2, f.Kind2Volume, f.Kind2);
  writes.Add(3, f.Kind3Volume, f.Kind3);
  writes.Add(4, f.Kind4Volume, 0);
  contract->AddPriceArrayFlags(kArrayApplied | kArrayBid | kArrayOffer |
                               (repeatedTrade ? 0 : kArrayLast));
  writes.Apply(*contract);

  const bool downloading = Downloading(api);
  if (statusSent && contract->Status.exchange(status) != status && !downloading)
    AddStatusChangeCallback(names.Exchange, names.Commodity, names.ContractDate, status);
  const bool lastChanged = writes.Changed(lastWrite);
  if (lastChanged) CheckHeldOrders(api, *contract, key);
  if (writes.AnyChanged() && !downloading) {
    AddTickerCallback(names.Exchange, names.Commodity, names.ContractDate, TickerOf(*contract),
                      writes.Changed(bidWrite), writes.Changed(offerWrite), lastChanged);
    AddPriceCallback(names.Exchange, names.Commodity, names.ContractDate);
  }
  api.Snapshots.Answer(key);
}

void TMDOM::Receive(TClassAPI& api, std::string_view body) {
  if (!api.Features.DOMEnabled) return;
  const TBodyNames names = NamesOf(body);
  const auto contract = FindContract(api, names);
  if (!contract) return;

  constexpr std::size_t kFirst = 74;
  constexpr int kLevels = 10;
  std::array<TLevel, 2 * kLevels> levels;
  for (std::size_t i = 0; i < levels.size(); ++i)
    levels[i] = LevelAt(body, kFirst + i * kLevelWidth);
  const TLevel last = LevelAt(body, kFirst + levels.size() * kLevelWidth);

  TPriceWrites writes;
  for (int i = 0; i < kLevels; ++i)
    writes.Add(kBidDepthKind + i, levels[i].Volume, levels[i].Price);
  // The bid is the price array's once it has written one.
  const int bidWrite = (contract->PriceArrayFlags() & kArrayBid) == 0
                           ? writes.Add(kBidKind, levels[0].Volume, levels[0].Price)
                           : -1;
  for (int i = 0; i < kLevels; ++i)
    writes.Add(kOfferDepthKind + i, levels[kLevels + i].Volume, levels[kLevels + i].Price);
  const int lastWrite = AddDepthLastTrade(writes, *contract, names, last);
  writes.Apply(*contract);
  FinishDepth(api, *contract, names, writes, bidWrite, lastWrite);
}

void TMVarDOM::Receive(TClassAPI& api, std::string_view body) {
  if (!api.Features.DOMEnabled) return;
  const TBodyNames names = NamesOf(body);
  const auto contract = FindContract(api, names);
  if (!contract) return;

  constexpr std::size_t kFirst = 153;
  // The offers follow the bids in the same 20 records: together they never name more.
  const int bids = std::clamp(IntAt(body, 149, 2), 0, kDepthLevels);
  const int offers = std::clamp(IntAt(body, 151, 2), 0, kDepthLevels - bids);
  const auto record = [&](int index) { return LevelAt(body, kFirst + index * kLevelWidth); };
  const TLevel last = record(kDepthLevels);

  // Each depth kind is written once, with its level or empty.
  TPriceWrites writes;
  for (int i = 0; i < kDepthLevels; ++i) {
    const TLevel level = i < bids ? record(i) : TLevel{};
    writes.Add(kBidDepthKind + i, level.Volume, level.Price);
  }
  for (int i = 0; i < kDepthLevels; ++i) {
    const TLevel level = i < offers ? record(bids + i) : TLevel{};
    writes.Add(kOfferDepthKind + i, level.Volume, level.Price);
  }
  const int lastWrite = AddDepthLastTrade(writes, *contract, names, last);
  writes.Apply(*contract);
  FinishDepth(api, *contract, names, writes, -1, lastWrite);
}

void TMAtBest::Receive(TClassAPI& api, std::string_view body) {
  const TBodyNames names = NamesOf(body);
  const auto contract = FindContract(api, names);
  if (!contract) return;

  constexpr std::size_t kFirst = 105;
  constexpr std::size_t kWidth = 15;
  TAtBestPrices atBest;
  atBest.LastBuyer = TextAt(body, 74, 3);
  atBest.LastSeller = TextAt(body, 77, 3);
  atBest.Bid = FloatAt(body, 83, 11);
  atBest.Offer = FloatAt(body, 94, 11);
  const std::size_t count = EntryCount(body, {80, 3}, kFirst, kWidth);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kFirst + i * kWidth;
    TAtBest entry;
    entry.Volume = IntAt(body, at + 3, 11);
    if (entry.Volume <= 0) continue;
    entry.Code = TextAt(body, at, 3);
    entry.Type = CharAt(body, at + 14);
    atBest.Entries.push_back(std::move(entry));
  }
  if (SameAtBest(contract->GetAtBest(), atBest)) return;
  contract->SetAtBest(std::move(atBest));
  if (!Downloading(api)) AddAtBestCallback(names.Exchange, names.Commodity, names.ContractDate);
}

void TMSubscriberDepth::Receive(TClassAPI& api, std::string_view body) {
  const TBodyNames names = NamesOf(body);
  const auto contract = FindContract(api, names);
  if (!contract) return;

  constexpr std::size_t kFirst = 77;
  constexpr std::size_t kWidth = 25;
  std::vector<TSubscriberDepth> depth;
  const std::size_t count = EntryCount(body, {74, 3}, kFirst, kWidth);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kFirst + i * kWidth;
    TSubscriberDepth entry;
    entry.Volume = IntAt(body, at + 11, 10);
    if (entry.Volume <= 0) continue;
    entry.Price = FloatAt(body, at, 11);
    entry.Code = TextAt(body, at + 21, 3);
    entry.Type = CharAt(body, at + 24);
    depth.push_back(std::move(entry));
  }
  if (SameDepth(contract->GetSubscriberDepth(), depth)) return;
  contract->SetSubscriberDepth(std::move(depth));
  if (!Downloading(api))
    AddSubscriberDepthCallback(names.Exchange, names.Commodity, names.ContractDate);
}

void TMGenericPrice::Receive(TClassAPI& api, std::string_view body) {
  const TBodyNames names = NamesOf(body);
  const auto contract = FindContract(api, names);
  if (!contract) {
    WriteTraceLine("Generic Price received for unknown contract : " + NamesText(names));
    return;
  }
  if (!contract->IsPermitted()) {
    WriteTraceLine("Generic Price received for untradable contract : " + NamesText(names));
    return;
  }
  const std::string_view typeText = GetFixedField(body, 74, 2);
  const std::int32_t type = SafeStrToInt(typeText, 0);
  const char level = CharAt(body, 76);
  const double price = FloatAt(body, 77, 10);
  const std::int32_t volume = IntAt(body, 87, 10);
  const bool levelOneToFour = level >= '1' && level <= '4';
  switch (type) {
    case 26:
    case 27: {
      const int entry = (level - '0') + (type == 27 ? 4 : 0);
      if (levelOneToFour && contract->SetGenericPrice(entry, volume, price) && !Downloading(api))
        AddGenericPriceCallback(names.Exchange, names.Commodity, names.ContractDate, type, level);
      break;
    }
    case 28: {
      TPriceWrites writes;
      if (level == '1' || level == '3') writes.Add(VN_PK_GENERIC_28_1, volume, price);
      if (level == '2' || level == '3') writes.Add(VN_PK_GENERIC_28_2, volume, price);
      writes.Apply(*contract);
      if (writes.AnyChanged() && !Downloading(api))
        AddPriceCallback(names.Exchange, names.Commodity, names.ContractDate);
      break;
    }
    default:
      WriteTraceLine("Unknown Generic price type received. Type = " + std::string(typeText));
      break;
  }
}

void TMBlankPrices::Receive(TClassAPI& api, std::string_view body) {
  const TBodyNames names = NamesOf(body);
  if (!names.ContractDate.empty()) {
    const auto contract = FindContract(api, names);
    if (!contract) {
      WriteTraceLine("Price Blanking received for unknown contract : " + NamesText(names));
      return;
    }
    contract->ClearPrices(false);
    PostBlankPrices(api, names.Exchange, names.Commodity, names.ContractDate);
  } else if (!names.Commodity.empty()) {
    if (!api.Commodities.FindCommodity(names.Exchange, names.Commodity)) {
      WriteTraceLine("Price Blanking received for unknown Commodity : " +
                     std::string(names.Exchange) + "\\" + std::string(names.Commodity));
      return;
    }
    ClearSubscribedPrices(api, names.Exchange, names.Commodity);
    PostBlankPrices(api, names.Exchange, names.Commodity, {});
  } else if (!names.Exchange.empty()) {
    if (!api.Exchanges.FindExchange(names.Exchange)) {
      WriteTraceLine("Price Blanking received for unknown Exchange : " +
                     std::string(names.Exchange));
      return;
    }
    ClearSubscribedPrices(api, names.Exchange, std::nullopt);
    PostBlankPrices(api, names.Exchange, {}, {});
  }
}

void TMSettlementPrice::Receive(TClassAPI& api, std::string_view body) {
  const TBodyNames names = NamesOf(body);
  const auto contract = FindContract(api, names);
  if (!contract) return;
  const std::string_view priceText = TextAt(body, 74, 11);
  if (priceText.empty()) return;
  const double price = SafeStrToFloat(priceText, 0);
  TraceSettlement(names, priceText);
  const std::string_view date = GetFixedField(body, 85, 8);
  const std::string_view time = GetFixedField(body, 93, 6);
  if (body.size() == kUntypedSettlementLength) {
    // The untyped form is the contract's own settlement price, and type 0.
    const bool changed = contract->SetPrice(VN_PK_OWN_LAST, 0, price);
    if (Downloading(api)) return;
    if (changed) AddPriceCallback(names.Exchange, names.Commodity, names.ContractDate);
    AddSettlementCallback(names.Exchange, names.Commodity, names.ContractDate, 0, date, time,
                          price);
    return;
  }
  ApplySettlement(api, *contract, names, IntAt(body, 99, 2), date, time, price, true);
}

void TMSettlementPrice::ReceiveFields(TClassAPI& api, TFieldsList& fields) {
  const std::string exchange = fields.BoundedValue("Ex", kExchangeNameWidth);
  const std::string commodity = fields.BoundedValue("C", kCommodityNameWidth);
  const std::string contractDate = fields.BoundedValue("CD", kContractDateWidth);
  const TBodyNames names{exchange, commodity, contractDate};
  const auto contract = FindContract(api, names);
  if (!contract) return;
  const std::string priceText = Trim(fields.Value("Pr"));
  if (priceText.empty()) return;
  const double price = SafeStrToFloat(priceText, 0);
  TraceSettlement(names, priceText);
  ApplySettlement(api, *contract, names, fields.IntValue("PT"), "0", "0", price, false);
}

void TMConnectivityStatus::Receive(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMConnectivity.Receive");
  if (body.size() < kConnectivityLength) return;
  std::array<std::string_view, kConnectivityFields.size()> texts;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    texts[i] = body.substr(kConnectivityFields[i].Offset, kConnectivityFields[i].Width);
    if (texts[i].find('\0') != std::string_view::npos) return;
  }
  for (std::size_t i = 1; i <= 3; ++i)
    if (SafeStrToInt(texts[i], 0) == 0) return;
  if (!Downloading(api)) AddConnectivityStatusCallback(texts);
}

void TMBroadcastMsg::Receive(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMBroadcastMsg.Receive");
  auto message = std::make_shared<TUserMessage>();
  message->SetSequence(IntToStr(api.NextLocalMessageSequence()));
  message->IsAlert = alNormal;
  message->Status = altPending;
  message->Content = std::string(TextAt(body, 4, 10)) + ": " + std::string(TextAt(body, 14, 500));
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("Broadcast Message: " + message->Sequence() + ": " + message->Content);
  if (!api.UserMessages.Add(message).Added) return;
  if (api.NotifyAllMessages && !Downloading(api)) AddMessageCallback(message->Sequence());
}

}  // namespace vorn
