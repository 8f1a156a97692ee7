#include "core/store/UUIDObjects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using Lines = std::vector<std::string>;

// What the members were asked to do, in order, as "name:action".
class TActionLog {
 public:
  void Add(std::string line) {
    {
      std::lock_guard guard(lock_);
      lines_.push_back(std::move(line));
    }
    changed_.notify_all();
  }
  // Waits until count lines are in; false on a time-out.
  bool WaitFor(std::size_t count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(20),
                             [&] { return lines_.size() >= count; });
  }
  // Waits until the line has come count times; false on a time-out.
  bool WaitForLine(const std::string& line, std::ptrdiff_t count = 1) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(20), [&] {
      return std::count(lines_.begin(), lines_.end(), line) >= count;
    });
  }
  Lines Get() {
    std::lock_guard guard(lock_);
    return lines_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  Lines lines_;
};

class TItem : public TUUIDStreamable {
 public:
  // An empty uuid leaves the item without one.
  TItem(std::string name, std::string uuid, TActionLog& log) : Name(std::move(name)), log_(log) {
    if (!uuid.empty()) SetUUID(uuid);
  }
  void Activate(bool flag) override { Act(flag ? "A" : "a", usActive); }
  void Deactivate(bool flag) override { Act(flag ? "I" : "i", usInactive); }
  void Expire() override { Act("E", usExpired); }
  void Purge(TDateTime) override { Act("P", State); }

  const std::string Name;
  std::function<void()> OnAction;  // runs before the action is logged

 private:
  void Act(const char* action, std::int32_t state) {
    if (OnAction) OnAction();
    State = state;
    log_.Add(Name + ":" + action);
  }
  TActionLog& log_;
};

class UUIDObjectsTest : public ::testing::Test {
 protected:
  UUIDObjectsTest() {
    ResetTraceState();
    OpenTraceFile();
  }
  ~UUIDObjectsTest() override { ResetTraceState(); }

  std::shared_ptr<TItem> Make(std::string name, std::string uuid) {
    auto item = std::make_shared<TItem>(std::move(name), std::move(uuid), log_);
    items_.push_back(item);  // the items' own list
    objects_->Add(item);
    return item;
  }
  std::string Trace() { return ReadFileText(TraceFileName()); }
  static std::size_t Occurrences(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
      ++count;
    return count;
  }

  TTempDir dir_;
  TActionLog log_;
  std::shared_ptr<TUUIDObjectList> objects_ = std::make_shared<TUUIDObjectList>();
  std::vector<std::shared_ptr<TItem>> items_;
};

TEST_F(UUIDObjectsTest, ObjectsWithOneUUIDShareOneGroupInKeyOrder) {
  Make("o1", "{B}");
  Make("o2", "{A}");
  Make("o3", "{B}");
  ASSERT_EQ(objects_->Count(), 2);
  EXPECT_EQ(objects_->At(0)->GetUUID(), "{A}");
  EXPECT_EQ(objects_->At(1)->GetUUID(), "{B}");
  EXPECT_EQ(objects_->FindGroup("{B}")->Members.Count(), 2u);
  EXPECT_EQ(objects_->FindGroup("{C}"), nullptr);
  EXPECT_EQ(objects_->Add(std::make_shared<TItem>("o4", "{B}", log_)).Index, 1);

  // A group does not keep its members alive.
  auto gone = std::make_shared<TItem>("gone", "{A}", log_);
  objects_->Add(gone);
  gone.reset();
  ApplyUUIDMessage(*objects_, {"A", "{A}"});
  EXPECT_EQ(log_.Get(), (Lines{"o2:A"}));
  EXPECT_EQ(objects_->FindGroup("{A}")->Members.Count(), 1u);
}

TEST_F(UUIDObjectsTest, AddRefusesWhatCannotBeGrouped) {
  EXPECT_EQ(objects_->Add(std::make_shared<TItem>("blank", "", log_)).Index, -1);
  EXPECT_NE(Trace().find("Error adding a new UUIDObject"), std::string::npos);
  class TPlain : public TStreamable {};
  EXPECT_THROW(objects_->Add(std::make_shared<TPlain>()), EListError);
  EXPECT_THROW(objects_->Add(nullptr), EListError);
  EXPECT_EQ(objects_->Count(), 0);
}

