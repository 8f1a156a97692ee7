#pragma once
// Dispatch of received bodies to the receivers of their message codes, on the socket thread of
// the link that received them.
//
// A host body is tagged text whose "Msg" value is the code; a price-feed body is fixed-width
// text whose first four characters are the code. Each code is looked up in a message table:
// a plain array per link kind of function pointers, filled once and read without a lock by both
// socket threads. The built-in table is constant-initialised, so it exists before any link and
// is never torn down; a message class is wired in by adding one registration to its builder
// (Dispatcher.cpp), not by a registrar object in its own file, which the linker would drop from
// the static core library when nothing else refers to that file. A code without a receiver is
// reported as unhandled.
//
// Receivers are plain function pointers rather than std::function: the table stays trivially
// destructible and constant-initialisable, and a dispatch is one indirect call.

#include <array>
#include <chrono>
#include <string_view>

#include "core/session/Link.h"
#include "core/util/Exceptions.h"
#include "core/wire/FieldsList.h"

namespace vorn {

class TClassAPI;
struct TLogonState;

// A host receiver gets the parsed fields of one body; they view the body, which lives only for
// the call. A receiver that keeps the list beyond the call moves its contents out and has the
// list keep its text (TFieldsList::KeepText; TContractItem::SetFields does); whatever is left is
// reused by the dispatcher for the next body.
using THostReceiver = void (*)(TClassAPI& api, TFieldsList& fields);
// A price-feed receiver gets the whole body; its length is the view's.
using TPriceReceiver = void (*)(TClassAPI& api, std::string_view body);

class TMessageTable {
 public:
  static constexpr int kHostCodeBase = 3000;  // host codes are 3000 to 3999
  static constexpr int kCodeCount = 1000;     // price-feed codes are 0 to 999

  // A code outside its range is refused with EListError (a compile error in a constant table).
  constexpr void RegisterHostMessage(int code, THostReceiver receiver) {
    if (code < kHostCodeBase || code >= kHostCodeBase + kCodeCount)
      throw EListError("Host message code out of range");
    host_[code - kHostCodeBase] = receiver;
  }
  constexpr void RegisterPriceMessage(int code, TPriceReceiver receiver) {
    if (code < 0 || code >= kCodeCount) throw EListError("Price message code out of range");
    price_[code] = receiver;
  }

  // Null for a code without a receiver, inside or outside the range.
  constexpr THostReceiver HostReceiver(int code) const {
    return code >= kHostCodeBase && code < kHostCodeBase + kCodeCount ? host_[code - kHostCodeBase]
                                                                      : nullptr;
  }
  constexpr TPriceReceiver PriceReceiver(int code) const {
    return code >= 0 && code < kCodeCount ? price_[code] : nullptr;
  }

 private:
  std::array<THostReceiver, kCodeCount> host_{};
  std::array<TPriceReceiver, kCodeCount> price_{};
};

// The table of the receivers built so far (BuildBuiltInTable in Dispatcher.cpp lists them);
// every other code is reported as unhandled.
const TMessageTable& BuiltInMessageTable();

// Applies one complete body received on a link of that kind, through the built-in table or the
// given one. Never throws: a failure (an unhandled code, a code that is not a number, a failure
// in a receiver) is written to the error log and the body is dropped.
//
// Host bodies: a body without a "Msg" value is dropped silently; while the API object shuts
// down only 3624 passes; the resume sequences are taken from "Seq" before the receiver runs.
// Price-feed bodies: while the API object shuts down only 67 passes.
// fields is the list a link reuses for its host bodies (parsed into, then handed to the
// receiver); the overloads without it parse into a list of their own.
void ProcessMessage(TClassAPI& api, TLinkKind kind, std::string_view body) noexcept;
void ProcessMessage(TClassAPI& api, TLinkKind kind, std::string_view body,
                    TFieldsList& fields) noexcept;
void ProcessMessage(TClassAPI& api, const TMessageTable& table, TLinkKind kind,
                    std::string_view body) noexcept;
void ProcessMessage(TClassAPI& api, const TMessageTable& table, TLinkKind kind,
                    std::string_view body, TFieldsList& fields) noexcept;

// Codes whose "Seq" is the reference-data resume point: 3655 to 3667, 3670, 3673, 3676, 3677,
// 3679 and 3688.
bool IsRefDataSequenceMessage(int code);
// Codes whose "Seq" is the order/fill resume point: 3602, and 3601 unless its "Flg" is 4
// (a report download's trade report).
bool IsOrderSequenceMessage(int code, const TFieldsList& fields);

// Sends the report download request (3342) on the host link.
void SendDownloadReportMsg(TClassAPI& api);

// What the end of a download needs beyond the API object's own fields and links. The library
// installs its implementation once, before any link exists; tests install fakes. Every call
// comes from a socket thread.
class IDownloadServices {
 public:
  // The fixed pause before the logon record is stored (nothing ends it early).
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  // When no download has completed on this object before: marks one as completed and stamps
  // the first-download time with the current date and time.
  virtual void MarkDownloadComplete(TLogonState& logon) = 0;
  // Frees any earlier contract-data thread and starts the one that writes the contract store.
  virtual void StartContractWrite(TClassAPI& api) = 0;

 protected:
  ~IDownloadServices() = default;
};

// Installs the services (null restores the defaults: a real sleep, and the API object's own
// download stamp and contract-data thread). The object must outlive every link that may use it.
void SetDownloadServices(IDownloadServices* services);

}  // namespace vorn
