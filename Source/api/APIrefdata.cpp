// The reference-data queries: counts, reads by index and by name, and existence tests over the
// exchanges, trader accounts, order types, report types and reports, commodities, contracts,
// exchange rates and a contract's at-best and subscriber-depth entries.
//
// Every read holds the lock of the list it reads for the check and the copy: the lists are
// filled and changed on the link threads while application threads query them. A contract's own
// fields are guarded by the contract's locks, so a contract is copied after the list lock is
// left; the contract look-up by name may wait for the contract file and runs with no lock held.

#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "core/session/ClassAPI.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

// Both contract records share this first part; a failed contract read zeroes only it.
constexpr std::size_t kContractZeroBytes = sizeof(ContractStruct);

// The names of a contract look-up as the caller gave them, for the trace.
std::string Names(const char* exchange, const char* commodity, const char* contractDate) {
  return std::string(ArgText(exchange, kExchangeNameWidth)) + " " +
         std::string(ArgText(commodity, kCommodityNameWidth)) + " " +
         std::string(ArgText(contractDate, kContractDateWidth));
}

void ZeroBytes(void* record, std::size_t count) {
  std::memset(record, 0, count);
}

// --- Record writers: list lock held for the list's items --------------------------------------

void WriteExchange(const TExchange& exchange, ExchangeStruct& record) {
  PutFixed(record.Name, exchange.Name());
  record.QueryEnabled = YesNo(exchange.QueryEnabled);
  record.AmendEnabled = YesNo(exchange.AmendEnabled);
  record.StrategyCreator = exchange.StrategyCreator;
  record.CustomDecimal = YesNo(exchange.CustomDecimal);
  record.Decimals = exchange.Decimals;
  record.TicketType = exchange.TicketType;
  record.RFQA = YesNo(exchange.RFQA);
  record.RFQT = YesNo(exchange.RFQT);
  record.EnableBlock = YesNo(exchange.EnableBlock);
  record.EnableBasis = YesNo(exchange.EnableBasis);
  record.EnableAA = YesNo(exchange.EnableAA);
  record.EnableCross = YesNo(exchange.EnableCross);
  record.UUIDState = exchange.State;
}

void WriteCommodity(const TCommodity& commodity, CommodityStruct& record) {
  PutFixed(record.ExchangeName, commodity.ExchangeName());
  PutFixed(record.Name, commodity.Name());
  PutFixed(record.Currency, commodity.Currency);
  PutFixed(record.Group, commodity.Group);
  PutFixed(record.OnePoint, FloatToStr(commodity.OnePoint));
  record.TicksPerPoint = commodity.TicksPerPoint;
  PutFixed(record.TickSize, FloatToStr(commodity.TickSize));
  record.UUIDState = commodity.State;
}

// Either contract record: the fields, then every leg slot the record has, whether or not the
// contract has that many legs. No list lock held: the getters take the contract's own locks and
// those of the commodity and exchange lists.
template <class Record>
void WriteContract(const TContractItem& contract, Record& record) {
  PutFixed(record.ContractName, contract.CommodityStr());
  PutFixed(record.ContractDate, contract.ContractDate());
  PutFixed(record.ExchangeName, contract.ExchangeStr());
  PutFixed(record.ExpiryDate, contract.GetExpiryDate());
  PutFixed(record.LastTradeDate, contract.GetLastTradeDate());
  record.NumberOfLegs = contract.GetLegs();
  record.TicksPerPoint = contract.GetTicksPerPoint();
  PutFixed(record.TickSize, FloatToStr(contract.GetTickSize()));
  record.Tradable = YesNo(contract.IsPermitted());
  record.UUIDState = contract.State;
  PutFixed(record.MarginRequired, FloatToStr(contract.GetMarginRequired()));
  record.ESATemplate = contract.GetESATemplate();
  PutFixed(record.MarketRef, contract.GetMarketReference());
  PutFixed(record.lnExchange, contract.GetlnExchange());
  PutFixed(record.lnCommodity, contract.GetlnCommodity());
  PutFixed(record.lnContractDate, contract.GetlnContractDate());
  constexpr int kSlots = static_cast<int>(std::extent_v<decltype(Record::Legs)>);
  for (int leg = 1; leg <= kSlots; ++leg)
    for (int field = 1; field <= kLegFieldCount; ++field)
      PutFixed(record.Legs[leg - 1].Field[field - 1], contract.GetLegField(leg, field));
}