TEST_F(UUIDObjectsTest, ActionsApplyToEveryMemberTheLastFirst) {
  struct Case {
    const char* action;
    Lines expected;
  };
  const Case cases[] = {
      {"A", {"c:A", "b:A", "a:A"}},
      {"Expire", {"c:E", "b:E", "a:E"}},
      {"I", {"c:I", "b:I", "a:I"}},
  };
  for (const auto& name : {"a", "b", "c"})
    Make(name, "{G}");
  Make("other", "{H}");
  std::size_t seen = 0;
  for (const auto& c : cases) {
    ApplyUUIDMessage(*objects_, {c.action, "{G}"});
    const Lines lines = log_.Get();
    EXPECT_EQ(Lines(lines.begin() + seen, lines.end()), c.expected) << c.action;
    seen = lines.size();
  }
  EXPECT_EQ(items_[0]->State, TUUIDStreamable::usInactive);
  EXPECT_EQ(items_[3]->State, TUUIDStreamable::usActive);
}

TEST_F(UUIDObjectsTest, UnknownActionOrUUIDIsTracedAndChangesNothing) {
  Make("a", "{G}");
  Make("b", "{G}");
  ApplyUUIDMessage(*objects_, {"X", "{G}"});
  ApplyUUIDMessage(*objects_, {"", "{G}"});
  ApplyUUIDMessage(*objects_, {"A", "{NONE}"});
  EXPECT_TRUE(log_.Get().empty());
  EXPECT_EQ(items_[0]->State, TUUIDStreamable::usActive);
  const std::string trace = Trace();
  EXPECT_EQ(Occurrences(trace, "Error actioning the UUID message \"X\r\n"), 2u);
  EXPECT_EQ(Occurrences(trace, "Error actioning the UUID message \"\r\n"), 2u);
  EXPECT_EQ(Occurrences(trace, "Error : Invalid UUID : {NONE}\r\n"), 1u);
}

// Orders are replaced by their current state: the group then holds the current state, and two
// stale states of one order lead to a single action.
TEST_F(UUIDObjectsTest, MembersAreReplacedByTheirCurrentState) {
  auto sent = Make("sent", "{O}");
  auto working = Make("working", "{O}");
  auto fill = Make("fill", "{O}");
  auto current = std::make_shared<TItem>("current", "{O}", log_);
  const TUUIDMemberResolver resolver = [&](const std::shared_ptr<TUUIDStreamable>& member) {
    return member == sent || member == working ? std::shared_ptr<TUUIDStreamable>(current)
                                               : nullptr;
  };
  ApplyUUIDMessage(*objects_, {"E", "{O}"}, resolver);
  EXPECT_EQ(log_.Get(), (Lines{"fill:E", "current:E"}));

  sent.reset();
  working.reset();
  items_.clear();
  ApplyUUIDMessage(*objects_, {"A", "{O}"});  // the group holds the current state now
  EXPECT_EQ(log_.Get(), (Lines{"fill:E", "current:E", "fill:A", "current:A"}));
}

TEST(VORNTokenTest, SplitsAtEachSeparatorAndKeepsTheLastPart) {
  TVORNToken token("a,,bc,d", ",");
  EXPECT_EQ(token.NextToken(), "a");
  EXPECT_EQ(token.NextToken(), "");
  EXPECT_EQ(token.NextToken(), "bc");
  EXPECT_FALSE(token.HasSeparator());
  EXPECT_EQ(token.NextToken(), "d");
  EXPECT_EQ(token.GetRest(), "d");

  TVORNToken wide("x<>y", "<>");
  EXPECT_EQ(wide.NextToken(), "x");
  EXPECT_EQ(wide.GetRest(), "y");
  TVORNToken none("xy", "");
  EXPECT_EQ(none.NextToken(), "xy");
  EXPECT_EQ(none.GetRest(), "xy");
}

// A gate that a member waits on, so the thread is held busy inside a member.
struct TGate {
  std::mutex lock;
  std::condition_variable changed;
  bool entered = false;
  bool open = false;
  void Enter() {
    std::unique_lock guard(lock);
    entered = true;
    changed.notify_all();
    changed.wait(guard, [&] { return open; });
  }
  void WaitEntered() {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return entered; });
  }
  void Open() {
    std::lock_guard guard(lock);
    open = true;
    changed.notify_all();
  }
};

