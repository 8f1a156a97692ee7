#include "core/session/AmendCancel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/OrderType.h"
#include "core/session/APIHosts.h"
#include "core/session/ClassAPI.h"
#include "core/session/LinkRequests.h"
#include "core/trading/BuildOrder.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderQ.h"
#include "core/trading/OrderWatch.h"
#include "core/trading/TraderAccount.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

// The states a cancel goes out from, and (with osORPIPart) an amend is checked in.
bool IsWorkingState(TOrderStatus status) {
  return StatusIn(status, {osWorking, osPart, osORPIPart, osHeldOrder});
}

bool ContractPermitted(const TOrderItem& order) {
  return order.Contract && order.Contract->IsPermitted();
}

std::shared_ptr<TExchange> ExchangeOf(const TOrderItem& order) {
  if (!order.Contract) return nullptr;
  const auto commodity = order.Contract->GetCommodity();
  return commodity ? commodity->Exchange() : nullptr;
}

std::string ExchangeNameOf(const TOrderItem& order) {
  return order.Contract ? Trim(ContractExchange(*order.Contract)) : std::string();
}

bool SameText(std::string_view recordText, std::string_view orderText) {
  return TrimView(recordText) == TrimView(orderText);
}

// One-character fields compare trimmed as well: a blank and no character are the same.
bool SameChar(char recordChar, char orderChar) {
  const auto trimmed = [](char c) { return c == ' ' ? '\0' : c; };
  return trimmed(recordChar) == trimmed(orderChar);
}

// The record's trigger as the order would store it (empty without a trigger date).
void RecordTrigger(const AmendOrderStruct& record, std::string& utcDate, std::string& utcTime) {
  const std::string date = GetFixed(record.TriggerDate);
  if (date.empty()) return;
  TriggerToUTC(date, GetFixed(record.TriggerTime), utcDate, utcTime);
}

// Whether the amend changes any of the order's terms (a view-only account may only send an
// amend that changes nothing).
bool AmendDiffers(const AmendOrderStruct& record, const TOrderItem& order) {
  std::string triggerDate, triggerTime;
  RecordTrigger(record, triggerDate, triggerTime);
  return SafeStrToFloat(GetFixed(record.Price), 0) != order.Price ||
         SafeStrToFloat(GetFixed(record.Price2), 0) != order.Price2 ||
         record.Lots != order.TargetLots ||
         !SameText(GetFixed(record.LinkedOrder), order.LinkedOrder()) ||
         !SameChar(record.OpenOrClose, order.OpenOrClose) || record.Priority != order.Priority ||
         triggerDate != order.TriggerDate() || triggerTime != order.TriggerTime() ||
         !SameText(GetFixed(record.BatchID), order.BatchID()) ||
         !SameText(GetFixed(record.BatchType), order.BatchType()) ||
         record.BatchCount != order.BatchCount ||
         !SameText(GetFixed(record.ParentID), order.ParentID()) ||
         !SameChar(record.DoneForDay, order.DoneForDay) ||
         !SameText(GetFixed(record.BigRefField), order.BigRefField()) ||
         !SameText(GetFixed(record.SenderLocationID), order.SenderLocationID()) ||
         !SameText(GetFixed(record.Rawprice), order.Rawprice()) ||
         !SameText(GetFixed(record.Rawprice2), order.Rawprice2()) ||
         !SameText(GetFixed(record.ExecutionID), order.ExecutionID()) ||
         !SameText(GetFixed(record.ClientID), order.ClientID()) ||
         !SameText(GetFixed(record.ESARef), order.ESARef());
}

