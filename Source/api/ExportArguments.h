#pragma once
// What the exports read from their caller's arguments, and the flag letters they write into the
// caller's records. Text arguments are read within their record widths, never trusting a NUL.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/refdata/ContractQ.h"
#include "core/trading/OrderItem.h"
#include "core/util/Exceptions.h"
#include "core/util/NameWidths.h"
#include "core/util/Text.h"
#include "platform/Module.h"

namespace vorn {

// A record or out argument the caller must give: a null pointer fails the export (99), as a
// bad address did in the original, instead of crashing the caller's process.
template <class T>
void RequireArgument(T* argument, std::string_view name) {
  if (!argument) throw Exception(std::string(name) + " is a null pointer");
}

// The count of a count export: given (99 otherwise) and 0 until the export has counted.
inline void ClearCount(std::int32_t* count) {
  RequireArgument(count, "Count");
  *count = 0;
}

// A flag as the records write it.
inline char YesNo(bool value) {
  return value ? 'Y' : 'N';
}

// A text argument: up to its NUL, but never more than width bytes, so a text the caller filled
// to the brim is not read past the width. A null pointer reads as empty text. There is no
// unbounded form: every text argument has a width, below.
inline std::string_view ArgText(const char* text, std::size_t width) {
  return text ? std::string_view(text, strnlen(text, width)) : "";
}
inline std::string ArgString(const char* text, std::size_t width) {
  return std::string(ArgText(text, width));
}

// Order IDs arrive in fields of an ID and its NUL, user names in 11-byte fields.
inline constexpr std::size_t kOrderIDArgWidth = kOrderIDLength + 1;
inline constexpr std::size_t kUserNameArgWidth = 11;

// The set-up texts, each read as far as the export uses it: a server address's IP and port and
// the SSL certificate and client-authentication names 50 characters, the purge date 8 and time 9
// digits, the application id and version 20 characters, a logged string 251.
inline constexpr std::size_t kAddressArgWidth = 50;
inline constexpr std::size_t kSSLNameArgWidth = 50;
inline constexpr std::size_t kPurgeDateArgWidth = 8;
inline constexpr std::size_t kPurgeTimeArgWidth = 9;
inline constexpr std::size_t kApplicationArgWidth = 20;
inline constexpr std::size_t kLogStringArgWidth = 251;
// Texts without a width of their own: the interface version and the market-data token are read
// to at most 255 characters (the version compares equal only at 6, the token travels as 50), the
// client path to at most the system's path limit.
inline constexpr std::size_t kLongTextArgWidth = 255;
inline constexpr std::size_t kClientPathArgWidth = kPathLimit;

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
