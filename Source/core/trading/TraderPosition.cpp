#include "core/trading/TraderPosition.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <utility>

#include "core/diag/Trace.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/OrderType.h"
#include "core/trading/OrderList.h"
#include "core/trading/TraderAccount.h"
#include "core/util/Conversions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

// Guards the Position member of every contract while a position is made for it.
TProcessWide<std::mutex> positionSlotLock;

// The order list's lock, when there are order services, then the fill list's.
class TOrderAndFillLock {
 public:
  explicit TOrderAndFillLock(const TFillQ& fills) : fills_(fills) {
    services_ = GetOrderServices();
    if (services_) services_->Orders().Lock();
    fills_.Lock();
  }
  TOrderAndFillLock(const TOrderAndFillLock&) = delete;
  TOrderAndFillLock& operator=(const TOrderAndFillLock&) = delete;
  ~TOrderAndFillLock() {
    fills_.Unlock();
    if (services_) services_->Orders().Unlock();
  }

 private:
  const TFillQ& fills_;
  std::shared_ptr<IOrderServices> services_;
};

std::shared_ptr<TOrderItem> CurrentOrder(std::string_view orderID) {
  auto services = GetOrderServices();
  if (!services || orderID.empty()) return nullptr;
  auto history = services->FindOrderList(orderID);
  return history ? history->GetCurrent() : nullptr;
}

// The same under TOrderAndFillLock, read in place: the order list's lock is held, and taking the
// history's lock after the fill list's would invert the lock order. Valid while the lock is held.
const TOrderItem* ListedHead(std::string_view orderID) {
  auto services = GetOrderServices();
  if (!services || orderID.empty()) return nullptr;
  auto history = services->FindOrderList(orderID);
  return history ? history->PeekHead() : nullptr;
}

// Lot counts saturate instead of wrapping.
std::int32_t AddLots(std::int32_t a, std::int64_t b) {
  return SaturatedLots(a + b);
}

}  // namespace

std::string PositionAccountName(std::string_view name) {
  const std::string_view trimmed = TrimView(name);
  return std::string(trimmed.substr(0, std::min(trimmed.size(), kPositionAccountLength)));
}

std::int32_t TNettedFillList::TotalLots() const {
  if (nonPositive_ == 0) return SaturatedLots(lotSum_);
  std::int32_t total = 0;
  for (const auto& fill : Fills)
    total = AddLots(total, fill.Lots);
  return total;
}

void TNettedFillList::Clear() {
  Fills.clear();
  lotSum_ = 0;
  nonPositive_ = 0;
}

void TNettedFillList::Append(const TPosFill& fill) {
  Fills.push_back(fill);
  lotSum_ += fill.Lots;
  if (fill.Lots <= 0) ++nonPositive_;
}

void TNettedFillList::EraseFront() {
  const std::int32_t lots = Fills.front().Lots;
  Fills.erase(Fills.begin());
  lotSum_ -= lots;
  if (lots <= 0) --nonPositive_;
}

// The front fill keeps more than `lots` (above 0), so it stays above 0 too.
void TNettedFillList::TakeFromFront(std::int32_t lots) {
  Fills.front().Lots -= lots;
  lotSum_ -= lots;
}

double TNettedFillList::AveragePrice() const {
  double value = 0;
  std::int64_t lots = 0;
  for (const auto& fill : Fills) {
    value += TickNotationToDecimal(fill.TicksPerPoint, fill.Price) * fill.Lots;
    lots += fill.Lots;
  }
  return lots == 0 ? 0.0 : value / lots;
}