// The state rules of an amend for an order in a state that may be amended now: 24/29 from the
// price and lot checks, 30 when the exchange or the post-trade rule refuses, 26 for a state that
// cannot be amended.
std::int32_t CheckAmendAllowed(const TClassAPI& api, const AmendOrderStruct& record,
                               const TOrderItem& order) {
  if (IsWorkingState(order.Status)) {
    const std::int32_t typeID = order.OrderType ? order.OrderType->OrderTypeID : 0;
    if (typeID != otAggregateOrder && typeID != kCustomerRequestTypeID) {
      const std::int32_t checked =
          CheckPricesAndLots(GetFixed(record.Price), GetFixed(record.Price2), record.Lots, typeID,
                             order.OrderType ? order.OrderType->PricesRequired : 0);
      if (checked != VN_RC_SUCCESS) return checked;
    }
    const auto exchange = ExchangeOf(order);
    if (exchange && exchange->AmendEnabled) return VN_RC_SUCCESS;
    const bool unchanged =
        SafeStrToFloat(GetFixed(record.Price), 0) == order.Price && record.Lots == order.TargetLots;
    return unchanged ? VN_RC_SUCCESS : VN_RC_AMEND_NOT_ENABLED;
  }
  if (StatusIn(order.Status, {osBalCancelled, osFilled})) {
    if (api.Features.PostTradeAmend) return VN_RC_SUCCESS;
    return Trim(GetFixed(record.TraderAccount)) == order.GetTraderAccountName()
               ? VN_RC_SUCCESS
               : VN_RC_AMEND_NOT_ENABLED;
  }
  return VN_RC_INVALID_ORDER_STATE;
}

// The record's fields that a working order (working, part filled, held) takes.
void CopyWorkingFields(const AmendOrderStruct& record, TOrderItem& version) {
  const std::int32_t ticksPerPoint = version.Contract ? version.Contract->GetTicksPerPoint() : 0;
  version.Price = PriceStrToFloat(GetFixed(record.Price), ticksPerPoint);
  version.Price2 = PriceStrToFloat(GetFixed(record.Price2), ticksPerPoint);
  version.TargetLots = record.Lots;
  version.SetLinkedOrder(GetFixed(record.LinkedOrder));
  version.OpenOrClose = record.OpenOrClose;
  version.Priority = record.Priority;
  std::string triggerDate, triggerTime;
  RecordTrigger(record, triggerDate, triggerTime);
  version.SetTriggerDate(triggerDate);
  version.SetTriggerTime(triggerTime);
  version.MaxClipSize = record.MaxClipSize;
  version.SetLocalUserName(GetFixed(record.LocalUserName));
  version.SetLocalTraderAccount(GetFixed(record.LocalTraderAccount));
  version.SetLocalBOF(GetFixed(record.LocalBOF));
  version.SetLocalOrderID(GetFixed(record.LocalOrderID));
  version.SetLocalEAC(GetFixed(record.LocalEAC));
  version.SetRoutingID1(GetFixed(record.RoutingID1));
  version.SetRoutingID2(GetFixed(record.RoutingID2));
}

// The record's fields that every amended order takes.
void CopyCommonFields(const AmendOrderStruct& record, TOrderItem& version) {
  version.SetBatchID(GetFixed(record.BatchID));
  version.BatchCount = record.BatchCount;
  version.SetBatchStatus(GetFixed(record.BatchStatus));
  version.SetParentID(GetFixed(record.ParentID));
  version.DoneForDay = record.DoneForDay;
  version.SetBigRefField(GetFixed(record.BigRefField));
  version.SetSenderLocationID(GetFixed(record.SenderLocationID));
  version.SetRawprice(GetFixed(record.Rawprice));
  version.SetRawprice2(GetFixed(record.Rawprice2));
  version.SetExecutionID(GetFixed(record.ExecutionID));
  version.SetClientID(GetFixed(record.ClientID));
  version.SetYDSPAudit(GetFixed(record.YDSPAudit));
  version.SetICSNearLegPrice(GetFixed(record.ICSNearLegPrice));
  version.SetICSFarLegPrice(GetFixed(record.ICSFarLegPrice));
}

