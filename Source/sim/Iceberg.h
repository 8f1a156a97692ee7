#pragma once
// TIceberg: an iceberg order worked as limit child orders ("clips") released one after
// another: the next clip when the last one has filled, until the parent's lots are filled.
//
// Threads: as TMarloOrder (Marlo.h): every slot runs with the order list's guard held.

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "sim/Marlo.h"

namespace vorn::sim {

class TIceberg : public TMarloOrder {
 public:
  using TMarloOrder::TMarloOrder;

  // The start (the parent's Queued state and the name): unfilled := TargetLots, the parent
  // Sent then Working, the first clip. A clip's fill: the parent Part, or Filled with nothing
  // unfilled; after a filled clip the next one.
  void Update(const TOrderItem& state, std::string_view name) override;
  // An amendment to fewer lots than the last clip's and the filled ones is refused; otherwise
  // the unfilled lots follow the new target. The parent gets back its state before the amend.
  void ParentAmend(const TOrderItem& state) override;
  // A clip's lots amended by d: the parent's lots and the unfilled ones follow (an AmendPending
  // state, then the amended one, both posted).
  void ChildAmended(const TOrderItem& child) override;
  // The live clip is cancelled through the common cancel body (so that the status pass takes
  // its lots out of the book); the parent ends cancelled once it has ended.
  void ParentCancel() override;
  // A clip cancelled (or ended unfilled): the parent ends cancelled.
  void ChildCancelled(const TOrderItem& child) override;
  // Also catches a clip that ended without a report (amended down to its filled lots).
  void Check() override;

  std::int32_t Unfilled() const { return unfilled_; }

  // The lots of the next clip, with random(n) drawing from 0 to n - 1 (0 for n below 1): with
  // randomise 'Y' from minClip + 1 up to maxClip (up to unfilled when fewer remain), else
  // minClip; always within [1, unfilled]. unfilled is at least 1.
  static std::int32_t ClipLots(std::int32_t unfilled, std::int32_t minClip, std::int32_t maxClip,
                               char randomise,
                               const std::function<std::int32_t(std::int32_t)>& random);

 private:
  // The parent's filled lots: its target less the unfilled ones.
  void FinishCopy(TOrderItem& copy) override;
  void ReleaseClip();
  std::shared_ptr<TOrderList> LastClip() const;
  // Resolves a parent amendment still pending, so that a state made for a clip never takes it
  // unchecked.
  void ResolvePendingAmend();

  std::int32_t unfilled_ = 0;
};

}  // namespace vorn::sim
