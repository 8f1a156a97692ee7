#pragma once
// The risk figures of a trader account that the risk exports return: the margin a prospective
// trade adds, the profit and loss burn rate, the open position exposure, the buying power used,
// and the premium of a prospective option trade. L is the account's loss limit, R the exchange
// rate of the contract's currency, F the margin mode flag.
//
// Threads: any application thread, with no list lock held; the margin calculations take the
// order, fill and contract lists' locks themselves (MarginRequirement.h). Positions are read as
// copies, so two figures of one export may straddle a fill that a socket thread applies.
//
// Failures: a division by zero (L = 0, L + P = 0, L x R = 0) throws EZeroDivide; nothing else
// guards a figure, so a figure that is not a finite number is refused when it is written.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/refdata/ContractItem.h"
#include "core/trading/TraderAccount.h"

namespace vorn {

class TClassAPI;

// The width of a figure's text in the caller's buffer, its NUL included.
inline constexpr std::size_t kRiskTextSize = 21;

// The figure as decimal text of at most kRiskTextSize - 1 characters: the general format, with
// as many fewer significant digits as it takes to fit (a negative figure far from 1 can take 22
// characters), so a long figure is rounded, never cut into another number. EInvalidOp for an
// infinity or NaN.
std::string RiskFigureText(double figure);
// RiskFigureText into the caller's kRiskTextSize bytes (the rest zeroed).
void PutRiskFigure(char* out, double figure);
// The text "0" into the caller's kRiskTextSize bytes, as every risk export starts.
void PutZeroFigure(char* out);

// The listed account of the trimmed name, or null; never creates one (not even during the
// initial download).
std::shared_ptr<TTraderAccountItem> FindRiskAccount(TClassAPI& api, const char* account);

// The margin that a prospective trade of the signed lots adds, and the code that goes with it
// (22 for a contract that is not held with F off; 8 in margin mode when a contract position of
// the account, or the named contract that it needs, is not held). With F off the rating-based
// margin with the lots less that without them; in margin mode the account's contract positions
// with the trade on the named contract; for an account that is not listed, the sum over every
// account of its loss limit less its rating-based margin with the lots.
struct TTradeMarginFigure {
  std::int32_t Code = 0;
  double Margin = 0;
};
TTradeMarginFigure MarginForTrade(TClassAPI& api, const char* exchange, const char* commodity,
                                  const char* contractDate, const char* account, std::int32_t lots,
                                  std::string_view orderID, std::string_view price);

// (M x R + P) / (L x R) x 100, P the account's profit on the contract (with the inverse of F),
// M the contract's premiums less its covered value in margin mode, else 0.
double PLBurnRate(TClassAPI& api, const TTraderAccountItem& account,
                  const std::shared_ptr<TContractItem>& contract);
// M / (L + P) x 100. With a contract: M over every position in mode 1 in margin mode, else the
// contract's alone, and P the profit on the contract, in the base currency when R is not 0.
// Without one (null): M over every position and P the account's total profit.
double OpenPositionExposure(TClassAPI& api, const TTraderAccountItem& account,
                            const std::shared_ptr<TContractItem>& contract);
// M over every position. With a contract: (P - M) / (L x R) x 100, P its profit. Without one
// (null): (P - Q - M) / L x 100, P the total profit and Q the profit of the short options.
double BuyingPowerUsed(TClassAPI& api, const TTraderAccountItem& account,
                       const std::shared_ptr<TContractItem>& contract);
// The value of the lots at the price text (in the contract's tick notation); 0 for a side other
// than 'B'. EZeroDivide for a bought option whose currency has no rate.
double OptionPremium(TClassAPI& api, const TContractItem& contract, char side,
                     std::string_view price, std::int32_t lots);

}  // namespace vorn