// The amended version of the order: a copy with the record's fields for its state group.
std::shared_ptr<TOrderItem> AmendedVersion(const AmendOrderStruct& record, const TOrderItem& order,
                                           std::shared_ptr<TTraderAccountItem> account) {
  auto version = order.Copy();
  version->Checked = false;
  const bool working = StatusIn(order.Status, {osWorking, osPart, osHeldOrder});
  const bool filled = StatusIn(order.Status, {osBalCancelled, osFilled});
  if (working) CopyWorkingFields(record, *version);
  if (working || filled) {
    version->TraderAccount = std::move(account);
    version->SetReference(GetFixed(record.Reference));
  }
  CopyCommonFields(record, *version);
  return version;
}

// Parks the request on the amending list. The order list's lock is held, so the order's state
// cannot have moved on meanwhile: a state that arrives later re-issues the request.
void Park(TClassAPI& api, std::string_view id, TAmendAction action, const AmendOrderStruct* record,
          std::string_view userName) {
  TAmendRequest request;
  request.OrderID = OrderKey(id);
  request.Action = action;
  if (record) request.Record = *record;
  request.UserName = std::string(userName);
  api.Orders.AmendingOrders.AddRequest(std::move(request));
  TraceOrderLog(std::string(action == TAmendAction::Amend ? "Unable to amend order "
                                                          : "Unable to cancel order ") +
                std::string(id) + " adding it to the amending list");
}

// What an amend or cancel does after the order list's lock is released.
struct TOutcome {
  std::int32_t Code = VN_RC_SUCCESS;
  std::shared_ptr<TOrderItem> Request;  // the version to send, copied under the lock
  bool PostEvent = false;
  std::string ID;
  TOrderStatus EventStatus = osIllegal;
  std::int32_t EventSequence = 0;
};

// An outcome that ends with its code: nothing to send, no event.
TOutcome Ended(std::int32_t code) {
  TOutcome outcome;
  outcome.Code = code;
  return outcome;
}

void Announce(TClassAPI& api, std::int32_t code, const TOutcome& outcome) {
  if (outcome.Request) SendOrderRequest(api, code, *outcome.Request);
  if (outcome.PostEvent)
    AddOrderCallback(outcome.ID, outcome.ID, outcome.EventStatus, outcome.EventSequence);
}

// Sends and announces once the order list's lock is released: at once, or, for a parked
// request re-issued inside the order list's Add, when the outermost guard ends.
void Finish(TClassAPI& api, std::int32_t code, TOutcome outcome) {
  if (!outcome.Request && !outcome.PostEvent) return;
  api.Orders.Defer([&api, code, outcome = std::move(outcome)] { Announce(api, code, outcome); });
}

TOutcome AmendLocked(TClassAPI& api, std::string_view id, const AmendOrderStruct& record,
                     std::string_view userName) {
  TOutcome outcome;
  TOrderQGuard guard(api.Orders);
  if (api.Orders.Count() == 0) return Ended(VN_RC_NO_DATA);
  const auto order = api.Orders.FindOrder(id);
  if (!order) return Ended(VN_RC_INVALID_ORDER_ID);
  if (!ContractPermitted(*order)) return Ended(VN_RC_CONTRACT_NOT_PERMITTED);
  TraceAppCall([&] {
    return "vnAmendOrder " + std::string(id) + GetFixed(record.TraderAccount) +
           GetFixed(record.Price) + IntToStr(record.Lots) + " status " + "0";
  });
  auto account = api.Accounts.FindAccount(Trim(GetFixed(record.TraderAccount)));
  if (!account) return Ended(VN_RC_TRADER_ACCOUNT_NOT_FOUND);
  if (!account->Tradable && AmendDiffers(record, *order)) return Ended(VN_RC_ACCOUNT_VIEW_ONLY);
  if (StatusIn(order->Status, {osQueued, osAmendPending})) {
    Park(api, id, TAmendAction::Amend, &record, userName);
    return Ended(VN_RC_ORDER_HELD_IN_QUEUE);
  }
  if (const std::int32_t allowed = CheckAmendAllowed(api, record, *order); allowed != VN_RC_SUCCESS)
    return Ended(allowed);
  auto version = AmendedVersion(record, *order, std::move(account));
  const bool held = version->Status == osHeldOrder;
  if (held)
    version->UpdateSequence = api.NextOrderSequence();
  else
    version->Status = osAmendPending;
  version->UserName = std::string(userName);
  api.Orders.Add(version);
  if (!held) outcome.Request = version->Copy();
  outcome.PostEvent = held || api.Environment == 'D';
  outcome.ID = order->ID;
  outcome.EventStatus = version->Status;
  outcome.EventSequence = version->OFSeqNumber;
  return outcome;
}

