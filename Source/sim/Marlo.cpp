#include "sim/Marlo.h"

#include <cstddef>
#include <cstring>
#include <utility>

#include "api/OrderEntry.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/session/AmendCancel.h"
#include "core/session/ClassAPI.h"
#include "core/trading/BuildOrder.h"
#include "core/trading/OrderList.h"
#include "core/trading/OrderQ.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "sim/Bracket.h"
#include "sim/Iceberg.h"

namespace vorn::sim {
namespace {

// The amend record's marker field, where the host reads it.
static_assert(offsetof(AmendOrderStruct, BigRefField) == 174);

std::int32_t KindOf(const TOrderItem& order) {
  return order.OrderType ? static_cast<std::int32_t>(order.OrderType->OrderTypeID) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TMarloOrder

TMarloOrder::TMarloOrder(TMarlo& owner, std::shared_ptr<TOrderList> parent)
    : owner_(owner), parent_(std::move(parent)) {}

TClassAPI& TMarloOrder::Api() const {
  return owner_.Api();
}

std::shared_ptr<TOrderItem> TMarloOrder::Head(const std::shared_ptr<TOrderList>& history) {
  return history ? history->GetCurrent() : nullptr;
}

std::shared_ptr<TOrderItem> TMarloOrder::ParentHead() const {
  return Head(parent_);
}

std::string TMarloOrder::ParentID() const {
  const auto head = ParentHead();
  return head ? Trim(head->ID) : std::string();
}

bool TMarloOrder::IsLive(TOrderStatus status) {
  return StatusIn(status, {osQueued, osSent, osWorking, osPart, osCancelPending, osAmendPending,
                           osORPIPart, osORPIFilled, osHeldOrder, osParked, osCancelParked});
}

bool TMarloOrder::IsWorking(TOrderStatus status) {
  return StatusIn(status, {osWorking, osPart, osORPIPart});
}

bool TMarloOrder::ParentEnded() const {
  const auto head = ParentHead();
  return !head || !IsLive(head->Status);
}

bool TMarloOrder::ParentCancelling() const {
  const auto head = ParentHead();
  return head && head->Status == osCancelPending;
}

std::shared_ptr<TOrderList> TMarloOrder::ChildHistory(const TOrderItem& child) const {
  const auto history = Api().Orders.FindOrderList(child.ID);
  if (!history) return nullptr;
  for (const TChild& known : children_)
    if (known.History == history) return history;
  return nullptr;
}

std::shared_ptr<TOrderItem> TMarloOrder::ParentCopy(std::string_view name) {
  const auto head = ParentHead();
  if (!head) return nullptr;
  auto copy = head->Copy();
  const TDateTime now = Now();
  const std::string date = FormatDateTime("yyyymmdd", now);
  const std::string time = FormatDateTime("hhnnsszzz", now);
  copy->DateHostReceived = date;
  copy->DateExchangeReceived = date;
  copy->TimeHostReceived = time;
  copy->TimeExchangeReceived = time;
  copy->ActualLots = copy->TargetLots;
  copy->AveragePrice = 0;
  if (!name.empty()) {
    // The history is re-keyed before the copy goes in, else Add would start a second history.
    if (!Api().Orders.ReKeyOrder(parent_, name)) {
      WriteTraceLine("TMarlo: the name " + std::string(name) + " for order " + head->ID +
                     " is taken");
      return nullptr;
    }
    copy->ID = std::string(name);
    copy->DisplayID = std::string(name);
  }
  FinishCopy(*copy);
  return copy;
}

bool TMarloOrder::ChangeParent(const std::shared_ptr<TOrderItem>& copy, std::string_view oldId) {
  if (!copy) return false;
  TClassAPI& api = Api();
  const bool added = api.Orders.Add(copy);
  const auto head = api.Orders.FindOrder(copy->ID);
  const TOrderStatus status = added || !head ? copy->Status : head->Status;
  AddOrderCallback(copy->ID, oldId, status, head ? head->OFSeqNumber : 0);
  return added;
}

void TMarloOrder::SetParentStatus(TOrderStatus status) {
  auto copy = ParentCopy();
  if (!copy) return;
  copy->Status = status;
  ChangeParent(copy, copy->ID);
}

bool TMarloOrder::StartParent(std::string_view name) {
  const auto head = ParentHead();
  if (!head) return false;
  const std::string oldId = head->ID;
  auto sent = ParentCopy(name);
  if (!sent) return false;
  sent->Status = osSent;
  Api().OrderIDs.DropWaitingID(oldId);
  ChangeParent(sent, oldId);
  SetParentStatus(osWorking);
  return true;
}

bool TMarloOrder::CancelAll(const std::function<void(const TOrderItem& child)>& traceLeg) {
  if (ParentEnded()) return true;
  if (!ParentCancelling()) SetParentStatus(osCancelPending);
  bool live = false;
  for (const TChild& child : children_) {
    const auto head = Head(child.History);
    if (!head || !IsLive(head->Status)) continue;
    if (traceLeg && IsWorking(head->Status) && !head->CancelSent) traceLeg(*head);
    live = CancelChild(child.History) || live;
  }
  // A child still live ends through the status pass, which reports it; the parent follows.
  if (live) return false;
  auto copy = ParentCopy();
  if (!copy) return false;
  copy->Status = copy->Filled == 0 ? osCancelled : osBalCancelled;
  // Target and actual lots equal to the filled ones: the rules take it as the confirmation.
  copy->TargetLots = copy->Filled;
  copy->ActualLots = copy->Filled;
  ChangeParent(copy, copy->ID);
  return true;
}

NewOrderStruct TMarloOrder::ChildRecord(const TOrderItem& parent) const {
  NewOrderStruct record;
  std::memset(&record, 0, sizeof record);
  PutFixed(record.TraderAccount, parent.GetTraderAccountName());
  PutFixed(record.OrderType, "Limit");
  if (parent.Contract) {
    PutFixed(record.ExchangeName, ContractExchange(*parent.Contract));
    PutFixed(record.CommodityName, parent.Contract->CommodityStr());
    PutFixed(record.ContractDate, parent.Contract->ContractDate());
  }
  record.BuySell = parent.BuySell == Buy ? VN_SIDE_BUY : VN_SIDE_SELL;
  PutFixed(record.Price, FloatToStr(parent.Price));
  PutFixed(record.Price2, FloatToStr(parent.Price2));
  record.OpenOrClose = parent.OpenOrClose;
  PutFixed(record.GoodTillDate, parent.GoodTillDate());
  record.CheckNow = ' ';
  PutFixed(record.Reference, parent.GetReference());
  PutFixed(record.ESARef, parent.ESARef());
  PutFixed(record.BatchID, parent.BatchID());
  // The parent holds its trigger in UTC; the record takes the caller's local form.
  TDateTime trigger = 0;
  if (TriggerToLocal(parent.TriggerDate(), parent.TriggerTime(), trigger)) {
    PutFixed(record.TriggerDate, FormatDateTime("ddmmyyyy", trigger));
    PutFixed(record.TriggerTime, FormatDateTime("hhnnss", trigger));
  }
  PutFixed(record.ParentID, Trim(parent.ID));
  return record;
}

void TMarloOrder::Refuse(const std::string& text) {
  WriteTraceLine("TMarlo: " + text);
  owner_.UserMessage(text, true);
  refused_ = true;
  ParentCancel();
}

std::shared_ptr<TOrderList> TMarloOrder::EnterChild(const NewOrderStruct& record,
                                                    const char* what) {
  // A cancel re-issued as the parent started makes it cancelling before its first child.
  if (ParentEnded() || ParentCancelling()) return nullptr;
  TClassAPI& api = Api();
  std::string id;
  const std::int32_t result =
      AddOrderWithoutProtection(api, record, id, api.UserName.Get());
  const auto history = result == VN_RC_SUCCESS ? api.Orders.FindOrderList(id) : nullptr;
  if (!history) {
    Refuse(std::string(what) + " of synthetic order " + ParentID() + " refused (" +
           IntToStr(result) + "); the order is cancelled");
    return nullptr;
  }
  children_.push_back({history, 0});
  return history;
}

bool TMarloOrder::AmendChild(const std::shared_ptr<TOrderList>& child, double price,
                             std::int32_t lots) {
  const auto head = Head(child);
  if (!head || !IsWorking(head->Status) || head->CancelSent) return false;
  // From the child's current version, so that no other field of it changes.
  AmendOrderStruct record = AmendRecordOf(*head);
  PutFixed(record.Price, FloatToStr(price));
  PutFixed(record.Price2, "0.0");
  record.Lots = lots;
  PutFixed(record.BigRefField, kMarloAmendMarker);
  TClassAPI& api = Api();
  const std::int32_t result = DoAmendOrder(api, head->ID, record, api.UserName.Get());
  if (result != VN_RC_SUCCESS) {
    WriteTraceLine("TMarlo: amend of child " + head->ID + " of " + ParentID() + " gave " +
                   IntToStr(result));
    return false;
  }
  return true;
}

bool TMarloOrder::CancelChild(const std::shared_ptr<TOrderList>& child) {
  const auto head = Head(child);
  if (!head || !IsLive(head->Status)) return false;
  // Only a working child: one in transit is taken on a later pass, when it works.
  if (IsWorking(head->Status) && !head->CancelSent) {
    TClassAPI& api = Api();
    const std::int32_t result = DoCancelOrder(api, head->ID, api.UserName.Get());
    if (result != VN_RC_SUCCESS)
      WriteTraceLine("TMarlo: cancel of child " + head->ID + " of " + ParentID() + " gave " +
                     IntToStr(result));
  }
  return true;
}

std::int32_t TMarloOrder::NewlyFilled(const std::shared_ptr<TOrderList>& child,
                                      const TOrderItem& state) {
  for (TChild& known : children_) {
    if (known.History != child) continue;
    const std::int32_t lots = state.Filled - known.Counted;
    if (lots <= 0) return 0;
    known.Counted = state.Filled;
    return lots;
  }
  return 0;
}

void TMarloOrder::Check() {
  if (refused_ || ParentEnded() || ParentCancelling()) return;
  for (const TChild& child : children_) {
    const auto head = Head(child.History);
    if (head && head->Status == osRejected) {
      Refuse("child " + head->ID + " of synthetic order " + ParentID() + " was rejected (" +
             head->NonExecReason() + "); the order is cancelled");
      return;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TMarloOrderList

bool TMarloOrderList::Add(std::string id, std::unique_ptr<TMarloOrder> order) {
  ++counted_;
  return orders_.emplace(std::move(id), std::move(order)).second;
}

TMarloOrder* TMarloOrderList::Find(std::string_view id) const {
  const auto it = orders_.find(id);
  return it == orders_.end() ? nullptr : it->second.get();
}

TMarloOrder* TMarloOrderList::FindByParent(const TOrderList& parent) const {
  for (const auto& [id, order] : orders_)
    if (order->Parent().get() == &parent) return order.get();
  return nullptr;
}

void TMarloOrderList::Remove(std::string_view id) {
  if (const auto it = orders_.find(id); it != orders_.end()) orders_.erase(it);
}

// ---------------------------------------------------------------------------------------------
// TMarlo

TMarlo::TMarlo(TClassAPI& api, TRandomSource& random, TUserMessage userMessage)
    : api_(api), random_(random), userMessage_(std::move(userMessage)) {}

std::string TMarlo::NameOf(bool iceberg, std::int32_t number) {
  std::string name = (iceberg ? "Iceberg" : "Bracket-") + IntToStr(number);
  if (name.size() <= kOrderIDLength) return name;
  return (iceberg ? "Ice" : "Brk") + IntToStr(number);
}

void TMarlo::UserMessage(const std::string& text, bool alert) const {
  if (userMessage_) userMessage_(text, alert);
}

void TMarlo::Start(const std::shared_ptr<TOrderList>& history, const TOrderItem& head,
                   bool iceberg) {
  const std::string name = NameOf(iceberg, orders_.Counted() + 1);
  std::unique_ptr<TMarloOrder> order;
  if (iceberg)
    order = std::make_unique<TIceberg>(*this, history);
  else
    order = std::make_unique<TBracket>(*this, history);
  TMarloOrder* started = order.get();
  if (name.size() > kOrderIDLength || !orders_.Add(name, std::move(order))) {
    WriteTraceLine("TMarlo: no name for synthetic order " + head.ID);
    return;
  }
  started->Update(head, name);
  // A name another history holds: the order stays queued and tries the next one.
  if (started->ParentID() != name) orders_.Remove(name);
}

void TMarlo::Dispatch(const std::shared_ptr<TOrderList>& history) {
  if (!history) return;
  TOrderQGuard guard(api_.Orders);
  const auto head = history->GetCurrent();
  if (!head) return;
  TMarloOrder* order = orders_.Find(Trim(head->ID));
  if (order && order->Parent() != history) order = nullptr;
  switch (head->Status) {
    case osQueued:
      if (!order && (KindOf(*head) == otIceberg || KindOf(*head) == otProtect))
        Start(history, *head, KindOf(*head) == otIceberg);
      break;
    case osAmendPending:
      if (order) order->ParentAmend(*head);
      break;
    case osCancelPending:
      if (order) order->ParentCancel();
      break;
    default:
      if (order) order->Check();
      break;
  }
}

bool TMarlo::Manages(std::string_view parentId) const {
  TOrderQGuard guard(api_.Orders);
  return orders_.Find(Trim(parentId)) != nullptr;
}

void TMarlo::ChildUpdate(std::string_view parentId, const TOrderItem& child) {
  TOrderQGuard guard(api_.Orders);
  if (TMarloOrder* order = orders_.Find(Trim(parentId))) order->Update(child, {});
}

void TMarlo::ChildAmended(std::string_view parentId, const TOrderItem& child) {
  TOrderQGuard guard(api_.Orders);
  if (TMarloOrder* order = orders_.Find(Trim(parentId))) order->ChildAmended(child);
}

void TMarlo::ChildCancelled(std::string_view parentId, const TOrderItem& child) {
  TOrderQGuard guard(api_.Orders);
  if (TMarloOrder* order = orders_.Find(Trim(parentId))) order->ChildCancelled(child);
}

char TMarlo::ProtectionLevel(std::string_view parentId, const TOrderItem& child) const {
  TOrderQGuard guard(api_.Orders);
  const TMarloOrder* order = orders_.Find(Trim(parentId));
  if (!order) return 0;
  const auto history = order->ChildHistory(child);
  return history ? order->ProtectionLevel(*history) : 0;
}

}  // namespace vorn::sim
