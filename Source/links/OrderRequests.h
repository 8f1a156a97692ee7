#pragma once
// The order requests to the host: add (3301), amend (3302), cancel (3303) and order status
// query (3304), each a tagged body written from one order state straight into the request's
// frame. The order throttle in front of the host link is applied by the sender
// (TLinkRequests::SendOrderRequest), which owns it per API object.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/session/LinkRequests.h"
#include "core/wire/RequestText.h"
#include "core/wire/VornMessage.h"

namespace vorn {

class TClassAPI;
class TContractItem;
class TOrderItem;
class TOrderTypeItem;
class TTraderAccountItem;

class TMMHUBSendOrder : public TVornMessage {
 public:
  static constexpr std::int32_t kAddOrder = ILinkRequests::kAddOrder;
  static constexpr std::int32_t kAmendOrder = ILinkRequests::kAmendOrder;
  static constexpr std::int32_t kCancelOrder = ILinkRequests::kCancelOrder;
  static constexpr std::int32_t kOrderStatusQuery = ILinkRequests::kOrderStatusQuery;

  // Writes the request of that code from the order: "Msg" and the add or amend fields, "OID"
  // and "EID" for a cancel or status query, "Msg" alone for any other code. Empty values are
  // left out. The add and amend requests carry the account's P/L and margin requirement with
  // this order, and in margin mode, for an option, the premium of one lot; they throw when the
  // order has no contract or no trader account (an order restored from the store whose
  // references are gone), and pass on any failure of the margin figures. With Debugging on it
  // ends with the "Build Order: " trace. Call once, with no list lock held: WriteTexts then
  // WriteFigures.
  void BuildFields(TClassAPI& api, std::int32_t code, const TOrderItem& order);

  // The first half of BuildFields: every field but the account figures, read from the order
  // (which need not outlive the call), with the order list's lock held or not. Throws nothing:
  // a failure is kept and thrown by WriteFigures, where BuildFields would have thrown it. Once.
  void WriteTexts(std::int32_t code, const TOrderItem& order) noexcept;
  // The second half, with no list lock held: the P/L, margin and premium figures of an add or
  // amend request (their failure trace lines and the position lines come here, as they did
  // when the whole request was built at once), then the "Build Order: " trace. Once, after
  // WriteTexts.
  void WriteFigures(TClassAPI& api);

  // The frame as written. Throws ERangeError, writing nothing, when the body exceeds
  // kMaxBodyLength.
  void FillBuffer(TDynamicBuffer& buffer) override;
  std::string_view WrittenFrame() override;

 private:
  // What the figures are computed from, taken from the order by WriteTexts.
  struct TFigureInputs {
    std::shared_ptr<TContractItem> Contract;
    std::shared_ptr<TTraderAccountItem> Account;
    std::shared_ptr<TOrderTypeItem> OrderType;
    std::string ID;
    bool Amend = false;  // an amend's margin replaces the order's own
    std::int32_t SignedLots = 0;
    double Price = 0;
    std::uint8_t BuySell = 0;
    char OpenOrClose = 0;
  };
  friend class TOrderTextWriter;
  friend class TFigureWriter;

  TRequestText frame_;         // length word, then the body
  std::size_t figuresAt_ = 0;  // where the figures go in the body; 0 for no figures
  TFigureInputs inputs_;
  std::exception_ptr failure_;            // a failure of WriteTexts, thrown by WriteFigures
  bool traced_ = false;                   // Debugging was on: the trace values below are kept
  std::vector<std::string> traceValues_;  // by the trace's labels, as the fields were added
};

}  // namespace vorn
