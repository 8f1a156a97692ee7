#pragma once
// TMarlo: the simulated host's manager of synthetic orders. An iceberg (otIceberg) is worked as
// a series of limit child orders ("clips"), a bracket (otProtect) as a main limit child with up
// to three protection children and a stop. The parent stays in the order list and its states
// are made here; the children are ordinary orders entered, amended and cancelled through the
// common order bodies under the API object's user name, and moved on by the status pass, which
// reports their changes back (ISyntheticOrders).
//
// Threads and locks: every entry point takes the order list's (re-entrant) guard first, and the
// synthetic orders' own state lives under it; a bracket's lock is taken after it. Called on the
// simulation thread: from the status pass (no market lock held) and from a fill (a book's lock
// held, which comes before the order list's). Nothing here takes a market lock: a child's
// entry into or exit from a book is the status pass's work.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/trading/OrderItem.h"
#include "sim/RandomSource.h"
#include "sim/SyntheticOrders.h"
#include "vornintf.h"

namespace vorn {
class TClassAPI;
class TOrderList;
}  // namespace vorn

namespace vorn::sim {

class TMarlo;

// The marker of an amend record the manager sends for its own children.
inline constexpr const char* kMarloAmendMarker = "DEMO MARLO AMEND";

// One synthetic order: the parent's history and its children's histories. The slots are called
// with the order list's guard held.
class TMarloOrder {
 public:
  TMarloOrder(TMarlo& owner, std::shared_ptr<TOrderList> parent);
  TMarloOrder(const TMarloOrder&) = delete;
  TMarloOrder& operator=(const TMarloOrder&) = delete;
  virtual ~TMarloOrder() = default;

  // 0: a state of the parent (its Queued state with its name when it starts) or a new state of
  // a child (no name).
  virtual void Update(const TOrderItem& state, std::string_view name) = 0;
  // 1: the parent reached osAmendPending.
  virtual void ParentAmend(const TOrderItem& state) = 0;
  // 2: a child's amendment completed.
  virtual void ChildAmended(const TOrderItem& child) = 0;
  // 3: the parent reached osCancelPending, or the order cancels itself. Called again on every
  // pass while the parent stays CancelPending: children not yet cancellable are taken then, and
  // the parent ends cancelled once no child is live.
  virtual void ParentCancel() = 0;
  // 4: a child was cancelled (or ended otherwise without a fill).
  virtual void ChildCancelled(const TOrderItem& child) = 0;

  // On each status pass while the parent is live: a child that the simulated exchange rejected
  // cancels the order; a bracket also brings its legs up to date.
  virtual void Check();
  // The bracket's protection level of a child history ('1'-'3'), else 0.
  virtual char ProtectionLevel(const TOrderList&) const { return 0; }

  const std::shared_ptr<TOrderList>& Parent() const { return parent_; }
  std::string ParentID() const;
  // The child's history among this order's children, or null.
  std::shared_ptr<TOrderList> ChildHistory(const TOrderItem& child) const;

 protected:
  struct TChild {
    std::shared_ptr<TOrderList> History;
    // The child's filled lots already counted for the parent.
    std::int32_t Counted = 0;
  };

  TClassAPI& Api() const;
  // The parent's current state (never null while listed).
  std::shared_ptr<TOrderItem> ParentHead() const;
  // The copy routine: a copy of the parent's current state stamped with the host's and the
  // exchange's receipt, ActualLots := TargetLots and AveragePrice := 0; with a name, the
  // history is re-keyed to it first (empty result when that fails). FinishCopy runs last.
  std::shared_ptr<TOrderItem> ParentCopy(std::string_view name = {});
  // Adjusts a copy just before it is added (the iceberg's filled lots).
  virtual void FinishCopy(TOrderItem&) {}
  // Adds the parent's copy and posts the order event (new id, oldId, the state taken).
  bool ChangeParent(const std::shared_ptr<TOrderItem>& copy, std::string_view oldId);
  // The start: parent -> Sent under the name (event with the name and the old id), -> Working.
  bool StartParent(std::string_view name);
  // A parent state copied with the status.
  void SetParentStatus(TOrderStatus status);
  // The parent -> CancelPending (unless it is already), its live children cancelled; once no
  // child is live, the parent's final cancel state (osCancelled with nothing filled, else
  // osBalCancelled), its lots all its filled ones. True when the parent ended.
  bool CancelAll(const std::function<void(const TOrderItem& child)>& traceLeg = {});
  bool ParentEnded() const;
  bool ParentCancelling() const;

