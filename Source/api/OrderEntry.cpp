#include "api/OrderEntry.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/session/APIHosts.h"
#include "core/session/ClassAPI.h"
#include "core/session/LinkRequests.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderQ.h"
#include "core/trading/TraderAccount.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

// Runs an entry body: an EListError gives 8, anything else is recorded under the routine's
// name and gives 99.
template <class Body>
std::int32_t GuardedEntry(std::string_view routine, Body&& body) {
  return GuardedBody(routine, [&]() -> std::int32_t {
    try {
      return body();
    } catch (const EListError&) {
      return VN_RC_INVALID_INDEX;
    }
  });
}

// --- Order dumps (Debugging flag) ---------------------------------------------------------------

void DumpLine(std::string& dump, std::string_view name, std::string_view value) {
  AppendDumpLine(dump, "  " + std::string(name), value, 18);
}

// "Synthetic Order Added: " (held = false) or "Held Order Added: ". Order list lock held.
std::string OrderDump(const TOrderItem& order, bool held) {
  std::string dump = held ? "Held Order Added: " : "Synthetic Order Added: ";
  DumpLine(dump, "VORN OrderID", order.ID);
  DumpLine(dump, "Trader Accnt", order.GetTraderAccountName());
  DumpLine(dump, "User Name", order.UserName);
  DumpLine(dump, "Exchange Name", order.Contract ? order.Contract->ExchangeStr() : "");
  DumpLine(dump, "Contract Name", order.Contract ? order.Contract->CommodityStr() : "");
  DumpLine(dump, "Contract Date", order.Contract ? order.Contract->ContractDate() : "");
  DumpLine(dump, "Order Type", order.OrderType ? order.OrderType->Name() : "");
  DumpLine(dump, "Buy/Sell",
           held ? IntToStr(order.BuySell) : std::string(1, order.BuySell == Buy ? 'Y' : 'N'));
  DumpLine(dump, "Target Lots", IntToStr(order.TargetLots));
  DumpLine(dump, "Price", FloatToStr(order.Price));
  DumpLine(dump, "Price 2", FloatToStr(order.Price2));
  if (held) DumpLine(dump, "Margin Required", FloatToStr(order.MarginRequired));
  DumpLine(dump, "Linked Order", order.LinkedOrder());
  if (held) DumpLine(dump, "Client X Ref", IntToStr(order.XRef));
  DumpLine(dump, "Client X Ref P", IntToStr(order.XRefP));
  DumpLine(dump, "Date ClientSent", order.DateClientSent);
  DumpLine(dump, "Good Till Date", order.GoodTillDate());
  DumpLine(dump, "Reference", order.GetReference());
  return dump;
}

// --- Adding to the order list ------------------------------------------------------------------

bool IsProtectType(const std::shared_ptr<TOrderTypeItem>& type) {
  return type && type->OrderTypeID == otProtect;
}

// In environment 'D' no event is posted for a protect order or a child of one. Order list lock
// held.
bool ProtectEventSuppressed(TClassAPI& api, const TOrderItem& order) {
  if (api.Environment != 'D') return false;
  if (IsProtectType(order.OrderType)) return true;
  const std::string parent = Trim(order.ParentID());
  if (parent.empty()) return false;
  const auto head = api.Orders.FindOrder(parent);
  return head && IsProtectType(head->OrderType);
}

struct TEntry {
  bool Held = false;        // a synthetic order held at creation
  bool BookMargin = false;  // DoAddOrder books option margin; the aggregate bodies do not
};

struct TEntered {
  bool Kept = false;
  std::string ID;
  TOrderStatus Status = osIllegal;
  std::int32_t Sequence = 0;
  bool PostEvent = true;
  // A 3301 is sent when the ID is a host ID: its texts written under the lock, no copy of the
  // order (null without a link layer).
  bool SendRequest = false;
  std::unique_ptr<ILinkRequests::TPreparedOrderRequest> Request;
  std::string SyntheticDump, HeldDump;
};

