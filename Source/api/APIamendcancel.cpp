// The amend and cancel exports: adapters over the bodies in core/session/AmendCancel.cpp and
// ReParent.cpp. Each checks that the API object is ready, cuts its text arguments to their record
// widths and runs the body for the logged-on user or the named one.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// The logs name every amend export vnAmendOrder and every cancel export vnCancelOrder.
constexpr std::string_view kAmendRoutine = "vnAmendOrder";
constexpr std::string_view kCancelRoutine = "vnCancelOrder";
// The user a request is made for: the named one (an Ex export, its name cut to the width) or,
// without one, the logged-on user.
using TUserArg = std::optional<const char*>;

std::string UserFor(const TClassAPI& api, TUserArg user) {
  return user ? ArgString(*user, kUserNameArgWidth) : api.UserName.Get();
}

std::int32_t AmendFor(std::string_view routine, const char* id, const AmendOrderStruct* record,
                      TUserArg user) {
  return ReadyExport(routine, [&](TClassAPI& api) {
    RequireArgument(record, "Amend");
    return DoAmendOrder(api, OrderIDArg(id), *record, UserFor(api, user));
  });
}

std::int32_t CancelFor(std::string_view routine, const char* id, TUserArg user) {
  return ReadyExport(routine, [&](TClassAPI& api) {
    return CancelOrder(api, OrderIDArg(id), UserFor(api, user));
  });
}

std::int32_t CancelContract(std::string_view routine, TCancelSide side, const char* account,
                            const char* exchange, const char* commodity, const char* contractDate,
                            TUserArg user) {
  return ReadyExport(routine, [&](TClassAPI& api) {
    TCancelSelection selection;
    selection.Account = ArgString(account, kTraderAccountWidth);
    selection.Exchange = ArgString(exchange, kExchangeNameWidth);
    selection.Commodity = ArgString(commodity, kCommodityNameWidth);
    selection.ContractDate = ArgString(contractDate, kContractDateWidth);
    selection.Side = side;
    return CancelOrders(api, selection, UserFor(api, user));
  });
}

// The export's own name goes to the trace line of each cancel.
std::int32_t CancelAccount(std::string_view routine, std::string_view exportName,
                           const char* account, TUserArg user) {
  return ReadyExport(routine, [&](TClassAPI& api) {
    return CancelAll(api, ArgString(account, kTraderAccountWidth), UserFor(api, user), exportName);
  });
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnAmendOrder(const char* OrderID, const AmendOrderStruct* Amend) {
  return AmendFor(__func__, OrderID, Amend, std::nullopt);
}

VN_API int32_t VN_STDCALL vnAmendOrderEx(const char* OrderID, const AmendOrderStruct* Amend,
                                         const char* UserName) {
  return AmendFor(kAmendRoutine, OrderID, Amend, UserName);
}

VN_API int32_t VN_STDCALL vnReParent(const char* OrderID, const char* NewParentID) {
  return ReadyExport(kAmendRoutine, [&](TClassAPI& api) {
    return ReParent(api, OrderIDArg(OrderID), OrderIDArg(NewParentID));
  });
}

VN_API int32_t VN_STDCALL vnDoneForDay(const char* OrderID) {
  return ReadyExport(kAmendRoutine,
                     [&](TClassAPI& api) { return DoneForDay(api, OrderIDArg(OrderID)); });
}

VN_API int32_t VN_STDCALL vnCancelOrder(const char* OrderID) {
  return CancelFor(__func__, OrderID, std::nullopt);
}

VN_API int32_t VN_STDCALL vnCancelOrderEx(const char* OrderID, const char* UserName) {
  return CancelFor(kCancelRoutine, OrderID, UserName);
}

VN_API int32_t VN_STDCALL vnCancelBuys(const char* Account, const char* Exchange,
                                       const char* Commodity, const char* ContractDate) {
  return CancelContract(kCancelRoutine, TCancelSide::Buys, Account, Exchange, Commodity,
                        ContractDate, std::nullopt);
}

VN_API int32_t VN_STDCALL vnCancelSells(const char* Account, const char* Exchange,
                                        const char* Commodity, const char* ContractDate) {
  return CancelContract(kCancelRoutine, TCancelSide::Sells, Account, Exchange, Commodity,
                        ContractDate, std::nullopt);
}

VN_API int32_t VN_STDCALL vnCancelOrders(const char* Account, const char* Exchange,
                                         const char* Commodity, const char* ContractDate) {
  return CancelContract(kCancelRoutine, TCancelSide::Both, Account, Exchange, Commodity,
                        ContractDate, std::nullopt);
}

VN_API int32_t VN_STDCALL vnCancelBuysEx(const char* Account, const char* Exchange,
                                         const char* Commodity, const char* ContractDate,
                                         const char* UserName) {
  return CancelContract(kCancelRoutine, TCancelSide::Buys, Account, Exchange, Commodity,
                        ContractDate, UserName);
}

VN_API int32_t VN_STDCALL vnCancelSellsEx(const char* Account, const char* Exchange,
                                          const char* Commodity, const char* ContractDate,
                                          const char* UserName) {
  return CancelContract(kCancelRoutine, TCancelSide::Sells, Account, Exchange, Commodity,
                        ContractDate, UserName);
}

VN_API int32_t VN_STDCALL vnCancelAll(const char* Account) {
  return CancelAccount(kCancelRoutine, __func__, Account, std::nullopt);
}

VN_API int32_t VN_STDCALL vnCancelAllEx(const char* Account, const char* UserName) {
  return CancelAccount(kCancelRoutine, __func__, Account, UserName);
}

}  // extern "C"
