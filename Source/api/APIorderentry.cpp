// The order-entry exports: adapters over the bodies in OrderEntry.cpp. Each checks that the API
// object is ready and that its record is given, runs the body and copies the new order ID into
// the caller's 11-byte buffer when there is one.

#include <cstdint>
#include <string>
#include <string_view>

#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/OrderEntry.h"
#include "core/session/ClassAPI.h"
#include "vornintf.h"

namespace vorn {
namespace {

// The logs name vnAddOrderEx, vnAddProtectionOrder and vnAddBatchOrder so.
constexpr std::string_view kAddOrderRoutine = "vnAddOrder";

// One order: ready (1, 4), record given (99), the body, the new ID copied out on success.
template <class Record, class Body>
std::int32_t EnterOne(std::string_view routine, const Record* record, char* orderID, Body body) {
  return ReadyExport(routine, [&](TClassAPI& api) {
    RequireArgument(record, "Order");
    std::string id;
    const std::int32_t result = body(api, *record, id);
    if (result == VN_RC_SUCCESS) CopyOrderID(id, orderID);
    return result;
  });
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnAddOrder(const NewOrderStruct* Order, char* OrderID) {
  return EnterOne(__func__, Order, OrderID,
                  [](TClassAPI& api, const NewOrderStruct& order, std::string& id) {
                    return AddOrderWithoutProtection(api, order, id, api.UserName.Get());
                  });
}

VN_API int32_t VN_STDCALL vnAddOrderEx(const NewOrderStruct* Order, char* OrderID,
                                       const char* UserName) {
  return EnterOne(kAddOrderRoutine, Order, OrderID,
                  [UserName](TClassAPI& api, const NewOrderStruct& order, std::string& id) {
                    return AddOrderWithoutProtection(api, order, id,
                                                     ArgText(UserName, kUserNameArgWidth));
                  });
}

VN_API int32_t VN_STDCALL vnAddProtectionOrder(const NewOrderStruct* Order,
                                               const ProtectionStruct* Protection, char* OrderID) {
  return EnterOne(kAddOrderRoutine, Order, OrderID,
                  [Protection](TClassAPI& api, const NewOrderStruct& order, std::string& id) {
                    RequireArgument(Protection, "Protection");
                    return DoAddOrder(api, order, *Protection, id, api.UserName.Get());
                  });
}

VN_API int32_t VN_STDCALL vnAddBatchOrder(int32_t Count, NewOrderStruct* Orders,
                                          char (*OrderIDs)[11]) {
  return ReadyExport(kAddOrderRoutine, [&](TClassAPI& api) {
    if (Count > 0) RequireArgument(Orders, "Orders");
    return AddBatchOrder(api, Count, Orders, OrderIDs);
  });
}

VN_API int32_t VN_STDCALL vnAddAggregateOrder(const AggregateOrderStruct* Order, char* OrderID) {
  return EnterOne("vnAddAggORder", Order, OrderID, AddAggregateOrder);  // the logs spell it so
}

VN_API int32_t VN_STDCALL vnAddCustRequest(const CustReqStruct* Request, char* OrderID) {
  return EnterOne(__func__, Request, OrderID, AddCustRequest);
}

}  // extern "C"
