// The reference-data queries: counts, reads by index and by name, and existence tests over the
// exchanges, trader accounts, order types, report types and reports, commodities, contracts,
// exchange rates and a contract's at-best and subscriber-depth entries. The records and the
// look-ups under the lists' locks are in RefDataRecords.h.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/RefDataRecords.h"
#include "core/session/ClassAPI.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

// The names of a contract look-up as the caller gave them, for the trace.
std::string Names(const char* exchange, const char* commodity, const char* contractDate) {
  return std::string(ArgText(exchange, kExchangeNameWidth)) + " " +
         std::string(ArgText(commodity, kCommodityNameWidth)) + " " +
         std::string(ArgText(contractDate, kContractDateWidth));
}

// The count exports zero the count before the ready check.
template <class List>
std::int32_t CountExport(std::string_view routine, std::int32_t* count, List TClassAPI::*list) {
  return ReadyExport(
      routine, [&] { ClearCount(count); },
      [&](TClassAPI& api) {
        *count = (api.*list).Count();
        TraceExportCall(routine, [&] { return IntToStr(*count); });
        return VN_RC_SUCCESS;
      });
}

template <class Record>
void TraceContract(std::string_view routine, const Record& record, std::int32_t result) {
  TraceExportCall(routine, [&] {
    return GetFixed(record.ExchangeName) + " " + GetFixed(record.ContractName) + " " +
           GetFixed(record.ContractDate) + " result=" + IntToStr(result);
  });
}

// The number of the named contract's at-best or subscriber-depth entries, read by entries: 8
// without the contract.
template <class Entries>
std::int32_t CountEntriesExport(std::string_view routine, const char* exchange,
                                const char* commodity, const char* contractDate,
                                std::int32_t* count, Entries entries) {
  return ReadyExport(
      routine, [&] { ClearCount(count); },
      [&](TClassAPI& api) {
        std::int32_t result = VN_RC_SUCCESS;
        if (const auto contract = FindContractArg(api.Contracts, exchange, commodity, contractDate))
          *count = static_cast<std::int32_t>(entries(*contract).size());
        else
          result = VN_RC_INVALID_INDEX;
        TraceExportCall(routine, [&] {
          return Names(exchange, commodity, contractDate) + " " + IntToStr(*count) +
                 " result=" + IntToStr(result);
        });
        return result;
      });
}

template <class Record, class Entries, class Write>
std::int32_t EntryExport(std::string_view routine, const char* exchange, const char* commodity,
                         const char* contractDate, std::int32_t index, Record* record,
                         Entries entries, Write write) {
  return ReadyExport(routine, [&](TClassAPI& api) {
    RequireArgument(record, "Record");
    const std::int32_t result = CopyContractEntry(api.Contracts, exchange, commodity, contractDate,
                                                  index, *record, entries, write);
    TraceExportCall(routine, [&] {
      return Names(exchange, commodity, contractDate) + " " + IntToStr(index) +
             " result=" + IntToStr(result);
    });
    return result;
  });
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

// --- Exchanges --------------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountExchanges(int32_t* Count) {
  return CountExport(__func__, Count, &TClassAPI::Exchanges);
}

VN_API int32_t VN_STDCALL vnGetExchange(int32_t Index, ExchangeStruct* Exchange) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Exchange, "Exchange");
    const std::int32_t result =
        CopyAt(api.Exchanges, Index, *Exchange, {.EmptyListGives10 = false}, WriteExchange);
    TraceExportCall(routine, [&] { return GetFixed(Exchange->Name); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetExchangeByName(const char* Name, ExchangeStruct* Exchange) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Exchange, "Exchange");
    const std::string name = ArgString(Name, kExchangeNameWidth);
    const std::int32_t result = CopyExchangeNamed(api.Exchanges, name, *Exchange);
    TraceExportCall(routine, [&] { return name + " result=" + IntToStr(result); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnExchangeExists(const char* Name) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    const std::string name = ArgString(Name, kExchangeNameWidth);
    const std::int32_t result = KeyListed(api.Exchanges, name);
    TraceExportCall(routine, [&] { return name + " " + IntToStr(result); });
    return result;
  });
}

// --- Trader accounts --------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountTraders(int32_t* Count) {
  return CountExport(__func__, Count, &TClassAPI::Accounts);
}