TEST_F(UUIDObjectsTest, ThreadSplitsListsBehindWhatIsQueued) {
  TGate gate;
  Make("g0", "{0}")->OnAction = [&] { gate.Enter(); };
  for (const auto& uuid : {"{1}", "{2}", "{3}", "{4}"})
    Make(std::string("g") + uuid[1], uuid);

  TUUIDMessageThread thread(objects_);
  ASSERT_TRUE(thread.Post({"A", "{0}"}));
  gate.WaitEntered();
  thread.Post({"A", "{3},{1},{2}"});
  thread.Post({"I", "{4}"});
  gate.Open();
  ASSERT_TRUE(log_.WaitFor(5));
  EXPECT_EQ(log_.Get(), (Lines{"g0:A", "g4:I", "g3:A", "g1:A", "g2:A"}));

  // The thread sleeps on an empty queue and wakes for the next message.
  thread.Post({"E", "{1}"});
  ASSERT_TRUE(log_.WaitFor(6));
  EXPECT_EQ(log_.Get().back(), "g1:E");
}

// Stop while the thread is inside a member: the member may still post; Stop waits for it, and
// nothing queued is applied afterwards.
TEST_F(UUIDObjectsTest, StopWhileBusyEndsAfterTheMessageInHand) {
  TGate gate;
  TUUIDMessageThread thread(objects_);
  auto busy = Make("busy", "{0}");
  busy->OnAction = [&] {
    gate.Enter();
    thread.Post({"A", "{1}"});  // refused: the thread is being stopped
  };
  Make("next", "{1}");
  thread.Post({"A", "{0}"});
  thread.Post({"A", "{1}"});
  gate.WaitEntered();

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    thread.Stop();
    stopped = true;
  });
  while (thread.IsRunning())  // Stop has taken the thread over
    std::this_thread::yield();
  EXPECT_FALSE(stopped);
  gate.Open();
  stopper.join();
  EXPECT_EQ(log_.Get(), (Lines{"busy:A"}));
  EXPECT_FALSE(thread.Post({"A", "{1}"}));
  EXPECT_FALSE(thread.IsRunning());
}

// A member that stops the thread from inside itself does not wait for itself.
TEST_F(UUIDObjectsTest, StopFromInsideTheThreadReturns) {
  auto thread = std::make_unique<TUUIDMessageThread>(objects_);
  Make("stopper", "{0}")->OnAction = [&] { thread->Stop(); };
  thread->Post({"A", "{0}"});
  ASSERT_TRUE(log_.WaitFor(1));
  thread.reset();
  JoinStoppedThreads();
}

// Receivers add objects and post messages while members, called by the thread, add to the
// object list, join their own group and post in turn, and the items' lists drop members.
TEST_F(UUIDObjectsTest, ConcurrentListChangesWhileMessagesAreApplied) {
  constexpr int kGroups = 8;
  constexpr int kRounds = 200;
  TUUIDMessageThread thread(objects_);
  std::mutex itemsLock;
  auto uuidOf = [](int i) { return "{" + std::to_string(i % kGroups) + "}"; };
  std::atomic<int> joined{0};
  for (int g = 0; g < kGroups; ++g) {
    auto anchor = Make("anchor", uuidOf(g));
    anchor->OnAction = [&, g] {
      auto extra = std::make_shared<TItem>("extra", uuidOf(g + 1), log_);
      objects_->Add(extra);  // joins another group, then its list drops it
      objects_->FindGroup(uuidOf(g))->AddMember(extra);
      ++joined;
    };
  }

  std::vector<std::thread> receivers;
  for (int t = 0; t < 3; ++t) {
    receivers.emplace_back([&, t] {
      std::vector<std::shared_ptr<TItem>> mine;
      for (int i = 0; i < kRounds; ++i) {
        auto item = std::make_shared<TItem>("r", uuidOf(i + t), log_);
        objects_->Add(item);
        mine.push_back(item);
        if (i % 3 == 0) mine.erase(mine.begin());  // dropped by its list
        thread.Post({i % 2 ? "A" : "I", uuidOf(i) + "," + uuidOf(i + 1)});
      }
      std::lock_guard guard(itemsLock);
      items_.insert(items_.end(), mine.begin(), mine.end());
    });
  }
  for (auto& receiver : receivers)
    receiver.join();

  // Lists are split behind what is queued: once a first marker message has been applied, the
  // queue holds single UUIDs only, and a second marker comes after all of them.
  auto last = std::make_shared<TItem>("last", "{last}", log_);
  objects_->Add(last);
  thread.Post({"E", "{last}"});
  ASSERT_TRUE(log_.WaitForLine("last:E"));
  thread.Post({"E", "{last}"});
  ASSERT_TRUE(log_.WaitForLine("last:E", 2));
  EXPECT_EQ(thread.Pending(), 0u);
  EXPECT_GT(joined.load(), 0);
  EXPECT_EQ(objects_->Count(), kGroups + 1);
  thread.Stop();
}

}  // namespace
}  // namespace vorn