void NetFill(TNettedFillList& list, const TPosFill& fill, TPurchase& side) {
  list.TicksPerPoint = std::max(list.TicksPerPoint, fill.TicksPerPoint);
  if (list.Fills.empty() || fill.Side == side) {
    list.Append(fill);
    side = fill.Side;
    return;
  }
  // The fill closes open fills, oldest first.
  std::int32_t remaining = fill.Lots;
  const std::int32_t open = list.TotalLots();
  if (open > remaining) {
    while (remaining > 0 && !list.Fills.empty()) {
      const std::int32_t first = list.Fills.front().Lots;
      if (first > remaining) {
        list.TakeFromFront(remaining);
        remaining = 0;
      } else {
        remaining -= first;
        list.EraseFront();
      }
    }
  } else {
    remaining -= open;
    list.Clear();
  }
  if (list.Fills.empty() && remaining > 0) {
    TPosFill rest = fill;
    rest.Lots = remaining;
    list.Append(rest);
    side = fill.Side;
  }
}

// ---------------------------------------------------------------------------------------------

TPositionRecord* TTraderPosition::FindLocked(const std::string& account) {
  for (auto& record : records_)
    if (record.Account == account) return &record;
  return nullptr;
}

const TPositionRecord* TTraderPosition::FindLocked(const std::string& account) const {
  for (const auto& record : records_)
    if (record.Account == account) return &record;
  return nullptr;
}

void TTraderPosition::Touch(TPositionRecord& record) {
  record.Version = ++nextVersion_;
  record.PLTerm.reset();
}

bool TTraderPosition::AddFill(const TPositionFill& fill) {
  if (fill.Lots <= 0) return false;
  const std::string account = PositionAccountName(fill.Account);
  std::lock_guard guard(lock_);
  const bool wasEmpty = records_.empty();
  TPositionRecord* record = FindLocked(account);
  if (!record) {
    records_.emplace_back();
    record = &records_.back();
    record->Account = account;
  }
  Touch(*record);
  TPosFill entry;
  entry.Lots = fill.Lots;
  entry.Price = fill.Price;
  entry.TicksPerPoint = fill.TicksPerPoint;
  entry.Side = fill.Side;
  NetFill(record->Netted, entry, record->Side);

  const std::int32_t signedLots = fill.Side == Buy ? fill.Lots : -fill.Lots;
  const std::int32_t ticks = record->Netted.TicksPerPoint;
  bool optionRuleApplied = false;
  if (fill.OptionRules) {
    // n: the start-of-day long lots (0 until that position has arrived).
    const std::int32_t n = record->Netted.StartOfDay.LongLots;
    const std::int32_t coveredLeft = n - record->ShortPosn;
    if (coveredLeft + signedLots >= 0 && n > 0 && coveredLeft >= 0) {
      record->CurrentPL = 0.0;
      if (fill.Side == Buy) {
        record->LastPrice = fill.Price;
        record->OptionPL +=
            (record->LongPosn - n) * TickNotationDifference(ticks, fill.Price, record->SecondPrice);
      }
      record->SecondPrice = fill.Price;
      optionRuleApplied = true;
    } else if (coveredLeft + signedLots < 0 && coveredLeft > 0) {
      record->CurrentPL +=
          (record->LongPosn - n) * TickNotationDifference(ticks, fill.Price, record->LastPrice);
      record->LastPrice = fill.Price;
      optionRuleApplied = true;
    }
  }
  if (!optionRuleApplied) {
    const double difference = TickNotationDifference(ticks, fill.Price, record->LastPrice);
    record->CurrentPL =
        (record->LongPosn - record->ShortPosn) * difference + record->CurrentPL + record->OptionPL;
    record->OptionPL = 0.0;
    record->LastPrice = fill.Price;
  }
  if (fill.Side == Buy)
    record->LongPosn = AddLots(record->LongPosn, fill.Lots);
  else
    record->ShortPosn = AddLots(record->ShortPosn, fill.Lots);

  if (DebugFlagOn(kDebugging))
    WriteTraceLine("AddFill - CurrentPL " + FloatToStr(record->CurrentPL) +
                   "\r\n          LastPrice " + FloatToStr(record->LastPrice) +
                   "\r\n          LongPosn  " + IntToStr(record->LongPosn) +
                   "\r\n          ShortPosn " + IntToStr(record->ShortPosn));
  return wasEmpty;
}

