#include "sim/Bracket.h"

#include <algorithm>
#include <exception>

#include "core/diag/Trace.h"
#include "core/trading/OrderList.h"
#include "core/trading/OrderQ.h"
#include "core/util/Conversions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn::sim {
namespace {

constexpr std::int32_t kStopType = 27;
constexpr std::int32_t kTrailingStopType = 133;

}  // namespace

std::array<std::int32_t, TBracket::kLevels> TBracket::Volumes() const {
  const auto parent = ParentHead();
  if (!parent) return {};
  return {parent->Pr1Volume, parent->Pr2Volume, parent->Pr3Volume};
}

int TBracket::LevelOf(const std::shared_ptr<TOrderList>& child) const {
  for (int level = 0; level < kLevels; ++level)
    if (child && protections_[level] == child) return level;
  return -1;
}

char TBracket::ProtectionLevel(const TOrderList& child) const {
  for (int level = 0; level < kLevels; ++level)
    if (protections_[level].get() == &child) return static_cast<char>('1' + level);
  return 0;
}

void TBracket::Update(const TOrderItem& state, std::string_view name) {
  std::lock_guard guard(lock_);
  if (ParentEnded()) return;
  if (!name.empty()) {
    if (!StartParent(name)) return;
    const auto parent = ParentHead();
    NewOrderStruct record = ChildRecord(*parent);
    record.Lots = parent->TargetLots;
    main_ = EnterChild(record, "the main order");
    return;
  }
  const auto child = ChildHistory(state);
  if (!child) return;
  if (!IsLive(state.Status) && state.Status != osFilled) {
    ChildCancelled(state);
    return;
  }
  if (ParentCancelling()) {
    if (!IsLive(state.Status)) ParentCancel();
    return;
  }
  if (const auto head = ParentHead(); head && head->Status == osAmendPending) ParentAmend(*head);
  const int level = LevelOf(child);
  if (level >= 0) closedOut_ += NewlyFilled(child, state);
  if (state.Status == osFilled) {
    if (child == stop_) {
      ParentCancel();
      return;
    }
    if ((child == main_ || level >= 0) && Complete()) {
      WriteTraceLine("ORDER" + ParentID() + " IS COMPLETE AND WILL NOW HAVE ALL LEGS CANCELLED");
      ParentCancel();
      return;
    }
  }
  if (child == main_) {
    UpdateLegs();
  } else if (level >= 0) {
    UpdateStop();
  }
}

void TBracket::UpdateLegs() {
  UpdateProtections();
  UpdateStop();
}

bool TBracket::Placing() const {
  // A refused leg cancels the order: it then takes no new leg, which would outlive it.
  return !ParentEnded() && !ParentCancelling();
}

void TBracket::UpdateProtections() {
  if (!Placing()) return;
  try {
    const auto main = Head(main_);
    const auto parent = ParentHead();
    if (!main || !parent) return;
    const bool buy = parent->BuySell == Buy;
    const std::array<std::int32_t, kLevels> volumes = Volumes();
    const std::array<double, kLevels> offsets = {SafeStrToFloat(parent->Pr1Price(), 0),
                                                 SafeStrToFloat(parent->Pr2Price(), 0),
                                                 SafeStrToFloat(parent->Pr3Price(), 0)};
    // The main child's fills go to level 1 up to its volume, then to level 2, then to 3.
    std::int32_t remaining = main->Filled;
    for (int level = 0; level < kLevels; ++level) {
      const std::int32_t share = std::clamp(remaining, 0, std::max(volumes[level], 0));
      remaining -= share;
      if (placed_[level] >= share) continue;
      const std::int32_t lots = share - placed_[level];
      std::shared_ptr<TOrderList>& child = protections_[level];
      const auto head = Head(child);
      if (head && IsLive(head->Status)) {
        // One in transit takes its lots on a later pass.
        const std::int32_t amended = SaturatedLots(std::int64_t{head->TargetLots} + lots);
        if (AmendChild(child, head->Price, amended)) placed_[level] = share;
        continue;
      }
      const bool replace = !head || head->Status == osFilled ||
                           (level == 0 && StatusIn(head->Status, {osCancelled, osBalCancelled}));
      if (!replace) continue;
      WriteTraceLine("ADDING A PROTECTION ORDER TO BRACKET ORDER " + ParentID());
      NewOrderStruct record = ChildRecord(*parent);
      record.BuySell = buy ? VN_SIDE_SELL : VN_SIDE_BUY;
      PutFixed(record.Price, FloatToStr(main->Price + (buy ? offsets[level] : -offsets[level])));
      record.Lots = lots;
      const std::string kind = "protection level " + IntToStr(level + 1);
      auto entered = EnterChild(record, kind.c_str());
      if (!entered) return;
      child = entered;
      placed_[level] = share;
    }
  } catch (const std::exception& e) {
    WriteTraceLine(std::string("ERROR DURING UPDATING PROTECTIONS ") + e.what());
  }
}

