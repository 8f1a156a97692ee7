#include "core/store/UUIDObjects.h"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/util/Exceptions.h"

namespace vorn {
namespace {

using TMember = std::shared_ptr<TUUIDStreamable>;
using TWeakMember = std::weak_ptr<TUUIDStreamable>;

bool SameObject(const TWeakMember& entry, const TMember& member) {
  return !entry.owner_before(member) && !member.owner_before(entry);
}

// The live members, the last first; entries whose object is gone are dropped from the group.
std::vector<TMember> LiveMembers(TUUIDStreamable& group) {
  std::vector<TMember> live;
  auto members = group.Members.LockList();
  live.reserve(members->size());
  for (auto it = members->rbegin(); it != members->rend(); ++it) {
    if (auto member = it->lock()) live.push_back(std::move(member));
  }
  if (live.size() != members->size())
    std::erase_if(*members, [](const TWeakMember& entry) { return entry.expired(); });
  return live;
}

void ReplaceMember(TUUIDStreamable& group, const TMember& old, const TMember& current) {
  auto members = group.Members.LockList();
  for (auto& entry : *members) {
    if (SameObject(entry, old)) {
      entry = current;
      return;
    }
  }
}

void ActOn(TUUIDStreamable& member, const std::string& action) {
  switch (action.empty() ? '\0' : action.front()) {
    case 'A':
      member.Activate(true);
      break;
    case 'E':
      member.Expire();
      break;
    case 'I':
      member.Deactivate(true);
      break;
    default:
      WriteTraceLine("Error actioning the UUID message \"" + action);
      break;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Groups

const TStreamClass& TUUIDObject::Class() {
  static const TStreamClass& description =
      MakeStreamClass<TUUIDObject>("TUUIDObject", &TUUIDStreamable::Class());
  return description;
}

TUUIDObjectList::TUUIDObjectList() : TIndexListOf<TUUIDObject>("UUIDObject") {
  SetSorted(true);
  SetOwnsObjects(true);
}

TAddResult TUUIDObjectList::Add(const TItem& object) {
  auto member = std::dynamic_pointer_cast<TUUIDStreamable>(object);
  if (!member) {
    throw EListError((object ? std::string(object->ClassName()) : std::string("Nil item")) +
                     " cannot join a group of list " + Name());
  }
  // A group made for an empty key would take a new GUID and sit out of order.
  const std::string key = member->GetUUID();
  if (key.empty()) {
    WriteTraceLine("Error adding a new UUIDObject");
    return {};
  }

  TIndexListLock guard(*this);
  int index = 0;
  bool found = Find(key, index);
  if (!found && Count() >= sweepAt_) {
    DropGoneGroups();
    found = Find(key, index);
  }
  if (found) {
    try {
      At(index)->AddMember(member);
    } catch (const std::exception&) {
      WriteTraceLine("Error adding an object to an existing UUID");
      return {};
    }
    return {index, true};
  }
  try {
    auto group = std::static_pointer_cast<TUUIDObject>(TUUIDObject::Class().Create());
    group->SetUUID(key);
    group->AddMember(member);
    Insert(index, group);
  } catch (const std::exception&) {
    WriteTraceLine("Error adding a new UUIDObject");
    return {};
  }
  return {index, true};
}

// ---------------------------------------------------------------------------------------------
// Token splitter

bool TVORNToken::HasSeparator() const {
  return !separator_.empty() && text_.find(separator_) != std::string::npos;
}

std::string TVORNToken::NextToken() {
  const std::size_t at = separator_.empty() ? std::string::npos : text_.find(separator_);
  if (at == std::string::npos) return text_;
  std::string token = text_.substr(0, at);
  text_.erase(0, at + separator_.size());
  return token;
}

// ---------------------------------------------------------------------------------------------
// Applying a message

void ApplyUUIDMessage(const TUUIDObjectList& objects, const TUUIDMessage& message,
                      const TUUIDMemberResolver& resolver) {
  const std::shared_ptr<TUUIDObject> group = objects.FindGroup(message.UUID);
  if (!group) {
    WriteTraceLine("Error : Invalid UUID : " + message.UUID);
    return;
  }
  // Several entries of a group can lead to one object (the states of one order), which is
  // acted on once.
  std::vector<const TUUIDStreamable*> done;
  for (const TMember& member : LiveMembers(*group)) {
    try {
      TMember target = member;
      if (resolver) {
        if (TMember current = resolver(member); current && current != member) {
          ReplaceMember(*group, member, current);
          target = std::move(current);
        }
      }
      if (std::find(done.begin(), done.end(), target.get()) != done.end()) continue;
      done.push_back(target.get());
      ActOn(*target, message.Action);
    } catch (...) {
      ReportException("TUUIDMessageThread", std::current_exception());
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Message thread

TUUIDMessageThread::TUUIDMessageThread(std::shared_ptr<const TUUIDObjectList> objects,
                                       TUUIDMemberResolver resolver)
    : shared_(std::make_shared<TShared>()) {
  shared_->Objects = std::move(objects);
  shared_->Resolver = std::move(resolver);
}

bool TUUIDMessageThread::Post(TUUIDMessage message) {
  std::lock_guard control(controlLock_);
  if (stopped_) return false;
  {
    std::lock_guard queue(shared_->QueueLock);
    shared_->Queue.push_back(std::move(message));
  }
  if (!thread_) {
    thread_ = std::make_unique<TStoppableThread>();
    thread_->Start([shared = shared_](TThreadControl& control) { Execute(*shared, control); });
  }
  // The event stays set until the thread waits on it, so a wake-up is never lost.
  shared_->Wake.SetEvent();
  return true;
}

void TUUIDMessageThread::Stop() {
  std::unique_ptr<TStoppableThread> thread;
  {
    // Stopping is raised before the thread is taken over, so that a thread no longer reported
    // running applies nothing after the message in hand.
    std::lock_guard control(controlLock_);
    stopped_ = true;
    shared_->Stopping.store(true, std::memory_order_release);
    thread = std::move(thread_);
  }
  shared_->Wake.SetEvent();
  if (thread) thread->Stop();
}

bool TUUIDMessageThread::IsRunning() const {
  std::lock_guard control(controlLock_);
  return thread_ && thread_->IsRunning();
}

std::size_t TUUIDMessageThread::Pending() const {
  std::lock_guard queue(shared_->QueueLock);
  return shared_->Queue.size();
}

void TUUIDMessageThread::Execute(TShared& shared, const TThreadControl& control) {
  auto stopping = [&] {
    return shared.Stopping.load(std::memory_order_acquire) || control.Terminated();
  };
  while (!stopping()) {
    WriteTraceLine("Executing Message thread");
    for (;;) {
      if (stopping()) return;
      TUUIDMessage message;
      {
        std::lock_guard queue(shared.QueueLock);
        if (shared.Queue.empty()) break;
        message = std::move(shared.Queue.front());
        shared.Queue.pop_front();
      }
      if (message.UUID.find(',') != std::string::npos) {
        // One message per UUID, behind what is queued already.
        TVORNToken token(std::move(message.UUID), ",");
        std::lock_guard queue(shared.QueueLock);
        while (token.HasSeparator())
          shared.Queue.push_back({message.Action, token.NextToken()});
        shared.Queue.push_back({message.Action, token.GetRest()});
        continue;
      }
      try {
        ApplyUUIDMessage(*shared.Objects, message, shared.Resolver);
      } catch (...) {
        ReportException("TUUIDMessageThread", std::current_exception());
      }
    }
    shared.Wake.Wait();
  }
}

void TUUIDObjectList::DropGoneGroups() {
  DeleteIf([](TStreamable& item) {
    auto members = static_cast<TUUIDObject&>(item).Members.LockList();
    return std::none_of(members->begin(), members->end(),
                        [](const TWeakMember& entry) { return !entry.expired(); });
  });
  sweepAt_ = std::max(64, 2 * Count());
}

void TUUIDObjectList::LeaveGroups(TUUIDStreamable& object) {
  std::vector<std::string> uuids;
  {
    auto belongsTo = object.BelongsTo.LockList();
    uuids = *belongsTo;
  }
  // The list's lock across the check and the removal, so that an Add cannot give the group a
  // member in between (list lock before member lock, as everywhere).
  TIndexListLock guard(*this);
  for (const auto& uuid : uuids) {
    auto group = FindGroup(uuid);
    if (!group) continue;
    bool empty = false;
    {
      auto members = group->Members.LockList();
      std::erase_if(*members, [&object](const std::weak_ptr<TUUIDStreamable>& entry) {
        auto member = entry.lock();
        return !member || member.get() == &object;
      });
      empty = members->empty();
    }
    if (empty) RemoveItem(group.get());
  }
}

}  // namespace vorn
