#include "api/PriceRecords.h"

#include <memory>

#include "api/ExportArguments.h"
#include "core/refdata/ContractItem.h"
#include "core/util/Conversions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

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

std::int32_t CopyPricesAt(const TContractQ& contracts, std::int32_t index, PriceStruct& record) {
  std::shared_ptr<TContractItem> contract;
  {
    TIndexListLock guard(contracts);
    const int count = contracts.Count();
    if (count == 0) return VN_RC_NO_DATA;
    if (index >= 0 && index < count) contract = contracts.At(index);
  }
  if (!contract) {
    ZeroRecord(&record, sizeof record);
    return VN_RC_INVALID_INDEX;
  }
  WritePrices(*contract, record);
  return VN_RC_SUCCESS;
}

std::int32_t CopyPricesNamed(const TContractQ& contracts, const char* exchange,
                             const char* commodity, const char* contractDate, PriceStruct& record) {
  if (contracts.Count() == 0) return VN_RC_NO_DATA;
  const auto contract = FindContractArg(contracts, exchange, commodity, contractDate);
  if (!contract) {
    ZeroRecord(&record, sizeof record);
    return VN_RC_UNKNOWN_CONTRACT;
  }
  WritePrices(*contract, record);
  return VN_RC_SUCCESS;
}

std::int32_t CopyGenericPrice(const TContractQ& contracts, const char* exchange,
                              const char* commodity, const char* contractDate, std::int32_t type,
                              std::int32_t level, GenericPriceStruct& record) {
  if (contracts.Count() == 0) return VN_RC_NO_DATA;
  const auto contract = FindContractArg(contracts, exchange, commodity, contractDate);
  if (!contract) {
    ZeroRecord(&record, sizeof record);
    return VN_RC_UNKNOWN_CONTRACT;
  }
  const int kind = GenericKind(type, level);
  if (kind >= 0) {
    WritePriceDetail(contract->GetGenericPrice(kind), record);
  } else {
    ZeroRecord(&record, sizeof record);
    PutFixed(record.Price, "0.000");
  }
  return VN_RC_SUCCESS;
}

}  // namespace vorn