void TBracket::UpdateStop() {
  if (!Placing()) return;
  try {
    const auto main = Head(main_);
    const auto parent = ParentHead();
    if (!main || !parent) return;
    const std::int32_t lots = main->Filled - closedOut_;
    const auto head = Head(stop_);
    if (head && IsLive(head->Status)) {
      if (lots <= 0) {
        // A cancel of the bracket's own: its end does not cancel the bracket.
        if (CancelChild(stop_)) stopCancelled_ = stop_;
      }
      else if (head->TargetLots != lots)
        AmendChild(stop_, head->Price, lots);
      return;
    }
    const bool enter = lots > 0 && (!head || StatusIn(head->Status, {osCancelled, osBalCancelled}));
    if (!enter) return;
    const std::int32_t type = SafeStrToInt(parent->StType(), 0);
    if (type != kStopType && type != kTrailingStopType) {
      if (stopTypeTraced_) return;
      stopTypeTraced_ = true;
      WriteTraceLine("ERROR DURING UPDATE OF STOP: stop type '" + parent->StType() + "' of " +
                     ParentID());
      return;
    }
    const bool buy = parent->BuySell == Buy;
    const double distance = SafeStrToFloat(parent->StPrice(), 0);
    WriteTraceLine("ADDING A STOP ORDER FOR PARENT ORDER ID " + ParentID());
    NewOrderStruct record = ChildRecord(*parent);
    record.BuySell = buy ? VN_SIDE_SELL : VN_SIDE_BUY;
    PutFixed(record.OrderType, type == kStopType ? "Stop" : "TrStop!");
    PutFixed(record.Price, FloatToStr(main->Price + (buy ? -distance : distance)));
    record.Lots = lots;
    auto entered = EnterChild(record, "the stop");
    if (!entered) return;
    stop_ = entered;
    if (type == kTrailingStopType) {
      // The trail steps from the main child's price.
      const auto stop = Head(stop_);
      stop->StSteps1 = parent->StSteps1;
      stop->StSteps2 = parent->StSteps2;
      stop->SetStPrice(FloatToStr(main->Price));
    }
  } catch (const std::exception& e) {
    WriteTraceLine(std::string("ERROR DURING UPDATE OF STOP ") + e.what());
  }
}

bool TBracket::Complete() const {
  const auto main = Head(main_);
  if (!main || main->Status != osFilled) return false;
  const std::array<std::int32_t, kLevels> volumes = Volumes();
  // A level's share of the main order's lots: a level beyond them never gets a protection
  // and counts as done, else a bracket smaller than its levels would stay working for ever.
  std::array<std::int32_t, kLevels> shares{};
  std::int32_t remaining = main->TargetLots;
  for (int level = 0; level < kLevels; ++level) {
    shares[level] = std::clamp(remaining, 0, std::max(volumes[level], 0));
    remaining -= shares[level];
  }
  const auto done = [&](int level) {
    if (volumes[level] >= 1 && shares[level] < 1) return true;
    const auto head = Head(protections_[level]);
    return head && StatusIn(head->Status, {osCancelled, osFilled}) &&
           placed_[level] == shares[level];
  };
  return done(0) && (volumes[1] < 1 || done(1)) && (volumes[2] < 1 || done(2));
}