void TTraderPosition::ClearAccount(std::string_view account) {
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  TPositionRecord* record = FindLocked(name);
  if (!record) return;
  Touch(*record);
  record->Netted.Clear();
  record->Side = Buy;
  record->LongPosn = 0;
  record->ShortPosn = 0;
  record->LastPrice = 0;
  record->SecondPrice = 0;
  record->CurrentPL = 0;
  record->OptionPL = 0;
}

bool TTraderPosition::ApplyEndOfSession(std::string_view account, std::int32_t buyLots,
                                        double price, std::int32_t sellLots) {
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  bool applied = false;
  for (auto& record : records_) {
    if (record.Account != name) continue;
    applied = true;
    Touch(record);
    record.Netted.Clear();
    record.LongPosn = buyLots;
    record.ShortPosn = sellLots;
    record.LastPrice = price;
    record.SecondPrice = 0;
    record.CurrentPL = 0;
    record.OptionPL = 0;
    record.Side = buyLots > sellLots ? Buy : Sell;
    TPositionFigures& eos = record.Netted.EndOfSession;
    eos.Account = name;
    eos.LongLots = buyLots;
    eos.ShortLots = sellLots;
    eos.Price = price;
    TPositionFigures& sod = record.Netted.StartOfDay;
    sod.Account = name;
    sod.LongLots = 0;
    sod.ShortLots = 0;
    sod.Price = 0;
  }
  return applied;
}

void TTraderPosition::SetStartOfDay(std::string_view account, const TPositionFigures& figures) {
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  TPositionRecord* record = FindLocked(name);
  if (!record) {
    records_.emplace_back();
    record = &records_.back();
    record->Account = name;
  }
  Touch(*record);
  record->Netted.StartOfDay = figures;
}

std::int32_t TTraderPosition::TakeCoverLots(std::string_view account, std::int32_t wanted) {
  if (wanted <= 0) return 0;
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  TPositionRecord* record = FindLocked(name);
  if (!record) return 0;
  std::int32_t& free = record->Netted.StartOfDay.LongLots2;
  const std::int32_t taken = std::min(wanted, std::max(free, 0));
  free -= taken;
  return taken;
}

double TTraderPosition::GetAveragePrice(std::string_view account) const {
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  const TPositionRecord* record = FindLocked(name);
  return record ? record->Netted.AveragePrice() : 0.0;
}

std::int32_t TTraderPosition::GetNettedLots(std::string_view account) const {
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  const TPositionRecord* record = FindLocked(name);
  return record ? record->Netted.TotalLots() : 0;
}

std::uint8_t TTraderPosition::GetPositionSide(std::string_view account) const {
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  const TPositionRecord* record = FindLocked(name);
  return record ? static_cast<std::uint8_t>(record->Side) : 0;
}

std::optional<TPositionRecord> TTraderPosition::GetAccountPosition(std::string_view account) const {
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  const TPositionRecord* record = FindLocked(name);
  if (!record) return std::nullopt;
  return *record;
}

std::optional<TPositionSummary> TTraderPosition::GetAccountFigures(
    std::string_view account, std::vector<TPosFill>* fills) const {
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  const TPositionRecord* record = FindLocked(name);
  if (!record) return std::nullopt;
  TPositionSummary summary;
  summary.Version = record->Version;
  summary.Side = record->Side;
  summary.LongPosn = record->LongPosn;
  summary.ShortPosn = record->ShortPosn;
  summary.LastPrice = record->LastPrice;
  summary.SecondPrice = record->SecondPrice;
  summary.CurrentPL = record->CurrentPL;
  summary.OptionPL = record->OptionPL;
  summary.TicksPerPoint = record->Netted.TicksPerPoint;
  summary.TotalLots = record->Netted.TotalLots();
  const TPositionFigures& sod = record->Netted.StartOfDay;
  summary.StartOfDaySet = !sod.Account.empty();
  summary.StartOfDayLong = sod.LongLots;
  summary.StartOfDayShort = sod.ShortLots;
  summary.PLTerm = record->PLTerm;
  if (fills) *fills = record->Netted.Fills;
  return summary;
}

