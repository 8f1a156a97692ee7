#pragma once
// The reference-data records of the exported interface and the look-ups the reference-data
// queries share: exchanges, trader accounts, report types, commodities, contracts (both
// records), exchange rates and a contract's at-best and subscriber-depth entries.
//
// A look-up over a list holds the list's lock for its check and its copy: the lists are filled
// and changed on the link threads while application threads query them. A contract's own fields
// are guarded by the contract's locks, so a contract is copied after the list lock is left; the
// contract look-up by name may wait for the contract file and runs with no lock held.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "api/ExportArguments.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/ReportType.h"
#include "core/store/IndexList.h"
#include "core/trading/TraderAccount.h"
#include "vornintf.h"

namespace vorn {

// Both contract records share this first part; a failed contract read zeroes only it.
inline constexpr std::size_t kContractZeroBytes = sizeof(ContractStruct);

// --- Record writers: list lock held for the list's items ------------------------------------

void WriteExchange(const TExchange& exchange, ExchangeStruct& record);
void WriteReportType(const TReportType& type, ReportTypeStruct& record);
void WriteCommodity(const TCommodity& commodity, CommodityStruct& record);
// Either contract record: the fields, then every leg slot the record has, whether or not the
// contract has that many legs. No list lock held: the getters take the contract's own locks and
// those of the commodity and exchange lists.
void WriteContract(const TContractItem& contract, ContractStruct& record);
void WriteContract(const TContractItem& contract, ExtendedContractStruct& record);
// A contract's entries and at-best prices, read from their copies.
void WriteAtBest(const TAtBest& entry, AtBestStruct& record);
void WriteDepth(const TSubscriberDepth& entry, SubscriberDepthStruct& record);
void WriteAtBestPrices(const TAtBestPrices& prices, AtBestPriceStruct& record);

// --- Look-ups -------------------------------------------------------------------------------

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
    std::memset(&record, 0, rules.ZeroBytesOnBadIndex ? rules.ZeroBytesOnBadIndex : sizeof record);
    return VN_RC_INVALID_INDEX;
  }
  write(*list.At(index), record);
  return VN_RC_SUCCESS;
}

// Whether the key is listed: 10 for an empty list, else 0 when it is and 11 when it is not.
template <class List>
std::int32_t KeyListed(const List& list, std::string_view key) {
  TIndexListLock guard(list);
  if (list.Count() == 0) return VN_RC_NO_DATA;
  return list.KeyExists(key) ? VN_RC_SUCCESS : VN_RC_GENERIC_ERROR;
}

// The item of the name: 10 for an empty list; for a name not listed, the record zeroed and 32
// (exchange), 9 (trader account) or 23 (commodity).
std::int32_t CopyExchangeNamed(const TExchangeQ& exchanges, std::string_view name,
                               ExchangeStruct& record);
std::int32_t CopyTraderNamed(const TTraderAccountQ& accounts, std::string_view account,
                             TraderAcctStruct& record);
std::int32_t CopyCommodityNamed(const TCommodityQ& commodities, std::string_view exchange,
                                std::string_view name, CommodityStruct& record);
// The rate of the currency as the record's text: 10 for an empty list, 19 (the record untouched)
// for a currency not listed.
std::int32_t CopyExchangeRate(const TExchangeRateQ& rates, std::string_view currency,
                              ExchangeRateStruct& record);

// The contract at the index: 10 for an empty list, 8 with the shared part zeroed outside it.
std::int32_t CopyContractAt(const TContractQ& contracts, std::int32_t index,
                            ContractStruct& record);
std::int32_t CopyContractAt(const TContractQ& contracts, std::int32_t index,
                            ExtendedContractStruct& record);
// The contract of the names: 8 with the shared part zeroed when it is not held.
std::int32_t CopyContractNamed(const TContractQ& contracts, const char* exchange,
                               const char* commodity, const char* contractDate,
                               ContractStruct& record);
std::int32_t CopyContractNamed(const TContractQ& contracts, const char* exchange,
                               const char* commodity, const char* contractDate,
                               ExtendedContractStruct& record);
// Whether the contract of the names is held: 10 without contracts, else 0 or 11.
std::int32_t ContractListed(const TContractQ& contracts, const char* exchange,
                            const char* commodity, const char* contractDate);
// The first contract whose leg 1 fields 1-3 and leg 2 fields 2-3 match the key's, both sides
// trimmed: 8 with the shared part zeroed when none does. The key is read within its field
// widths before the record, which may be the same one, is written.
std::int32_t CopyContractByExternalID(const TContractQ& contracts, const ContractStruct& key,
                                      ContractStruct& record);

// A contract's at-best and subscriber-depth entries.
std::vector<TAtBest> AtBestEntries(const TContractItem& contract);
std::vector<TSubscriberDepth> DepthEntries(const TContractItem& contract);

// The entry at the index of the named contract's entries, read by entries. The record's first
// four bytes (the firm of an at-best entry, part of the price of a depth entry) are zeroed
// before any check. 8 without the contract or for an index outside its entries, 10 when it has
// none.
template <class Record, class Entries, class Write>
std::int32_t CopyContractEntry(const TContractQ& contracts, const char* exchange,
                               const char* commodity, const char* contractDate, std::int32_t index,
                               Record& record, Entries entries, Write write) {
  std::memset(&record, 0, 4);
  const auto contract = FindContractArg(contracts, exchange, commodity, contractDate);
  if (!contract) return VN_RC_INVALID_INDEX;
  const auto list = entries(*contract);
  if (list.empty()) return VN_RC_NO_DATA;
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return VN_RC_INVALID_INDEX;
  write(list[static_cast<std::size_t>(index)], record);
  return VN_RC_SUCCESS;
}

}  // namespace vorn
