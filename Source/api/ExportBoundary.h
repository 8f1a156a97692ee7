#pragma once
// The one boundary every export body runs in: no exception leaves the library. A failure is
// recorded as the last error under the export's name and the export returns 99 (or its own
// documented failure value).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/refdata/ContractQ.h"
#include "core/trading/OrderItem.h"
#include "core/util/Exceptions.h"
#include "core/util/NameWidths.h"
#include "core/util/Text.h"

namespace vorn {

// Records the exception being handled as the last error of the export.
inline void RecordExportFailure(std::string_view exportName) noexcept {
  try {
    HandleUnexpectedError(std::current_exception(), exportName);
  } catch (...) {
  }
}

// For exports without a result code: the failure value is returned after recording.
template <class Result, class Body>
Result GuardedExportOr(std::string_view exportName, Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    RecordExportFailure(exportName);
    return failure;
  }
}

template <class Body>
std::int32_t GuardedExport(std::string_view exportName, Body&& body) noexcept {
  return GuardedExportOr<std::int32_t>(exportName, kResultUnexpectedError,
                                       std::forward<Body>(body));
}

template <class Body>
void GuardedVoidExport(std::string_view exportName, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    RecordExportFailure(exportName);
  }
}

// A record or out argument the caller must give: a null pointer fails the export (99), as a
// bad address did in the original, instead of crashing the caller's process.
template <class T>
void RequireArgument(T* argument, std::string_view name) {
  if (!argument) throw Exception(std::string(name) + " is a null pointer");
}

// A flag as the records write it.
inline char YesNo(bool value) {
  return value ? 'Y' : 'N';
}

// Text arguments may be null pointers: they read as empty text.
inline std::string_view ArgText(const char* text) {
  return text ? std::string_view(text) : "";
}

// A text argument of a fixed-width field: up to its NUL, but never more than width bytes, so a
// field the caller filled to the brim is not read past.
inline std::string_view ArgText(const char* text, std::size_t width) {
  return text ? std::string_view(text, strnlen(text, width)) : "";
}
inline std::string ArgString(const char* text, std::size_t width) {
  return std::string(ArgText(text, width));
}

// Order IDs arrive in fields of an ID and its NUL, user names in 11-byte fields.
inline constexpr std::size_t kOrderIDArgWidth = kOrderIDLength + 1;
inline constexpr std::size_t kUserNameArgWidth = 11;

// An order ID as the order list compares it: trimmed, its first 10 characters.
inline std::string OrderIDArg(const char* id) {
  return std::string(TrimView(ArgText(id, kOrderIDArgWidth)).substr(0, kOrderIDLength));
}

// The contract of the names an export was given, each cut to its record width.
inline std::shared_ptr<TContractItem> FindContractArg(const TContractQ& contracts,
                                                      const char* exchange, const char* commodity,
                                                      const char* contractDate) {
  return contracts.FindContract(ArgText(exchange, kExchangeNameWidth),
                                ArgText(commodity, kCommodityNameWidth),
                                ArgText(contractDate, kContractDateWidth));
}

}  // namespace vorn