void TTraderPosition::KeepPLTerm(std::string_view account, const TContractPLTerm& term) {
  const std::string name = PositionAccountName(account);
  std::lock_guard guard(lock_);
  TPositionRecord* record = FindLocked(name);
  if (record && record->Version == term.Version) record->PLTerm = term;
}

std::vector<TPositionRecord> TTraderPosition::GetRecords() const {
  std::lock_guard guard(lock_);
  return records_;
}

bool TTraderPosition::Empty() const {
  std::lock_guard guard(lock_);
  return records_.empty();
}

void TTraderPosition::Clear() {
  std::vector<TPositionRecord> dropped;
  std::lock_guard guard(lock_);
  dropped.swap(records_);
}

std::shared_ptr<TTraderPosition> PositionOf(TContractItem& contract) {
  std::lock_guard guard(positionSlotLock.Get());
  if (!contract.Position) contract.Position = std::make_shared<TTraderPosition>();
  return contract.Position;
}

std::shared_ptr<TTraderPosition> ExistingPositionOf(const TContractItem& contract) {
  std::lock_guard guard(positionSlotLock.Get());
  return contract.Position;
}

TCoverLots StartOfDayCover(const TContractItem& contract, const std::string& account) {
  return [&contract, &account](std::int32_t wanted) -> std::int32_t {
    const auto position = ExistingPositionOf(contract);
    return position ? position->TakeCoverLots(account, wanted) : 0;
  };
}

// ---------------------------------------------------------------------------------------------

TPositionFill TPositionBook::FactsOf(const TFill& fill) const {
  TPositionFill facts;
  facts.Account = fill.GetAccountName();
  facts.Side = fill.BuySell;
  facts.Lots = fill.Lots;
  facts.Price = fill.Price;
  const TOrderItem* order = ListedHead(fill.OrderID);
  if (order && order->Contract)
    facts.TicksPerPoint = order->Contract->GetTicksPerPoint();
  else if (fill.Contract)
    facts.TicksPerPoint = fill.Contract->GetTicksPerPoint();
  facts.OptionRules =
      lists_.MarginMode.load() && fill.Contract && fill.Contract->IsOption() && !fill.IsSODFill;
  return facts;
}

TAddResult TPositionBook::AddFill(const std::shared_ptr<TFill>& fill) {
  TOrderAndFillLock guard(lists_.Fills);
  const TAddResult result = lists_.Fills.Add(fill);
  if (result.Added) ApplyFill(*fill);
  return result;
}

void TPositionBook::ApplyFill(const TFill& fill) {
  TOrderAndFillLock guard(lists_.Fills);
  if (fill.Account && fill.Contract) fill.Account->AddTradedContract(fill.Contract->Key());
  if (fill.FillType == fltpRETAINED || !fill.Contract || fill.Lots <= 0) return;
  const TPositionFill facts = FactsOf(fill);
  if (PositionOf(*fill.Contract)->AddFill(facts)) lists_.Contracts.AddStoredContract(fill.Contract);
  if (fill.Account) fill.Account->SetPosDirty(true);
}

void TPositionBook::RebuildAccount(const std::shared_ptr<TContractItem>& contract,
                                   std::string_view account) {
  if (!contract) return;
  const std::string name = PositionAccountName(account);
  TOrderAndFillLock guard(lists_.Fills);
  PositionOf(*contract)->ClearAccount(name);
  for (const auto& fill : lists_.Fills.Snapshot())
    if (fill->Contract == contract && PositionAccountName(fill->GetAccountName()) == name)
      ApplyFill(*fill);
  if (auto found = lists_.Accounts.FindAccount(account)) found->SetPosDirty(true);
}