void TBracket::ParentAmend(const TOrderItem& state) {
  std::lock_guard guard(lock_);
  if (state.Status != osAmendPending) return;
  // Refused: left pending, the parent would be amended on every pass and never cancellable.
  WriteTraceLine("TBracket.ParentAmend: bracket order " + ParentID() + " takes no amendment");
  auto copy = ParentCopy();
  if (!copy) return;
  const auto before = parent_->Count() > 1 ? parent_->At(1) : nullptr;
  if (before) {
    copy->Price = before->Price;
    copy->Price2 = before->Price2;
    copy->TargetLots = before->ActualLots;
  } else {
    copy->TargetLots = state.ActualLots;
  }
  copy->ActualLots = copy->TargetLots;
  copy->Status =
      before && StatusIn(before->Status, {osWorking, osPart}) ? before->Status : osWorking;
  ChangeParent(copy, copy->ID);
}

void TBracket::ChildAmended(const TOrderItem& child) {
  std::lock_guard guard(lock_);
  WriteTraceLine("we are amending the bracket child order");
  const auto history = ChildHistory(child);
  if (!history || ParentEnded() || ParentCancelling()) return;
  if (Trim(child.BigRefField()) == kMarloAmendMarker) return;
  // Amended below its filled lots, a leg keeps those.
  const std::int32_t d =
      SaturatedLots(std::int64_t{std::max(child.TargetLots, child.Filled)} - child.ActualLots);
  if (history == main_ && d == 0) {
    // The state before the amendment: its price moved by shift, and the live legs with it.
    const auto before = history->Count() > 1 ? history->At(1) : nullptr;
    const double shift = before ? child.Price - before->Price : 0;
    if (shift == 0) return;
    for (const auto& leg : {protections_[0], protections_[1], protections_[2], stop_}) {
      const auto head = Head(leg);
      if (head && IsLive(head->Status)) AmendChild(leg, head->Price + shift, head->TargetLots);
    }
    return;
  }
  const int level = LevelOf(history);
  const auto main = Head(main_);
  if (level >= 0 && main && main->Status == osFilled && d != 0) {
    // The level's volume follows the protection child's new lots.
    auto copy = ParentCopy();
    if (!copy) return;
    std::int32_t* volumes[kLevels] = {&copy->Pr1Volume, &copy->Pr2Volume, &copy->Pr3Volume};
    *volumes[level] = std::max(SaturatedLots(std::int64_t{*volumes[level]} + d), 0);
    placed_[level] = std::max(SaturatedLots(std::int64_t{placed_[level]} + d), 0);
    ChangeParent(copy, copy->ID);
  }
  // Any other lots amendment is not taken: the legs' lots are re-applied on the next pass.
}

void TBracket::ParentCancel() {
  std::lock_guard guard(lock_);
  if (ParentEnded()) return;
  const std::string id = ParentID();
  if (!cancelTraced_) {
    WriteTraceLine("CANCELLING THE BRACKET ORDER " + id);
    cancelTraced_ = true;
  }
  CancelAll([&](const TOrderItem& leg) {
    const auto history = ChildHistory(leg);
    const int level = LevelOf(history);
    static const char* const kLevelTexts[kLevels] = {"CANCELLING THE FIRST LEVEL OF PROTECTION ",
                                                     "CANCELLING THE SECOND LEVEL OF PROTECTION ",
                                                     "CANCELLING THE THIRD LEVEL OF PROTECTION "};
    if (history && history == main_)
      WriteTraceLine("CANCELLING THE MAIN LIMIT ORDER " + leg.ID);
    else if (level >= 0)
      WriteTraceLine(kLevelTexts[level] + leg.ID);
    else if (history && history == stop_)
      WriteTraceLine("CANCELLING THE STOP ORDER " + leg.ID);
  });
}

void TBracket::ChildCancelled(const TOrderItem& child) {
  std::lock_guard guard(lock_);
  const auto history = ChildHistory(child);
  if (!history || ParentEnded()) return;
  if (ParentCancelling()) {
    ParentCancel();
    return;
  }
  const auto main = Head(main_);
  if (history == main_ ||
      (history == stop_ && history != stopCancelled_ && main && main->Filled != closedOut_)) {
    ParentCancel();
  } else if (LevelOf(history) >= 0 && Complete()) {
    WriteTraceLine("ORDER" + ParentID() + " IS COMPLETE AND WILL NOW HAVE ALL LEGS CANCELLED");
    ParentCancel();
  }
}

void TBracket::Check() {
  std::lock_guard guard(lock_);
  TMarloOrder::Check();
  if (ParentEnded() || ParentCancelling()) return;
  const auto main = Head(main_);
  if (main && main->Filled > 0) UpdateLegs();
}

}  // namespace vorn::sim
