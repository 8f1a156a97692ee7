#pragma once
// The requests that ask the host to create a strategy contract from up to 16 legs: the tagged
// request (3365), one for the whole strategy, and the fixed-width request ("0094"), one per
// leg. Both find each leg's outright contract in the contract list when they are built and
// throw when one is not held, so a strategy with a leg the host cannot be told about sends
// nothing. A request is built and sent on one thread; building reads the contract list under
// its own lock.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/wire/VornMessage.h"
#include "vornintf.h"

namespace vorn {

class TContractItem;
class TContractQ;

inline constexpr int kMaxStrategyLegs = 16;

// The number of legs a caller gave, clamped to 0..16 (the leg records hold 16).
constexpr int ClampStrategyLegs(std::int32_t legs) {
  return legs < 0 ? 0 : legs > kMaxStrategyLegs ? kMaxStrategyLegs : static_cast<int>(legs);
}

// The contract date and commodity a leg names. A date text holding "\" names both: the date
// before it (less the blank in front of it), the commodity from two characters after it (past
// "\" and a blank); bounds outside the text give an empty name. Otherwise the date text is the
// date and the commodity is the given one.
struct TStrategyLegName {
  std::string ContractDate;
  std::string Commodity;
};
TStrategyLegName StrategyLegName(const StrategyLegStruct& leg, std::string_view commodity);

// The leg's outright contract on the exchange, by its name; throws when none is held.
std::shared_ptr<TContractItem> FindStrategyLegContract(const TContractQ& contracts,
                                                       std::string_view exchange,
                                                       const TStrategyLegName& name);

class TMMHUBContractDateCreate : public TSendHostMessage {
 public:
  static constexpr const char* kCode = "3365";
  static constexpr int kLegGroup = 1;

  TMMHUBContractDateCreate();

  // Header: "Msg", the strategy's "Ex", "C" and "CD" (contractDate, the legs' dates joined),
  // the underlying contract's "XD" and "LT", "Mar" = "0" and "Usr" (there, it is always
  // written). Then, in group 1, for each of the first legs (clamped to 0..16): its outright
  // contract's leg 1 fields "X1" (the strategy type in front on the first leg), "X2" and "X3",
  // the leg's text "X4" and its ratio "X5" ("n 1" above 0, "|n| 2" otherwise). A leg names its
  // commodity by its date text, else by its own commodity field, else it is the strategy's.
  // Throws when underlying is null or a leg's contract is not held.
  void BuildFields(const TContractQ& contracts, char strategyType, std::int32_t legCount,
                   const std::shared_ptr<TContractItem>& underlying, const StrategyLegStruct* legs,
                   std::string_view exchange, std::string_view commodity,
                   std::string_view contractDate, std::string_view userName);

  // The base's tagged frame, traced on entry and exit.
  void FillBuffer(TDynamicBuffer& buffer) override;
};

class TMContractDateCreate : public TVornMessage {
 public:
  static constexpr const char* kCode = "0094";
  static constexpr std::size_t kBodyLength = 154;

  // A blank body of 154 characters.
  TMContractDateCreate();

  // The body for one leg (index 0-based): the strategy's exchange, commodity and contract date,
  // the leg number right-aligned in 4, the leg contract's expiry and last trade dates, its leg 1
  // fields X1 (the strategy type in front on the first leg), X2 and X3, the leg's text and its
  // ratio; every field left-aligned and cut to its width. The leg names its commodity by its
  // date text, else it is the strategy's. Throws when the leg's contract is not held.
  void BuildFields(const TContractQ& contracts, char strategyType, std::string_view exchange,
                   std::string_view commodity, std::string_view contractDate,
                   const StrategyLegStruct& leg, int index);

  // Length word, the code in the first four characters, the body; traced on entry and exit.
  void FillBuffer(TDynamicBuffer& buffer) override;

  std::string_view Body() const { return body_; }

 private:
  std::string body_;
};

}  // namespace vorn