void TPositionBook::RebuildAllPositions() {
  TOrderAndFillLock guard(lists_.Fills);
  const auto fills = lists_.Fills.Snapshot();
  std::set<std::pair<const TContractItem*, std::string>> cleared;
  for (const auto& fill : fills) {
    if (!fill->Contract) continue;
    std::string name = PositionAccountName(fill->GetAccountName());
    if (cleared.emplace(fill->Contract.get(), name).second)
      PositionOf(*fill->Contract)->ClearAccount(name);
  }
  for (const auto& fill : fills)
    ApplyFill(*fill);
}

void TPositionBook::ClearPositions() {
  std::vector<std::shared_ptr<TContractItem>> contracts;
  {
    TIndexListLock guard(lists_.Contracts);
    const int count = lists_.Contracts.Count();
    contracts.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
      contracts.push_back(lists_.Contracts.At(i));
  }
  for (const auto& contract : contracts)
    if (auto position = ExistingPositionOf(*contract)) position->Clear();
}

void TPositionBook::EndOfSession(const TExchange& exchange) {
  // Totals per account and contract: an account's totals on one contract never mix with
  // another contract's.
  struct TNode {
    std::shared_ptr<TTraderAccountItem> Account;
    std::shared_ptr<TContractItem> Contract;
    std::int32_t BuyLots = 0;
    double LastBuyPrice = 0;
    std::int32_t SellLots = 0;
    double LastSellPrice = 0;
    double CashValue = 0;
  };
  std::vector<TNode> nodes;
  const auto fills = lists_.Fills.Snapshot();
  for (auto it = fills.rbegin(); it != fills.rend(); ++it) {
    const TFill& fill = **it;
    if (fill.IsSODFill || !fill.Contract) continue;
    auto order = CurrentOrder(fill.OrderID);
    if (!order || !order->OrderType || !order->TraderAccount) continue;
    if (order->OrderType->ExchangeName() != exchange.Name()) continue;
    auto node = std::find_if(nodes.begin(), nodes.end(), [&](const TNode& n) {
      return n.Account == order->TraderAccount && n.Contract == fill.Contract;
    });
    if (node == nodes.end()) {
      nodes.push_back({order->TraderAccount, fill.Contract});
      node = nodes.end() - 1;
    }
    const bool flatten = node->Account->EOSFlatten.load();
    const std::int32_t lots = flatten ? 0 : fill.Lots;
    const double price = flatten ? 0.0 : fill.Price;
    if (fill.BuySell == Buy) {
      node->BuyLots = AddLots(node->BuyLots, lots);
      node->LastBuyPrice = price;
      node->CashValue -= lots * price;
    } else if (fill.BuySell == Sell) {
      node->SellLots = AddLots(node->SellLots, lots);
      node->LastSellPrice = price;
      node->CashValue += lots * price;
    }
  }
  for (const auto& node : nodes) {
    auto position = ExistingPositionOf(*node.Contract);
    if (!position) continue;
    // The price handed on is the last sell price, 0.0 when the account only bought.
    if (position->ApplyEndOfSession(node.Account->TraderAccount, node.BuyLots, node.LastSellPrice,
                                    node.SellLots))
      node.Account->SetPosDirty(true);
  }
}

// ---------------------------------------------------------------------------------------------

double TPositionBook::OnePoint(const TContractItem& contract) const {
  auto commodity = contract.GetCommodity();
  if (!commodity) return 0;
  TIndexListLock guard(lists_.Commodities);
  return commodity->OnePoint;
}

std::string TPositionBook::Currency(const TContractItem& contract) const {
  auto commodity = contract.GetCommodity();
  if (!commodity) return {};
  TIndexListLock guard(lists_.Commodities);
  return commodity->Currency;
}

