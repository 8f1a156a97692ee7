#pragma once
// UUID groups: the host addresses orders, fills, contracts, commodities and exchanges by a UUID
// and tells the client to activate, deactivate or expire every object of a group. One group
// object (TUUIDObject) per UUID is kept in TUUIDObjectList; the host's UUID messages are applied
// on a thread of their own (TUUIDMessageThread) so that the socket thread that received them is
// not held up.
//
// A group holds its members weakly (TUUIDStreamable::Members): members belong to their own
// lists, and a member that its list drops simply drops out of the group.
//
// Lock order: UUID object list, then a group's member list, then the message queue. The message
// thread holds none of them while it calls a member: it looks the group up, copies its members
// under their lock, and acts on the copy, so a member may post messages, add to the object list
// or join groups while it runs.

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"
#include "platform/Event.h"
#include "platform/Thread.h"

namespace vorn {

// One group. It is never actioned itself: the message thread acts on its members.
class TUUIDObject : public TUUIDStreamable {
 public:
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  void Activate(bool) override {}
  void Deactivate(bool) override {}
  void Expire() override {}
  void Purge(TDateTime) override {}
};

// The groups, sorted by UUID, with the list's lock on every operation.
class TUUIDObjectList : public TIndexListOf<TUUIDObject> {
 public:
  TUUIDObjectList();

  // Puts an object (a TUUIDStreamable) into the group of its UUID, making the group when there
  // is none; returns the group's index. An object with an empty UUID, or a failure, is traced
  // and gives {-1, false}; an item that is not a TUUIDStreamable raises EListError. Whenever
  // the list has doubled since the last pass, a new group first drops the groups whose members
  // are all gone (orders and fills cleared from their lists), as leaving them would have.
  TAddResult Add(const TItem& object) override;
  // The group with that UUID, or null.
  std::shared_ptr<TUUIDObject> FindGroup(std::string_view uuid) const { return Get(uuid); }
  // Takes the object out of every group it belongs to; a group left empty goes too.
  void LeaveGroups(TUUIDStreamable& object);

 protected:
  void KeyOf(const TUUIDObject& item, std::string& key) const override { key = item.GetUUID(); }

 private:
  // Under the list's lock.
  void DropGoneGroups();
  int sweepAt_ = 64;  // guarded by the list's lock
};

// Splits a text at a separator, one token at a time.
class TVORNToken {
 public:
  TVORNToken(std::string text, std::string separator)
      : text_(std::move(text)), separator_(std::move(separator)) {}

  // The text before the first separator, keeping what follows it. With no separator left (or
  // an empty one), the whole remaining text, which is kept.
  std::string NextToken();
  // What is left.
  const std::string& GetRest() const { return text_; }
  bool HasSeparator() const;

 private:
  std::string text_;
  std::string separator_;
};

// One queued action: the first character of Action says what ('A' activate, 'E' expire, 'I'
// deactivate); UUID names one group, or several separated by ",".
struct TUUIDMessage {
  std::string Action;
  std::string UUID;
};

// Given a member about to be actioned, the object to act on in its place, or null to act on
// the member itself. Orders are replaced by their current state from the order list; the group
// is updated to hold what this returns.
using TUUIDMemberResolver =
    std::function<std::shared_ptr<TUUIDStreamable>(const std::shared_ptr<TUUIDStreamable>&)>;

// Applies one single-UUID message to its group's members, the last first. Each object is acted
// on once however many of the group's entries lead to it. Takes no lock while calling members.
void ApplyUUIDMessage(const TUUIDObjectList& objects, const TUUIDMessage& message,
                      const TUUIDMemberResolver& resolver = {});

// The UUID message queue and the thread that works through it. The thread starts with the first
// message and sleeps while the queue is empty; a message posted at any time is seen.
class TUUIDMessageThread {
 public:
  explicit TUUIDMessageThread(std::shared_ptr<const TUUIDObjectList> objects,
                              TUUIDMemberResolver resolver = {});
  TUUIDMessageThread(const TUUIDMessageThread&) = delete;
  TUUIDMessageThread& operator=(const TUUIDMessageThread&) = delete;
  ~TUUIDMessageThread() { Stop(); }

  // Appends the message and wakes the thread, starting it on first use. Returns false, dropping
  // the message, once the thread has been stopped.
  bool Post(TUUIDMessage message);
  // Ends the thread after the message in hand; what is still queued is not applied. Waits for
  // the thread, except when called on the thread itself. Later posts are refused.
  void Stop();
  bool IsRunning() const;
  std::size_t Pending() const;

 private:
  struct TShared {
    std::shared_ptr<const TUUIDObjectList> Objects;
    TUUIDMemberResolver Resolver;
    mutable std::mutex QueueLock;
    std::deque<TUUIDMessage> Queue;
    TEvent Wake{false};
    std::atomic<bool> Stopping{false};
  };
  static void Execute(TShared& shared, const TThreadControl& control);

  // The thread's state is shared with the running thread, which can outlive this object when it
  // is stopped from inside itself.
  const std::shared_ptr<TShared> shared_;
  mutable std::mutex controlLock_;  // guards thread_ and stopped_; never held while joining
  std::unique_ptr<TStoppableThread> thread_;
  bool stopped_ = false;
};

}  // namespace vorn
