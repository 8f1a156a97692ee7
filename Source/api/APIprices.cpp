// The price queries: a contract's price table (by its place in the contract list or by its
// names), one generic price, and blanking every contract's prices.
//
// A contract's table is copied out and its change mask taken in one step under the contract's
// price lock (TContractItem::ReadPrices), so a bit the price feed raises is either in this copy's
// mask or left for the next reader, never lost between the read and the clear.

#include <cstdint>
#include <memory>
#include <string>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "core/refdata/ContractItem.h"
#include "core/session/ClassAPI.h"
#include "core/util/Conversions.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

// An unset entry reads as the text 0 with every number 0.
void WritePriceDetail(const PriceEntry& entry, PriceDetailStruct& record) {
  ZeroRecord(&record, sizeof record);
  if (entry.Unset != 0) {
    PutFixed(record.Price, "0");
    return;
  }
  PutFixed(record.Price, FloatToStr(entry.Value));
  record.Volume = entry.Volume;
  record.Age = entry.Age;
  record.Direction = (entry.DirectionHour & VN_PE_UP) != 0     ? VN_DIRECTION_UP
                     : (entry.DirectionHour & VN_PE_DOWN) != 0 ? VN_DIRECTION_DOWN
                                                               : 0;
  record.Hour = entry.DirectionHour & VN_PE_HOUR_MASK;
  record.Minute = entry.Minute;
  record.Second = entry.Second;
}

// Every entry, the status and the change mask as it stood; the mask is cleared.
void WritePrices(TContractItem& contract, PriceStruct& record) {
  TPriceTable prices;
  const std::uint32_t mask = contract.ReadPrices(prices);
  for (int kind = 0; kind < kPriceKindCount; ++kind)
    WritePriceDetail(prices[static_cast<std::size_t>(kind)], record.Entries[kind]);
  record.Status = contract.Status.load();
  record.ChangeMask = static_cast<std::int32_t>(mask);
}

// Type 26 with level 1-4 gives generic prices 1-4, type 27 with level 1-4 gives 5-8; -1 for
// any other pair.
int GenericKind(std::int32_t type, std::int32_t level) {
  if (level < VN_GENERIC_LEVEL_MIN || level > VN_GENERIC_LEVEL_MAX) return -1;
  if (type == VN_GENERIC_TYPE_26) return level;
  if (type == VN_GENERIC_TYPE_27) return level + 4;
  return -1;
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnGetPrice(int32_t Index, PriceStruct* Prices) {
  return GuardedExport("vnGetPrice", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Prices, "Prices");
    std::shared_ptr<TContractItem> contract;
    {
      TIndexListLock guard(api->Contracts);
      const int count = api->Contracts.Count();
      if (count == 0) return VN_RC_NO_DATA;
      if (Index >= 0 && Index < count) contract = api->Contracts.At(Index);
    }
    if (!contract) {
      ZeroRecord(Prices, sizeof *Prices);
      return VN_RC_INVALID_INDEX;
    }
    WritePrices(*contract, *Prices);
    TraceAppCall([&] {
      return "vnGetPrice " + IntToStr(Index) + " " +
             GetFixed(Prices->Entries[VN_PK_LAST_TRADE].Price);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetPriceForContract(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, PriceStruct* Prices) {
  return GuardedExport("vnGetPriceForContract", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Prices, "Prices");
    if (api->Contracts.Count() == 0) return VN_RC_NO_DATA;
    const auto contract = FindContractArg(api->Contracts, Exchange, Commodity, ContractDate);
    if (!contract) {
      ZeroRecord(Prices, sizeof *Prices);
      return VN_RC_UNKNOWN_CONTRACT;
    }
    WritePrices(*contract, *Prices);
    TraceAppCall([&] {
      return "vnGetPriceForContract " + std::string(ArgText(Commodity, kCommodityNameWidth)) + " " +
             std::string(ArgText(ContractDate, kContractDateWidth)) + " " +
             GetFixed(Prices->Entries[VN_PK_LAST_TRADE].Price);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetGenericPrice(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, int32_t PriceType,
                                            int32_t PriceLevel, GenericPriceStruct* Price) {
  return GuardedExport("vnGetGenericPrice", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Price, "Price");
    if (api->Contracts.Count() == 0) return VN_RC_NO_DATA;
    const auto contract = FindContractArg(api->Contracts, Exchange, Commodity, ContractDate);
    if (!contract) {
      ZeroRecord(Price, sizeof *Price);
      return VN_RC_UNKNOWN_CONTRACT;
    }
    const int kind = GenericKind(PriceType, PriceLevel);
    if (kind >= 0) {
      WritePriceDetail(contract->GetGenericPrice(kind), *Price);
    } else {
      ZeroRecord(Price, sizeof *Price);
      PutFixed(Price->Price, "0.000");
    }
    TraceAppCall([&] {
      return "vnGetGenericPrice " + std::string(ArgText(Commodity, kCommodityNameWidth)) + " " +
             std::string(ArgText(ContractDate, kContractDateWidth)) + " " + GetFixed(Price->Price);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnBlankPrices(void) {
  return GuardedExport("vnBlankPrices", []() -> std::int32_t {
    const auto api = API();
    if (!api) return VN_RC_NOT_INITIALISED;
    return api->BlankPrices();
  });
}

}  // extern "C"
