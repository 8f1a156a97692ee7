#include "sim/Iceberg.h"

#include <algorithm>
#include <limits>

#include "core/diag/Trace.h"
#include "core/trading/OrderList.h"
#include "core/trading/OrderQ.h"
#include "core/util/Conversions.h"
#include "core/util/Text.h"

namespace vorn::sim {

std::int32_t TIceberg::ClipLots(std::int32_t unfilled, std::int32_t minClip,
                                std::int32_t maxClip, char randomise,
                                const std::function<std::int32_t(std::int32_t)>& random) {
  const auto draw = [&](std::int32_t n) { return n < 1 || !random ? 0 : random(n); };
  std::int32_t lots = 0;
  if (randomise == 'Y') {
    if (unfilled >= maxClip)
      lots = minClip + 1 + draw(maxClip - minClip);
    else if (minClip < unfilled)
      lots = minClip + 1 + draw(unfilled - minClip);
    else
      lots = unfilled;
  } else {
    lots = std::min(unfilled, minClip);
  }
  // A clip of no lots would stall the order, one beyond the unfilled lots overfill it.
  return std::clamp(lots, 1, std::max(unfilled, 1));
}

void TIceberg::FinishCopy(TOrderItem& copy) {
  copy.Filled = copy.TargetLots - unfilled_;
}

std::shared_ptr<TOrderList> TIceberg::LastClip() const {
  return children_.empty() ? nullptr : children_.back().History;
}

void TIceberg::ReleaseClip() {
  const auto parent = ParentHead();
  if (!parent || unfilled_ < 1) return;
  NewOrderStruct record = ChildRecord(*parent);
  record.Lots = ClipLots(unfilled_, parent->MinClipSize, parent->MaxClipSize, parent->Randomise,
                         [this](std::int32_t n) { return owner_.Random(n); });
  EnterChild(record, "a clip");
}

void TIceberg::ResolvePendingAmend() {
  if (const auto head = ParentHead(); head && head->Status == osAmendPending) ParentAmend(*head);
}

void TIceberg::Update(const TOrderItem& state, std::string_view name) {
  if (!name.empty()) {
    unfilled_ = state.TargetLots;
    if (StartParent(name)) ReleaseClip();
    return;
  }
  const auto clip = ChildHistory(state);
  if (!clip || ParentEnded()) return;
  if (!StatusIn(state.Status, {osPart, osFilled, osORPIPart, osCancelPending, osAmendPending})) {
    if (!IsLive(state.Status)) ChildCancelled(state);
    return;
  }
  ResolvePendingAmend();
  unfilled_ = std::max(unfilled_ - NewlyFilled(clip, state), 0);
  if (state.Status != osFilled) {
    if (!ParentCancelling()) SetParentStatus(osPart);
    return;
  }
  if (unfilled_ == 0) {
    SetParentStatus(osFilled);
  } else if (ParentCancelling()) {
    ParentCancel();
  } else {
    SetParentStatus(osPart);
    ReleaseClip();
  }
}

void TIceberg::ParentAmend(const TOrderItem& state) {
  if (state.Status != osAmendPending) return;
  const std::int32_t oldLots = state.ActualLots;
  const std::int32_t newLots = state.TargetLots;
  const auto lastHead = Head(LastClip());
  const std::int32_t lastLots = lastHead ? lastHead->TargetLots : 0;
  if (lastHead) WriteTraceLine("TIceberg.ParentAmend: last clip " + lastHead->ID);
  const bool refused = newLots < lastLots + state.Filled;
  if (!refused)
    unfilled_ = std::max(SaturatedLots(std::int64_t{unfilled_} + newLots - oldLots), 0);
  auto copy = ParentCopy();
  if (!copy) return;
  if (refused) {
    copy->TargetLots = oldLots;
    copy->ActualLots = oldLots;
    FinishCopy(*copy);
  }
  // The state before the amendment.
  const auto before = parent_->Count() > 1 ? parent_->At(1) : nullptr;
  if (before && StatusIn(before->Status, {osWorking, osPart}))
    copy->Status = before->Status;
  else
    copy->Status = copy->Filled > 0 ? osPart : osWorking;
  ChangeParent(copy, copy->ID);
}

void TIceberg::ChildAmended(const TOrderItem& child) {
  if (!ChildHistory(child) || ParentEnded() || ParentCancelling()) return;
  ResolvePendingAmend();
  // Amended below its filled lots, the clip keeps those: they are not taken off.
  std::int32_t d =
      SaturatedLots(std::int64_t{std::max(child.TargetLots, child.Filled)} - child.ActualLots);
  // The parent's lots stay within range, else its filled ones would be lost.
  if (const auto parent = ParentHead())
    d = std::min(d, std::numeric_limits<std::int32_t>::max() - parent->TargetLots);
  unfilled_ = std::max(SaturatedLots(std::int64_t{unfilled_} + d), 0);
  SetParentStatus(osAmendPending);
  auto copy = ParentCopy();
  if (!copy) return;
  copy->Price = child.Price;
  copy->TargetLots = SaturatedLots(std::int64_t{copy->TargetLots} + d);
  copy->ActualLots = copy->TargetLots;
  FinishCopy(*copy);
  copy->Status = copy->Filled > 0 ? osPart : osWorking;
  ChangeParent(copy, copy->ID);
}

void TIceberg::ParentCancel() {
  CancelAll();
}

void TIceberg::ChildCancelled(const TOrderItem& child) {
  const auto clip = ChildHistory(child);
  if (!clip || ParentEnded()) return;
  unfilled_ = std::max(unfilled_ - NewlyFilled(clip, child), 0);
  CancelAll();
}

void TIceberg::Check() {
  TMarloOrder::Check();
  if (ParentEnded() || ParentCancelling()) return;
  const auto last = Head(LastClip());
  if (!last || IsLive(last->Status)) return;
  // The last clip ended without its report: it moves the parent on now.
  Update(*last, {});
}

}  // namespace vorn::sim