// --- The shapes shared by the families --------------------------------------------------------

// The count exports zero the count before the ready check.
template <class List>
std::int32_t CountItems(const char* name, std::int32_t* count, List TClassAPI::*list) {
  RequireArgument(count, "Count");
  *count = 0;
  std::int32_t result = VN_RC_SUCCESS;
  const auto api = ReadyAPI(result);
  if (!api) return result;
  *count = ((*api).*list).Count();
  TraceAppCall(std::string(name) + " " + IntToStr(*count));
  return VN_RC_SUCCESS;
}

struct TIndexRules {
  bool EmptyListGives10 = true;
  std::size_t ZeroBytesOnBadIndex = 0;  // 0: the whole record
};

// Copies the item at the index under the list's lock. Returns 10 for an empty list where the
// rules say so, and 8 with the record zeroed as they say for an index outside the list.
template <class List, class Record, class Write>
std::int32_t CopyAt(const List& list, std::int32_t index, Record& record, TIndexRules rules,
                    Write write) {
  TIndexListLock guard(list);
  const int count = list.Count();
  if (rules.EmptyListGives10 && count == 0) return VN_RC_NO_DATA;
  if (index < 0 || index >= count) {
    ZeroBytes(&record, rules.ZeroBytesOnBadIndex ? rules.ZeroBytesOnBadIndex : sizeof record);
    return VN_RC_INVALID_INDEX;
  }
  write(*list.At(index), record);
  return VN_RC_SUCCESS;
}

// The contract at the index (10 for an empty list, 8 and the shared part zeroed outside it),
// copied after the list lock is left.
template <class Record>
std::int32_t GetContractAt(TClassAPI& api, std::int32_t index, Record& record) {
  std::shared_ptr<TContractItem> contract;
  {
    TIndexListLock guard(api.Contracts);
    const int count = api.Contracts.Count();
    if (count == 0) return VN_RC_NO_DATA;
    if (index < 0 || index >= count) {
      ZeroBytes(&record, kContractZeroBytes);
      return VN_RC_INVALID_INDEX;
    }
    contract = api.Contracts.At(index);
  }
  WriteContract(*contract, record);
  return VN_RC_SUCCESS;
}

// The contract of the names (8 and the shared part zeroed when it is not held).
template <class Record>
std::int32_t GetContractNamed(TClassAPI& api, const char* exchange, const char* commodity,
                              const char* contractDate, Record& record) {
  const auto contract = FindContractArg(api.Contracts, exchange, commodity, contractDate);
  if (!contract) {
    ZeroBytes(&record, kContractZeroBytes);
    return VN_RC_INVALID_INDEX;
  }
  WriteContract(*contract, record);
  return VN_RC_SUCCESS;
}

template <class Record>
void TraceContract(const char* name, const Record& record, std::int32_t result) {
  if (TracingAppCalls())
    WriteTraceLine(std::string(name) + " " + GetFixed(record.ExchangeName) + " " +
                   GetFixed(record.ContractName) + " " + GetFixed(record.ContractDate) +
                   " result=" + IntToStr(result));
}

void WriteAtBest(const TAtBest& entry, AtBestStruct& record) {
  PutFixed(record.Firm, entry.Code);
  record.Volume = entry.Volume;
  record.BestType = entry.Type;
}

void WriteDepth(const TSubscriberDepth& entry, SubscriberDepthStruct& record) {
  PutFixed(record.Price, FloatToStr(entry.Price));
  record.Volume = entry.Volume;
  PutFixed(record.Firm, entry.Code);
  record.DepthType = entry.Type;
}