// Adds the new order under the order list's lock.
TEntered EnterOrder(TClassAPI& api, const std::shared_ptr<TOrderItem>& order, TEntry entry) {
  TEntered entered;
  const bool dumps = DebugFlagOn(kDebugging);
  TOrderQGuard guard(api.Orders);
  entered.Kept = ListNewOrder(api, order, entry.Held, entry.BookMargin);
  entered.ID = order->ID;
  entered.Status = order->Status;
  entered.Sequence = order->OFSeqNumber;
  entered.PostEvent = !ProtectEventSuppressed(api, *order);
  // Sent even when the list refused it: the host decides about a duplicate.
  if (!entry.Held && SafeStrToInt(order->ID, 0) > 0) {
    entered.SendRequest = true;
    entered.Request = PrepareOrderRequest(api, ILinkRequests::kAddOrder, *order);
  }
  if (dumps && entry.Held) {
    entered.SyntheticDump = OrderDump(*order, false);
    if (entered.Kept) entered.HeldDump = OrderDump(*order, true);
  }
  return entered;
}

// After the lock: the order event, then the request, so that the host's reply never reaches the
// application before the order's own event.
void AnnounceOrder(TClassAPI& api, const TEntered& entered) {
  if (!entered.SyntheticDump.empty()) WriteTraceLine(entered.SyntheticDump);
  if (entered.PostEvent) AddOrderCallback(entered.ID, entered.ID, entered.Status, entered.Sequence);
  if (entered.SendRequest) SendPreparedOrderRequest(api, entered.Request.get(), entered.ID);
  if (!entered.HeldDump.empty()) WriteTraceLine(entered.HeldDump);
}

// --- Aggregate orders and customer requests ----------------------------------------------------

// The record's names of a locally made order.
struct TLocalOrderNames {
  std::string Account, Exchange, Commodity, ContractDate;
};

template <class Record>
TLocalOrderNames NamesOf(const Record& record) {
  return {GetFixed(record.TraderAccount), GetFixed(record.ExchangeName),
          GetFixed(record.CommodityName), GetFixed(record.ContractDate)};
}

// Trader account (9, 34) and contract (22) of a locally made order.
std::int32_t FindLocalOrderRefs(TClassAPI& api, const TLocalOrderNames& names, TOrderItem& order) {
  auto account = api.Accounts.FindAccount(Trim(names.Account));
  if (!account) return VN_RC_TRADER_ACCOUNT_NOT_FOUND;
  if (!account->Tradable) return VN_RC_ACCOUNT_VIEW_ONLY;
  auto contract = api.Contracts.FindContract(names.Exchange, names.Commodity, names.ContractDate);
  if (!contract) return VN_RC_UNKNOWN_CONTRACT;
  order.TraderAccount = std::move(account);
  order.Contract = std::move(contract);
  return VN_RC_SUCCESS;
}

// The parent of a customer request: an aggregate order of the same exchange, contract and
// trader account (45 otherwise); a blank parent ID passes.
std::int32_t CheckCustReqParent(TClassAPI& api, const CustReqStruct& record,
                                const TLocalOrderNames& names) {
  const std::string parent = Trim(GetFixed(record.ParentID));
  if (parent.empty()) return VN_RC_SUCCESS;
  TOrderQGuard guard(api.Orders);
  const auto head = api.Orders.FindOrder(parent);
  const bool matches = head && head->OrderType &&
                       head->OrderType->OrderTypeID == otAggregateOrder &&
                       head->ExchangeName == Trim(names.Exchange) && head->Contract &&
                       head->Contract->CommodityStr() == Trim(names.Commodity) &&
                       head->Contract->ContractDate() == Trim(names.ContractDate) &&
                       head->GetTraderAccountName() == Trim(names.Account);
  return matches ? VN_RC_SUCCESS : VN_RC_INVALID_PARENT_ORDER_ID;
}

// The fields a locally made order shares with the aggregate order.
std::shared_ptr<TOrderItem> NewLocalOrder(TClassAPI& api, const std::string& id, char side) {
  auto order = NewOrderItem();
  order->Checked = false;
  order->Status = osQueued;
  order->ID = id;
  order->UserName = api.UserName.Get();
  order->BuySell = side == VN_SIDE_BUY ? Buy : Sell;
  const TDateTime now = Now();
  order->DateClientSent = FormatDateTime("yyyymmdd", now);
  order->TimeClientSent = FormatDateTime("hhnnss", now);
  return order;
}

