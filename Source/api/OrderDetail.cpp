#include "api/OrderDetail.h"

#include <cstring>
#include <memory>
#include <string>

#include "api/ExportArguments.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/OrderType.h"
#include "core/trading/OrderList.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

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

void WriteFailedOrderDetail(OrderDetailStruct& record) {
  std::memset(&record, 0, sizeof record);
  record.Index = -1;
}

// Version `version` counted from the oldest (1 the first); 0, below 0 or beyond the count: the
// newest. Null for an empty history. History lock held.
std::shared_ptr<TOrderItem> VersionOf(const TOrderList& history, std::int32_t version) {
  const int count = history.Count();
  if (count == 0) return nullptr;
  return history.At(version >= 1 && version <= count ? count - version : 0);
}

// The history at the index, or null outside the list. Order list's lock held.
std::shared_ptr<TOrderList> HistoryAt(const TOrderQ& orders, std::int32_t index) {
  return index >= 0 && index < orders.Count() ? orders.At(index) : nullptr;
}

// Copies the version that pick chooses under the history's lock; false when it chooses none.
// Order list's lock held.
template <class Pick>
bool CopyVersion(const TOrderList& history, OrderDetailStruct& record, Pick pick) {
  TIndexListLock historyGuard(history);
  const std::shared_ptr<TOrderItem> version = pick(history);
  if (!version) return false;
  WriteOrderDetail(history, *version, record);
  return true;
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
  PutTextAndNul(record.OrderID, v.ID);
  PutTextAndNul(record.DisplayID, v.DisplayID);
  PutTextAndNul(record.ExchangeID, v.ExchangeID);
  PutTextAndNul(record.UserName, v.UserName);
  PutTextAndNul(record.TraderAccount, v.GetTraderAccountName());
  PutTextAndNul(record.OrderType, v.OrderType ? v.OrderType->Name() : std::string());
  if (v.Contract) {
    PutTextAndNul(record.ExchangeName, ContractExchange(*v.Contract));
    PutTextAndNul(record.CommodityName, v.Contract->CommodityStr());
    PutTextAndNul(record.ContractDate, v.Contract->ContractDate());
  } else {
    PutTextAndNul(record.ExchangeName, "");
    PutTextAndNul(record.CommodityName, "");
    PutTextAndNul(record.ContractDate, "");
  }
  if (const char side = SideChar(v.BuySell)) record.BuySell = side;
  PutTextAndNul(record.Price, FloatToStr(v.Price));
  PutTextAndNul(record.Price2, FloatToStr(v.Price2));
  record.Lots = IsCancelledStatus(v.Status) ? history.GetWorkingLots() : v.TargetLots;
  PutTextAndNul(record.LinkedOrder, history.GetLinkedOrder());
  record.Filled = v.Filled;
  record.NoOfFills = v.NoOfFills;
  PutTextAndNul(record.AveragePrice, FloatToStr(v.AveragePrice));
  record.Status = OrderStatusCode(v.Status);
  record.OpenOrClose = v.OpenOrClose;
  PutTextAndNul(record.DateClientSent, v.DateClientSent);
  PutTextAndNul(record.TimeClientSent, v.TimeClientSent);
  PutTextAndNul(record.DateHostReceived, v.DateHostReceived);
  PutTextAndNul(record.TimeHostReceived, v.TimeHostReceived);
  PutTextAndNul(record.DateExchangeReceived, v.DateExchangeReceived);
  PutTextAndNul(record.TimeExchangeReceived, v.TimeExchangeReceived);
  PutTextAndNul(record.DateExchangeAcknowledged, v.DateExchangeAcknowledged);
  PutTextAndNul(record.TimeExchangeAcknowledged, v.TimeExchangeAcknowledged);
  PutTextAndNul(record.NonExecReason, v.NonExecReason());
  record.XRef = v.XRef;
  record.XRefP = v.XRefP;
  record.UpdateSequence = v.UpdateSequence;
  PutTextAndNul(record.GoodTillDate, v.GoodTillDate());
  PutTextAndNul(record.Reference, v.GetReference());
  record.Priority = v.Priority;
  TDateTime trigger = 0;
  if (TriggerToLocal(v.TriggerDate(), v.TriggerTime(), trigger)) {
    PutTextAndNul(record.TriggerDate, FormatDateTime("ddmmyyyy", trigger));
    PutTextAndNul(record.TriggerTime, FormatDateTime("hhnnss", trigger));
  } else {
    std::memset(record.TriggerDate, 0, sizeof record.TriggerDate);
    std::memset(record.TriggerTime, 0, sizeof record.TriggerTime);
  }
  record.SubState = v.SubState;
  PutTextAndNul(record.BatchID, v.BatchID());
  PutTextAndNul(record.BatchType, v.BatchType());
  record.BatchCount = v.BatchCount;
  PutTextAndNul(record.BatchStatus, v.BatchStatus());
  PutTextAndNul(record.ParentID, v.ParentID());
  record.DoneForDay = v.DoneForDay;
  PutTextAndNul(record.BigRefField, v.BigRefField());
  record.TimeOut = v.TimeOut;
  PutTextAndNul(record.QuoteID, v.QuoteID());
  record.LotsPosted = v.LotsPosted;
  record.ChildCount = v.ChildCount;
  record.ActualLots = v.ActualLots;
  PutTextAndNul(record.SenderLocationID, v.SenderLocationID());
  PutTextAndNul(record.Rawprice, v.Rawprice());
  PutTextAndNul(record.Rawprice2, v.Rawprice2());
  PutTextAndNul(record.ExecutionID, v.ExecutionID());
  PutTextAndNul(record.ClientID, v.ClientID());
  PutTextAndNul(record.ESARef, v.ESARef());
  PutTextAndNul(record.ISINCode, v.ISINCode());
  PutTextAndNul(record.CashPrice, v.CashPrice());
  record.Methodology = v.Methodology;
  PutTextAndNul(record.BasisRef, v.BasisRef());
  PutTextAndNul(record.EntryDate, v.EntryDate);
  PutTextAndNul(record.EntryTime, v.EntryTime);
  record.APIM = v.APIM;
  PutTextAndNul(record.APIMUser, v.APIMUser());
  PutTextAndNul(record.ICSNearLegPrice, v.ICSNearLegPrice());
  PutTextAndNul(record.ICSFarLegPrice, v.ICSFarLegPrice());
  PutTextAndNul(record.CreationDate, v.CreationDate());
  record.OrderHistorySeq = v.OrderHistorySeq;
  record.MinClipSize = v.MinClipSize;
  record.MaxClipSize = v.MaxClipSize;
  record.Randomise = v.Randomise;
  record.ProfitLevel = v.ProfitLevel;
  record.OFSeqNumber = v.OFSeqNumber;
  PutTextAndNul(record.ExchangeField, v.ExchangeField());
  PutTextAndNul(record.BOFID, v.BOFID());
  PutTextAndNul(record.Badge, v.Badge());
  record.UUIDState = v.State;
  PutTextAndNul(record.LocalUserName, v.LocalUserName());
  PutTextAndNul(record.LocalTraderAccount, v.LocalTraderAccount());
  PutTextAndNul(record.LocalBOF, v.LocalBOF());
  PutTextAndNul(record.LocalOrderID, v.LocalOrderID());
  PutTextAndNul(record.LocalEAC, v.LocalEAC());
  PutTextAndNul(record.RoutingID1, v.RoutingID1());
  PutTextAndNul(record.RoutingID2, v.RoutingID2());
}