// The entries of the named contract's at-best or subscriber-depth list, read by Entries.
template <class Entries>
std::int32_t CountContractEntries(const char* name, const char* exchange, const char* commodity,
                                  const char* contractDate, std::int32_t* count, Entries entries) {
  RequireArgument(count, "Count");
  *count = 0;
  std::int32_t result = VN_RC_SUCCESS;
  const auto api = ReadyAPI(result);
  if (!api) return result;
  const auto contract = FindContractArg(api->Contracts, exchange, commodity, contractDate);
  if (!contract) {
    result = VN_RC_INVALID_INDEX;
  } else {
    *count = static_cast<std::int32_t>(entries(*contract).size());
  }
  TraceAppCall(std::string(name) + " " + Names(exchange, commodity, contractDate) + " " +
               IntToStr(*count) + " result=" + IntToStr(result));
  return result;
}

// The first four bytes (the firm of an at-best entry, part of the price of a depth entry) are
// zeroed before any check.
template <class Record, class Entries, class Write>
std::int32_t GetContractEntry(const char* name, const char* exchange, const char* commodity,
                              const char* contractDate, std::int32_t index, Record* record,
                              Entries entries, Write write) {
  std::int32_t result = VN_RC_SUCCESS;
  const auto api = ReadyAPI(result);
  if (!api) return result;
  RequireArgument(record, "Record");
  ZeroBytes(record, 4);
  const auto contract = FindContractArg(api->Contracts, exchange, commodity, contractDate);
  if (!contract) {
    result = VN_RC_INVALID_INDEX;
  } else {
    const auto list = entries(*contract);
    if (list.empty()) {
      result = VN_RC_NO_DATA;
    } else if (index < 0 || static_cast<std::size_t>(index) >= list.size()) {
      result = VN_RC_INVALID_INDEX;
    } else {
      write(list[static_cast<std::size_t>(index)], *record);
    }
  }
  TraceAppCall(std::string(name) + " " + Names(exchange, commodity, contractDate) + " " +
               IntToStr(index) + " result=" + IntToStr(result));
  return result;
}

std::vector<TAtBest> AtBestEntries(const TContractItem& contract) {
  return contract.GetAtBest().Entries;
}

std::vector<TSubscriberDepth> DepthEntries(const TContractItem& contract) {
  return contract.GetSubscriberDepth();
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

// --- Exchanges --------------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountExchanges(int32_t* Count) {
  return GuardedExport("vnCountExchanges", [&] {
    return CountItems("vnCountExchanges", Count, &TClassAPI::Exchanges);
  });
}

