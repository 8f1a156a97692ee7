#include "api/PositionRecords.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "api/ExportArguments.h"
#include "core/session/ClassAPI.h"
#include "core/trading/TraderPosition.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

void WritePosition(PositionStruct& record, const std::string& profit, std::int32_t buys,
                   std::int32_t sells) {
  PutFixed(record.Profit, profit);
  record.Buy = buys;
  record.Sell = sells;
}

// P x 10000 to the nearest integer (halves to even), divided by 10000; 0 stays 0. A small loss
// that rounds away reads 0, never -0.
double RoundPositionProfit(double profit) {
  if (profit == 0.0) return 0.0;
  return std::nearbyint(profit * 10000.0) / 10000.0 + 0.0;
}

}  // namespace

std::int32_t FindPositionAccount(TClassAPI& api, const char* account, TPositionTarget& target) {
  if (api.Contracts.Count() == 0) return VN_RC_NO_DATA;
  const std::string name(TrimmedName(ArgText(account, kTraderAccountWidth), kTraderAccountWidth));
  if (!api.Accounts.KeyExists(name)) return VN_RC_TRADER_ACCOUNT_NOT_FOUND;
  target.Account = api.Accounts.FindAccount(name);
  return target.Account ? VN_RC_SUCCESS : VN_RC_TRADER_ACCOUNT_NOT_FOUND;
}

std::int32_t FindPositionTarget(TClassAPI& api, const char* exchange, const char* commodity,
                                const char* contractDate, const char* account,
                                TPositionTarget& target) {
  const std::int32_t result = FindPositionAccount(api, account, target);
  if (result != VN_RC_SUCCESS) return result;
  target.Contract = FindContractArg(api.Contracts, exchange, commodity, contractDate);
  return target.Contract ? VN_RC_SUCCESS : VN_RC_UNKNOWN_CONTRACT;
}

void WriteContractPosition(const TClassAPI& api, const TPositionTarget& target,
                           PositionStruct& record) {
  const std::string& account = target.Account->TraderAccount;
  const TContractItem& contract = *target.Contract;
  const bool marginMode = api.Features.MarginMode.load();
  double profit = 0;
  std::int32_t buys = 0, sells = 0;
  api.Positions.GetContractPos(contract, account, profit, buys, sells, marginMode);
  double open = 0;
  std::int32_t openBuys = 0, openSells = 0;
  api.Positions.GetOpenPos(contract, account, open, openBuys, openSells, marginMode);
  if (marginMode && contract.IsOption()) {
    const auto position = ExistingPositionOf(contract);
    const auto held = position ? position->GetAccountPosition(account) : std::nullopt;
    const std::int32_t lots = held ? held->Netted.TotalLots() : 0;
    if (held && held->Side == Sell && lots != 0) {
      // A sold option's profit stands as it is.
    } else if (held && held->Side == Buy && lots != 0) {
      profit -= open;
    } else {
      profit += open;
    }
  }
  WritePosition(record, FloatToStr(RoundPositionProfit(profit)), buys, sells);
}

void WriteOpenPosition(const TClassAPI& api, const TPositionTarget& target,
                       PositionStruct& record) {
  double open = 0;
  std::int32_t buys = 0, sells = 0;
  api.Positions.GetOpenPos(*target.Contract, target.Account->TraderAccount, open, buys, sells,
                           !api.Features.MarginMode.load());
  WritePosition(record, FloatToStr(open), buys, sells);
}

void WriteTotalPosition(const TClassAPI& api, const TTraderAccountItem& account,
                        PositionStruct& record) {
  const TPositionTotals totals = api.Positions.GetTotalPos(account.TraderAccount, true);
  WritePosition(record, FloatToStr(totals.PL), totals.Buys, totals.Sells);
}

void WriteAveragePrice(const TPositionTarget& target, char* price) {
  const auto position = ExistingPositionOf(*target.Contract);
  const double average = position ? position->GetAveragePrice(target.Account->TraderAccount) : 0.0;
  PutFixed(price, kPriceTextSize, FloatToStr(average));
}

bool WriteConsolidatedPosition(const TContractItem& contract, std::string_view account,
                               std::int32_t mode, FillStruct& record) {
  if (mode != VN_POSITION_START_OF_DAY && mode != VN_POSITION_END_OF_SESSION) return false;
  TPositionFigures figures;
  if (const auto position = ExistingPositionOf(contract)) {
    if (const auto held = position->GetAccountPosition(account))
      figures = mode == VN_POSITION_START_OF_DAY ? held->Netted.StartOfDay
                                                 : held->Netted.EndOfSession;
  }
  PutFixed(record.ExchangeName, contract.ExchangeStr());
  PutFixed(record.ContractName, contract.CommodityStr());
  const std::int64_t net =
      static_cast<std::int64_t>(figures.LongLots) - static_cast<std::int64_t>(figures.ShortLots);
  record.BuySell = net < 0 ? 'S' : 'B';
  // Saturated: lots read from the host may be any 32-bit values.
  record.Lots = static_cast<std::int32_t>(
      std::min<std::int64_t>(net < 0 ? -net : net, std::numeric_limits<std::int32_t>::max()));
  PutFixed(record.Price, FloatToStr(figures.Price));
  return true;
}

}  // namespace vorn
