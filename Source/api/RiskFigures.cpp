#include "api/RiskFigures.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "api/ExportArguments.h"
#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "core/store/IndexList.h"
#include "core/util/Conversions.h"
#include "core/util/Exceptions.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

using TMargins = TMarginRequirement;

double CheckedDivide(double numerator, double denominator) {
  if (denominator == 0.0) throw EZeroDivide("Floating point division by zero");
  return numerator / denominator;
}

// The value rounded to that many significant digits.
double RoundToDigits(double value, int digits) {
  char text[40];
  const auto written =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, digits - 1);
  double rounded = value;
  std::from_chars(text, written.ptr, rounded);
  return rounded;
}

double LossLimit(const TTraderAccountItem& account) {
  return account.LossLimit.load();
}

double ExchangeRateOf(TClassAPI& api, const TContractItem& contract, std::string* currency) {
  const TCommodityFacts facts = contract.CommodityFacts().value_or(TCommodityFacts{});
  if (currency) *currency = facts.Currency;
  return api.ExchangeRates.GetRate(facts.Currency);
}

// The account's profit on the contract; the risk figures take it with the inverse of F.
double ContractProfit(TClassAPI& api, const TTraderAccountItem& account,
                      const TContractItem& contract) {
  double profit = 0;
  std::int32_t buys = 0, sells = 0;
  api.Positions.GetContractPos(contract, account.TraderAccount, profit, buys, sells,
                               !api.Features.MarginMode.load());
  return profit;
}

// The account's requirement over its contract positions (contract null) or on the contract
// alone, without a trade, the covered value taken off.
double Requirement(TClassAPI& api, const TTraderAccountItem& account,
                   const std::shared_ptr<TContractItem>& contract, std::uint8_t mode) {
  return api.MarginRequirement.CalcMarginReq(contract, account, "", mode, 0, 0.0, true);
}

// A copy of the listed accounts, so that no margin is computed under the account list's lock
// (the order list's lock comes before it).
std::vector<std::shared_ptr<TTraderAccountItem>> ListedAccounts(TClassAPI& api) {
  std::vector<std::shared_ptr<TTraderAccountItem>> accounts;
  TIndexListLock lock(api.Accounts);
  accounts.reserve(static_cast<std::size_t>(api.Accounts.Count()));
  for (int i = 0; i < api.Accounts.Count(); ++i)
    if (auto account = api.Accounts.At(i)) accounts.push_back(std::move(account));
  return accounts;
}

}  // namespace

std::string RiskFigureText(double figure) {
  if (!std::isfinite(figure)) throw EInvalidOp("Invalid floating point operation");
  std::string text = FloatToStr(figure);
  for (int digits = 14; text.size() >= kRiskTextSize && digits > 0; --digits)
    text = FloatToStr(RoundToDigits(figure, digits));
  return text;
}

void PutRiskFigure(char* out, double figure) {
  PutFixed(out, kRiskTextSize, RiskFigureText(figure));
}

void PutZeroFigure(char* out) {
  PutFixed(out, kRiskTextSize, "0");
}

std::shared_ptr<TTraderAccountItem> FindRiskAccount(TClassAPI& api, const char* account) {
  return api.Accounts.Get(TrimmedName(ArgText(account, kTraderAccountWidth), kTraderAccountWidth));
}

TTradeMarginFigure MarginForTrade(TClassAPI& api, const char* exchange, const char* commodity,
                                  const char* contractDate, const char* account, std::int32_t lots,
                                  std::string_view orderID, std::string_view price) {
  const auto found = FindRiskAccount(api, account);
  const auto contract = FindContractArg(api.Contracts, exchange, commodity, contractDate);
  if (!found) {
    double sum = 0;
    for (const auto& each : ListedAccounts(api))
      sum += LossLimit(*each) - api.Margins.CalcMargin(nullptr, *each, lots, "", 0.0, 0);
    return {VN_RC_SUCCESS, sum};
  }
  if (!api.Features.MarginMode.load()) {
    if (!contract) return {VN_RC_UNKNOWN_CONTRACT, 0.0};
    return {VN_RC_SUCCESS, api.Margins.CalcMargin(contract, *found, lots, "", 0.0, 0) -
                               api.Margins.CalcMargin(contract, *found, 0, "", 0.0, 0)};
  }
  const auto margin = api.MarginRequirement.MarginForTrade(contract, *found, lots, price, orderID);
  return {margin.Code, margin.Margin};
}

double PLBurnRate(TClassAPI& api, const TTraderAccountItem& account,
                  const std::shared_ptr<TContractItem>& contract) {
  const double profit = ContractProfit(api, account, *contract);
  const double margin = api.Features.MarginMode.load()
                            ? Requirement(api, account, contract, TMargins::kPremiumsOnly)
                            : 0.0;
  const double rate = ExchangeRateOf(api, *contract, nullptr);
  return CheckedDivide(margin * rate + profit, LossLimit(account) * rate) * 100;
}

double OpenPositionExposure(TClassAPI& api, const TTraderAccountItem& account,
                            const std::shared_ptr<TContractItem>& contract) {
  if (!contract) {
    const double margin = Requirement(api, account, nullptr, TMargins::kAllComponents);
    const double profit =
        api.Positions.GetTotalPos(account.TraderAccount, !api.Features.MarginMode.load()).PL;
    return CheckedDivide(margin, LossLimit(account) + profit) * 100;
  }
  const double margin = api.Features.MarginMode.load()
                            ? Requirement(api, account, nullptr, TMargins::kNoOpenLongPremium)
                            : Requirement(api, account, contract, TMargins::kAllComponents);
  double profit = ContractProfit(api, account, *contract);
  std::string currency;
  const double rate = ExchangeRateOf(api, *contract, &currency);
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("Currency: " + currency + "\r\n     Rate " + FloatToStr(rate));
  if (profit != 0.0 && rate != 0.0) profit /= rate;
  return CheckedDivide(margin, LossLimit(account) + profit) * 100;
}

double BuyingPowerUsed(TClassAPI& api, const TTraderAccountItem& account,
                       const std::shared_ptr<TContractItem>& contract) {
  const double margin = Requirement(api, account, nullptr, TMargins::kAllComponents);
  const bool marginMode = api.Features.MarginMode.load();
  if (!contract) {
    const double profit = api.Positions.GetTotalPos(account.TraderAccount, !marginMode).PL;
    const double options = api.Positions.GetOptionsPos(account.TraderAccount, marginMode).PL;
    return CheckedDivide(profit - options - margin, LossLimit(account)) * 100;
  }
  const double profit = ContractProfit(api, account, *contract);
  const double rate = ExchangeRateOf(api, *contract, nullptr);
  return CheckedDivide(profit - margin, LossLimit(account) * rate) * 100;
}

double OptionPremium(TClassAPI& api, const TContractItem& contract, char side,
                     std::string_view price, std::int32_t lots) {
  const double decimal =
      TickNotationToDecimal(contract.GetTicksPerPoint(), SafeStrToFloat(price, 0.0));
  return api.MarginRequirement.CalcContractValue(contract, lots, side == 'B' ? Buy : Sell, decimal);
}

}  // namespace vorn