VN_API int32_t VN_STDCALL vnGetExchange(int32_t Index, ExchangeStruct* Exchange) {
  return GuardedExport("vnGetExchange", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Exchange, "Exchange");
    result = CopyAt(api->Exchanges, Index, *Exchange, {.EmptyListGives10 = false}, WriteExchange);
    TraceAppCall("vnGetExchange " + GetFixed(Exchange->Name));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetExchangeByName(const char* Name, ExchangeStruct* Exchange) {
  return GuardedExport("vnGetExchangeByName", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Exchange, "Exchange");
    const std::string name = ArgString(Name, kExchangeNameWidth);
    {
      TIndexListLock guard(api->Exchanges);
      if (api->Exchanges.Count() == 0) {
        result = VN_RC_NO_DATA;
      } else if (const auto exchange = api->Exchanges.FindExchange(name)) {
        WriteExchange(*exchange, *Exchange);
      } else {
        ZeroBytes(Exchange, sizeof *Exchange);
        result = VN_RC_UNKNOWN_EXCHANGE;
      }
    }
    TraceAppCall("vnGetExchangeByName " + name + " result=" + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnExchangeExists(const char* Name) {
  return GuardedExport("vnExchangeExists", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    const std::string name = ArgString(Name, kExchangeNameWidth);
    {
      TIndexListLock guard(api->Exchanges);
      if (api->Exchanges.Count() == 0)
        result = VN_RC_NO_DATA;
      else
        result = api->Exchanges.KeyExists(name) ? VN_RC_SUCCESS : VN_RC_GENERIC_ERROR;
    }
    TraceAppCall("vnExchangeExists " + name + " " + IntToStr(result));
    return result;
  });
}

// --- Trader accounts --------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountTraders(int32_t* Count) {
  return GuardedExport("vnCountTraders",
                       [&] { return CountItems("vnCountTraders", Count, &TClassAPI::Accounts); });
}

VN_API int32_t VN_STDCALL vnGetTrader(int32_t Index, TraderAcctStruct* Trader) {
  return GuardedExport("vnGetTrader", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Trader, "Trader");
    result = CopyAt(api->Accounts, Index, *Trader, {}, WriteTraderRecord);
    TraceAppCall("vnGetTrader " + GetFixed(Trader->TraderAccount) + " " +
                 GetFixed(Trader->BackOfficeID));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetTraderByName(const char* Account, TraderAcctStruct* Trader) {
  return GuardedExport("vnGetTraderByName", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Trader, "Trader");
    const std::string account = ArgString(Account, kTraderAccountWidth);
    {
      TIndexListLock guard(api->Accounts);
      if (api->Accounts.Count() == 0) {
        result = VN_RC_NO_DATA;
      } else if (const auto item = api->Accounts.Get(account)) {
        WriteTraderRecord(*item, *Trader);
      } else {
        ZeroBytes(Trader, sizeof *Trader);
        result = VN_RC_TRADER_ACCOUNT_NOT_FOUND;
      }
    }
    TraceAppCall("vnGetTraderByName " + account + " result=" + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnTraderExists(const char* Account) {
  return GuardedExport("vnTraderExists", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    const std::string account = Trim(ArgString(Account, kTraderAccountWidth));
    {
      TIndexListLock guard(api->Accounts);
      if (api->Accounts.Count() == 0)
        result = VN_RC_NO_DATA;
      else
        result = api->Accounts.KeyExists(account) ? VN_RC_SUCCESS : VN_RC_GENERIC_ERROR;
    }
    TraceAppCall("vnTraderExists " + account + " " + IntToStr(result));
    return result;
  });
}

// --- Order types ------------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountOrderTypes(int32_t* Count) {
  return GuardedExport("vnCountOrderTypes", [&] {
    return CountItems("vnCountOrderTypes", Count, &TClassAPI::OrderTypes);
  });
}

VN_API int32_t VN_STDCALL vnGetOrderType(int32_t Index, OrderTypeStruct* OrderType) {
  return GuardedExport("vnGetOrderType", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(OrderType, "OrderType");
    result = CopyAt(api->OrderTypes, Index, *OrderType, {}, WriteOrderTypeRecord);
    TraceAppCall("vnGetOrderType " + GetFixed(OrderType->ExchangeName) + " " +
                 GetFixed(OrderType->Name) + " result=" + IntToStr(result));
    return result;
  });
}

// --- Report types and reports -----------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountReportTypes(int32_t* Count) {
  return GuardedExport("vnCountReportTypes", [&] {
    return CountItems("vnCountReportTypes", Count, &TClassAPI::ReportTypes);
  });
}

