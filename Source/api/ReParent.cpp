#include "api/ReParent.h"

#include <optional>
#include <string>

#include "api/OrderEntry.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/session/AmendCancel.h"
#include "core/session/ClassAPI.h"
#include "core/trading/OrderQ.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

// The new parent that is made for the order first.
constexpr std::string_view kMakeParent = "-1";

std::int32_t AmendResult(std::int32_t code) {
  return code == VN_RC_ORDER_HELD_IN_QUEUE ? VN_RC_SUCCESS : code;
}

std::int32_t TypeIDOf(const TOrderItem& order) {
  return order.OrderType ? order.OrderType->OrderTypeID : 0;
}

// What a re-parenting reads of an order, copied under the order list's lock.
struct TOrderTerms {
  std::string ID;
  std::int32_t TypeID = 0;
  std::string ParentID;
  std::string Account;
  std::string Exchange;
  std::string Commodity;
  std::string ContractDate;
  char Side = VN_SIDE_SELL;
  double Price = 0;
  std::int32_t ActualLots = 0;
};

// Order list's lock held.
TOrderTerms TermsOf(const TOrderItem& order) {
  TOrderTerms terms;
  terms.ID = order.ID;
  terms.TypeID = TypeIDOf(order);
  terms.ParentID = Trim(order.ParentID());
  terms.Account = order.GetTraderAccountName();
  if (order.Contract) {
    terms.Exchange = order.Contract->ExchangeStr();
    terms.Commodity = order.Contract->CommodityStr();
    terms.ContractDate = order.Contract->ContractDate();
  }
  terms.Side = order.BuySell == Buy ? VN_SIDE_BUY : VN_SIDE_SELL;
  terms.Price = order.Price;
  terms.ActualLots = order.ActualLots;
  return terms;
}

std::optional<TOrderTerms> FindTerms(TClassAPI& api, std::string_view id) {
  TOrderQGuard guard(api.Orders);
  const auto order = api.Orders.FindOrder(id);
  if (!order) return std::nullopt;
  return TermsOf(*order);
}

// Makes the "-1" parent of the order: an aggregate order over a customer request, a customer
// request over any other order but an aggregate one. The entry's own result; 45 for an aggregate
// order, which takes no parent of its own.
std::int32_t MakeParent(TClassAPI& api, const TOrderTerms& order, std::string& id) {
  const std::string price = FloatToStr(order.Price);
  if (order.TypeID == kCustomerRequestTypeID) {
    AggregateOrderStruct record{};
    PutFixed(record.TraderAccount, order.Account);
    PutFixed(record.ExchangeName, order.Exchange);
    PutFixed(record.CommodityName, order.Commodity);
    PutFixed(record.ContractDate, order.ContractDate);
    record.BuySell = order.Side;
    PutFixed(record.Price, price);
    record.DoneForDay = 'N';
    return AddAggregateOrder(api, record, id);
  }
  if (order.TypeID == otAggregateOrder) return VN_RC_INVALID_PARENT_ORDER_ID;
  CustReqStruct record{};
  PutFixed(record.TraderAccount, order.Account);
  PutFixed(record.ExchangeName, order.Exchange);
  PutFixed(record.CommodityName, order.Commodity);
  PutFixed(record.ContractDate, order.ContractDate);
  record.BuySell = order.Side;
  PutFixed(record.OrderType, "CustReq");
  PutFixed(record.Price, price);
  record.Lots = order.ActualLots;
  return AddCustRequest(api, record, id);
}

// A customer request may move under any aggregate order; any other move takes an order that is
// neither, under a customer request of the same contract and trader account.
bool MayMove(const TOrderTerms& order, const TOrderTerms& parent) {
  if (order.TypeID == kCustomerRequestTypeID && parent.TypeID == otAggregateOrder) return true;
  if (order.TypeID == kCustomerRequestTypeID || order.TypeID == otAggregateOrder) return false;
  return parent.TypeID == kCustomerRequestTypeID && parent.Exchange == order.Exchange &&
         parent.Commodity == order.Commodity && parent.ContractDate == order.ContractDate &&
         parent.Account == order.Account;
}

}  // namespace

std::int32_t ReParent(TClassAPI& api, std::string_view id, std::string_view newParentID) {
  if (const std::int32_t ready = api.CheckReadyState(); ready != VN_RC_SUCCESS) return ready;
  const auto order = FindTerms(api, id);
  if (!order) return VN_RC_INVALID_ORDER_ID;
  if (order->ParentID.empty()) return VN_RC_SUCCESS;

  // The entry takes the order list's lock and sends: no lock is held across it.
  std::string parentID(newParentID);
  if (newParentID == kMakeParent && MakeParent(api, *order, parentID) != VN_RC_SUCCESS)
    return VN_RC_INVALID_PARENT_ORDER_ID;

  AmendOrderStruct record;
  {
    TOrderQGuard guard(api.Orders);
    const auto parent = api.Orders.FindOrder(parentID);
    if (!parent || !MayMove(*order, TermsOf(*parent))) return VN_RC_INVALID_PARENT_ORDER_ID;
    // The current version, which may have moved on while the parent was made.
    const auto current = api.Orders.FindOrder(order->ID);
    if (!current) return VN_RC_INVALID_ORDER_ID;
    record = AmendRecordOf(*current);
    PutFixed(record.ParentID, parent->ID);
  }
  return AmendResult(DoAmendOrder(api, order->ID, record, api.UserName.Get()));
}

std::int32_t DoneForDay(TClassAPI& api, std::string_view id) {
  if (const std::int32_t ready = api.CheckReadyState(); ready != VN_RC_SUCCESS) return ready;
  AmendOrderStruct record;
  std::string orderID;
  {
    TOrderQGuard guard(api.Orders);
    const auto order = api.Orders.FindOrder(id);
    if (!order) return VN_RC_INVALID_ORDER_ID;
    if (TypeIDOf(*order) != otAggregateOrder) return VN_RC_DONE_FOR_DAY_NOT_ALLOWED;
    orderID = order->ID;
    record = AmendRecordOf(*order);
    record.DoneForDay = order->DoneForDay == 'Y' ? 'N' : 'Y';
  }
  return AmendResult(DoAmendOrder(api, orderID, record, api.UserName.Get()));
}

}  // namespace vorn
