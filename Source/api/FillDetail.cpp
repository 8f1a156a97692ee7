#include "api/FillDetail.h"

#include <cstring>

#include "core/refdata/ContractItem.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

void WriteFailedFill(FillStruct& record, std::int32_t index) {
  std::memset(&record, 0, sizeof record);
  record.Index = index;
}

}  // namespace

std::uint8_t FillTypeCode(TFillType type) {
  switch (type) {
    case fltpFILL:
    case fltpEXTERNAL:
    case fltpNETTED:
    case fltpRETAINED:
      return static_cast<std::uint8_t>(type);
    default:
      return VN_FT_OTHER;
  }
}

void WriteFillDetail(const TFill& fill, std::int32_t index, FillStruct& record) {
  std::memset(&record, 0, sizeof record);
  record.Index = index;
  PutFixed(record.FillID, fill.FillID);
  if (fill.Contract) {
    PutFixed(record.ExchangeName, fill.Contract->ExchangeStr());
    PutFixed(record.ContractName, fill.Contract->CommodityStr());
    PutFixed(record.ContractDate, fill.Contract->ContractDate());
  }
  record.BuySell = fill.BuySell == Buy ? 'B' : fill.BuySell == Sell ? 'S' : ' ';
  record.Lots = fill.Lots;
  PutFixed(record.Price, FloatToStr(fill.Price));
  PutFixed(record.OrderID, fill.OrderID);
  PutFixed(record.DateFilled, fill.DateFilled);
  PutFixed(record.TimeFilled, fill.TimeFilled);
  PutFixed(record.DateHostReceived, fill.DateHostReceived);
  PutFixed(record.TimeHostReceived, fill.TimeHostReceived);
  PutFixed(record.ExchangeOrderID, fill.ExchangeOrderID);
  record.FillType = FillTypeCode(fill.FillType);
  PutFixed(record.TraderAccount, fill.GetAccountName());
  PutFixed(record.UserName, fill.UserName);
  PutFixed(record.ExchangeFillID, fill.ExchangeFillID);
  PutFixed(record.ExchangeRawPrice, fill.ExchangeRawPrice);
  PutFixed(record.ExecutionID, fill.ExecutionID);
  record.UUIDState = fill.State.load();
  record.FillSubType = fill.FillSubType;
}

std::int32_t CopyFillAt(const TFillQ& fills, std::int32_t index, FillStruct& record) {
  TIndexListLock guard(fills);
  if (index < 0 || index >= fills.Count()) {
    WriteFailedFill(record, -1);
    return VN_RC_INVALID_INDEX;
  }
  WriteFillDetail(*fills.At(index), index, record);
  return VN_RC_SUCCESS;
}

std::int32_t CopyFillByID(const TFillQ& fills, std::string_view id, FillStruct& record) {
  TIndexListLock guard(fills);
  const auto fill = fills.FindByID(id);
  if (!fill) {
    WriteFailedFill(record, 0);
    return VN_RC_INVALID_INDEX;
  }
  WriteFillDetail(*fill, fills.IndexOf(fill.get()), record);
  return VN_RC_SUCCESS;
}

}  // namespace vorn