TOutcome CancelLocked(TClassAPI& api, std::string_view id, std::string_view userName) {
  TOutcome outcome;
  TOrderQGuard guard(api.Orders);
  const auto order = api.Orders.FindOrder(id);
  if (!order) return Ended(VN_RC_INVALID_ORDER_ID);
  const bool rejectedOnIFX = order->Status == osRejected && ExchangeNameOf(*order) == "IFX";
  if (!IsWorkingState(order->Status) && !rejectedOnIFX) {
    if (!IsParkingState(order->Status)) return Ended(VN_RC_SUCCESS);
    Park(api, id, TAmendAction::Cancel, nullptr, userName);
    return Ended(VN_RC_ORDER_HELD_IN_QUEUE);
  }
  if (!order->TraderAccount || !order->TraderAccount->Tradable)
    return Ended(VN_RC_ACCOUNT_VIEW_ONLY);
  if (!ContractPermitted(*order)) return Ended(VN_RC_CONTRACT_NOT_PERMITTED);
  if (order->CancelSent) {
    TraceOrderLog("Order ID " + order->ID + " is in state osCancelSent");
    return Ended(VN_RC_SUCCESS);
  }
  order->CancelSent = true;
  const bool held = order->Status == osHeldOrder;
  const bool recorded = held || api.Environment == 'D';
  outcome.ID = order->ID;
  outcome.EventStatus = order->Status;
  if (recorded) {
    // The copy goes into the history; the list drops it when the rules ignore it.
    auto version = order->Copy();
    version->Status = held ? osCancHeldOrder : osCancelPending;
    api.Orders.Add(version);
    outcome.EventSequence = version->OFSeqNumber;
  }
  order->UserName = std::string(userName);
  if (!held) outcome.Request = order->Copy();
  outcome.PostEvent = recorded;
  return outcome;
}

// --- Bulk cancels ------------------------------------------------------------------------------

struct TCancelCandidate {
  std::string ID;
  std::string Key;
  double Nearness = 0;  // the key's value: the higher, the nearer the market
};

// The order list's working orders that the filter takes, nearest to the market first; orders at
// the same distance stay in the order list's order.
template <class Filter>
std::vector<TCancelCandidate> CollectCancels(TClassAPI& api, Filter&& filter) {
  std::vector<TCancelCandidate> candidates;
  {
    TOrderQGuard guard(api.Orders);
    api.Orders.ForEach([&](const TOrderList& history) {
      const auto head = history.GetCurrent();
      if (!head || !IsWorkingState(head->Status) || !filter(*head)) return;
      std::string key = MarketDistanceKey(*head);
      const double nearness = SafeStrToFloat(key, 0);
      candidates.push_back({head->ID, std::move(key), nearness});
    });
  }
  std::stable_sort(
      candidates.begin(), candidates.end(),
      [](const TCancelCandidate& a, const TCancelCandidate& b) { return a.Nearness > b.Nearness; });
  return candidates;
}

bool UserTaken(const TClassAPI& api, const TOrderItem& order, std::string_view userName) {
  return !api.UserIDFilter || Trim(order.UserName) == Trim(userName);
}

bool SideTaken(TCancelSide side, TPurchase buySell) {
  switch (side) {
    case TCancelSide::Buys:
      return buySell == Buy;
    case TCancelSide::Sells:
      return buySell == Sell;
    case TCancelSide::Both:
      return true;
  }
  return false;
}