std::int32_t CopyOrderAt(const TOrderQ& orders, std::int32_t index, OrderDetailStruct& record) {
  TIndexListLock guard(orders);
  if (orders.Count() == 0) return VN_RC_NO_DATA;
  const auto history = HistoryAt(orders, index);
  if (!history ||
      !CopyVersion(*history, record, [](const TOrderList& h) { return h.GetCurrent(); })) {
    WriteFailedOrderDetail(record);
    return VN_RC_INVALID_INDEX;
  }
  record.Index = index;
  return VN_RC_SUCCESS;
}

std::int32_t CopyOrderByID(const TOrderQ& orders, const std::string& id, std::int32_t version,
                           OrderDetailStruct& record) {
  TIndexListLock guard(orders);
  if (orders.Count() == 0) return VN_RC_NO_DATA;
  const int index = orders.IndexOfOrder(id);
  const auto history = HistoryAt(orders, index);
  if (!history ||
      !CopyVersion(*history, record, [&](const TOrderList& h) { return VersionOf(h, version); })) {
    WriteFailedOrderDetail(record);
    return VN_RC_INVALID_ORDER_ID;
  }
  record.Index = index;
  return VN_RC_SUCCESS;
}

std::int32_t CopyOrderHistoryAt(const TOrderQ& orders, std::int32_t index,
                                std::int32_t historyIndex, OrderDetailStruct& record) {
  TIndexListLock guard(orders);
  if (orders.Count() == 0) return VN_RC_NO_DATA;
  const auto history = HistoryAt(orders, index);
  if (!history || !CopyVersion(*history, record, [&](const TOrderList& h) {
        return historyIndex >= 0 && historyIndex < h.Count() ? h.At(historyIndex) : nullptr;
      })) {
    WriteFailedOrderDetail(record);
    return VN_RC_INVALID_INDEX;
  }
  return VN_RC_SUCCESS;
}

std::int32_t CountOrderHistory(const TOrderQ& orders, std::int32_t index, std::int32_t& count) {
  TIndexListLock guard(orders);
  if (orders.Count() == 0) return VN_RC_NO_DATA;
  const auto history = HistoryAt(orders, index);
  if (!history) return VN_RC_INVALID_INDEX;
  count = history->Count();
  return VN_RC_SUCCESS;
}

std::int32_t FindOrderIndex(const TOrderQ& orders, const std::string& id, std::int32_t& index) {
  TIndexListLock guard(orders);
  if (orders.Count() == 0) return VN_RC_NO_DATA;
  index = orders.IndexOfOrder(id);
  return VN_RC_SUCCESS;
}

bool StatusQueryEnabled(const TExchangeQ& exchanges, const TOrderItem& order) {
  if (!order.Contract) return false;
  const std::string name = ContractExchange(*order.Contract);
  TIndexListLock guard(exchanges);
  const auto exchange = exchanges.FindExchange(name);
  return exchange && exchange->QueryEnabled;
}

}  // namespace vorn