  // A child record from the parent's current state: contract, side, prices, account and the
  // fields a child inherits, the trigger in the record's local form, order type "Limit" and
  // the parent's id as the parent id.
  NewOrderStruct ChildRecord(const TOrderItem& parent) const;
  // Enters the child; its history is appended to the children. Null, with nothing entered,
  // when the parent has ended or is cancelling. On a refusal: a trace line, an alert user
  // message and the whole order cancelled; null.
  std::shared_ptr<TOrderList> EnterChild(const NewOrderStruct& record, const char* what);
  // Amends a working child to price and lots with an amend record built from its current
  // version and marked as the manager's own. False when it is not working now or the amend
  // was refused (traced).
  bool AmendChild(const std::shared_ptr<TOrderList>& child, double price, std::int32_t lots);
  // Cancels a child through the common cancel body when it is working now. True when the child
  // is still live (the cancel pending, or not yet cancellable).
  bool CancelChild(const std::shared_ptr<TOrderList>& child);
  // A refused child: trace, alert, cancel the order with its other children.
  void Refuse(const std::string& text);
  // The child's filled lots not yet counted, counted now.
  std::int32_t NewlyFilled(const std::shared_ptr<TOrderList>& child, const TOrderItem& state);

  static bool IsLive(TOrderStatus status);
  static bool IsWorking(TOrderStatus status);
  static std::shared_ptr<TOrderItem> Head(const std::shared_ptr<TOrderList>& history);

  TMarlo& owner_;
  std::shared_ptr<TOrderList> parent_;
  std::vector<TChild> children_;
  bool refused_ = false;
};

// "Marlo Orders": the synthetic orders by their parent's order id, and the count of those ever
// added, which numbers the next. Under the order list's guard.
class TMarloOrderList {
 public:
  static constexpr const char* kName = "Marlo Orders";

  // The order under its parent's id; false (the order dropped) when the id is listed.
  bool Add(std::string id, std::unique_ptr<TMarloOrder> order);
  TMarloOrder* Find(std::string_view id) const;
  // The order whose parent history this is, or null.
  TMarloOrder* FindByParent(const TOrderList& parent) const;
  void Remove(std::string_view id);
  std::int32_t Counted() const { return counted_; }
  std::size_t Count() const { return orders_.size(); }

 private:
  std::map<std::string, std::unique_ptr<TMarloOrder>, std::less<>> orders_;
  std::int32_t counted_ = 0;
};

class TMarlo : public ISyntheticOrders {
 public:
  // A user message (text, alert) of the simulated host.
  using TUserMessage = std::function<void(const std::string& text, bool alert)>;

  // The API object and the random source outlive the manager.
  TMarlo(TClassAPI& api, TRandomSource& random, TUserMessage userMessage);

  void Dispatch(const std::shared_ptr<TOrderList>& history) override;
  bool Manages(std::string_view parentId) const override;
  void ChildUpdate(std::string_view parentId, const TOrderItem& child) override;
  void ChildAmended(std::string_view parentId, const TOrderItem& child) override;
  void ChildCancelled(std::string_view parentId, const TOrderItem& child) override;
  char ProtectionLevel(std::string_view parentId, const TOrderItem& child) const override;

  // The name of the n-th synthetic order: "Iceberg"n / "Bracket-"n while that fits an order
  // id, then "Ice"n / "Brk"n (unique beside the long forms, which never have a digit there).
  static std::string NameOf(bool iceberg, std::int32_t number);

  TClassAPI& Api() const { return api_; }
  void UserMessage(const std::string& text, bool alert) const;
  std::int32_t Random(std::int32_t n) const { return random_.Random(n); }

 private:
  void Start(const std::shared_ptr<TOrderList>& history, const TOrderItem& head, bool iceberg);

  TClassAPI& api_;
  TRandomSource& random_;
  TUserMessage userMessage_;
  TMarloOrderList orders_;
};

}  // namespace vorn::sim
