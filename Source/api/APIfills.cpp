// The fill queries: the count, one fill by its place in the fill list, one fill by its ID. The
// record and the look-ups under the fill list's lock are in FillDetail.h.

#include <cstdint>
#include <string_view>

#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/FillDetail.h"
#include "core/session/ClassAPI.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnCountFills(int32_t* Count) {
  return ReadyExport(
      __func__, [&] { ClearCount(Count); },
      [&, routine = __func__](TClassAPI& api) {
        *Count = api.Fills.Count();
        TraceExportCall(routine, [&] { return IntToStr(*Count); });
        return VN_RC_SUCCESS;
      });
}

VN_API int32_t VN_STDCALL vnGetFill(int32_t Index, FillStruct* Fill) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Fill, "Fill");
    const std::int32_t result = CopyFillAt(api.Fills, Index, *Fill);
    TraceExportCall(routine, [&] {
      return "rec " + IntToStr(Index) + "=" + IntToStr(result) + ": " + GetFixed(Fill->OrderID) +
             " " + GetFixed(Fill->TimeFilled);
    });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetFillByID(const char* FillID, FillStruct* Fill) {
  return ReadyExport(__func__, [&](TClassAPI& api) {
    RequireArgument(Fill, "Fill");
    return CopyFillByID(api.Fills, TrimView(ArgText(FillID, sizeof(FillStruct::FillID))), *Fill);
  });
}

}  // extern "C"
