// The risk exports: the margin a prospective trade adds, the profit and loss burn rate, the open
// position exposure, the buying power used and remaining, the premium of a prospective option
// trade and the order sequence counter. The figures are in RiskFigures.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/RiskFigures.h"
#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "core/util/Exceptions.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

// Price texts are read to at most 20 characters.
constexpr std::size_t kPriceArgWidth = kRiskTextSize - 1;

using TFigure = double (*)(TClassAPI&, const TTraderAccountItem&,
                           const std::shared_ptr<TContractItem>&);

void NoTrace(const char*) {}

// An account's figure: "0" first, the ready check, 9 for an account that is not listed, then a
// contract that is not held gives 22, or the all-contracts form where the figure has one.
// trace(stage) runs once "0" is written ("Start") and after the figure ("End").
template <class Trace>
std::int32_t AccountFigureExport(std::string_view routine, const char* exchange,
                                 const char* commodity, const char* contractDate,
                                 const char* account, char* result, bool allContractsForm,
                                 TFigure figure, Trace trace) {
  return ReadyExport(
      routine,
      [&] {
        RequireArgument(result, "Result");
        PutZeroFigure(result);
        trace("Start");
      },
      [&](TClassAPI& api) -> std::int32_t {
        const auto found = FindRiskAccount(api, account);
        if (!found) return VN_RC_TRADER_ACCOUNT_NOT_FOUND;
        const auto contract = FindContractArg(api.Contracts, exchange, commodity, contractDate);
        if (!contract && !allContractsForm) return VN_RC_UNKNOWN_CONTRACT;
        PutRiskFigure(result, figure(api, *found, contract));
        trace("End");
        return VN_RC_SUCCESS;
      });
}

void TraceExposure(const char* stage, const char* exchange, const char* commodity,
                   const char* contractDate, const char* account, const char* result) {
  if (!DebugFlagOn(kDebugging)) return;
  WriteTraceLine(std::string(stage) +
                 " : vnOpenPositionExposure: " + ArgString(exchange, kExchangeNameWidth) + "\\" +
                 ArgString(commodity, kCommodityNameWidth) + "\\" +
                 ArgString(contractDate, kContractDateWidth) +
                 " Trader: " + ArgString(account, kTraderAccountWidth) + " Exposure " +
                 GetFixed(result, kRiskTextSize));
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

// No ready check: it computes on the lists as they stand. A failure is reported as one (99),
// with the margin calculations' trace line, and leaves the result as it was.
VN_API int32_t VN_STDCALL vnMarginForTrade(const char* Exchange, const char* Commodity,
                                           const char* ContractDate, const char* Account,
                                           const int32_t* Lots, const char* OrderID,
                                           const char* Price, char* Result) {
  return ObjectExport(__func__, [&](TClassAPI& api) -> std::int32_t {
    RequireArgument(Lots, "Lots");
    RequireArgument(Result, "Result");
    try {
      const TTradeMarginFigure margin =
          MarginForTrade(api, Exchange, Commodity, ContractDate, Account, *Lots,
                         OrderIDArg(OrderID), ArgText(Price, kPriceArgWidth));
      if (margin.Code != VN_RC_SUCCESS) return margin.Code;
      PutRiskFigure(Result, margin.Margin);
      return VN_RC_SUCCESS;
    } catch (...) {
      WriteTraceLine("ORM method failed in margincalcs method");
      throw;
    }
  });
}

VN_API int32_t VN_STDCALL vnPLBurnRate(const char* Exchange, const char* Commodity,
                                       const char* ContractDate, const char* Account,
                                       char* Result) {
  return AccountFigureExport(__func__, Exchange, Commodity, ContractDate, Account, Result, false,
                             PLBurnRate, NoTrace);
}

VN_API int32_t VN_STDCALL vnOpenPositionExposure(const char* Exchange, const char* Commodity,
                                                 const char* ContractDate, const char* Account,
                                                 char* Result) {
  return AccountFigureExport(__func__, Exchange, Commodity, ContractDate, Account, Result, true,
                             OpenPositionExposure, [&](const char* stage) {
                               TraceExposure(stage, Exchange, Commodity, ContractDate, Account,
                                             Result);
                             });
}

VN_API int32_t VN_STDCALL vnBuyingPowerUsed(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, const char* Account,
                                            char* Result) {
  return AccountFigureExport(__func__, Exchange, Commodity, ContractDate, Account, Result, true,
                             BuyingPowerUsed, NoTrace);
}

// 100 + the buying power used, read back from its text; the used figure's code otherwise.
VN_API int32_t VN_STDCALL vnBuyingPowerRemaining(const char* Exchange, const char* Commodity,
                                                 const char* ContractDate, const char* Account,
                                                 char* Result) {
  return GuardedExport(__func__, [&]() -> std::int32_t {
    RequireArgument(Result, "Result");
    PutZeroFigure(Result);
    char used[kRiskTextSize];
    const std::int32_t code = vnBuyingPowerUsed(Exchange, Commodity, ContractDate, Account, used);
    if (code != VN_RC_SUCCESS) return code;
    double figure = 0;
    const std::string text = GetFixed(used, kRiskTextSize);
    if (!TryStrToFloat(text, figure)) throw EConvertError("'" + text + "' is not a valid number");
    PutRiskFigure(Result, 100.0 + figure);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetOptionPremium(const char* Exchange, const char* Commodity,
                                             const char* ContractDate, char Side, const char* Price,
                                             int32_t Lots, char* Result) {
  return ReadyExport(
      __func__,
      [&] {
        RequireArgument(Result, "Result");
        PutZeroFigure(Result);
      },
      [&, routine = __func__](TClassAPI& api) -> std::int32_t {
        const auto contract = FindContractArg(api.Contracts, Exchange, Commodity, ContractDate);
        if (!contract) return VN_RC_UNKNOWN_CONTRACT;
        PutRiskFigure(Result,
                      OptionPremium(api, *contract, Side, ArgText(Price, kPriceArgWidth), Lots));
        TraceExportCall(routine, [&] { return GetFixed(Result, kRiskTextSize); });
        return VN_RC_SUCCESS;
      });
}

VN_API int32_t VN_STDCALL vnNextOrderSequence(int32_t* Sequence) {
  return ReadyExport(
      __func__,
      [&] {
        RequireArgument(Sequence, "Sequence");
        *Sequence = 0;
      },
      [&, routine = __func__](TClassAPI& api) -> std::int32_t {
        *Sequence = api.NextOrderSequence();
        TraceExportCall(routine, [&] { return IntToStr(*Sequence); });
        return VN_RC_SUCCESS;
      });
}

}  // extern "C"