std::vector<std::shared_ptr<TContractItem>> TPositionBook::TradedContracts(
    const TTraderAccountItem& account) const {
  std::vector<std::shared_ptr<TContractItem>> contracts;
  for (const auto& key : account.GetTradedContracts())
    if (auto contract = lists_.Contracts.FindByName(key.Exchange, key.Commodity, key.ContractDate))
      contracts.push_back(std::move(contract));
  return contracts;
}

void TPositionBook::GetContractPos(const TContractItem& contract, std::string_view account,
                                   double& pl, std::int32_t& buys, std::int32_t& sells,
                                   bool marginMode) const {
  ContractPos(contract, account, pl, buys, sells, marginMode, true);
}

void TPositionBook::GetContractPosUncached(const TContractItem& contract,
                                           std::string_view account, double& pl,
                                           std::int32_t& buys, std::int32_t& sells,
                                           bool marginMode) const {
  ContractPos(contract, account, pl, buys, sells, marginMode, false);
}

void TPositionBook::ContractPos(const TContractItem& contract, std::string_view account,
                                double& pl, std::int32_t& buys, std::int32_t& sells,
                                bool marginMode, bool useKept) const {
  pl = 0.0;
  const PriceEntry last = contract.GetPrice(5);
  const double current = last.Unset ? 0.0 : last.Value;
  auto position = ExistingPositionOf(contract);
  if (!position) return;
  const auto record = position->GetAccountFigures(account);
  if (!record) return;
  const double onePoint = OnePoint(contract);
  TContractPLTerm term;
  term.Version = record->Version;
  term.LastTrade = std::bit_cast<std::uint64_t>(current);
  term.OnePoint = std::bit_cast<std::uint64_t>(onePoint);
  term.MarginMode = marginMode;
  term.Option = contract.IsOption();
  // The debugging trace writes the figures as they are worked out.
  const bool traced = DebugFlagOn(kDebugging);
  if (useKept && !traced && record->PLTerm && record->PLTerm->SameInputs(term)) {
    pl = record->PLTerm->PL;
  } else {
    if (current == 0.0) {
      pl = 0.0;
    } else if (marginMode && term.Option && record->TotalLots > record->ShortPosn) {
      pl = 0.0;
    } else if (marginMode && term.Option && record->Side == Buy) {
      pl = record->CurrentPL * onePoint;
    } else {
      const double tickPL = (record->LongPosn - record->ShortPosn) *
                            TickNotationDifference(record->TicksPerPoint, current, record->LastPrice);
      pl = (record->CurrentPL + tickPL) * onePoint;
      if (traced && pl != 0.0)
        WriteTraceLine("GetContractPos: " + contract.GetDescription() + " - " +
                       "\r\n         TickPL " + FloatToStr(tickPL) + "\r\n  LastFillPrice " +
                       FloatToStr(record->LastPrice) + "\r\n          Buys  " +
                       IntToStr(record->LongPosn) + "\r\n          Sells " +
                       IntToStr(record->ShortPosn) + "\r\n   CurrentPrice " +
                       FloatToStr(current) + "\r\n     PointValue " + FloatToStr(onePoint) +
                       "\r\n      CurrentPL " + FloatToStr(record->CurrentPL));
    }
    if (useKept) {
      term.PL = pl;
      position->KeepPLTerm(account, term);
    }
  }
  buys += record->LongPosn;
  sells += record->ShortPosn;
}