// The checks every cancel export starts with: ready, host link (35), then the trace line, then the
// order list not empty (10).
std::int32_t CheckCancelStart(const TClassAPI& api, const std::string& traceLine) {
  if (const std::int32_t ready = api.CheckReadyState(); ready != VN_RC_SUCCESS) return ready;
  if (!api.LinkConnected(psHost)) return VN_RC_HOST_NOT_CONNECTED;
  TraceAppCall(traceLine);
  if (api.Orders.Count() == 0) return VN_RC_NO_DATA;
  return VN_RC_SUCCESS;
}

}  // namespace

std::int32_t DoAmendOrder(TClassAPI& api, std::string_view id, const AmendOrderStruct& record,
                          std::string_view userName) {
  return GuardedBody("vnAmendOrder", [&]() -> std::int32_t {
    if (const std::int32_t ready = api.CheckReadyState(); ready != VN_RC_SUCCESS) return ready;
    TOutcome outcome = AmendLocked(api, id, record, userName);
    const std::int32_t code = outcome.Code;
    Finish(api, ILinkRequests::kAmendOrder, std::move(outcome));
    return code;
  });
}

std::int32_t DoCancelOrder(TClassAPI& api, std::string_view id, std::string_view userName) {
  return GuardedBody("vnCancelOrder", [&]() -> std::int32_t {
    TOutcome outcome = CancelLocked(api, id, userName);
    const std::int32_t code = outcome.Code;
    Finish(api, ILinkRequests::kCancelOrder, std::move(outcome));
    return code;
  });
}

std::int32_t CancelOrder(TClassAPI& api, std::string_view id, std::string_view userName) {
  return GuardedBody("vnCancelOrder", [&]() -> std::int32_t {
    const std::int32_t checked = CheckCancelStart(api, "vnCancelOrder " + std::string(id));
    if (checked != VN_RC_SUCCESS) return checked;
    return DoCancelOrder(api, id, userName);
  });
}

std::int32_t CancelOrders(TClassAPI& api, const TCancelSelection& selection,
                          std::string_view userName) {
  return GuardedBody("vnCancelOrder", [&]() -> std::int32_t {
    const std::int32_t checked = CheckCancelStart(
        api, "CancelOrders " + Trim(selection.Account) + ", " + Trim(selection.Exchange) + " \\ " +
                 Trim(selection.Commodity) + " \\ " + Trim(selection.ContractDate));
    if (checked != VN_RC_SUCCESS) return checked;
    const auto contract =
        api.Contracts.FindContract(selection.Exchange, selection.Commodity, selection.ContractDate);
    const auto account = api.Accounts.FindAccount(Trim(selection.Account));
    if (!contract || !account) return VN_RC_SUCCESS;
    const auto cancels = CollectCancels(api, [&](const TOrderItem& order) {
      return order.TraderAccount == account && order.Contract == contract &&
             SideTaken(selection.Side, order.BuySell) && UserTaken(api, order, userName);
    });
    for (const TCancelCandidate& cancel : cancels) {
      TraceAppCall("CancelOrders is cancelling " + cancel.ID);
      DoCancelOrder(api, cancel.ID, userName);
    }
    return VN_RC_SUCCESS;
  });
}

std::int32_t CancelAll(TClassAPI& api, std::string_view account, std::string_view userName,
                       std::string_view routine) {
  return GuardedBody("vnCancelOrder", [&]() -> std::int32_t {
    const std::string name = Trim(account);
    const std::int32_t checked = CheckCancelStart(api, "vnCancelAll " + name);
    if (checked != VN_RC_SUCCESS) return checked;
    const auto found = api.Accounts.FindAccount(name);
    if (!found) return VN_RC_SUCCESS;
    const std::string logonUser = api.UserName.Get();
    const auto cancels = CollectCancels(api, [&](const TOrderItem& order) {
      return order.TraderAccount == found && UserTaken(api, order, logonUser);
    });
    for (const TCancelCandidate& cancel : cancels) {
      TraceAppCall(std::string(routine) + " is cancelling " + cancel.ID + " NrMktStr " +
                   cancel.Key);
      DoCancelOrder(api, cancel.ID, userName);
    }
    return VN_RC_SUCCESS;
  });
}