VN_API int32_t VN_STDCALL vnGetReportType(int32_t Index, ReportTypeStruct* ReportType) {
  return GuardedExport("vnGetReportType", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(ReportType, "ReportType");
    result = CopyAt(api->ReportTypes, Index, *ReportType,
                    {.EmptyListGives10 = false, .ZeroBytesOnBadIndex = 4},
                    [](const TReportType& type, ReportTypeStruct& record) {
                      PutFixed(record.ReportType, type.ReportType);
                    });
    TraceAppCall("vnGetReportType " + GetFixed(ReportType->ReportType) +
                 " result=" + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnReportTypeExists(const char* ReportType) {
  return GuardedExport("vnReportTypeExists", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    const std::string type = ArgString(ReportType, kReportTypeWidth);
    {
      TIndexListLock guard(api->ReportTypes);
      if (api->ReportTypes.Count() == 0)
        result = VN_RC_NO_DATA;
      else
        result = api->ReportTypes.KeyExists(type) ? VN_RC_SUCCESS : VN_RC_GENERIC_ERROR;
    }
    TraceAppCall("vnReportTypeExists " + type + " " + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetReportSize(const char* ReportType, int32_t* Size) {
  return GuardedExport("vnGetReportSize", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Size, "Size");
    *Size = 0;
    if (api->ReportTypes.Count() == 0) return VN_RC_NO_DATA;
    const std::string type = ArgString(ReportType, kReportTypeWidth);
    const std::size_t length = api->Reports.GetReportText(type).size();
    // Room for the NUL when there is any text.
    *Size = length > 0 ? static_cast<std::int32_t>(length + 1) : 0;
    TraceAppCall("vnGetReportSize " + type + " " + IntToStr(*Size));
    return *Size == 0 ? VN_RC_NO_MATCHING_REPORT : VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetReport(const char* ReportType, int32_t Room, char* Buffer) {
  return GuardedExport("vnGetReport", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Buffer, "Buffer");
    if (api->Reports.Count() == 0) return VN_RC_NO_DATA;
    if (Room == 0) return VN_RC_REPORT_NO_ROOM;
    const std::string type = ArgString(ReportType, kReportTypeWidth);
    const std::string text = api->Reports.GetReportText(type);
    const std::int64_t needed = static_cast<std::int64_t>(text.size()) + 1;
    TraceAppCall("vnGetReport " + type + " Space used: " + IntToStr(needed) + " out of " +
                 IntToStr(Room) + " bytes");
    if (needed > Room) return VN_RC_REPORT_NO_ROOM;
    std::memcpy(Buffer, text.data(), text.size());
    Buffer[text.size()] = '\0';
    return text.empty() ? VN_RC_NO_MATCHING_REPORT : VN_RC_SUCCESS;
  });
}

// --- Commodities ------------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountCommodities(int32_t* Count) {
  return GuardedExport("vnCountCommodities", [&] {
    return CountItems("vnCountCommodities", Count, &TClassAPI::Commodities);
  });
}

VN_API int32_t VN_STDCALL vnGetCommodity(int32_t Index, CommodityStruct* Commodity) {
  return GuardedExport("vnGetCommodity", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Commodity, "Commodity");
    result = CopyAt(api->Commodities, Index, *Commodity, {}, WriteCommodity);
    TraceAppCall("vnGetCommodity " + GetFixed(Commodity->ExchangeName) + " " +
                 GetFixed(Commodity->Name) + " result=" + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetCommodityByName(const char* Exchange, const char* Commodity,
                                               CommodityStruct* Out) {
  return GuardedExport("vnGetCommodityByName", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Out, "Out");
    const std::string exchange = ArgString(Exchange, kExchangeNameWidth);
    const std::string name = ArgString(Commodity, kCommodityNameWidth);
    {
      TIndexListLock guard(api->Commodities);
      if (api->Commodities.Count() == 0) {
        result = VN_RC_NO_DATA;
      } else if (const auto item = api->Commodities.FindCommodity(exchange, name)) {
        WriteCommodity(*item, *Out);
      } else {
        ZeroBytes(Out, sizeof *Out);
        result = VN_RC_UNKNOWN_COMMODITY;
      }
    }
    TraceAppCall("vnGetCommodityByName " + exchange + " " + name + " result=" + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnCommodityExists(const char* Exchange, const char* Commodity) {
  return GuardedExport("vnCommodityExists", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    const std::string exchange = ArgString(Exchange, kExchangeNameWidth);
    const std::string name = ArgString(Commodity, kCommodityNameWidth);
    {
      TIndexListLock guard(api->Commodities);
      if (api->Commodities.Count() == 0)
        result = VN_RC_NO_DATA;
      else
        result = api->Commodities.KeyExists(TCommodityQ::MakeKey(exchange, name))
                     ? VN_RC_SUCCESS
                     : VN_RC_GENERIC_ERROR;
    }
    TraceAppCall("vnCommodityExists " + exchange + " " + name + " " + IntToStr(result));
    return result;
  });
}

// --- Contracts --------------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountContracts(int32_t* Count) {
  return GuardedExport("vnCountContracts", [&] {
    return CountItems("vnCountContracts", Count, &TClassAPI::Contracts);
  });
}

VN_API int32_t VN_STDCALL vnGetContract(int32_t Index, ContractStruct* Contract) {
  return GuardedExport("vnGetContract", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Contract, "Contract");
    result = GetContractAt(*api, Index, *Contract);
    TraceContract("vnGetContract", *Contract, result);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetExtendedContract(int32_t Index, ExtendedContractStruct* Contract) {
  return GuardedExport("vnGetExtendedContract", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Contract, "Contract");
    result = GetContractAt(*api, Index, *Contract);
    TraceContract("vnGetExtendedContract", *Contract, result);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetContractByName(const char* Exchange, const char* Commodity,
                                              const char* ContractDate, ContractStruct* Contract) {
  return GuardedExport("vnGetContractByName", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Contract, "Contract");
    result = GetContractNamed(*api, Exchange, Commodity, ContractDate, *Contract);
    TraceContract("vnGetContractByName", *Contract, result);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetExtendedContractByName(const char* Exchange, const char* Commodity,
                                                      const char* ContractDate,
                                                      ExtendedContractStruct* Contract) {
  return GuardedExport("vnGetExtendedContractByName", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Contract, "Contract");
    result = GetContractNamed(*api, Exchange, Commodity, ContractDate, *Contract);
    TraceContract("vnGetExtendedContractByName", *Contract, result);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnContractExists(const char* Exchange, const char* Commodity,
                                           const char* ContractDate) {
  return GuardedExport("vnContractExists", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    if (api->Contracts.Count() == 0) {
      result = VN_RC_NO_DATA;
    } else {
      result = FindContractArg(api->Contracts, Exchange, Commodity, ContractDate)
                   ? VN_RC_SUCCESS
                   : VN_RC_GENERIC_ERROR;
    }
    TraceAppCall("vnContractExists " + Names(Exchange, Commodity, ContractDate) + " " +
                 IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetContractByExternalID(const ContractStruct* Key,
                                                    ContractStruct* Contract) {
  return GuardedExport("vnGetContractByExternalID", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Key, "Key");
    RequireArgument(Contract, "Contract");
    // Leg 1 fields 1-3 and leg 2 fields 2-3, read within their widths (the caller's texts need
    // not end in a NUL) before the output, which may be the same record, is written.
    struct TLegField {
      int Leg;
      int Field;
    };
    static constexpr TLegField kMatched[] = {{1, 1}, {1, 2}, {1, 3}, {2, 2}, {2, 3}};
    std::string wanted[std::size(kMatched)];
    for (std::size_t i = 0; i < std::size(kMatched); ++i)
      wanted[i] = Trim(GetFixed(Key->Legs[kMatched[i].Leg - 1].Field[kMatched[i].Field - 1]));
    std::shared_ptr<TContractItem> found;
    {
      TIndexListLock guard(api->Contracts);
      for (int i = 0; i < api->Contracts.Count() && !found; ++i) {
        auto contract = api->Contracts.At(i);
        bool same = true;
        for (std::size_t f = 0; f < std::size(kMatched) && same; ++f)
          same = Trim(contract->GetLegField(kMatched[f].Leg, kMatched[f].Field)) == wanted[f];
        if (same) found = std::move(contract);
      }
    }
    if (found) {
      WriteContract(*found, *Contract);
    } else {
      ZeroBytes(Contract, kContractZeroBytes);
      result = VN_RC_INVALID_INDEX;
    }
    TraceContract("vnGetContractByExternalID", *Contract, result);
    return result;
  });
}

// --- Exchange rates ---------------------------------------------------------------------------

VN_API int32_t VN_STDCALL vnGetExchangeRate(const char* Currency, ExchangeRateStruct* Rate) {
  return GuardedExport("vnGetExchangeRate", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Rate, "Rate");
    const std::string currency = ArgString(Currency, kCurrencyWidth);
    {
      TIndexListLock guard(api->ExchangeRates);
      if (api->ExchangeRates.Count() == 0) {
        result = VN_RC_NO_DATA;
      } else if (const auto rate = api->ExchangeRates.Get(currency)) {
        PutFixed(Rate->Rate, FloatToStr(rate->Rate));
      } else {
        result = VN_RC_UNKNOWN_CURRENCY;
      }
    }
    TraceAppCall("vnGetExchangeRate " + currency + " " +
                 (result == VN_RC_SUCCESS ? GetFixed(Rate->Rate) : "result=" + IntToStr(result)));
    return result;
  });
}

// --- At best and subscriber depth -------------------------------------------------------------

VN_API int32_t VN_STDCALL vnCountContractAtBest(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, int32_t* Count) {
  return GuardedExport("vnCountContractAtBest", [&] {
    return CountContractEntries("vnCountContractAtBest", Exchange, Commodity, ContractDate, Count,
                                AtBestEntries);
  });
}

VN_API int32_t VN_STDCALL vnGetContractAtBest(const char* Exchange, const char* Commodity,
                                              const char* ContractDate, int32_t Index,
                                              AtBestStruct* AtBest) {
  return GuardedExport("vnGetContractAtBest", [&] {
    return GetContractEntry("vnGetContractAtBest", Exchange, Commodity, ContractDate, Index, AtBest,
                            AtBestEntries, WriteAtBest);
  });
}

VN_API int32_t VN_STDCALL vnGetContractAtBestPrices(const char* Exchange, const char* Commodity,
                                                    const char* ContractDate,
                                                    AtBestPriceStruct* Prices) {
  return GuardedExport("vnGetContractAtBestPrices", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Prices, "Prices");
    const auto contract = FindContractArg(api->Contracts, Exchange, Commodity, ContractDate);
    if (contract) {
      const TAtBestPrices atBest = contract->GetAtBest();
      PutFixed(Prices->BestBid, FloatToStr(atBest.Bid));
      PutFixed(Prices->BestOffer, FloatToStr(atBest.Offer));
      PutFixed(Prices->LastBuyer, atBest.LastBuyer);
      PutFixed(Prices->LastSeller, atBest.LastSeller);
    } else {
      result = VN_RC_INVALID_INDEX;
    }
    TraceAppCall("vnGetContractAtBestPrices " + Names(Exchange, Commodity, ContractDate) +
                 " result=" + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnCountContractSubscriberDepth(const char* Exchange,
                                                         const char* Commodity,
                                                         const char* ContractDate, int32_t* Count) {
  return GuardedExport("vnCountContractSubscriberDepth", [&] {
    return CountContractEntries("vnCountContractSubscriberDepth", Exchange, Commodity, ContractDate,
                                Count, DepthEntries);
  });
}

VN_API int32_t VN_STDCALL vnGetContractSubscriberDepth(const char* Exchange, const char* Commodity,
                                                       const char* ContractDate, int32_t Index,
                                                       SubscriberDepthStruct* Depth) {
  return GuardedExport("vnGetContractSubscriberDepth", [&] {
    return GetContractEntry("vnGetContractSubscriberDepth", Exchange, Commodity, ContractDate,
                            Index, Depth, DepthEntries, WriteDepth);
  });
}

}  // extern "C"