std::int32_t EnterLocalOrder(TClassAPI& api, const std::shared_ptr<TOrderItem>& order,
                             std::string& id) {
  const TEntered entered = EnterOrder(api, order, {});
  // The event first, as for every entry, so that the host's reply never overtakes it.
  AddOrderCallback(entered.ID, entered.ID, entered.Status, entered.Sequence);
  if (entered.SendRequest) SendPreparedOrderRequest(api, entered.Request.get(), entered.ID);
  id = entered.ID;
  return VN_RC_SUCCESS;
}

}  // namespace

std::int32_t CheckLinks(const TClassAPI& api) {
  if (!api.LinkConnected(psHost)) return VN_RC_HOST_NOT_CONNECTED;
  if (api.Features.MarketDataRequired && !api.LinkConnected(psPriceFeed))
    return VN_RC_PRICE_FEED_NOT_CONNECTED;
  return VN_RC_SUCCESS;
}

TEntryID::~TEntryID() {
  if (!id_.empty()) api_.OrderIDs.EntryFinished(id_);
}

const std::string& TEntryID::Take() {
  id_ = api_.OrderIDs.GetNewOrderID();
  return id_;
}

std::int32_t TEntryID::Open() {
  if (const std::int32_t ready = api_.CheckReadyState(); ready != VN_RC_SUCCESS) return ready;
  if (Take().empty()) return VN_RC_HOST_DATABASE_NOT_CONNECTED;
  return CheckLinks(api_);
}

bool ListNewOrder(TClassAPI& api, const std::shared_ptr<TOrderItem>& order, bool held,
                  bool bookMargin) {
  TOrderQGuard guard(api.Orders);
  if (!api.Orders.Add(order)) return false;
  if (bookMargin) BookOrderMargin(order, api.Features.MarginMode);
  // Before any trigger test can release it.
  if (held) {
    order->UpdateSequence = api.NextOrderSequence();
    api.Orders.AddSyntheticContract(*order);
    api.Subscriptions.SubscribePrice(order->Contract->Key());
  }
  return true;
}

void CopyOrderID(std::string_view id, char* out) {
  if (!out) return;
  const std::size_t length = std::min<std::size_t>(id.size(), kOrderIDLength);
  std::memcpy(out, id.data(), length);
  out[length] = '\0';
}

std::int32_t DoAddOrder(TClassAPI& api, const NewOrderStruct& record,
                        const ProtectionStruct& protection, std::string& id,
                        std::string_view userName) {
  return GuardedEntry("vnAddOrder", [&]() -> std::int32_t {
    TEntryID entryID(api);
    if (const std::int32_t open = entryID.Open(); open != VN_RC_SUCCESS) return open;
    const std::string& newID = entryID.ID();
    TBuildOrderOptions options;
    options.CheckParent = true;
    options.Protection = &protection;
    const TBuildOrderResult built = TOrderItem::BuildOrder(record, newID, userName, options);
    if (built.Code != VN_RC_SUCCESS) return built.Code;
    const std::shared_ptr<TOrderItem>& order = built.Order;
    const bool held = order->Status == osHeldOrder;
    const std::shared_ptr<TContractItem> contract = order->Contract;
    const TEntered entered = EnterOrder(api, order, {held, true});
    AnnounceOrder(api, entered);
    id = entered.ID;
    // The trigger test of a held order runs once it is listed, subscribed and announced.
    if (held && entered.Kept && record.CheckNow == 'Y')
      api.Orders.CheckSyntheticOrders(*contract, entered.ID);
    return VN_RC_SUCCESS;
  });
}

std::int32_t AddOrderWithoutProtection(TClassAPI& api, const NewOrderStruct& order, std::string& id,
                                       std::string_view userName) {
  ProtectionStruct protection;
  std::memset(&protection, 0, sizeof protection);
  return DoAddOrder(api, order, protection, id, userName);
}

std::int32_t VerifyOrder(TClassAPI& api, const NewOrderStruct& order) {
  return GuardedEntry("vnAddOrder", [&]() -> std::int32_t {
    if (const std::int32_t ready = api.CheckReadyState(); ready != VN_RC_SUCCESS) return ready;
    if (const std::int32_t links = CheckLinks(api); links != VN_RC_SUCCESS) return links;
    TBuildOrderOptions options;
    options.VerifyOnly = true;
    return TOrderItem::BuildOrder(order, {}, {}, options).Code;
  });
}

