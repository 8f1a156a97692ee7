#include "api/RefDataRecords.h"

#include <iterator>
#include <memory>
#include <string>
#include <type_traits>

#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

template <class Record>
void WriteContractRecord(const TContractItem& contract, Record& record) {
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

// The item find picks under the list's lock: 10 for an empty list; when it picks none, the
// record zeroed and notFound.
template <class List, class Record, class Find, class Write>
std::int32_t CopyFound(const List& list, Record& record, std::int32_t notFound, Find find,
                       Write write) {
  TIndexListLock guard(list);
  if (list.Count() == 0) return VN_RC_NO_DATA;
  if (const auto item = find(list)) {
    write(*item, record);
    return VN_RC_SUCCESS;
  }
  std::memset(&record, 0, sizeof record);
  return notFound;
}

template <class Record>
std::int32_t CopyContractRecordAt(const TContractQ& contracts, std::int32_t index, Record& record) {
  std::shared_ptr<TContractItem> contract;
  {
    TIndexListLock guard(contracts);
    const int count = contracts.Count();
    if (count == 0) return VN_RC_NO_DATA;
    if (index < 0 || index >= count) {
      std::memset(&record, 0, kContractZeroBytes);
      return VN_RC_INVALID_INDEX;
    }
    contract = contracts.At(index);
  }
  WriteContract(*contract, record);
  return VN_RC_SUCCESS;
}

template <class Record>
std::int32_t CopyContractRecordNamed(const TContractQ& contracts, const char* exchange,
                                     const char* commodity, const char* contractDate,
                                     Record& record) {
  const auto contract = FindContractArg(contracts, exchange, commodity, contractDate);
  if (!contract) {
    std::memset(&record, 0, kContractZeroBytes);
    return VN_RC_INVALID_INDEX;
  }
  WriteContract(*contract, record);
  return VN_RC_SUCCESS;
}

}  // namespace

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

void WriteReportType(const TReportType& type, ReportTypeStruct& record) {
  PutFixed(record.ReportType, type.ReportType);
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

void WriteContract(const TContractItem& contract, ContractStruct& record) {
  WriteContractRecord(contract, record);
}

void WriteContract(const TContractItem& contract, ExtendedContractStruct& record) {
  WriteContractRecord(contract, record);
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

void WriteAtBestPrices(const TAtBestPrices& prices, AtBestPriceStruct& record) {
  PutFixed(record.BestBid, FloatToStr(prices.Bid));
  PutFixed(record.BestOffer, FloatToStr(prices.Offer));
  PutFixed(record.LastBuyer, prices.LastBuyer);
  PutFixed(record.LastSeller, prices.LastSeller);
}

std::int32_t CopyExchangeNamed(const TExchangeQ& exchanges, std::string_view name,
                               ExchangeStruct& record) {
  return CopyFound(
      exchanges, record, VN_RC_UNKNOWN_EXCHANGE,
      [&](const TExchangeQ& list) { return list.FindExchange(name); }, WriteExchange);
}

std::int32_t CopyTraderNamed(const TTraderAccountQ& accounts, std::string_view account,
                             TraderAcctStruct& record) {
  return CopyFound(
      accounts, record, VN_RC_TRADER_ACCOUNT_NOT_FOUND,
      [&](const TTraderAccountQ& list) { return list.Get(account); }, WriteTraderRecord);
}

std::int32_t CopyCommodityNamed(const TCommodityQ& commodities, std::string_view exchange,
                                std::string_view name, CommodityStruct& record) {
  return CopyFound(
      commodities, record, VN_RC_UNKNOWN_COMMODITY,
      [&](const TCommodityQ& list) { return list.FindCommodity(exchange, name); }, WriteCommodity);
}

std::int32_t CopyExchangeRate(const TExchangeRateQ& rates, std::string_view currency,
                              ExchangeRateStruct& record) {
  TIndexListLock guard(rates);
  if (rates.Count() == 0) return VN_RC_NO_DATA;
  const auto rate = rates.Get(currency);
  if (!rate) return VN_RC_UNKNOWN_CURRENCY;
  PutFixed(record.Rate, FloatToStr(rate->Rate));
  return VN_RC_SUCCESS;
}

std::int32_t CopyContractAt(const TContractQ& contracts, std::int32_t index,
                            ContractStruct& record) {
  return CopyContractRecordAt(contracts, index, record);
}

std::int32_t CopyContractAt(const TContractQ& contracts, std::int32_t index,
                            ExtendedContractStruct& record) {
  return CopyContractRecordAt(contracts, index, record);
}

std::int32_t CopyContractNamed(const TContractQ& contracts, const char* exchange,
                               const char* commodity, const char* contractDate,
                               ContractStruct& record) {
  return CopyContractRecordNamed(contracts, exchange, commodity, contractDate, record);
}

std::int32_t CopyContractNamed(const TContractQ& contracts, const char* exchange,
                               const char* commodity, const char* contractDate,
                               ExtendedContractStruct& record) {
  return CopyContractRecordNamed(contracts, exchange, commodity, contractDate, record);
}

std::int32_t ContractListed(const TContractQ& contracts, const char* exchange,
                            const char* commodity, const char* contractDate) {
  if (contracts.Count() == 0) return VN_RC_NO_DATA;
  return FindContractArg(contracts, exchange, commodity, contractDate) ? VN_RC_SUCCESS
                                                                       : VN_RC_GENERIC_ERROR;
}

std::int32_t CopyContractByExternalID(const TContractQ& contracts, const ContractStruct& key,
                                      ContractStruct& record) {
  struct TLegField {
    int Leg;
    int Field;
  };
  static constexpr TLegField kMatched[] = {{1, 1}, {1, 2}, {1, 3}, {2, 2}, {2, 3}};
  std::string wanted[std::size(kMatched)];
  for (std::size_t i = 0; i < std::size(kMatched); ++i)
    wanted[i] = Trim(GetFixed(key.Legs[kMatched[i].Leg - 1].Field[kMatched[i].Field - 1]));
  std::shared_ptr<TContractItem> found;
  {
    TIndexListLock guard(contracts);
    for (int i = 0; i < contracts.Count() && !found; ++i) {
      auto contract = contracts.At(i);
      bool same = true;
      for (std::size_t f = 0; f < std::size(kMatched) && same; ++f)
        same = Trim(contract->GetLegField(kMatched[f].Leg, kMatched[f].Field)) == wanted[f];
      if (same) found = std::move(contract);
    }
  }
  if (!found) {
    std::memset(&record, 0, kContractZeroBytes);
    return VN_RC_INVALID_INDEX;
  }
  WriteContract(*found, record);
  return VN_RC_SUCCESS;
}

std::vector<TAtBest> AtBestEntries(const TContractItem& contract) {
  return contract.GetAtBest().Entries;
}

std::vector<TSubscriberDepth> DepthEntries(const TContractItem& contract) {
  return contract.GetSubscriberDepth();
}

}  // namespace vorn
