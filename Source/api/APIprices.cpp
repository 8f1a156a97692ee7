// The price queries: a contract's price table (by its place in the contract list or by its
// names), one generic price, and blanking every contract's prices; and stepping a price by
// ticks, which needs no API object. The records and the look-ups are in PriceRecords.h.

#include <cstdint>
#include <string>

#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/PriceRecords.h"
#include "core/refdata/PriceStep.h"
#include "core/session/ClassAPI.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnGetPrice(int32_t Index, PriceStruct* Prices) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) -> std::int32_t {
    RequireArgument(Prices, "Prices");
    const std::int32_t result = CopyPricesAt(api.Contracts, Index, *Prices);
    if (result != VN_RC_SUCCESS) return result;
    TraceExportCall(routine, [&] {
      return IntToStr(Index) + " " + GetFixed(Prices->Entries[VN_PK_LAST_TRADE].Price);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetPriceForContract(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, PriceStruct* Prices) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) -> std::int32_t {
    RequireArgument(Prices, "Prices");
    const std::int32_t result =
        CopyPricesNamed(api.Contracts, Exchange, Commodity, ContractDate, *Prices);
    if (result != VN_RC_SUCCESS) return result;
    TraceExportCall(routine, [&] {
      return std::string(ArgText(Commodity, kCommodityNameWidth)) + " " +
             std::string(ArgText(ContractDate, kContractDateWidth)) + " " +
             GetFixed(Prices->Entries[VN_PK_LAST_TRADE].Price);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetGenericPrice(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, int32_t PriceType,
                                            int32_t PriceLevel, GenericPriceStruct* Price) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) -> std::int32_t {
    RequireArgument(Price, "Price");
    const std::int32_t result = CopyGenericPrice(api.Contracts, Exchange, Commodity, ContractDate,
                                                 PriceType, PriceLevel, *Price);
    if (result != VN_RC_SUCCESS) return result;
    TraceExportCall(routine, [&] {
      return std::string(ArgText(Commodity, kCommodityNameWidth)) + " " +
             std::string(ArgText(ContractDate, kContractDateWidth)) + " " + GetFixed(Price->Price);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnBlankPrices(void) {
  return ObjectExport(__func__, [](TClassAPI& api) { return api.BlankPrices(); });
}

// No result code to report a failure with: the price comes back unchanged.
VN_API double VN_STDCALL vnPriceStep(double Price, double TickSize, int32_t NumTicks,
                                     int32_t TicksPerPoint) {
  return GuardedExportOr(__func__, Price,
                         [&] { return PriceStep(Price, TickSize, NumTicks, TicksPerPoint); });
}

}  // extern "C"
