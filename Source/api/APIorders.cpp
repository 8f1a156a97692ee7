// The order queries: counts, one version of an order by index, by ID or by history position, an
// order's index, the status query to the host, the checked mark and the user-ID filter. The
// record and the look-ups under the order list's and histories' locks are in OrderDetail.h; the
// status query is sent after both are released.

#include <cstdint>
#include <memory>
#include <string>

#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/OrderDetail.h"
#include "core/session/ClassAPI.h"
#include "core/session/LinkRequests.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnCountOrders(int32_t* Count) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Count, "Count");
    *Count = api.Orders.Count();
    TraceExportCall(routine, [&] { return IntToStr(*Count); });
    return VN_RC_SUCCESS;
  });
}

// An empty order list writes no trace line.
VN_API int32_t VN_STDCALL vnGetOrder(int32_t Index, OrderDetailStruct* Order) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Order, "Order");
    const std::int32_t result = CopyOrderAt(api.Orders, Index, *Order);
    if (result == VN_RC_NO_DATA) return result;
    TraceExportCall(routine, [&] {
      return IntToStr(Index) + " =" + IntToStr(result) + ": " + GetFixed(Order->OrderID) + " " +
             IntToStr(Order->Lots) + " " + GetFixed(Order->CommodityName) +
             GetFixed(Order->ContractDate) + " " + IntToStr(Order->Status);
    });
    return result;
  });
}

// An empty order list writes no trace line.
VN_API int32_t VN_STDCALL vnGetOrderByID(const char* OrderID, OrderDetailStruct* Order,
                                         int32_t Version) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Order, "Order");
    const std::string id = OrderIDArg(OrderID);
    const std::int32_t result = CopyOrderByID(api.Orders, id, Version, *Order);
    if (result == VN_RC_NO_DATA) return result;
    if (result == VN_RC_SUCCESS)
      WriteTraceLine("vnGetORderByID, OrderID = " + id + ", XRef = " + IntToStr(Order->XRef));
    TraceExportCall(routine, [&] {
      return "=" + IntToStr(result) + ": " + id + " " + IntToStr(Order->Lots) + " " +
             GetFixed(Order->Price) + " " + GetFixed(Order->CommodityName) +
             GetFixed(Order->ContractDate) + ", BgRf =" + GetFixed(Order->BigRefField);
    });
    return result;
  });
}

// An empty order list writes no trace line.
VN_API int32_t VN_STDCALL vnGetOrderIndex(const char* OrderID, int32_t* Index) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Index, "Index");
    const std::string id = OrderIDArg(OrderID);
    const std::int32_t result = FindOrderIndex(api.Orders, id, *Index);
    if (result == VN_RC_NO_DATA) return result;
    TraceExportCall(routine, [&] {
      return "=" + IntToStr(result) + ": " + id + " Index = " + IntToStr(*Index);
    });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnCountOrderHistory(int32_t Index, int32_t* Count) {
  return ReadyExport(__func__, [&](TClassAPI& api) {
    RequireArgument(Count, "Count");
    return CountOrderHistory(api.Orders, Index, *Count);
  });
}

VN_API int32_t VN_STDCALL vnGetOrderHistory(int32_t Index, int32_t HistoryIndex,
                                            OrderDetailStruct* Order) {
  return ReadyExport(__func__, [&](TClassAPI& api) {
    RequireArgument(Order, "Order");
    const std::int32_t result = CopyOrderHistoryAt(api.Orders, Index, HistoryIndex, *Order);
    if (result == VN_RC_SUCCESS && DebugFlagOn(kDebugging))
      WriteTraceLine("vnGetOrderHistory index" + IntToStr(Index) + " Status " +
                     IntToStr(Order->Status) + " substate " + IntToStr(Order->SubState));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnQueryOrderStatus(const char* OrderID) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) -> std::int32_t {
    const std::string id = OrderIDArg(OrderID);
    TraceExportCall(routine, [&] { return id; });
    std::shared_ptr<TOrderItem> request;
    const std::int32_t result =
        WithCurrentOrder(api.Orders, id, [&](const TOrderItem& current) -> std::int32_t {
          if (!StatusQueryEnabled(api.Exchanges, current)) return VN_RC_QUERY_NOT_ENABLED;
          if (current.Status != osWorking && current.Status != osPart &&
              current.Status != osORPIPart)
            return VN_RC_INVALID_ORDER_STATE;
          request = current.Copy();
          return VN_RC_SUCCESS;
        });
    if (result != VN_RC_SUCCESS) return result;
    SendOrderRequest(api, ILinkRequests::kOrderStatusQuery, *request);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnOrderChecked(const char* OrderID, char Checked) {
  return ReadyExport(__func__, [&](TClassAPI& api) {
    const std::string id = OrderIDArg(OrderID);
    WriteTraceLine("vnOrderChecked " + id);
    return WithCurrentOrder(api.Orders, id, [&](TOrderItem& current) -> std::int32_t {
      current.Checked = Checked == 'Y';
      return VN_RC_SUCCESS;
    });
  });
}

VN_API int32_t VN_STDCALL vnSetUserIDFilter(char Flag) {
  return ObjectExport(__func__, [&](TClassAPI& api) {
    api.UserIDFilter = Flag == 'Y';
    WriteTraceLine("vnSetUserIDFilter: " + std::string(1, Flag));
    return VN_RC_SUCCESS;
  });
}

}  // extern "C"