AmendOrderStruct AmendRecordOf(const TOrderItem& order) {
  AmendOrderStruct record;
  std::memset(&record, 0, sizeof record);
  PutFixed(record.Price, FloatToStr(order.Price));
  PutFixed(record.Price2, FloatToStr(order.Price2));
  record.Lots = order.TargetLots;
  PutFixed(record.LinkedOrder, order.LinkedOrder());
  record.OpenOrClose = order.OpenOrClose;
  PutFixed(record.TraderAccount, order.GetTraderAccountName());
  PutFixed(record.Reference, order.GetReference());
  record.Priority = order.Priority;
  TDateTime trigger = 0;
  if (TriggerToLocal(order.TriggerDate(), order.TriggerTime(), trigger)) {
    PutFixed(record.TriggerDate, FormatDateTime("ddmmyyyy", trigger));
    PutFixed(record.TriggerTime, FormatDateTime("hhnnss", trigger));
  }
  PutFixed(record.BatchID, order.BatchID());
  PutFixed(record.BatchType, order.BatchType());
  record.BatchCount = order.BatchCount;
  PutFixed(record.BatchStatus, order.BatchStatus());
  PutFixed(record.ParentID, order.ParentID());
  record.DoneForDay = order.DoneForDay;
  PutFixed(record.BigRefField, order.BigRefField());
  PutFixed(record.SenderLocationID, order.SenderLocationID());
  PutFixed(record.Rawprice, order.Rawprice());
  PutFixed(record.Rawprice2, order.Rawprice2());
  PutFixed(record.ExecutionID, order.ExecutionID());
  PutFixed(record.ClientID, order.ClientID());
  PutFixed(record.ESARef, order.ESARef());
  // Beyond the terms a re-parent or done-for-day changes: the fields an amend copies, so that
  // the new version keeps them.
  PutFixed(record.YDSPAudit, order.YDSPAudit());
  PutFixed(record.ICSNearLegPrice, order.ICSNearLegPrice());
  PutFixed(record.ICSFarLegPrice, order.ICSFarLegPrice());
  record.MaxClipSize = order.MaxClipSize;
  PutFixed(record.LocalUserName, order.LocalUserName());
  PutFixed(record.LocalTraderAccount, order.LocalTraderAccount());
  PutFixed(record.LocalBOF, order.LocalBOF());
  PutFixed(record.LocalOrderID, order.LocalOrderID());
  PutFixed(record.LocalEAC, order.LocalEAC());
  PutFixed(record.RoutingID1, order.RoutingID1());
  PutFixed(record.RoutingID2, order.RoutingID2());
  return record;
}

std::string MarketDistanceKey(const TOrderItem& order) {
  double market = 0;
  int decimals = 0;
  if (order.Contract) {
    market = order.Contract->GetPrice(order.BuySell == Buy ? VN_PK_BID : VN_PK_OFFER).Value;
    decimals = std::max(0, static_cast<int>(FloatToStr(order.Contract->GetTickSize()).size()) - 2);
  }
  const double distance = market != 0 ? std::fabs((market - order.Price) * 100 / market) : 0;
  const double key = 100 - distance;
  std::string text = FloatToStrFixed(std::fabs(key), decimals);
  const std::size_t integerDigits = std::min(text.find('.'), text.size());
  if (integerDigits < 7) text.insert(0, 7 - integerDigits, '0');
  const bool negative = key < 0 && text.find_first_not_of("0.") != std::string::npos;
  return negative ? "-" + text : text;
}

}  // namespace vorn
