#pragma once
// TBracket: a bracket order worked as a main limit child, up to three profit-taking protection
// children at offsets from the main child's price, and a stop (or trailing stop) covering the
// main child's filled lots not yet closed out by the protections. A filled stop, or a complete
// bracket (main filled, every protection level done), cancels every leg.
//
// Threads: as TMarloOrder (Marlo.h); every slot and Check take the bracket's own (re-entrant)
// lock, after the order list's guard that the manager holds.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "sim/Marlo.h"

namespace vorn::sim {

class TBracket : public TMarloOrder {
 public:
  static constexpr int kLevels = 3;

  using TMarloOrder::TMarloOrder;

  // The start: the parent Sent under the name, then Working, and the main limit child. A
  // child's fill: the protections and the stop follow the main child's filled lots.
  void Update(const TOrderItem& state, std::string_view name) override;
  // A bracket takes no amendment: the parent gets back its state before it.
  void ParentAmend(const TOrderItem& state) override;
  void ChildAmended(const TOrderItem& child) override;
  // Every live leg cancelled through the common cancel body; the parent ends cancelled once
  // none is live.
  void ParentCancel() override;
  // The main child cancelled, or the stop (not one the bracket cancelled itself) while lots
  // remain to protect: the whole bracket. A protection child cancelled may complete it.
  void ChildCancelled(const TOrderItem& child) override;
  // Also re-applies the legs' lots that a leg in transit could not take yet.
  void Check() override;
  char ProtectionLevel(const TOrderList& child) const override;

  std::int32_t ClosedOut() const { return closedOut_; }
  std::int32_t Placed(int level) const { return placed_[level]; }

 private:
  void UpdateLegs();
  void UpdateProtections();
  void UpdateStop();
  // Whether legs may be entered or amended: the parent is neither ended nor cancelling.
  bool Placing() const;
  // The main child filled and every protection level done: its child filled or cancelled with
  // the level's share of the main lots placed (a level with no share is done).
  bool Complete() const;
  // 0-2 for a protection child, else -1.
  int LevelOf(const std::shared_ptr<TOrderList>& child) const;
  std::array<std::int32_t, kLevels> Volumes() const;

  std::recursive_mutex lock_;
  std::shared_ptr<TOrderList> main_;
  std::shared_ptr<TOrderList> stop_;
  std::array<std::shared_ptr<TOrderList>, kLevels> protections_{};
  // Lots closed out against the stop, and placed at each protection level.
  std::int32_t closedOut_ = 0;
  std::array<std::int32_t, kLevels> placed_{};
  // The stop the bracket cancelled itself (nothing left to cover): its end cancels nothing.
  std::shared_ptr<TOrderList> stopCancelled_;
  bool cancelTraced_ = false;
  bool stopTypeTraced_ = false;
};

}  // namespace vorn::sim
