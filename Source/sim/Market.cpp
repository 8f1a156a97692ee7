#include "sim/Market.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/PriceStep.h"
#include "core/util/Conversions.h"
#include "core/util/NumberText.h"
#include "sim/ContractOrderList.h"

namespace vorn::sim {
namespace {

constexpr int kBidKind = VN_PK_BID;
constexpr int kOfferKind = VN_PK_OFFER;
constexpr int kLastTradeKind = VN_PK_LAST_TRADE;
constexpr int kTotalVolumeKind = VN_PK_TOTAL_VOLUME;
constexpr int kHighKind = VN_PK_HIGH;
constexpr int kLowKind = VN_PK_LOW;
constexpr int kBidDepthKind = VN_PK_BID_DEPTH;
constexpr int kOfferDepthKind = VN_PK_OFFER_DEPTH;
constexpr int kDepthLevels = VN_PK_DEPTH_LEVELS;
constexpr int kReferenceKind = VN_PK_GENERIC_28_2;  // the fallback reference price
constexpr std::uint32_t kTracedPriceBits = 1 | 2 | 32;

constexpr char kAddAnOrder[] = "TAutoDemo.AddAnOrder";
constexpr char kPullAnOrder[] = "TAutoDemo.PullAnOrder";
constexpr char kAddContract[] = "TMarket.AddContract";

bool IsZeroPrice(double price) { return std::fabs(price) < 0.00000001; }


bool LimitUsable(double limit) { return std::isfinite(limit) && std::fabs(limit) <= kMaxDOMPrice; }

double BestPrice(TDOMList& side, bool bidSide) {
  const TDOMPrice* best = bidSide ? side.Last() : side.First();
  return best ? best->Price : 0;
}

void TracePrices(const TContractOrderList& book) {
  if (!DebugFlagOn(kGeneratePriceFeedLog)) return;
  const TContractItem& contract = *book.Contract();
  const std::uint32_t mask = contract.ChangeMask();
  if ((mask & kTracedPriceBits) == 0) return;
  std::string line = "Price for " + book.Description() + ":";
  if (mask & 1) line += " Bid: " + FloatToStr(contract.GetPrice(kBidKind).Value);
  if (mask & 2) line += " Offer: " + FloatToStr(contract.GetPrice(kOfferKind).Value);
  if (mask & 32) line += " Last: " + FloatToStr(contract.GetPrice(kReferenceKind).Value);
  WriteTraceLine(line);
}

void PostPriceEvent(const TContractItem& contract) {
  if (contract.PriceSubscriberCount() <= 0) return;
  const TContractKey key = contract.Key();
  AddPriceCallback(key.Exchange, key.Commodity, key.ContractDate);
}

// One side's best entry and depth: written where they differ from the table, the depth past
// the last level (up to the twentieth) as (0, 0) every time. The levels run from first to last,
// best first. (An iterator pair, not a range view: clang 14 cannot instantiate the GCC 12
// library's std::ranges::subrange, and the fuzz build compiles this file with it.)
template <class Level>
void WriteSide(TContractItem& contract, Level first, Level last, int bestKind, int depthKind) {
  std::array<int, 1 + kDepthLevels> kinds{};
  kinds[0] = bestKind;
  for (int i = 0; i < kDepthLevels; ++i) kinds[1 + i] = depthKind + i;
  std::array<PriceEntry, 1 + kDepthLevels> held{};
  contract.GetPrices(kinds, held);

  std::array<TPriceWrite, 1 + kDepthLevels> writes{};
  std::size_t written = 0;
  const auto differs = [](const PriceEntry& entry, const TDOMPrice& level) {
    return entry.Value != level.Price || entry.Volume != level.LevelTotal();
  };
  int depth = 0;
  if (first == last) {
    if (held[0].Volume != 0) writes[written++] = {bestKind, 0, 0};
  } else {
    auto level = first;
    if (differs(held[0], level->second))
      writes[written++] = {bestKind, level->second.LevelTotal(), level->second.Price};
    for (; depth < kDepthLevels && level != last; ++depth, ++level) {
      if (differs(held[1 + depth], level->second))
        writes[written++] = {depthKind + depth, level->second.LevelTotal(), level->second.Price};
    }
  }
  for (; depth < kDepthLevels; ++depth) writes[written++] = {depthKind + depth, 0, 0};
  contract.SetPrices(std::span<const TPriceWrite>(writes.data(), written));
}

}  // namespace

TMarket::TMarket(TRandomSource& random, TMarketServices services)
    : random_(random), services_(std::move(services)) {}

TMarket::~TMarket() = default;

// --- The list of books ---------------------------------------------------------------------

std::shared_ptr<TContractOrderList> TMarket::AddContract(
    const std::shared_ptr<TContractItem>& contract, double upper, double lower,
    std::int32_t lotLimit) {
  if (!contract) return nullptr;
  const std::string description = contract->GetDescription();
  if (!contract->Listed()) {
    WriteTraceLine("No book for " + description + ": the contract is not in the contract list");
    return nullptr;
  }
  const auto facts = contract->CommodityFacts();
  if (!facts || !std::isfinite(facts->TickSize) || facts->TickSize <= 0 ||
      facts->TicksPerPoint < 1) {
    WriteTraceLine("No book for " + description +
                   ": its commodity has no tick size or ticks per point");
    return nullptr;
  }
  if (!LimitUsable(upper) || !LimitUsable(lower) || upper < lower) {
    WriteTraceLine("No book for " + description + ": price limits " + FloatToStr(upper) + " / " +
                   FloatToStr(lower) + " are not usable");
    return nullptr;
  }
  auto book = std::make_shared<TContractOrderList>(contract, TContractList::KeyOf(*contract),
                                                   upper, lower, std::max(lotLimit, 0),
                                                   facts->TickSize, facts->TicksPerPoint);
  std::lock_guard guard(listLock_);
  if (!books_.Add(book)) {
    AddTraceEntry(tlNote, kAddContract, "Book exists for ", description);
    return nullptr;
  }
  LayOutLotRangesLocked();
  return book;
}

void TMarket::LayOutLotRangesLocked() {
  std::int32_t running = 0;
  for (const auto& [key, book] : books_.Books()) {
    book->SetLotRangeStart(running);
    running = SaturatedLots(std::int64_t{running} + book->LotLimit());
  }
}

std::shared_ptr<TContractOrderList> TMarket::Find(const TContractItem& contract) const {
  const std::string key = TContractList::KeyOf(contract);
  std::lock_guard guard(listLock_);
  return books_.Find(key);
}

std::size_t TMarket::Count() const {
  std::lock_guard guard(listLock_);
  return books_.Count();
}

std::vector<std::shared_ptr<TContractOrderList>> TMarket::Books() const {
  std::vector<std::shared_ptr<TContractOrderList>> books;
  std::lock_guard guard(listLock_);
  books.reserve(books_.Count());
  for (const auto& [key, book] : books_.Books()) books.push_back(book);
  return books;
}

void TMarket::Reset() {
  TContractList::TBooks dropped;
  {
    std::lock_guard guard(listLock_);
    dropped = books_.Books();
    books_.Clear();
  }
}

// --- Passes ----------------------------------------------------------------------------------

void TMarket::SeedMarket() {
  for (const auto& book : Books()) SeedBook(*book);
}

void TMarket::SeedBook(TContractOrderList& book) {
  std::lock_guard guard(book.Lock());
  AddAnOrder(book, true);
  CheckOrders(book);
  CheckPrices(book);

  // A run of levels on each side of the best bid, read from the book (the table a subscriber's
  // drop may have emptied); levels outside the limits are left out, their lots drawn all the
  // same.
  const auto addRun = [&](bool bidSide) {
    const double bestBid = BestPrice(book.Bids, true);
    const double base = IsZeroPrice(bestBid) ? book.StartPrice() : bestBid;
    const std::int32_t levels = random_.Random(19) + 1;
    for (std::int32_t i = 1; i <= levels; ++i) {
      const std::int32_t ticks = bidSide ? -(i + 1) : i;
      const double price =
          RoundPrice7(PriceStep(base, book.TickSize(), ticks, book.TicksPerPoint()));
      const std::int32_t lots = 1 + random_.Random(book.LotLimit());
      if (price > book.UpperLimit() || price < book.LowerLimit()) continue;
      AddToDOMLevel(book, bidSide, lots, true, price);
    }
    CheckOrders(book);
    CheckPrices(book);
  };
  addRun(false);
  addRun(true);

  AddAnOrder(book, random_.Random(2) == 1);
  CheckOrders(book);
  CheckPrices(book);
}

void TMarket::Step() {
  for (const auto& book : Books()) StepBook(*book);
}

void TMarket::StepBook(TContractOrderList& book) {
  std::lock_guard guard(book.Lock());
  if (random_.Random(5) != 0 || !PullAnOrder(book)) AddAnOrder(book, random_.Random(2) == 1);
  CheckOrders(book);
  CheckPrices(book);
}

// --- One book ------------------------------------------------------------------------------

void TMarket::AddAnOrder(TContractOrderList& book, bool bidSide) {
  AddTraceEntry(tlStart, "TAutoDemo.AddAnOrder: Generated", book.Description());
  // The best prices are the book's own: CheckPrices writes them into kinds 0 and 1 after every
  // change, so they are what the table holds unless a reader dropped it meanwhile.
  const double bestBid = BestPrice(book.Bids, true);
  const double bestOffer = BestPrice(book.Offers, false);
  double reference = 0;
  std::int32_t offset = 0;
  if (bidSide) {
    reference = IsZeroPrice(bestBid) ? bestOffer : bestBid;
    offset = random_.Random(15);
    offset -= random_.Random(30);
  } else {
    reference = IsZeroPrice(bestOffer) ? bestBid : bestOffer;
    offset = random_.Random(30);
    offset -= random_.Random(15);
  }
  if (IsZeroPrice(reference)) reference = book.Contract()->GetPrice(kReferenceKind).Value;
  if (IsZeroPrice(reference) || !LimitUsable(reference)) reference = book.StartPrice();

  const double tick = book.TickSize();
  const std::int32_t tpp = book.TicksPerPoint();
  double price = RoundPrice7(PriceStep(reference, tick, offset, tpp));
  // Moved back inside the limits by no more ticks than the band holds.
  if (price > book.UpperLimit()) {
    const std::int32_t back = std::min(random_.Random(30), book.BandTicks());
    price = RoundPrice7(PriceStep(book.UpperLimit(), tick, -back, tpp));
  } else if (!(price >= book.LowerLimit())) {
    const std::int32_t up = std::min(random_.Random(30), book.BandTicks());
    price = RoundPrice7(PriceStep(book.LowerLimit(), tick, up, tpp));
  }
  const std::int32_t lots = 1 + random_.Random(book.LotLimit());
  AddToDOMLevel(book, bidSide, lots, true, price);
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("Order Added: " + book.Description() + ", Price=" + FloatToStr(price) +
                   ", Lots=" + IntToStr(lots));
  AddTraceEntry(tlExit, kAddAnOrder);
}

void TMarket::AddToDOMLevel(TContractOrderList& book, bool bidSide, std::int32_t lots,
                            bool simulated, double price) {
  if (lots <= 0) return;
  TDOMPrice* level = (bidSide ? book.Bids : book.Offers).FindOrAdd(price);
  if (!level) {
    WriteTraceLine("No level for price " + FloatToStr(price) + " of " + book.Description());
    return;
  }
  book.LastSideBid = bidSide;
  if (simulated)
    level->Simulated = SaturatedLots(std::int64_t{level->Simulated} + lots);
  else
    level->Users += lots;
}

bool TMarket::PullAnOrder(TContractOrderList& book) {
  AddTraceEntry(tlStart, kPullAnOrder);
  std::vector<TDOMPrice*> pullable;
  for (auto* side : {&book.Bids, &book.Offers})
    for (auto& [key, level] : side->Levels())
      if (level.Simulated > 0) pullable.push_back(&level);
  bool pulled = false;
  if (!pullable.empty()) {
    TDOMPrice& level = *pullable[static_cast<std::size_t>(
        random_.Random(static_cast<std::int32_t>(pullable.size())))];
    level.Simulated -= random_.Random(level.Simulated);
    pulled = true;
  }
  AddTraceEntry(tlExit, kPullAnOrder);
  return pulled;
}

TTradeRange TMarket::CheckOrders(TContractOrderList& book) {
  TTradeRange range;
  auto& bids = book.Bids.Levels();
  auto& offers = book.Offers.Levels();
  while (!bids.empty() && !offers.empty()) {
    const auto bid = std::prev(bids.end());
    const auto offer = offers.begin();
    if (bid->first < offer->first) break;
    const std::int32_t lots = std::min(bid->second.LevelTotal(), offer->second.LevelTotal());
    // A level that holds nothing is dropped: each round frees at least one level.
    if (lots <= 0) {
      if (bid->second.LevelTotal() <= 0) bids.erase(bid);
      if (offer->second.LevelTotal() <= 0) offers.erase(offer);
      continue;
    }
    const double price = book.LastSideBid ? offer->second.Price : bid->second.Price;
    if (DebugFlagOn(kDebugging))
      WriteTraceLine("Trade: " + book.Description() + " " + IntToStr(lots) + " @ " +
                     FloatToStr(price));
    const std::int32_t takenBid = RemoveFromDOM(book, bid->second, lots, price, true);
    const std::int32_t takenOffer = RemoveFromDOM(book, offer->second, lots, price, false);
    // Both levels hold at least the lots, so each round takes them; should one ever not give
    // its share, the match stops rather than trade the other side away.
    if (takenBid != lots || takenOffer != lots) {
      WriteTraceLine("Match of " + book.Description() + " stopped: " + IntToStr(takenBid) +
                     " / " + IntToStr(takenOffer) + " of " + IntToStr(lots) + " lots taken");
      if (bid->second.LevelTotal() <= 0) bids.erase(bid);
      if (offer->second.LevelTotal() <= 0) offers.erase(offer);
      break;
    }
    if (bid->second.LevelTotal() <= 0) bids.erase(bid);
    if (offer->second.LevelTotal() <= 0) offers.erase(offer);
    UpdateLastTrade(book, lots, price);
    if (range.Trades == 0 || price > range.High) range.High = price;
    if (range.Trades == 0 || price < range.Low) range.Low = price;
    ++range.Trades;
  }
  if (range.Trades > 0) CheckStops(book, range.High, range.Low);
  return range;
}

void TMarket::CheckPrices(TContractOrderList& book) {
  TContractItem& contract = *book.Contract();
  const std::uint32_t remembered = contract.ChangeMask();
  const auto& bids = book.Bids.Levels();
  const auto& offers = book.Offers.Levels();
  WriteSide(contract, bids.rbegin(), bids.rend(), kBidKind, kBidDepthKind);
  WriteSide(contract, offers.begin(), offers.end(), kOfferKind, kOfferDepthKind);
  TracePrices(book);
  if (contract.ChangeMask() != remembered) PostPriceEvent(contract);
}

void TMarket::UpdateLastTrade(TContractOrderList& book, std::int32_t lots, double price) {
  TContractItem& contract = *book.Contract();
  constexpr std::array<int, 3> kinds{kTotalVolumeKind, kHighKind, kLowKind};
  std::array<PriceEntry, 3> held{};
  contract.GetPrices(kinds, held);
  const std::int32_t traded = held[0].Volume;

  std::array<TPriceWrite, 4> writes{};
  std::size_t written = 0;
  writes[written++] = {kLastTradeKind, lots, price};
  writes[written++] = {kTotalVolumeKind, SaturatedLots(std::int64_t{traded} + lots), 0};
  if (traded == 0 || price > held[1].Value) writes[written++] = {kHighKind, 0, price};
  if (traded == 0 || price < held[2].Value) writes[written++] = {kLowKind, 0, price};
  contract.SetPrices(std::span<const TPriceWrite>(writes.data(), written));

  TracePrices(book);
  PostPriceEvent(contract);
  if (services_.CheckSyntheticOrders) services_.CheckSyntheticOrders(contract);
}

}  // namespace vorn::sim
