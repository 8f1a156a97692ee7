// The fill queries: the count, one fill by its place in the fill list, one fill by its ID.
//
// The fill receivers add fills and update listed ones under the fill list's lock, so every
// export holds it across its look-up and copy: an index checked is the index used, and no field
// is read while it is being written.

#include <cstdint>
#include <memory>
#include <string>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/FillDetail.h"
#include "core/session/ClassAPI.h"
#include "core/util/Conversions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {
namespace {

void FailRecord(FillStruct& record, std::int32_t index) {
  ZeroRecord(&record, sizeof record);
  record.Index = index;
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnCountFills(int32_t* Count) {
  return GuardedExport("vnCountFills", [&]() -> std::int32_t {
    RequireArgument(Count, "Count");
    *Count = 0;
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    *Count = api->Fills.Count();
    TraceAppCall([&] { return "vnCountFills " + IntToStr(*Count); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetFill(int32_t Index, FillStruct* Fill) {
  return GuardedExport("vnGetFill", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Fill, "Fill");
    {
      TIndexListLock guard(api->Fills);
      if (Index >= 0 && Index < api->Fills.Count()) {
        WriteFillDetail(*api->Fills.At(Index), Index, *Fill);
      } else {
        FailRecord(*Fill, -1);
        result = VN_RC_INVALID_INDEX;
      }
    }
    TraceAppCall([&] {
      return "vnGetFill rec " + IntToStr(Index) + "=" + IntToStr(result) + ": " +
             GetFixed(Fill->OrderID) + " " + GetFixed(Fill->TimeFilled);
    });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetFillByID(const char* FillID, FillStruct* Fill) {
  return GuardedExport("vnGetFillByID", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Fill, "Fill");
    const std::string_view id = TrimView(ArgText(FillID, sizeof(FillStruct::FillID)));
    TIndexListLock guard(api->Fills);
    const auto fill = api->Fills.FindByID(id);
    if (!fill) {
      FailRecord(*Fill, 0);
      return VN_RC_INVALID_INDEX;
    }
    WriteFillDetail(*fill, api->Fills.IndexOf(fill.get()), *Fill);
    return VN_RC_SUCCESS;
  });
}

}  // extern "C"
