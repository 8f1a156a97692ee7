// The position queries: a trader account's closed and open profit and loss on a contract, its
// totals over every contract it traded, the average price of its open fills on a contract, and
// its net start-of-day or end-of-session position there.
// The records and the look-ups are in PositionRecords.h.

#include <cstdint>
#include <string>
#include <string_view>

#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/PositionRecords.h"
#include "core/session/ClassAPI.h"
#include "core/util/Conversions.h"
#include "core/util/NameWidths.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

void TraceStart(std::string_view routine, const char* exchange, const char* commodity,
                const char* contractDate, const char* account) {
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("Start : " + std::string(routine) + ": " +
                   std::string(ArgText(exchange, kExchangeNameWidth)) + "\\" +
                   std::string(ArgText(commodity, kCommodityNameWidth)) + "\\" +
                   std::string(ArgText(contractDate, kContractDateWidth)) +
                   " Trader: " + std::string(ArgText(account, kTraderAccountWidth)));
}

void TraceEnd(std::string_view routine, const char* commodity, const char* contractDate,
              const PositionStruct& record) {
  TraceAppCall([&] {
    return "End : " + std::string(routine) + " " +
           std::string(ArgText(commodity, kCommodityNameWidth)) + " " +
           std::string(ArgText(contractDate, kContractDateWidth)) + " " + GetFixed(record.Profit);
  });
}

// A position on a contract: traced at the start before the ready check and at the end; an
// unknown contract zeroes the record.
template <class Write>
std::int32_t ContractPositionExport(std::string_view routine, const char* exchange,
                                    const char* commodity, const char* contractDate,
                                    const char* account, PositionStruct* position, Write write) {
  return ReadyExport(
      routine, [&] { TraceStart(routine, exchange, commodity, contractDate, account); },
      [&](TClassAPI& api) -> std::int32_t {
        RequireArgument(position, "Position");
        TPositionTarget target;
        const std::int32_t result =
            FindPositionTarget(api, exchange, commodity, contractDate, account, target);
        if (result == VN_RC_UNKNOWN_CONTRACT) ZeroRecord(position, sizeof *position);
        if (result != VN_RC_SUCCESS) return result;
        write(api, target, *position);
        TraceEnd(routine, commodity, contractDate, *position);
        return VN_RC_SUCCESS;
      });
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnGetContractPosition(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, const char* Account,
                                                PositionStruct* Position) {
  return ContractPositionExport(__func__, Exchange, Commodity, ContractDate, Account, Position,
                                WriteContractPosition);
}

VN_API int32_t VN_STDCALL vnGetOpenPosition(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, const char* Account,
                                            PositionStruct* Position) {
  return ContractPositionExport(__func__, Exchange, Commodity, ContractDate, Account, Position,
                                WriteOpenPosition);
}

VN_API int32_t VN_STDCALL vnGetTotalPosition(const char* Account, PositionStruct* Position) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) -> std::int32_t {
    RequireArgument(Position, "Position");
    TPositionTarget target;
    const std::int32_t result = FindPositionAccount(api, Account, target);
    if (result != VN_RC_SUCCESS) return result;
    WriteTotalPosition(api, *target.Account, *Position);
    TraceExportCall(
        routine, [&] { return target.Account->TraderAccount + " " + GetFixed(Position->Profit); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetAveragePrice(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, const char* Account,
                                            char* Price) {
  return ReadyExport(__func__, [&](TClassAPI& api) -> std::int32_t {
    RequireArgument(Price, "Price");
    TPositionTarget target;
    const std::int32_t result =
        FindPositionTarget(api, Exchange, Commodity, ContractDate, Account, target);
    if (result == VN_RC_UNKNOWN_CONTRACT) ZeroRecord(Price, kPriceTextSize);
    if (result != VN_RC_SUCCESS) return result;
    WriteAveragePrice(target, Price);
    return VN_RC_SUCCESS;
  });
}

// The lower-case verb is the interface's own spelling (callers bind by exact name); its trace
// lines spell it with a capital.
VN_API int32_t VN_STDCALL vngetConsolidatedPosition(const char* Exchange, const char* Commodity,
                                                    const char* ContractDate, const char* Account,
                                                    int32_t Mode, FillStruct* Position) {
  const auto names = [&] {
    return std::string(ArgText(Commodity, kCommodityNameWidth)) + "\\" +
           std::string(ArgText(Account, kTraderAccountWidth));
  };
  return ReadyExport(
      __func__,
      [&] {
        if (DebugFlagOn(kDebugging))
          WriteTraceLine("Start : vnGetConsolidatedPosition: " + names());
      },
      [&](TClassAPI& api) -> std::int32_t {
        const auto contract = FindContractArg(api.Contracts, Exchange, Commodity, ContractDate);
        if (!contract) return VN_RC_NO_DATA;
        if (Mode == VN_POSITION_START_OF_DAY || Mode == VN_POSITION_END_OF_SESSION) {
          RequireArgument(Position, "Position");
          WriteConsolidatedPosition(*contract, ArgText(Account, kTraderAccountWidth), Mode,
                                    *Position);
        }
        TraceAppCall([&] { return "End : vnGetConsolidatedPosition: " + names(); });
        return VN_RC_SUCCESS;
      });
}

}  // extern "C"
