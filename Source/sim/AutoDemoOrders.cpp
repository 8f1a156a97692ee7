// TAutoDemo: the simulated host's side of the application's orders: the status pass, the
// steps of an order, the limits, fills, user messages, the status query and trailing stops.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/refdata/UserMessage.h"
#include "core/session/AmendCancel.h"
#include "core/session/ClassAPI.h"
#include "core/trading/Fill.h"
#include "core/trading/OrderList.h"
#include "core/trading/OrderQ.h"
#include "core/trading/TraderPosition.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "sim/AutoDemo.h"
#include "sim/TrailStop.h"

namespace vorn::sim {
namespace {

constexpr char kUpdateStatus[] = "TAutoDemo.UpdateStatus";
constexpr char kCheckLimit[] = "TAutoDemo.CheckLimit";
constexpr char kCreateFill[] = "TAutoDemo.CreateFill";
// Tries of the next counter values when the order number is taken by another history.
constexpr int kNumberTries = 100;

std::int32_t KindOf(const TOrderItem& order) {
  return order.OrderType ? static_cast<std::int32_t>(order.OrderType->OrderTypeID) : 0;
}
bool IsLimitKind(std::int32_t kind) {
  return kind == otLimit || kind == otGTCLimit || kind == otGTDLimit;
}
bool IsMarketKind(std::int32_t kind) { return kind == otMarket || kind == otGTDStopLimit; }
bool IsStopKind(std::int32_t kind) { return kind == otStop || kind == otTrStop; }
bool IsSyntheticKind(std::int32_t kind) {
  return kind == otIceberg || kind == otGhost || kind == otProtect;
}

bool HostLogOn() { return DebugFlagOn(kDebugging | kGenerateHostLog); }

std::string Today() { return FormatDateTime("yyyymmdd", Now()); }
std::string TimeNow() { return FormatDateTime("hhnnsszzz", Now()); }

// The copy of the head that a step changes, stamped with the host's receipt.
std::shared_ptr<TOrderItem> StampedCopy(const TOrderItem& head) {
  auto copy = head.Copy();
  const std::string now = TimeNow();
  copy->TimeHostReceived = now;
  copy->TimeExchangeReceived = now;
  return copy;
}

TUserOrder BookRecordOf(const TOrderItem& order) {
  return {Trim(order.ID), order.BuySell == Buy, order.Price, order.TargetLots, order.Filled,
          KindOf(order) == otTrStop};
}

}  // namespace

void TAutoDemo::SetSyntheticOrders(std::shared_ptr<ISyntheticOrders> manager) {
  synthetic_ = std::move(manager);
}

void TAutoDemo::SetPendingDrawForTests(std::function<bool()> draw) {
  pendingDraw_ = std::move(draw);
}

bool TAutoDemo::PendingDraw() {
  return pendingDraw_ ? pendingDraw_() : random_.Random(3) == 1;
}

ISyntheticOrders* TAutoDemo::ManagerOf(std::string_view parentId) const {
  const std::string parent = Trim(parentId);
  if (parent.empty() || !synthetic_ || !synthetic_->Manages(parent)) return nullptr;
  return synthetic_.get();
}

// ---------------------------------------------------------------------------------------------
// The status pass

void TAutoDemo::StatusPass() {
  TBookWorkList work;
  {
    TOrderQGuard guard(api_.Orders);
    // Over a snapshot: the steps re-key histories, and so move them in the list.
    std::vector<std::shared_ptr<TOrderList>> histories;
    histories.reserve(static_cast<std::size_t>(api_.Orders.Count()));
    for (int i = 0, count = api_.Orders.Count(); i < count; ++i)
      histories.push_back(api_.Orders.At(i));
    for (const auto& history : histories) {
      const auto head = history ? history->GetCurrent() : nullptr;
      if (!head) continue;
      const std::int32_t kind = KindOf(*head);
      if (IsSyntheticKind(kind)) {
        if (synthetic_)
          synthetic_->Dispatch(history);
        else if (DebugFlagOn(kDebugging))
          WriteTraceLine("TAutoDemo.UpdateStatus: synthetic order " + head->ID +
                         " left as it is (no synthetic order manager)");
      } else if (StatusIn(head->Status, {osQueued, osSent, osCancelPending, osAmendPending})) {
        UpdateStatus(history, 0, work);
      } else if (StatusIn(head->Status, {osWorking, osPart}) && IsMarketKind(kind) &&
                 head->Contract) {
        work.push_back({TBookWork::TKind::FillMarket, head->Contract, BookRecordOf(*head), 0});
      }
    }
  }
  RunBookWork(work);
}

void TAutoDemo::RunBookWork(const TBookWorkList& work) {
  for (const TBookWork& item : work) {
    const bool found = market_.WithBook(*item.Contract, [&](TContractOrderList& book) {
      switch (item.Kind) {
        case TBookWork::TKind::EnterBook:
          market_.AddUserOrderToDOM(book, item.Order);
          break;
        case TBookWork::TKind::LeaveBook:
          market_.AdjustAnOrder(book, item.Order.OrderID, item.Lots, true, true);
          break;
        case TBookWork::TKind::Amend:
          if (!market_.AmendUserOrder(book, item.Order.OrderID, item.Order.Price,
                                      item.Order.TargetLots)
                   .Found)
            market_.AddUserOrderToDOM(book, item.Order);
          break;
        case TBookWork::TKind::AddStop:
          market_.AddAStop(book, item.Order);
          break;
        case TBookWork::TKind::RemoveStop:
          market_.RemoveAStop(book, item.Order.OrderID);
          break;
        case TBookWork::TKind::FillMarket:
          market_.CheckMarket(book, item.Order);
          break;
      }
    });
    if (!found)
      WriteTraceLine("TAutoDemo: no simulated book for order " + item.Order.OrderID);
  }
}

// ---------------------------------------------------------------------------------------------
// One step of one order

bool TAutoDemo::AddAndPost(const std::shared_ptr<TOrderItem>& copy, std::string_view oldId) {
  const bool added = api_.Orders.Add(copy);
  const auto head = api_.Orders.FindOrder(copy->ID);
  const TOrderStatus status = added || !head ? copy->Status : head->Status;
  AddOrderCallback(copy->ID, oldId, status, head ? head->OFSeqNumber : 0);
  return added;
}

void TAutoDemo::UpdateStatus(const std::shared_ptr<TOrderList>& history, std::int32_t lots,
                             TBookWorkList& work, std::optional<double> average) {
  TOrderQGuard guard(api_.Orders);
  const auto head = history->GetCurrent();
  if (!head) return;
  const std::string id = head->ID;
  AddTraceEntry(tlStart, kUpdateStatus, id);
  if (HostLogOn())
    WriteTraceLine("DemoOrderUpdate> " + id + " Old status = " + IntToStr(head->Status));
  if (lots != 0) {
    auto copy = StampedCopy(*head);
    if (lots < 0) {
      copy->ActualLots = copy->Filled;
      copy->TargetLots = copy->Filled;
      copy->Status = osBalCancelled;
    } else {
      copy->Filled += lots;
      if (copy->Filled >= copy->TargetLots)
        copy->Status = osFilled;
      else if (copy->Status == osWorking)
        copy->Status = osPart;
    }
    if (average) copy->AveragePrice = *average;
    const bool added = api_.Orders.Add(copy);
    if (ISyntheticOrders* manager = ManagerOf(copy->ParentID()))
      manager->ChildUpdate(Trim(copy->ParentID()), *copy);
    const auto now = api_.Orders.FindOrder(id);
    AddOrderCallback(id, id, added || !now ? copy->Status : now->Status,
                     now ? now->OFSeqNumber : 0);
  } else {
    switch (head->Status) {
      case osQueued:
        AdvanceQueued(history, *head);
        break;
      case osSent:
        AdvanceSent(history, *head, work);
        break;
      case osCancelPending:
        CompleteCancel(history, *head, work);
        break;
      case osAmendPending:
        CompleteAmend(history, *head, work);
        break;
      default:
        break;
    }
  }
  AddTraceEntry(tlExit, kUpdateStatus, id);
}

void TAutoDemo::AdvanceQueued(const std::shared_ptr<TOrderList>& history,
                              const TOrderItem& head) {
  auto copy = StampedCopy(head);
  const std::string today = Today();
  copy->DateHostReceived = today;
  copy->DateExchangeReceived = today;
  copy->ActualLots = copy->TargetLots;
  copy->AveragePrice = 0;
  const std::string oldId = head.ID;
  // The history is re-keyed before the copy goes in, else Add would start a second history.
  std::string newId;
  for (int tries = 0; tries < kNumberTries && newId.empty(); ++tries) {
    const std::string number = IntToStr(orderNumber_.fetch_add(1));
    if (api_.Orders.ReKeyOrder(history, number))
      newId = number;
    else
      WriteTraceLine("TAutoDemo.UpdateStatus: order number " + number + " is taken");
  }
  if (newId.empty()) {
    WriteTraceLine("TAutoDemo.UpdateStatus: no free order number for " + oldId);
    return;
  }
  copy->ID = newId;
  copy->DisplayID = newId;
  copy->Status = osSent;
  SetBracketProfitLevel(*copy);
  // The local id no longer waits for a host id.
  api_.OrderIDs.DropWaitingID(oldId);
  AddAndPost(copy, oldId);
}

void TAutoDemo::AdvanceSent(const std::shared_ptr<TOrderList>&, const TOrderItem& head,
                            TBookWorkList& work) {
  auto copy = StampedCopy(head);
  if (CheckLimit(*copy)) {
    copy->Status = osWorking;
    copy->DateExchangeAcknowledged = Today();
    copy->TimeExchangeAcknowledged = TimeNow();
  }
  const bool added = AddAndPost(copy, copy->ID);
  if (!added || copy->Status != osWorking || !copy->Contract) return;
  const std::int32_t kind = KindOf(*copy);
  if (IsLimitKind(kind))
    work.push_back({TBookWork::TKind::EnterBook, copy->Contract, BookRecordOf(*copy), 0});
  else if (IsStopKind(kind))
    work.push_back({TBookWork::TKind::AddStop, copy->Contract, BookRecordOf(*copy), 0});
}

void TAutoDemo::CompleteCancel(const std::shared_ptr<TOrderList>&, const TOrderItem& head,
                               TBookWorkList& work) {
  if (!PendingDraw()) return;
  auto copy = StampedCopy(head);
  const std::int32_t unfilled = std::max(copy->TargetLots - copy->Filled, 0);
  copy->Status = copy->Filled == 0 ? osCancelled : osBalCancelled;
  // Target and actual lots equal to the filled ones: the rules take it as the confirmation.
  copy->ActualLots = copy->Filled;
  copy->TargetLots = copy->ActualLots;
  const bool added = api_.Orders.Add(copy);
  if (ISyntheticOrders* manager = ManagerOf(copy->ParentID()))
    manager->ChildCancelled(Trim(copy->ParentID()), *copy);
  const auto now = api_.Orders.FindOrder(copy->ID);
  AddOrderCallback(copy->ID, copy->ID, added || !now ? copy->Status : now->Status,
                   now ? now->OFSeqNumber : 0);
  if (added && copy->Contract) {
    const std::int32_t kind = KindOf(*copy);
    TUserOrder record = BookRecordOf(*copy);
    if (IsLimitKind(kind))
      work.push_back({TBookWork::TKind::LeaveBook, copy->Contract, record, unfilled});
    else if (IsStopKind(kind))
      work.push_back({TBookWork::TKind::RemoveStop, copy->Contract, record, 0});
  }
  AddUserMessage("Cancellation Received for " + copy->ID, false);
}

void TAutoDemo::CompleteAmend(const std::shared_ptr<TOrderList>& history, const TOrderItem& head,
                              TBookWorkList& work) {
  if (!PendingDraw()) return;
  auto copy = StampedCopy(head);
  const std::int32_t kind = KindOf(*copy);
  if (const int count = history->Count(); count > 0)
    if (const auto oldest = history->At(count - 1)) copy->SetParentID(oldest->ParentID());
  if (ISyntheticOrders* manager = ManagerOf(copy->ParentID())) {
    const bool changed = copy->TargetLots != copy->ActualLots;
    if (IsStopKind(kind) || changed) manager->ChildAmended(Trim(copy->ParentID()), *copy);
  }
  if (copy->Filled == 0 && copy->TargetLots > 0) {
    copy->Status = osWorking;
  } else if (copy->Filled < copy->TargetLots) {
    copy->Status = osPart;
  } else {
    // Amended down to the filled lots or below: the order is done, and out of the book.
    copy->Status = osFilled;
    copy->TargetLots = copy->Filled;
  }
  copy->ActualLots = copy->TargetLots;
  const bool added = AddAndPost(copy, copy->ID);
  if (!added || !copy->Contract) return;
  const TUserOrder record = BookRecordOf(*copy);
  if (IsLimitKind(kind)) {
    // Out at the price it rests at, in again at the new one unless nothing remains.
    work.push_back({TBookWork::TKind::Amend, copy->Contract, record, 0});
  } else if (IsStopKind(kind)) {
    work.push_back({TBookWork::TKind::RemoveStop, copy->Contract, record, 0});
    if (copy->Status != osFilled)
      work.push_back({TBookWork::TKind::AddStop, copy->Contract, record, 0});
  }
}

bool TAutoDemo::CheckLimit(TOrderItem& state) {
  const auto reject = [&](const std::string& text) {
    AddUserMessage(text, true);
    state.Status = osRejected;
    state.SetNonExecReason(text);
    if (HostLogOn()) WriteTraceLine("DemoOrderRejected> " + state.ID);
  };
  bool accepted = true;
  if (state.TargetLots > maximumLots_) {
    reject("Order Rejected.  MAX lots (" + IntToStr(maximumLots_) + ") exceeded");
    accepted = false;
  } else {
    AddUserMessage("Order received for Order " + state.ID, false);
    const TPositionTotals totals = api_.Positions.GetTotalPos(state.GetTraderAccountName(), true);
    if (static_cast<std::int64_t>(totals.Buys) + totals.Sells > traderLimit_) {
      reject("Order Rejected.  Trader limit (" + IntToStr(traderLimit_) + ") exceeded");
      accepted = false;
    }
  }
  AddTraceEntry(tlExit, kCheckLimit, state.ID);
  return accepted;
}

void TAutoDemo::SetBracketProfitLevel(TOrderItem& state) const {
  const std::string parent = Trim(state.ParentID());
  if (parent.empty()) return;
  if (IsStopKind(KindOf(state))) {
    state.ProfitLevel = 'S';
    return;
  }
  const auto parentOrder = api_.Orders.FindOrder(parent);
  if (!parentOrder || KindOf(*parentOrder) != otProtect) return;
  if (ISyntheticOrders* manager = ManagerOf(parent))
    if (const char level = manager->ProtectionLevel(parent, state)) state.ProfitLevel = level;
}

// ---------------------------------------------------------------------------------------------
// Fills and user messages

double TAutoDemo::CreateFill(const TOrderItem& state, std::int32_t lots, double price) {
  const std::string id = Trim(state.ID);
  const std::string text = id + " " + IntToStr(lots) + " @ " + FloatToStr(price);
  AddTraceEntry(tlStart, kCreateFill, text);
  if (DebugFlagOn(kDebugging)) WriteTraceLine("Create Fill: " + text);
  auto fill = std::make_shared<TFill>();
  const TDateTime now = Now();
  fill->FillID = IntToStr(fillNumber_.fetch_add(1)) + IntToStr(1000 + random_.Random(9999)) +
                 " " + FormatDateTime("c", now);
  fill->Price = price;
  fill->Lots = lots;
  fill->BuySell = state.BuySell;
  fill->Contract = state.Contract;
  fill->OrderID = id;
  fill->Status = flNORMAL;
  fill->FillType = fltpFILL;
  fill->DateFilled = FormatDateTime("yyyymmdd", now);
  fill->DateHostReceived = fill->DateFilled;
  fill->TimeFilled = Copy(FormatDateTime("hhnnsszzz", now), 1, 6);
  fill->TimeHostReceived = fill->TimeFilled;
  fill->ExchangeOrderID = state.ExchangeID;
  fill->Account = state.TraderAccount;
  fill->UserName = state.UserName;
  api_.Logon.LogonSequence.fetch_add(1);
  if (HostLogOn()) WriteTraceLine("DemoFill> " + id + " Lots " + IntToStr(lots));
  double average = state.AveragePrice;
  if (api_.Positions.AddFill(fill).Added) {
    api_.Orders.IncNoOfFills(id);
    AddUserMessage("Fill received for Order " + id, false);
    average = AveragePrice(id);
    AddFillCallback(id, fill->FillID);
  } else {
    WriteTraceLine("TAutoDemo.CreateFill: fill " + fill->FillID + " of " + id + " not listed");
  }
  AddTraceEntry(tlExit, kCreateFill, id);
  return average;
}

double TAutoDemo::AveragePrice(std::string_view orderId) const {
  const std::string id = Copy(orderId, 1, 10);
  double value = 0;
  std::int64_t lots = 0;
  for (const auto& fill : api_.Fills.Snapshot()) {
    if (!fill || fill->OrderID != id) continue;
    value += fill->Lots * fill->Price;
    lots += fill->Lots;
  }
  return lots == 0 ? 0.0 : value / static_cast<double>(lots);
}

void TAutoDemo::AddUserMessage(const std::string& text, bool alert) {
  const std::string sequence = IntToStr(++nextUserMessage_);
  auto message = std::make_shared<TUserMessage>();
  message->SetSequence(sequence);
  message->IsAlert = alert ? alAlert : alNormal;
  message->Content = text;
  message->Status = altPending;
  api_.UserMessages.Add(message);
  AddMessageCallback(sequence);
  if (DebugFlagOn(kDebugging)) WriteTraceLine("DemoAlert> " + text);
}

// ---------------------------------------------------------------------------------------------
// The market's services

void TAutoDemo::OnOrderFilled(const TUserFill& fill) {
  TOrderQGuard guard(api_.Orders);
  const auto history = api_.Orders.FindOrderList(fill.OrderID);
  const auto head = history ? history->GetCurrent() : nullptr;
  if (!head || IsClosedStatus(head->Status)) {
    WriteTraceLine("TAutoDemo: fill of " + IntToStr(fill.Lots) + " lots for order " +
                   fill.OrderID + ", which is not working, not made");
    return;
  }
  const double average = CreateFill(*head, fill.Lots, fill.Price);
  TBookWorkList none;
  UpdateStatus(history, fill.Lots, none, average);
}

void TAutoDemo::OnRemainderEnded(const TUserOrder& order) {
  TOrderQGuard guard(api_.Orders);
  const auto history = api_.Orders.FindOrderList(order.OrderID);
  const auto head = history ? history->GetCurrent() : nullptr;
  if (!head || IsClosedStatus(head->Status)) return;
  TBookWorkList none;
  UpdateStatus(history, -1, none);
}

void TAutoDemo::OnTrailStop(const TContractOrderList& book, const TUserOrder& stop) {
  AmendOrderStruct record;
  std::string id;
  {
    TOrderQGuard guard(api_.Orders);
    const auto head = api_.Orders.FindOrder(stop.OrderID);
    // Only a resting stop: one amended already waits for the pass.
    if (!head || !StatusIn(head->Status, {osWorking, osPart})) return;
    const std::string parentId = Trim(head->ParentID());
    const auto parent = parentId.empty() ? nullptr : api_.Orders.FindOrder(parentId);
    TTrailInputs inputs;
    inputs.Buy = head->BuySell == Buy;
    inputs.StopPrice = head->Price;
    inputs.StopStPrice = head->StPrice();
    // The price table as it is, without touching the application's change mask.
    inputs.LastTrade = book.Contract()->GetPrice(5).Value;
    inputs.HasParent = parent != nullptr;
    if (parent) {
      inputs.ParentPrice = parent->Price;
      inputs.ParentStPrice = parent->StPrice();
      inputs.ParentStSteps2 = parent->StSteps2;
    }
    inputs.TickSize = book.TickSize();
    const auto newPrice = TrailedStopPrice(inputs);
    if (!newPrice) return;
    record = AmendRecordOf(*head);
    PutFixed(record.Price, FloatToStr(*newPrice));
    record.Lots = head->TargetLots;
    id = head->ID;
  }
  const std::int32_t result = DoAmendOrder(api_, id, record, api_.UserName.Get());
  if (result != 0)
    WriteTraceLine("TAutoDemo.TrailStop: amend of " + id + " gave " + IntToStr(result));
}

// ---------------------------------------------------------------------------------------------
// The status query

void TAutoDemo::AdvanceQueriedOrder(std::string_view orderId) {
  const std::string id = Trim(Copy(orderId, 1, 10));
  AddTraceEntry(tlStart, "TAutoDemo.AdvanceQueriedOrder", id);
  TOrderQGuard guard(api_.Orders);
  if (const auto head = api_.Orders.FindOrder(id)) {
    TOrderStatus next = osIllegal;
    if (head->Status == osWorking)
      next = osORPIPart;
    else if (StatusIn(head->Status, {osPart, osORPIPart}))
      next = osORPIFilled;
    if (next != osIllegal) {
      auto copy = StampedCopy(*head);
      copy->Status = next;
      AddAndPost(copy, copy->ID);
    }
  }
  AddTraceEntry(tlExit, "TAutoDemo.AdvanceQueriedOrder", id);
}

}  // namespace vorn::sim
