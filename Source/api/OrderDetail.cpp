#include "api/OrderDetail.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "api/ExportBoundary.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/trading/OrderList.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

// Text and NUL; unlike PutFixed the rest of the field keeps what the caller had there.
template <std::size_t N>
void PutText(char (&field)[N], std::string_view text) {
  const std::size_t length = std::min(text.size(), N - 1);
  if (length > 0) std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

char SideChar(TPurchase side) {
  switch (side) {
    case Buy:
      return 'B';
    case Sell:
      return 'S';
    case TwoSided:
      return 'T';
    case Cross:
      return 'X';
    default:
      return '\0';
  }
}

bool IsCancelledStatus(TOrderStatus status) {
  return status == osCancelled || status == osBalCancelled || status == osCancHeldOrder;
}

}  // namespace

std::uint8_t OrderStatusCode(TOrderStatus status) {
  switch (status) {
    case osQueued:
    case osSent:
    case osWorking:
    case osRejected:
    case osCancelled:
    case osBalCancelled:
    case osPart:
      return static_cast<std::uint8_t>(status);
    case osFilled:
      return VN_OSC_FILLED;
    case osCancelPending:
      return VN_OSC_CANCEL_PENDING;
    case osAmendPending:
      return VN_OSC_AMEND_PENDING;
    case osORPIFilled:
      return VN_OSC_ORPI_FILLED;
    case osORPIPart:
      return VN_OSC_ORPI_PART;
    case osHeldOrder:
      return VN_OSC_HELD_ORDER;
    case osCancHeldOrder:
      return VN_OSC_CANC_HELD_ORDER;
    case osTransferred:
      return VN_OSC_TRANSFERRED;
    case osExternalCancelled:
      return VN_OSC_EXTERNAL_CANCELLED;
    default:
      return VN_OSC_NOT_REPORTED;
  }
}

void WriteOrderDetail(const TOrderList& history, const TOrderItem& version,
                      OrderDetailStruct& record) {
  const TOrderItem& v = version;
  record.Historic = YesNo(history.GetCurrent().get() != &v || history.IsNew());
  record.Checked = YesNo(v.Checked);
  PutText(record.OrderID, v.ID);
  PutText(record.DisplayID, v.DisplayID);
  PutText(record.ExchangeID, v.ExchangeID);
  PutText(record.UserName, v.UserName);
  PutText(record.TraderAccount, v.GetTraderAccountName());
  PutText(record.OrderType, v.OrderType ? v.OrderType->Name() : std::string());
  if (v.Contract) {
    const auto commodity = v.Contract->GetCommodity();
    PutText(record.ExchangeName, commodity ? commodity->ExchangeName() : v.Contract->ExchangeStr());
    PutText(record.CommodityName, v.Contract->CommodityStr());
    PutText(record.ContractDate, v.Contract->ContractDate());
  } else {
    PutText(record.ExchangeName, "");
    PutText(record.CommodityName, "");
    PutText(record.ContractDate, "");
  }
  if (const char side = SideChar(v.BuySell)) record.BuySell = side;
  PutText(record.Price, FloatToStr(v.Price));
  PutText(record.Price2, FloatToStr(v.Price2));
  record.Lots = IsCancelledStatus(v.Status) ? history.GetWorkingLots() : v.TargetLots;
  PutText(record.LinkedOrder, history.GetLinkedOrder());
  record.Filled = v.Filled;
  record.NoOfFills = v.NoOfFills;
  PutText(record.AveragePrice, FloatToStr(v.AveragePrice));
  record.Status = OrderStatusCode(v.Status);
  record.OpenOrClose = v.OpenOrClose;
  PutText(record.DateClientSent, v.DateClientSent);
  PutText(record.TimeClientSent, v.TimeClientSent);
  PutText(record.DateHostReceived, v.DateHostReceived);
  PutText(record.TimeHostReceived, v.TimeHostReceived);
  PutText(record.DateExchangeReceived, v.DateExchangeReceived);
  PutText(record.TimeExchangeReceived, v.TimeExchangeReceived);
  PutText(record.DateExchangeAcknowledged, v.DateExchangeAcknowledged);
  PutText(record.TimeExchangeAcknowledged, v.TimeExchangeAcknowledged);
  PutText(record.NonExecReason, v.NonExecReason);
  record.XRef = v.XRef;
  record.XRefP = v.XRefP;
  record.UpdateSequence = v.UpdateSequence;
  PutText(record.GoodTillDate, v.GoodTillDate);
  PutText(record.Reference, v.GetReference());
  record.Priority = v.Priority;
  TDateTime trigger = 0;
  if (TriggerToLocal(v.TriggerDate, v.TriggerTime, trigger)) {
    PutText(record.TriggerDate, FormatDateTime("ddmmyyyy", trigger));
    PutText(record.TriggerTime, FormatDateTime("hhnnss", trigger));
  } else {
    std::memset(record.TriggerDate, 0, sizeof record.TriggerDate);
    std::memset(record.TriggerTime, 0, sizeof record.TriggerTime);
  }
  record.SubState = v.SubState;
  PutText(record.BatchID, v.BatchID);
  PutText(record.BatchType, v.BatchType);
  record.BatchCount = v.BatchCount;
  PutText(record.BatchStatus, v.BatchStatus);
  PutText(record.ParentID, v.ParentID);
  record.DoneForDay = v.DoneForDay;
  PutText(record.BigRefField, v.BigRefField);
  record.TimeOut = v.TimeOut;
  PutText(record.QuoteID, v.QuoteID);
  record.LotsPosted = v.LotsPosted;
  record.ChildCount = v.ChildCount;
  record.ActualLots = v.ActualLots;
  PutText(record.SenderLocationID, v.SenderLocationID);
  PutText(record.Rawprice, v.Rawprice);
  PutText(record.Rawprice2, v.Rawprice2);
  PutText(record.ExecutionID, v.ExecutionID);
  PutText(record.ClientID, v.ClientID);
  PutText(record.ESARef, v.ESARef);
  PutText(record.ISINCode, v.ISINCode);
  PutText(record.CashPrice, v.CashPrice);
  record.Methodology = v.Methodology;
  PutText(record.BasisRef, v.BasisRef);
  PutText(record.EntryDate, v.EntryDate);
  PutText(record.EntryTime, v.EntryTime);
  record.APIM = v.APIM;
  PutText(record.APIMUser, v.APIMUser);
  PutText(record.ICSNearLegPrice, v.ICSNearLegPrice);
  PutText(record.ICSFarLegPrice, v.ICSFarLegPrice);
  PutText(record.CreationDate, v.CreationDate);
  record.OrderHistorySeq = v.OrderHistorySeq;
  record.MinClipSize = v.MinClipSize;
  record.MaxClipSize = v.MaxClipSize;
  record.Randomise = v.Randomise;
  record.ProfitLevel = v.ProfitLevel;
  record.OFSeqNumber = v.OFSeqNumber;
  PutText(record.ExchangeField, v.ExchangeField);
  PutText(record.BOFID, v.BOFID);
  PutText(record.Badge, v.Badge);
  record.UUIDState = v.State;
  PutText(record.LocalUserName, v.LocalUserName);
  PutText(record.LocalTraderAccount, v.LocalTraderAccount);
  PutText(record.LocalBOF, v.LocalBOF);
  PutText(record.LocalOrderID, v.LocalOrderID);
  PutText(record.LocalEAC, v.LocalEAC);
  PutText(record.RoutingID1, v.RoutingID1);
  PutText(record.RoutingID2, v.RoutingID2);
}

}  // namespace vorn
