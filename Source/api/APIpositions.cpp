// The position queries: a trader account's closed and open profit and loss on a contract, its
// totals over every contract it traded, and the average price of its open fills on a contract.
//
// Positions are read as copies taken under each contract's position lock (TraderPosition.h);
// the socket threads may net a fill between two such copies, so each figure is whole but two
// figures of one export may straddle a fill.

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "core/refdata/ContractItem.h"
#include "core/session/ClassAPI.h"
#include "core/trading/TraderPosition.h"
#include "core/util/Conversions.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr std::size_t kPriceTextSize = 21;

// What a position query looks up: the account (which must be listed before it is looked up,
// so that no account is made during the download) and the contract.
struct TPositionTarget {
  std::shared_ptr<TTraderAccountItem> Account;
  std::shared_ptr<TContractItem> Contract;
};

// 10 without contracts, 9 for an account that is not listed; 0 with the account found.
std::int32_t FindAccountOf(TClassAPI& api, const char* account, TPositionTarget& target) {
  if (api.Contracts.Count() == 0) return VN_RC_NO_DATA;
  const std::string name(TrimmedName(ArgText(account, kTraderAccountWidth), kTraderAccountWidth));
  if (!api.Accounts.KeyExists(name)) return VN_RC_TRADER_ACCOUNT_NOT_FOUND;
  target.Account = api.Accounts.FindAccount(name);
  return target.Account ? VN_RC_SUCCESS : VN_RC_TRADER_ACCOUNT_NOT_FOUND;
}

// FindAccountOf, then 22 for a contract that is not held.
std::int32_t FindTarget(TClassAPI& api, const char* exchange, const char* commodity,
                        const char* contractDate, const char* account, TPositionTarget& target) {
  const std::int32_t result = FindAccountOf(api, account, target);
  if (result != VN_RC_SUCCESS) return result;
  target.Contract = FindContractArg(api.Contracts, exchange, commodity, contractDate);
  return target.Contract ? VN_RC_SUCCESS : VN_RC_UNKNOWN_CONTRACT;
}

void WritePosition(PositionStruct& record, const std::string& profit, std::int32_t buys,
                   std::int32_t sells) {
  PutFixed(record.Profit, profit);
  record.Buy = buys;
  record.Sell = sells;
}

void TraceStart(const char* name, const char* exchange, const char* commodity,
                const char* contractDate, const char* account) {
  if (DebugFlagOn(kDebugging))
    WriteTraceLine(std::string("Start : ") + name + ": " +
                   std::string(ArgText(exchange, kExchangeNameWidth)) + "\\" +
                   std::string(ArgText(commodity, kCommodityNameWidth)) + "\\" +
                   std::string(ArgText(contractDate, kContractDateWidth)) +
                   " Trader: " + std::string(ArgText(account, kTraderAccountWidth)));
}

void TraceEnd(const char* name, const char* commodity, const char* contractDate,
              const PositionStruct& record) {
  TraceAppCall([&] {
    return std::string("End : ") + name + " " +
           std::string(ArgText(commodity, kCommodityNameWidth)) + " " +
           std::string(ArgText(contractDate, kContractDateWidth)) + " " + GetFixed(record.Profit);
  });
}

// P x 10000 to the nearest integer (halves to even), divided by 10000; 0 stays 0. A small loss
// that rounds away reads 0, never -0.
double RoundPositionProfit(double profit) {
  if (profit == 0.0) return 0.0;
  return std::nearbyint(profit * 10000.0) / 10000.0 + 0.0;
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnGetContractPosition(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, const char* Account,
                                                PositionStruct* Position) {
  return GuardedExport("vnGetContractPosition", [&]() -> std::int32_t {
    TraceStart("vnGetContractPosition", Exchange, Commodity, ContractDate, Account);
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Position, "Position");
    TPositionTarget target;
    result = FindTarget(*api, Exchange, Commodity, ContractDate, Account, target);
    if (result == VN_RC_UNKNOWN_CONTRACT) ZeroRecord(Position, sizeof *Position);
    if (result != VN_RC_SUCCESS) return result;

    const std::string& account = target.Account->TraderAccount;
    const TContractItem& contract = *target.Contract;
    const bool marginMode = api->MarginMode.load();
    double profit = 0;
    std::int32_t buys = 0, sells = 0;
    api->Positions.GetContractPos(contract, account, profit, buys, sells, marginMode);
    double open = 0;
    std::int32_t openBuys = 0, openSells = 0;
    api->Positions.GetOpenPos(contract, account, open, openBuys, openSells, marginMode);
    if (marginMode && contract.IsOption()) {
      const auto position = ExistingPositionOf(contract);
      const auto record = position ? position->GetAccountPosition(account) : std::nullopt;
      const std::int32_t lots = record ? record->Netted.TotalLots() : 0;
      if (record && record->Side == Sell && lots != 0) {
        // A sold option's profit stands as it is.
      } else if (record && record->Side == Buy && lots != 0) {
        profit -= open;
      } else {
        profit += open;
      }
    }
    WritePosition(*Position, FloatToStr(RoundPositionProfit(profit)), buys, sells);
    TraceEnd("vnGetContractPosition", Commodity, ContractDate, *Position);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetOpenPosition(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, const char* Account,
                                            PositionStruct* Position) {
  return GuardedExport("vnGetOpenPosition", [&]() -> std::int32_t {
    TraceStart("vnGetOpenPosition", Exchange, Commodity, ContractDate, Account);
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Position, "Position");
    TPositionTarget target;
    result = FindTarget(*api, Exchange, Commodity, ContractDate, Account, target);
    if (result == VN_RC_UNKNOWN_CONTRACT) ZeroRecord(Position, sizeof *Position);
    if (result != VN_RC_SUCCESS) return result;

    double open = 0;
    std::int32_t buys = 0, sells = 0;
    api->Positions.GetOpenPos(*target.Contract, target.Account->TraderAccount, open, buys, sells,
                              !api->MarginMode.load());
    WritePosition(*Position, FloatToStr(open), buys, sells);
    TraceEnd("vnGetOpenPosition", Commodity, ContractDate, *Position);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetTotalPosition(const char* Account, PositionStruct* Position) {
  return GuardedExport("vnGetTotalPosition", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Position, "Position");
    TPositionTarget target;
    result = FindAccountOf(*api, Account, target);
    if (result != VN_RC_SUCCESS) return result;
    const TPositionTotals totals = api->Positions.GetTotalPos(target.Account->TraderAccount, true);
    WritePosition(*Position, FloatToStr(totals.PL), totals.Buys, totals.Sells);
    TraceAppCall([&] {
      return "vnGetTotalPosition " + target.Account->TraderAccount + " " +
             GetFixed(Position->Profit);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetAveragePrice(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, const char* Account,
                                            char* Price) {
  return GuardedExport("vnGetAveragePrice", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Price, "Price");
    TPositionTarget target;
    result = FindTarget(*api, Exchange, Commodity, ContractDate, Account, target);
    if (result == VN_RC_UNKNOWN_CONTRACT) ZeroRecord(Price, kPriceTextSize);
    if (result != VN_RC_SUCCESS) return result;
    const auto position = ExistingPositionOf(*target.Contract);
    const double average =
        position ? position->GetAveragePrice(target.Account->TraderAccount) : 0.0;
    PutFixed(Price, kPriceTextSize, FloatToStr(average));
    return VN_RC_SUCCESS;
  });
}

}  // extern "C"