void TPositionBook::GetOpenPos(const TContractItem& contract, std::string_view account, double& pl,
                               std::int32_t& buys, std::int32_t& sells, bool marginMode) const {
  pl = 0.0;
  auto position = ExistingPositionOf(contract);
  if (!position) return;
  const auto record = position->GetAccountPosition(account);
  if (!record) return;
  const std::int32_t lots = record->Netted.TotalLots();
  (record->Side == Buy ? buys : sells) += lots;
  const PriceEntry last = contract.GetPrice(5);
  const double current = last.Unset ? 0.0 : last.Value;
  if (current == 0.0 || lots == 0) return;
  if (marginMode && contract.IsOption() && record->Side == Buy) return;
  double ticks = 0;
  for (const TPosFill& fill : record->Netted.Fills) {
    const std::int32_t signedLots = fill.Side == Buy ? fill.Lots : -fill.Lots;
    ticks += signedLots * TickNotationDifference(record->Netted.TicksPerPoint, current, fill.Price);
  }
  pl = ticks * OnePoint(contract);
}

TPositionTotals TPositionBook::GetTotalPos(std::string_view account, bool flag) const {
  TPositionTotals totals;
  auto found = lists_.Accounts.FindAccount(account);
  if (!found) return totals;
  // The account keeps one set of totals: those without the flag, which every order request
  // asks for. Totals with the flag differ for long options, so they are always computed and
  // never kept, and neither figure can stand in for the other.
  const std::uint64_t epoch = LastTradeEpoch();
  TKeptTotals kept;
  std::uint64_t generation = 0;
  if (!flag && found->GetKeptTotals(epoch, kept, generation))
    return {kept.PL, kept.Buys, kept.Sells};
  const bool marginMode = lists_.MarginMode.load();
  for (const auto& contract : TradedContracts(*found)) {
    double pl = 0;
    std::int32_t buys = 0;
    std::int32_t sells = 0;
    GetContractPos(*contract, found->TraderAccount, pl, buys, sells, marginMode);
    if (flag && contract->IsOption() && buys > sells) pl = 0.0;
    if (pl != 0.0) {
      const std::string currency = Currency(*contract);
      const double rate = lists_.ExchangeRates.GetRate(currency);
      if (DebugFlagOn(kDebugging))
        WriteTraceLine("Currency: " + currency + "\r\n     Rate " + FloatToStr(rate));
      if (rate != 0.0) pl /= rate;
      totals.PL += pl;
    }
    totals.Buys += buys;
    totals.Sells += sells;
  }
  if (!flag) found->KeepTotals({totals.PL, totals.Buys, totals.Sells}, epoch, generation);
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("GetTotalPos: \r\n       PL    " + FloatToStr(totals.PL) + "\r\n       Buys  " +
                   IntToStr(totals.Buys) + "\r\n       Sells " + IntToStr(totals.Sells));
  return totals;
}

TPositionTotals TPositionBook::GetOptionsPos(std::string_view account, bool flag) const {
  TPositionTotals totals;
  auto found = lists_.Accounts.FindAccount(account);
  if (!found) return totals;
  const bool marginMode = lists_.MarginMode.load();
  for (const auto& contract : TradedContracts(*found)) {
    if (!contract->IsOption()) continue;
    double pl = 0;
    std::int32_t buys = 0;
    std::int32_t sells = 0;
    GetContractPos(*contract, found->TraderAccount, pl, buys, sells, marginMode);
    if (flag && marginMode && sells > buys) totals.PL += pl;
    totals.Buys += buys;
    totals.Sells += sells;
  }
  return totals;
}

double TPositionBook::GetPositionMargin(std::string_view account) const {
  auto found = lists_.Accounts.FindAccount(account);
  if (!found) return 0;
  double margin = 0;
  for (const auto& contract : TradedContracts(*found)) {
    auto position = ExistingPositionOf(*contract);
    if (!position) continue;
    const auto record = position->GetAccountFigures(found->TraderAccount);
    if (!record) continue;
    const double rate = lists_.ExchangeRates.GetRate(Currency(*contract));
    if (rate == 0.0) continue;
    margin += contract->GetMarginRequired() * std::abs(record->LongPosn - record->ShortPosn) / rate;
  }
  return margin;
}

}  // namespace vorn