std::int32_t AddBatchOrder(TClassAPI& api, std::int32_t count, NewOrderStruct* orders,
                           char (*ids)[11]) {
  WriteTraceLine("AddBatchOrder with " + IntToStr(count) + " orders being verified");
  for (std::int32_t i = 0; i < count; ++i) {
    if (const std::int32_t result = VerifyOrder(api, orders[i]); result != VN_RC_SUCCESS)
      return result;
  }
  WriteTraceLine(
      "AddBatchOrder - verification returned no errors... about to send orders into the market");
  std::string firstID;
  const std::string user = api.UserName.Get();
  for (std::int32_t i = 0; i < count; ++i) {
    PutFixed(orders[i].BatchID, firstID);
    std::string id;
    const std::int32_t result = AddOrderWithoutProtection(api, orders[i], id, user);
    if (result != VN_RC_SUCCESS) return result;
    if (ids) CopyOrderID(id, ids[i]);
    if (i == 0) firstID = id;
  }
  return VN_RC_SUCCESS;
}

std::int32_t AddAggregateOrder(TClassAPI& api, const AggregateOrderStruct& record,
                               std::string& id) {
  return GuardedEntry("vnAddAggORder", [&]() -> std::int32_t {
    TEntryID entryID(api);
    if (const std::int32_t open = entryID.Open(); open != VN_RC_SUCCESS) return open;
    const std::string& newID = entryID.ID();
    const TLocalOrderNames names = NamesOf(record);
    if (DebugFlagOn(kTraceAppCalls))
      WriteTraceLine("vnAddAggOrder " + names.Commodity + " " + names.ContractDate + " " +
                     std::string(1, record.BuySell));
    auto order = NewLocalOrder(api, newID, record.BuySell);
    if (const std::int32_t refs = FindLocalOrderRefs(api, names, *order); refs != VN_RC_SUCCESS)
      return refs;
    order->OrderType = api.OrderTypes.FindOrMakeOrderType(
        names.Exchange, "AggOrder",
        {.OrderTypeID = otAggregateOrder, .AutoCreated = true, .PricesRequired = 0});
    order->SetReference(GetFixed(record.Reference));
    order->Priority = 0;
    order->XRef = record.XRef;
    order->DoneForDay = record.DoneForDay;
    return EnterLocalOrder(api, order, id);
  });
}

std::int32_t AddCustRequest(TClassAPI& api, const CustReqStruct& record, std::string& id) {
  return GuardedEntry("vnAddCustRequest", [&]() -> std::int32_t {
    TEntryID entryID(api);
    if (const std::int32_t open = entryID.Open(); open != VN_RC_SUCCESS) return open;
    const std::string& newID = entryID.ID();
    const TLocalOrderNames names = NamesOf(record);
    const std::string parent = GetFixed(record.ParentID);
    if (DebugFlagOn(kTraceAppCalls))
      WriteTraceLine("vnAddCustRequest " + names.Commodity + " " + names.ContractDate + " " +
                     parent + " " + IntToStr(record.Lots));
    auto order = NewLocalOrder(api, newID, record.BuySell);
    if (const std::int32_t refs = FindLocalOrderRefs(api, names, *order); refs != VN_RC_SUCCESS)
      return refs;
    if (const std::int32_t check = CheckCustReqParent(api, record, names); check != VN_RC_SUCCESS)
      return check;
    order->OrderType = api.OrderTypes.FindOrMakeOrderType(
        names.Exchange, "CustReq",
        {.OrderTypeID = kCustomerRequestTypeID, .AutoCreated = true, .PricesRequired = 1});
    order->ExchangeName = names.Exchange;
    order->TargetLots = record.Lots;
    order->ActualLots = record.LotsDone;
    order->AveragePrice = SafeStrToFloat(GetFixed(record.AveragePrice), 0);
    order->Price = SafeStrToFloat(GetFixed(record.Price), 0);
    order->SetParentID(parent);
    order->SetReference(GetFixed(record.Reference));
    order->XRef = record.XRef;
    WriteTraceLine("AddCustReq, OrderID = " + order->ID + ", XRef = " + IntToStr(order->XRef));
    return EnterLocalOrder(api, order, id);
  });
}

}  // namespace vorn
