// The wholesale-order exports: adapters over the bodies in WholesaleEntry.cpp. Each checks that
// the API object is ready and that its records are given, runs the body and writes the pair's
// order IDs into the caller's record when there is one.

#include <cstdint>
#include <string_view>

#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/WholesaleEntry.h"
#include "core/session/ClassAPI.h"
#include "vornintf.h"

namespace vorn {
namespace {

// Ready (1, 4), both records given (99), the body, the IDs written on success.
template <class Body>
std::int32_t EnterPairExport(std::string_view routine, const NewOrderStruct* primary,
                             const NewOrderStruct* secondary, OrderIDPair* ids, Body body) {
  return ReadyExport(routine, [&](TClassAPI& api) {
    RequireArgument(primary, "Primary");
    RequireArgument(secondary, "Secondary");
    TWholesaleIDs entered;
    const std::int32_t result = body(api, *primary, *secondary, entered);
    if (result == VN_RC_SUCCESS) CopyOrderIDPair(entered, ids);
    return result;
  });
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnAddCrossingOrder(const NewOrderStruct* Primary,
                                             const NewOrderStruct* Secondary,
                                             const LegPriceStruct* LegPrices, OrderIDPair* IDs,
                                             char Flag) {
  return EnterPairExport(__func__, Primary, Secondary, IDs,
                         [&](TClassAPI& api, const NewOrderStruct& primary,
                             const NewOrderStruct& secondary, TWholesaleIDs& ids) {
                           return AddCrossingOrder(api, primary, secondary, LegPrices, Flag, ids);
                         });
}

VN_API int32_t VN_STDCALL vnAddBlockOrder(const NewOrderStruct* Primary,
                                          const NewOrderStruct* Secondary,
                                          const LegPriceStruct* LegPrices, OrderIDPair* IDs) {
  return EnterPairExport(__func__, Primary, Secondary, IDs,
                         [&](TClassAPI& api, const NewOrderStruct& primary,
                             const NewOrderStruct& secondary, TWholesaleIDs& ids) {
                           return AddBlockOrder(api, primary, secondary, LegPrices, ids);
                         });
}

VN_API int32_t VN_STDCALL vnAddBasisOrder(const NewOrderStruct* Primary,
                                          const NewOrderStruct* Secondary, const BasisStruct* Basis,
                                          OrderIDPair* IDs) {
  return EnterPairExport(__func__, Primary, Secondary, IDs,
                         [&](TClassAPI& api, const NewOrderStruct& primary,
                             const NewOrderStruct& secondary, TWholesaleIDs& ids) {
                           RequireArgument(Basis, "Basis");
                           return AddBasisOrder(api, primary, secondary, *Basis, ids);
                         });
}

VN_API int32_t VN_STDCALL vnAddAAOrder(const NewOrderStruct* Primary,
                                       const NewOrderStruct* Secondary, const char* UserName,
                                       const char* UserName2, OrderIDPair* IDs) {
  return EnterPairExport(__func__, Primary, Secondary, IDs,
                         [&](TClassAPI& api, const NewOrderStruct& primary,
                             const NewOrderStruct& secondary, TWholesaleIDs& ids) {
                           return AddAAOrder(api, primary, secondary,
                                             ArgText(UserName, kUserNameArgWidth),
                                             ArgText(UserName2, kUserNameArgWidth), ids);
                         });
}

}  // extern "C"
