// The vnRegister... exports: each stores the application's procedure for the ids it accepts
// (the table beside RegisterCallbackProc), keyed by the export's own name.

#include <cstdint>
#include <string_view>

#include "api/ExportShell.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "vornintf.h"

namespace vorn {
namespace {

template <class Proc>
std::int32_t RegisterExport(std::string_view routine, std::int32_t id, Proc proc) {
  return ObjectExport(routine, [&](TClassAPI&) {
    // Kept in the generic procedure type; the callback thread calls it with its id's type.
    return RegisterCallbackProc(routine, id, reinterpret_cast<TCallbackProc>(proc));
  });
}

}  // namespace
}  // namespace vorn

// The export's name doubles as the key of its id set, so the two cannot drift apart.
#define VN_REGISTER_EXPORT(Name, ProcType)                    \
  VN_API int32_t VN_STDCALL Name(int32_t ID, ProcType Proc) { \
    return vorn::RegisterExport(__func__, ID, Proc);          \
  }

extern "C" {

VN_REGISTER_EXPORT(vnRegisterCallback, VnNotifyProc)
VN_REGISTER_EXPORT(vnRegisterLinkStateCallback, VnLinkStateProc)
VN_REGISTER_EXPORT(vnRegisterMsgCallback, VnTextProc)
VN_REGISTER_EXPORT(vnRegisterPriceCallback, VnContractKeyProc)
VN_REGISTER_EXPORT(vnRegisterBlankPriceCallback, VnContractKeyProc)
VN_REGISTER_EXPORT(vnRegisterGenericPriceCallback, VnGenericPriceProc)
VN_REGISTER_EXPORT(vnRegisterDOMCallback, VnContractKeyProc)
VN_REGISTER_EXPORT(vnRegisterSubscriberDepthCallback, VnContractKeyProc)
VN_REGISTER_EXPORT(vnRegisterAtBestCallback, VnContractKeyProc)
VN_REGISTER_EXPORT(vnRegisterFillCallback, VnFillProc)
VN_REGISTER_EXPORT(vnRegisterOrderCallback, VnOrderProc)
VN_REGISTER_EXPORT(vnRegisterContractCallback, VnContractKeyProc)
VN_REGISTER_EXPORT(vnRegisterCommodityCallback, VnExchangeCommodityProc)
VN_REGISTER_EXPORT(vnRegisterExchangeCallback, VnTextProc)
VN_REGISTER_EXPORT(vnRegisterStatusCallback, VnContractStatusProc)
VN_REGISTER_EXPORT(vnRegisterExchangeRateCallback, VnTextProc)
VN_REGISTER_EXPORT(vnRegisterConStatusCallback, VnConnectivityStatusProc)
VN_REGISTER_EXPORT(vnRegisterOrderCancelFailureCallback, VnOrderFailureProc)
VN_REGISTER_EXPORT(vnRegisterOrderSentFailureCallback, VnOrderFailureProc)
VN_REGISTER_EXPORT(vnRegisterOrderQueuedFailureCallback, VnOrderFailureProc)
VN_REGISTER_EXPORT(vnRegisterTickerCallback, VnTickerProc)
VN_REGISTER_EXPORT(vnRegisterAmendFailureCallback, VnOrderFailureProc)
VN_REGISTER_EXPORT(vnRegisterSettlementCallback, VnSettlementProc)
VN_REGISTER_EXPORT(vnRegisterStrategyCreateSuccess, VnStrategyResultProc)
VN_REGISTER_EXPORT(vnRegisterStrategyCreateFailure, VnStrategyResultProc)
VN_REGISTER_EXPORT(vnRegisterOrderBookReset, VnNotifyProc)
VN_REGISTER_EXPORT(vnRegisterTraderAddedCallback, VnTraderProc)
VN_REGISTER_EXPORT(vnRegisterOrderTypeUpdateCallback, VnOrderTypeProc)

}  // extern "C"