VN_API int32_t VN_STDCALL vnGetTrader(int32_t Index, TraderAcctStruct* Trader) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Trader, "Trader");
    const std::int32_t result = CopyAt(api.Accounts, Index, *Trader, {}, WriteTraderRecord);
    TraceExportCall(routine, [&] {
      return GetFixed(Trader->TraderAccount) + " " + GetFixed(Trader->BackOfficeID);
    });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetTraderByName(const char* Account, TraderAcctStruct* Trader) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Trader, "Trader");
    const std::string account = ArgString(Account, kTraderAccountWidth);
    const std::int32_t result = CopyTraderNamed(api.Accounts, account, *Trader);
    TraceExportCall(routine, [&] { return account + " result=" + IntToStr(result); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnTraderExists(const char* Account) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    const std::string account = Trim(ArgString(Account, kTraderAccountWidth));
    const std::int32_t result = KeyListed(api.Accounts, account);
    TraceExportCall(routine, [&] { return account + " " + IntToStr(result); });
    return result;
  });
}

// --- Order types ------------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountOrderTypes(int32_t* Count) {
  return CountExport(__func__, Count, &TClassAPI::OrderTypes);
}

VN_API int32_t VN_STDCALL vnGetOrderType(int32_t Index, OrderTypeStruct* OrderType) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(OrderType, "OrderType");
    const std::int32_t result = CopyAt(api.OrderTypes, Index, *OrderType, {}, WriteOrderTypeRecord);
    TraceExportCall(routine, [&] {
      return GetFixed(OrderType->ExchangeName) + " " + GetFixed(OrderType->Name) +
             " result=" + IntToStr(result);
    });
    return result;
  });
}

// --- Report types and reports -----------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountReportTypes(int32_t* Count) {
  return CountExport(__func__, Count, &TClassAPI::ReportTypes);
}

VN_API int32_t VN_STDCALL vnGetReportType(int32_t Index, ReportTypeStruct* ReportType) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(ReportType, "ReportType");
    const std::int32_t result =
        CopyAt(api.ReportTypes, Index, *ReportType,
               {.EmptyListGives10 = false, .ZeroBytesOnBadIndex = 4}, WriteReportType);
    TraceExportCall(
        routine, [&] { return GetFixed(ReportType->ReportType) + " result=" + IntToStr(result); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnReportTypeExists(const char* ReportType) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    const std::string type = ArgString(ReportType, kReportTypeWidth);
    const std::int32_t result = KeyListed(api.ReportTypes, type);
    TraceExportCall(routine, [&] { return type + " " + IntToStr(result); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetReportSize(const char* ReportType, int32_t* Size) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) -> std::int32_t {
    RequireArgument(Size, "Size");
    *Size = 0;
    if (api.ReportTypes.Count() == 0) return VN_RC_NO_DATA;
    const std::string type = ArgString(ReportType, kReportTypeWidth);
    const std::size_t length = api.Reports.GetReportText(type).size();
    // Room for the NUL when there is any text.
    *Size = length > 0 ? static_cast<std::int32_t>(length + 1) : 0;
    TraceExportCall(routine, [&] { return type + " " + IntToStr(*Size); });
    return *Size == 0 ? VN_RC_NO_MATCHING_REPORT : VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetReport(const char* ReportType, int32_t Room, char* Buffer) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) -> std::int32_t {
    RequireArgument(Buffer, "Buffer");
    if (api.Reports.Count() == 0) return VN_RC_NO_DATA;
    if (Room == 0) return VN_RC_REPORT_NO_ROOM;
    const std::string type = ArgString(ReportType, kReportTypeWidth);
    const std::string text = api.Reports.GetReportText(type);
    const std::int64_t needed = static_cast<std::int64_t>(text.size()) + 1;
    TraceExportCall(routine, [&] {
      return type + " Space used: " + IntToStr(needed) + " out of " + IntToStr(Room) + " bytes";
    });
    if (needed > Room) return VN_RC_REPORT_NO_ROOM;
    std::memcpy(Buffer, text.data(), text.size());
    Buffer[text.size()] = '\0';
    return text.empty() ? VN_RC_NO_MATCHING_REPORT : VN_RC_SUCCESS;
  });
}

// --- Commodities ------------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountCommodities(int32_t* Count) {
  return CountExport(__func__, Count, &TClassAPI::Commodities);
}

VN_API int32_t VN_STDCALL vnGetCommodity(int32_t Index, CommodityStruct* Commodity) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Commodity, "Commodity");
    const std::int32_t result = CopyAt(api.Commodities, Index, *Commodity, {}, WriteCommodity);
    TraceExportCall(routine, [&] {
      return GetFixed(Commodity->ExchangeName) + " " + GetFixed(Commodity->Name) +
             " result=" + IntToStr(result);
    });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetCommodityByName(const char* Exchange, const char* Commodity,
                                               CommodityStruct* Out) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Out, "Out");
    const std::string exchange = ArgString(Exchange, kExchangeNameWidth);
    const std::string name = ArgString(Commodity, kCommodityNameWidth);
    const std::int32_t result = CopyCommodityNamed(api.Commodities, exchange, name, *Out);
    TraceExportCall(routine, [&] { return exchange + " " + name + " result=" + IntToStr(result); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnCommodityExists(const char* Exchange, const char* Commodity) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    const std::string exchange = ArgString(Exchange, kExchangeNameWidth);
    const std::string name = ArgString(Commodity, kCommodityNameWidth);
    const std::int32_t result = KeyListed(api.Commodities, TCommodityQ::MakeKey(exchange, name));
    TraceExportCall(routine, [&] { return exchange + " " + name + " " + IntToStr(result); });
    return result;
  });
}

