#pragma once
// The shell every export runs in, in two layers.
//
// The boundary (GuardedExport and its variants): no exception leaves the library. A failure is
// recorded as the last error under the export's routine, with its trace ring entry, and the
// export returns 99 (or its own documented failure value).
//
// Over the boundary, the API object: ObjectExport runs its body on the current API object,
// ReadyExport on the current object when it is logged on. The body holds the object for the
// whole call, so a log-off on another thread cannot free it underneath. Work an export does
// before the object is looked for (a trace entry, clearing an out argument) is its `before`
// step: it runs inside the boundary whatever the state.
//
// The routine is the export's own name (__func__), unless the logs spell it otherwise; a body
// that needs it captures it (routine = __func__).

#include <concepts>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "api/APIobject.h"
#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "vornintf.h"

namespace vorn {

// --- The boundary ----------------------------------------------------------------------------

// Records the exception being handled as the last error of the routine.
inline void RecordExportFailure(std::string_view routine) noexcept {
  try {
    HandleUnexpectedError(std::current_exception(), routine);
  } catch (...) {
  }
}

// For exports without a result code: the failure value is returned after recording.
template <class Result, class Body>
Result GuardedExportOr(std::string_view routine, Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    RecordExportFailure(routine);
    return failure;
  }
}

template <class Body>
std::int32_t GuardedExport(std::string_view routine, Body&& body) noexcept {
  return GuardedExportOr<std::int32_t>(routine, kResultUnexpectedError, std::forward<Body>(body));
}

template <class Body>
void GuardedVoidExport(std::string_view routine, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    RecordExportFailure(routine);
  }
}

// --- The API object --------------------------------------------------------------------------

namespace detail {

inline void NothingBefore() {}

// A body taking TClassAPI& runs only on an object (1 without one); a body taking TClassAPI*
// runs always, handed null without one.
template <class Body>
std::int32_t RunOnCurrentAPI(Body& body) {
  const std::shared_ptr<TClassAPI> api = API();
  if constexpr (std::is_invocable_v<Body&, TClassAPI*>) {
    return body(api.get());
  } else {
    if (!api) return VN_RC_NOT_INITIALISED;
    return body(*api);
  }
}

}  // namespace detail

// before, then the body on the current API object (see RunOnCurrentAPI for a missing one).
template <class Before, class Body>
std::int32_t ObjectExport(std::string_view routine, Before&& before, Body&& body) noexcept {
  return GuardedExport(routine, [&]() -> std::int32_t {
    before();
    return detail::RunOnCurrentAPI(body);
  });
}
template <class Body>
std::int32_t ObjectExport(std::string_view routine, Body&& body) noexcept {
  return ObjectExport(routine, detail::NothingBefore, body);
}

// An export without a result code: body(TClassAPI*) is handed null without an object.
template <class Result, class Body>
Result ObjectExportOr(std::string_view routine, Result failure, Body&& body) noexcept {
  return GuardedExportOr(routine, failure, [&] {
    const std::shared_ptr<TClassAPI> api = API();
    return body(api.get());
  });
}

// A void export: before, then the body when there is an object.
template <class Before, class Body>
void ObjectVoidExport(std::string_view routine, Before&& before, Body&& body) noexcept {
  GuardedVoidExport(routine, [&] {
    before();
    if (const std::shared_ptr<TClassAPI> api = API()) body(*api);
  });
}
template <class Body>
void ObjectVoidExport(std::string_view routine, Body&& body) noexcept {
  ObjectVoidExport(routine, detail::NothingBefore, body);
}

// before, then the ready check (1 without an object, 4 when not logged on), then the body on
// the ready object.
template <class Before, class Body>
std::int32_t ReadyExport(std::string_view routine, Before&& before, Body&& body) noexcept {
  return GuardedExport(routine, [&]() -> std::int32_t {
    before();
    std::int32_t result = VN_RC_SUCCESS;
    const std::shared_ptr<TClassAPI> api = ReadyAPI(result);
    if (!api) return result;
    return body(*api);
  });
}
template <class Body>
std::int32_t ReadyExport(std::string_view routine, Body&& body) noexcept {
  return ReadyExport(routine, detail::NothingBefore, body);
}

// --- The trace line --------------------------------------------------------------------------

// The export's line in the trace file, "<routine> <tail>", written only with TraceAppCalls on;
// the tail is made only then, so a call an application polls builds no text otherwise.
template <class MakeTail>
requires std::invocable<MakeTail&>
void TraceExportCall(std::string_view routine, MakeTail&& makeTail) {
  TraceAppCall([&] {
    std::string line(routine);
    line += ' ';
    line += makeTail();
    return line;
  });
}

}  // namespace vorn
