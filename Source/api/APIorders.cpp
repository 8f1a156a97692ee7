// The order queries: counts, one version of an order by index, by ID or by history position, an
// order's index, the status query to the host, the checked mark and the user-ID filter.
//
// The link threads add versions, re-key histories and take them out of the order list while
// application threads query it, so every export holds the order list's lock, then the history's,
// across its whole look-up and copy: an index checked is the index used. The status query is sent
// after both are released.

#include <cstring>
#include <memory>
#include <string>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/OrderDetail.h"
#include "core/session/ClassAPI.h"
#include "core/session/LinkRequests.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

void FailRecord(OrderDetailStruct& record) {
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

// The exchange of the order's contract's commodity allows status queries. Order list's lock held
// (the exchange list's comes after it).
bool QueryEnabled(TClassAPI& api, const TOrderItem& order) {
  if (!order.Contract) return false;
  const auto commodity = order.Contract->GetCommodity();
  const std::string name = commodity ? commodity->ExchangeName() : order.Contract->ExchangeStr();
  TIndexListLock guard(api.Exchanges);
  const auto exchange = api.Exchanges.FindExchange(name);
  return exchange && exchange->QueryEnabled;
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

// Runs body on the current version of the order with the ID, under the order list's lock and
// then the history's: 10 for an empty list, 25 for an unknown order.
template <class Body>
std::int32_t WithCurrentOrder(TOrderQ& orders, const std::string& id, Body body) {
  TIndexListLock guard(orders);
  if (orders.Count() == 0) return VN_RC_NO_DATA;
  const auto history = orders.FindOrderList(id);
  if (!history) return VN_RC_INVALID_ORDER_ID;
  TIndexListLock historyGuard(*history);
  const auto current = history->GetCurrent();
  if (!current) return VN_RC_INVALID_ORDER_ID;
  return body(*current);
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnCountOrders(int32_t* Count) {
  return GuardedExport("vnCountOrders", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Count, "Count");
    *Count = api->Orders.Count();
    TraceAppCall([&] { return "vnCountOrders " + IntToStr(*Count); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetOrder(int32_t Index, OrderDetailStruct* Order) {
  return GuardedExport("vnGetOrder", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Order, "Order");
    {
      TIndexListLock guard(api->Orders);
      if (api->Orders.Count() == 0) return VN_RC_NO_DATA;
      const auto history = HistoryAt(api->Orders, Index);
      if (history &&
          CopyVersion(*history, *Order, [](const TOrderList& h) { return h.GetCurrent(); })) {
        Order->Index = Index;
      } else {
        FailRecord(*Order);
        result = VN_RC_INVALID_INDEX;
      }
    }
    TraceAppCall([&] {
      return "vnGetOrder " + IntToStr(Index) + " =" + IntToStr(result) + ": " +
             GetFixed(Order->OrderID) + " " + IntToStr(Order->Lots) + " " +
             GetFixed(Order->CommodityName) + GetFixed(Order->ContractDate) + " " +
             IntToStr(Order->Status);
    });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetOrderByID(const char* OrderID, OrderDetailStruct* Order,
                                         int32_t Version) {
  return GuardedExport("vnGetOrderByID", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Order, "Order");
    const std::string id = OrderIDArg(OrderID);
    {
      TIndexListLock guard(api->Orders);
      if (api->Orders.Count() == 0) return VN_RC_NO_DATA;
      const int index = api->Orders.IndexOfOrder(id);
      const auto history = HistoryAt(api->Orders, index);
      if (history && CopyVersion(*history, *Order,
                                 [&](const TOrderList& h) { return VersionOf(h, Version); })) {
        Order->Index = index;
      } else {
        FailRecord(*Order);
        result = VN_RC_INVALID_ORDER_ID;
      }
    }
    if (result == VN_RC_SUCCESS)
      WriteTraceLine("vnGetORderByID, OrderID = " + id + ", XRef = " + IntToStr(Order->XRef));
    TraceAppCall([&] {
      return "vnGetOrderByID =" + IntToStr(result) + ": " + id + " " + IntToStr(Order->Lots) + " " +
             GetFixed(Order->Price) + " " + GetFixed(Order->CommodityName) +
             GetFixed(Order->ContractDate) + ", BgRf =" + GetFixed(Order->BigRefField);
    });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetOrderIndex(const char* OrderID, int32_t* Index) {
  return GuardedExport("vnGetOrderIndex", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Index, "Index");
    const std::string id = OrderIDArg(OrderID);
    {
      TIndexListLock guard(api->Orders);
      if (api->Orders.Count() == 0) return VN_RC_NO_DATA;
      *Index = api->Orders.IndexOfOrder(id);
    }
    TraceAppCall([&] {
      return "vnGetOrderIndex =" + IntToStr(result) + ": " + id + " Index = " + IntToStr(*Index);
    });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnCountOrderHistory(int32_t Index, int32_t* Count) {
  return GuardedExport("vnCountOrderHistory", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Count, "Count");
    TIndexListLock guard(api->Orders);
    if (api->Orders.Count() == 0) return VN_RC_NO_DATA;
    const auto history = HistoryAt(api->Orders, Index);
    if (!history) return VN_RC_INVALID_INDEX;
    *Count = history->Count();
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetOrderHistory(int32_t Index, int32_t HistoryIndex,
                                            OrderDetailStruct* Order) {
  return GuardedExport("vnGetOrderHistory", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Order, "Order");
    {
      TIndexListLock guard(api->Orders);
      if (api->Orders.Count() == 0) return VN_RC_NO_DATA;
      const auto history = HistoryAt(api->Orders, Index);
      if (!history || !CopyVersion(*history, *Order, [&](const TOrderList& h) {
            return HistoryIndex >= 0 && HistoryIndex < h.Count() ? h.At(HistoryIndex) : nullptr;
          })) {
        FailRecord(*Order);
        return VN_RC_INVALID_INDEX;
      }
    }
    if (DebugFlagOn(kDebugging))
      WriteTraceLine("vnGetOrderHistory index" + IntToStr(Index) + " Status " +
                     IntToStr(Order->Status) + " substate " + IntToStr(Order->SubState));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnQueryOrderStatus(const char* OrderID) {
  return GuardedExport("vnQueryOrderStatus", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    const std::string id = OrderIDArg(OrderID);
    TraceAppCall([&] { return "vnQueryOrderStatus " + id; });
    std::shared_ptr<TOrderItem> request;
    result = WithCurrentOrder(api->Orders, id, [&](const TOrderItem& current) -> std::int32_t {
      if (!QueryEnabled(*api, current)) return VN_RC_QUERY_NOT_ENABLED;
      if (current.Status != osWorking && current.Status != osPart && current.Status != osORPIPart)
        return VN_RC_INVALID_ORDER_STATE;
      request = current.Copy();
      return VN_RC_SUCCESS;
    });
    if (result != VN_RC_SUCCESS) return result;
    SendOrderRequest(*api, ILinkRequests::kOrderStatusQuery, *request);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnOrderChecked(const char* OrderID, char Checked) {
  return GuardedExport("vnOrderChecked", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    const std::string id = OrderIDArg(OrderID);
    WriteTraceLine("vnOrderChecked " + id);
    return WithCurrentOrder(api->Orders, id, [&](TOrderItem& current) -> std::int32_t {
      current.Checked = Checked == 'Y';
      return VN_RC_SUCCESS;
    });
  });
}

VN_API int32_t VN_STDCALL vnSetUserIDFilter(char Flag) {
  return GuardedExport("vnSetUserIDFilter", [&]() -> std::int32_t {
    const auto api = API();
    if (!api) return VN_RC_NOT_INITIALISED;
    api->UserIDFilter = Flag == 'Y';
    WriteTraceLine("vnSetUserIDFilter: " + std::string(1, Flag));
    return VN_RC_SUCCESS;
  });
}

}  // extern "C"
