#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <cmath>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Files.h"
#include "platform/Locks.h"
#include "platform/Module.h"
#include "platform/Thread.h"
#include "support/TimeZone.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

TEST(EventTest, AutoResetWakesOneWaitThenClears) {
  TEvent automatic(false);
  automatic.SetEvent();
  EXPECT_TRUE(automatic.WaitFor(0ms));
  EXPECT_FALSE(automatic.WaitFor(1ms));

  TEvent manual(true);
  manual.SetEvent();
  EXPECT_TRUE(manual.WaitFor(0ms));
  EXPECT_TRUE(manual.WaitFor(0ms));
  manual.ResetEvent();
  EXPECT_FALSE(manual.IsSet());
}

// The coarse reading keeps its local offset for a second: once a new second has begun in a
// zone, it reads what the precise one reads, to the coarse clock's resolution.
TEST(ClockTest, TheCoarseLocalTimeIsTheLocalTime) {
  TScopedTimeZone zone("Asia/Kolkata");  // +05:30, far from UTC
  IClock& clock = Clock();
  const double first = std::floor(clock.NowLocalCoarse() * kSecondsPerDay);
  while (std::floor(clock.NowLocalCoarse() * kSecondsPerDay) == first) {
  }
  const TDateTime before = clock.NowLocal();
  const TDateTime coarse = clock.NowLocalCoarse();
  const TDateTime after = clock.NowLocal();
  const double toleranceDays = 0.05 / kSecondsPerDay;
  EXPECT_GE(coarse, before - toleranceDays);
  EXPECT_LE(coarse, after + toleranceDays);
}

// Threads adding to a plain counter under the lock lose no addition (and, under the thread
// sanitizer, race on nothing).
TEST(SpinLockTest, OneHolderAtATime) {
  constexpr int kThreads = 4;
  constexpr int kAdds = 20000;
  TSpinLock lock;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kAdds; ++i) {
        std::lock_guard guard(lock);
        ++counter;
      }
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(counter, long{kThreads} * kAdds);
  EXPECT_TRUE(lock.try_lock());
  EXPECT_FALSE(lock.try_lock());
  lock.unlock();
}

TEST(StoppableThreadTest, StopWakesASleepingThreadAndJoins) {
  TStoppableThread thread;
  std::atomic<bool> ended{false};
  thread.Start([&](TThreadControl& control) {
    while (control.SleepUntil(std::chrono::steady_clock::now() + 1h)) {
    }
    ended = true;
  });
  thread.Stop();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(thread.IsRunning());
}

TEST(StoppableThreadTest, StopOnItselfHandsTheThreadOverToBeJoinedLater) {
  auto thread = std::make_unique<TStoppableThread>();
  std::atomic<bool> stopped{false};
  TEvent go(true);
  thread->Start([&](TThreadControl& control) {
    go.Wait();
    thread.reset();  // the owner goes away from the thread itself: no self-join
    stopped = control.Terminated();
  });
  go.SetEvent();
  while (!stopped)
    std::this_thread::yield();
  JoinStoppedThreads();  // returns once the thread has ended
  EXPECT_TRUE(stopped);
}

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/vornplatformXXXXXX";
    path_ = std::string(::mkdtemp(pattern)) + "/";
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::string& Path() const { return path_; }
  void Create(const std::string& name, const std::string& text) const {
    std::ofstream(path_ + name) << text;
  }

 private:
  std::string path_;
};

TEST(FilesTest, RenameNeverReplacesAnExistingFile) {
  TempFolder folder;
  folder.Create("a.Log", "new");
  folder.Create("a.Bak1", "old");
  EXPECT_FALSE(RenameFileNoReplace(folder.Path() + "a.Log", folder.Path() + "a.Bak1"));
  EXPECT_TRUE(FileExists(folder.Path() + "a.Log"));
  EXPECT_TRUE(DeleteFile(folder.Path() + "a.Bak1"));
  EXPECT_TRUE(RenameFileNoReplace(folder.Path() + "a.Log", folder.Path() + "a.Bak1"));
  EXPECT_FALSE(FileExists(folder.Path() + "a.Log"));
}

TEST(FilesTest, FindFilesMatchesWithoutRegardToCase) {
  TempFolder folder;
  for (const char* name : {"VornDLLTrace_1.Log", "vorndlltrace_2.LOG", "Other.Log", "x.Bak1"})
    folder.Create(name, "");
  auto found = FindFiles(folder.Path(), "VORNDLLTRACE*.Log");
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"VornDLLTrace_1.Log", "vorndlltrace_2.LOG"}));
  EXPECT_TRUE(FindFiles(folder.Path() + "missing/", "*").empty());
}

TEST(ModuleTest, NamesAreAbsolutePaths) {
  EXPECT_EQ(HostProgramFileName().front(), '/');
  EXPECT_EQ(LibraryFileName().front(), '/');
  EXPECT_NE(LibraryBaseAddress(), 0u);
  EXPECT_EQ(ExtractFilePath("/a/b/c.so"), "/a/b/");
  EXPECT_EQ(ExtractFilePath("c.so"), "");
}

}  // namespace
}  // namespace vorn