// --- Contracts --------------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountContracts(int32_t* Count) {
  return CountExport(__func__, Count, &TClassAPI::Contracts);
}

VN_API int32_t VN_STDCALL vnGetContract(int32_t Index, ContractStruct* Contract) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Contract, "Contract");
    const std::int32_t result = CopyContractAt(api.Contracts, Index, *Contract);
    TraceContract(routine, *Contract, result);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetExtendedContract(int32_t Index, ExtendedContractStruct* Contract) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Contract, "Contract");
    const std::int32_t result = CopyContractAt(api.Contracts, Index, *Contract);
    TraceContract(routine, *Contract, result);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetContractByName(const char* Exchange, const char* Commodity,
                                              const char* ContractDate, ContractStruct* Contract) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Contract, "Contract");
    const std::int32_t result =
        CopyContractNamed(api.Contracts, Exchange, Commodity, ContractDate, *Contract);
    TraceContract(routine, *Contract, result);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetExtendedContractByName(const char* Exchange, const char* Commodity,
                                                      const char* ContractDate,
                                                      ExtendedContractStruct* Contract) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Contract, "Contract");
    const std::int32_t result =
        CopyContractNamed(api.Contracts, Exchange, Commodity, ContractDate, *Contract);
    TraceContract(routine, *Contract, result);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnContractExists(const char* Exchange, const char* Commodity,
                                           const char* ContractDate) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    const std::int32_t result = ContractListed(api.Contracts, Exchange, Commodity, ContractDate);
    TraceExportCall(
        routine, [&] { return Names(Exchange, Commodity, ContractDate) + " " + IntToStr(result); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetContractByExternalID(const ContractStruct* Key,
                                                    ContractStruct* Contract) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Key, "Key");
    RequireArgument(Contract, "Contract");
    const std::int32_t result = CopyContractByExternalID(api.Contracts, *Key, *Contract);
    TraceContract(routine, *Contract, result);
    return result;
  });
}

// --- Exchange rates ---------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnGetExchangeRate(const char* Currency, ExchangeRateStruct* Rate) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Rate, "Rate");
    const std::string currency = ArgString(Currency, kCurrencyWidth);
    const std::int32_t result = CopyExchangeRate(api.ExchangeRates, currency, *Rate);
    TraceExportCall(routine, [&] {
      return currency + " " +
             (result == VN_RC_SUCCESS ? GetFixed(Rate->Rate) : "result=" + IntToStr(result));
    });
    return result;
  });
}

// --- At best and subscriber depth -------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountContractAtBest(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, int32_t* Count) {
  return CountEntriesExport(__func__, Exchange, Commodity, ContractDate, Count, AtBestEntries);
}

VN_API int32_t VN_STDCALL vnGetContractAtBest(const char* Exchange, const char* Commodity,
                                              const char* ContractDate, int32_t Index,
                                              AtBestStruct* AtBest) {
  return EntryExport(__func__, Exchange, Commodity, ContractDate, Index, AtBest, AtBestEntries,
                     WriteAtBest);
}

VN_API int32_t VN_STDCALL vnGetContractAtBestPrices(const char* Exchange, const char* Commodity,
                                                    const char* ContractDate,
                                                    AtBestPriceStruct* Prices) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Prices, "Prices");
    std::int32_t result = VN_RC_SUCCESS;
    if (const auto contract = FindContractArg(api.Contracts, Exchange, Commodity, ContractDate))
      WriteAtBestPrices(contract->GetAtBest(), *Prices);
    else
      result = VN_RC_INVALID_INDEX;
    TraceExportCall(routine, [&] {
      return Names(Exchange, Commodity, ContractDate) + " result=" + IntToStr(result);
    });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnCountContractSubscriberDepth(const char* Exchange,
                                                         const char* Commodity,
                                                         const char* ContractDate, int32_t* Count) {
  return CountEntriesExport(__func__, Exchange, Commodity, ContractDate, Count, DepthEntries);
}

VN_API int32_t VN_STDCALL vnGetContractSubscriberDepth(const char* Exchange, const char* Commodity,
                                                       const char* ContractDate, int32_t Index,
                                                       SubscriberDepthStruct* Depth) {
  return EntryExport(__func__, Exchange, Commodity, ContractDate, Index, Depth, DepthEntries,
                     WriteDepth);
}

}  // extern "C"
