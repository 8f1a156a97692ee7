// The amend and cancel exports: shells over the bodies in core/session/AmendCancel.cpp and
// ReParent.cpp. Each checks that the API object is ready, cuts its text arguments to their record
// widths and runs the body for the logged-on user or the named one.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/ReParent.h"
#include "core/session/AmendCancel.h"
#include "core/session/ClassAPI.h"
#include "core/trading/OrderItem.h"
#include "core/util/NameWidths.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr std::string_view kAmendRoutine = "vnAmendOrder";
constexpr std::string_view kCancelRoutine = "vnCancelOrder";
// The user a request is made for: the named one (an Ex export, its name cut to the width) or,
// without one, the logged-on user.
using TUserArg = std::optional<const char*>;

std::string UserFor(const TClassAPI& api, TUserArg user) {
  return user ? ArgString(*user, kUserNameArgWidth) : api.UserName.Get();
}

// Ready (1, 4), then the body on the API object.
template <class Body>
std::int32_t RunReady(std::string_view routine, Body body) {
  return GuardedExport(routine, [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    return body(*api);
  });
}

std::int32_t AmendFor(const char* id, const AmendOrderStruct* record, TUserArg user) {
  return RunReady(kAmendRoutine, [&](TClassAPI& api) {
    RequireArgument(record, "Amend");
    return DoAmendOrder(api, OrderIDArg(id), *record, UserFor(api, user));
  });
}

std::int32_t CancelFor(const char* id, TUserArg user) {
  return RunReady(kCancelRoutine, [&](TClassAPI& api) {
    return CancelOrder(api, OrderIDArg(id), UserFor(api, user));
  });
}

std::int32_t CancelContract(TCancelSide side, const char* account, const char* exchange,
                            const char* commodity, const char* contractDate, TUserArg user) {
  return RunReady(kCancelRoutine, [&](TClassAPI& api) {
    TCancelSelection selection;
    selection.Account = ArgString(account, kTraderAccountWidth);
    selection.Exchange = ArgString(exchange, kExchangeNameWidth);
    selection.Commodity = ArgString(commodity, kCommodityNameWidth);
    selection.ContractDate = ArgString(contractDate, kContractDateWidth);
    selection.Side = side;
    return CancelOrders(api, selection, UserFor(api, user));
  });
}

std::int32_t CancelAccount(const char* account, TUserArg user, std::string_view routine) {
  return RunReady(kCancelRoutine, [&](TClassAPI& api) {
    return CancelAll(api, ArgString(account, kTraderAccountWidth), UserFor(api, user), routine);
  });
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnAmendOrder(const char* OrderID, const AmendOrderStruct* Amend) {
  return AmendFor(OrderID, Amend, std::nullopt);
}

VN_API int32_t VN_STDCALL vnAmendOrderEx(const char* OrderID, const AmendOrderStruct* Amend,
                                         const char* UserName) {
  return AmendFor(OrderID, Amend, UserName);
}

VN_API int32_t VN_STDCALL vnReParent(const char* OrderID, const char* NewParentID) {
  return RunReady(kAmendRoutine, [&](TClassAPI& api) {
    return ReParent(api, OrderIDArg(OrderID), OrderIDArg(NewParentID));
  });
}

VN_API int32_t VN_STDCALL vnDoneForDay(const char* OrderID) {
  return RunReady(kAmendRoutine,
                  [&](TClassAPI& api) { return DoneForDay(api, OrderIDArg(OrderID)); });
}

VN_API int32_t VN_STDCALL vnCancelOrder(const char* OrderID) {
  return CancelFor(OrderID, std::nullopt);
}

VN_API int32_t VN_STDCALL vnCancelOrderEx(const char* OrderID, const char* UserName) {
  return CancelFor(OrderID, UserName);
}

VN_API int32_t VN_STDCALL vnCancelBuys(const char* Account, const char* Exchange,
                                       const char* Commodity, const char* ContractDate) {
  return CancelContract(TCancelSide::Buys, Account, Exchange, Commodity, ContractDate,
                        std::nullopt);
}

VN_API int32_t VN_STDCALL vnCancelSells(const char* Account, const char* Exchange,
                                        const char* Commodity, const char* ContractDate) {
  return CancelContract(TCancelSide::Sells, Account, Exchange, Commodity, ContractDate,
                        std::nullopt);
}

VN_API int32_t VN_STDCALL vnCancelOrders(const char* Account, const char* Exchange,
                                         const char* Commodity, const char* ContractDate) {
  return CancelContract(TCancelSide::Both, Account, Exchange, Commodity, ContractDate,
                        std::nullopt);
}

VN_API int32_t VN_STDCALL vnCancelBuysEx(const char* Account, const char* Exchange,
                                         const char* Commodity, const char* ContractDate,
                                         const char* UserName) {
  return CancelContract(TCancelSide::Buys, Account, Exchange, Commodity, ContractDate, UserName);
}

VN_API int32_t VN_STDCALL vnCancelSellsEx(const char* Account, const char* Exchange,
                                          const char* Commodity, const char* ContractDate,
                                          const char* UserName) {
  return CancelContract(TCancelSide::Sells, Account, Exchange, Commodity, ContractDate, UserName);
}

VN_API int32_t VN_STDCALL vnCancelAll(const char* Account) {
  return CancelAccount(Account, std::nullopt, "vnCancelAll");
}

VN_API int32_t VN_STDCALL vnCancelAllEx(const char* Account, const char* UserName) {
  return CancelAccount(Account, UserName, "vnCancelAllEx");
}

}  // extern "C"
