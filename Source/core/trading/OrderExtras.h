#pragma once
// The parts of an order state that most orders leave empty, kept out of the state's own layout:
// the rarely set texts in one packed block (only texts that hold something take room) and the
// strategy legs in a side block present only when the order has legs. Both are plain values:
// copying a state copies them whole. Not thread-safe; they follow the state that holds them.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/util/Conversions.h"

namespace vorn {

// The texts held by TOrderExtras, each with an accessor pair of its own name on the state.
// clang-format off
#define VORN_ORDER_EXTRA_TEXTS(X)                                                             \
  X(LinkedOrder) X(NonExecReason) X(GoodTillDate) X(DateFilled) X(TimeFilled) X(ESARef)        \
  X(TriggerTime) X(TriggerDate) X(BatchID) X(BatchType) X(BatchStatus) X(ParentID)             \
  X(BigRefField) X(QuoteID) X(SenderLocationID) X(Rawprice) X(Rawprice2) X(ExecutionID)        \
  X(ClientID) X(ISINCode) X(CashPrice) X(BasisRef) X(APIMUser) X(ICSNearLegPrice)              \
  X(ICSFarLegPrice) X(YDSPAudit) X(CreationDate) X(MarloTimeSent) X(MarloDateSent)             \
  X(TriggeredDate) X(TriggeredTime) X(TicketVersion) X(TicketType) X(Pr1Price) X(Pr2Price)     \
  X(Pr3Price) X(StType) X(StPrice) X(BOFID) X(Badge) X(ExchangeField) X(LocalEAC)              \
  X(LocalTraderAccount) X(RoutingID2) X(RoutingID1) X(LocalBOF) X(LocalOrderID)                \
  X(LocalUserName)
// clang-format on

class TOrderExtras {
 public:
#define VORN_ORDER_EXTRA_ENUM(name) k##name,
  enum TText : std::uint8_t { VORN_ORDER_EXTRA_TEXTS(VORN_ORDER_EXTRA_ENUM) kTextCount };
#undef VORN_ORDER_EXTRA_ENUM

  // The text, or an empty text when it was never set.
  const std::string& Get(TText text) const;
  // An empty value drops the text: an absent text and an empty one read the same.
  void Set(TText text, std::string_view value);
  // The number of texts that hold something.
  std::size_t Count() const { return entries_.size(); }

 private:
  struct TEntry {
    TText Text;
    std::string Value;
  };
  // Ascending by Text.
  std::vector<TEntry> entries_;
};

// The strategy legs of an order and their price texts.
struct TOrderLegs {
  std::array<StrategyLegRecord, kStrategyLegCount> StrategyLegs{};
  std::array<LegPriceText, kStrategyLegCount> LegPrices{};
};

// A TOrderLegs that exists only once written to; copies copy the legs.
class TOrderLegsBlock {
 public:
  TOrderLegsBlock() = default;
  TOrderLegsBlock(const TOrderLegsBlock& other)
      : legs_(other.legs_ ? std::make_unique<TOrderLegs>(*other.legs_) : nullptr) {}
  TOrderLegsBlock(TOrderLegsBlock&&) noexcept = default;
  TOrderLegsBlock& operator=(const TOrderLegsBlock& other) {
    if (this != &other) legs_ = other.legs_ ? std::make_unique<TOrderLegs>(*other.legs_) : nullptr;
    return *this;
  }
  TOrderLegsBlock& operator=(TOrderLegsBlock&&) noexcept = default;

  // All zero when the order has no legs.
  const TOrderLegs& Get() const;
  // Creates the block on first use.
  TOrderLegs& Mutable() {
    if (!legs_) legs_ = std::make_unique<TOrderLegs>();
    return *legs_;
  }
  bool Present() const { return legs_ != nullptr; }

 private:
  std::unique_ptr<TOrderLegs> legs_;
};

}  // namespace vorn
