// The thread that reads and writes the contract store file, over the sample store's items.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/store/ContractDataThread.h"
#include "core/store/ObjStream.h"
#include "platform/Event.h"
#include "platform/Files.h"
#include "support/StoreSamples.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

class ContractDataThreadTest : public ::testing::Test {
 protected:
  TContractStore Store(TIndexList& list, std::function<void()> record = {}) {
    if (!record) record = [this] { ++recorded_; };
    return {list, dir_.Path(), read_, saved_, reading_, storeLoaded_, std::move(record)};
  }
  std::string FilePath() const { return dir_.File(kContractStoreFileName); }

  TTempDir dir_;
  TTestItemList contracts_{"Contract Dates"};
  TLatch read_{true};
  TLatch saved_{true};
  std::atomic<bool> reading_{false};
  std::atomic<bool> storeLoaded_{true};
  int recorded_ = 0;  // written by the thread before it sets the latch
};

TEST_F(ContractDataThreadTest, WritesEveryContractThenReadsThemBack) {
  AddAll(contracts_, SampleItems());
  {
    TContractDataThread writer(Store(contracts_), TContractDataThread::cdaWrite);
    writer.Start();
    ASSERT_TRUE(saved_.WaitFor(10s));
  }
  EXPECT_EQ(dir_.Files(), std::vector<std::string>{kContractStoreFileName});
  const TSampleStore sample = MakeSampleStore();
  EXPECT_EQ(ReadFileText(FilePath()), sample.Bytes.substr(0, sample.ItemEnds.back()));

  TTestItemList loaded("Contract Dates");
  AddAll(loaded, FirstItems(1));
  storeLoaded_ = false;
  TContractDataThread reader(Store(loaded), TContractDataThread::cdaRead);
  reader.Start();
  ASSERT_TRUE(read_.WaitFor(10s));
  EXPECT_FALSE(reading_);
  EXPECT_TRUE(storeLoaded_);
  EXPECT_EQ(recorded_, 1);
  ExpectItems(loaded, SampleItems(), "read back");
}

TEST_F(ContractDataThreadTest, MissingFileReleasesWaitersAndLoadsNothing) {
  TContractDataThread reader(Store(contracts_), TContractDataThread::cdaRead);
  reader.Start();
  ASSERT_TRUE(read_.WaitFor(10s));
  EXPECT_EQ(contracts_.Count(), 0);
  EXPECT_EQ(recorded_, 0);
  EXPECT_TRUE(storeLoaded_);
}

TEST_F(ContractDataThreadTest, FileOfAnotherBuildIsDeletedAndTheStoreMarkedNotLoaded) {
  std::string other = MakeSampleStore().Bytes;
  other[StoreHeaderText().size() - 1] = '8';
  WriteFileText(FilePath(), other);
  TContractDataThread reader(Store(contracts_), TContractDataThread::cdaRead);
  reader.Start();
  ASSERT_TRUE(read_.WaitFor(10s));
  EXPECT_FALSE(FileExists(FilePath()));
  EXPECT_FALSE(storeLoaded_);
  EXPECT_EQ(contracts_.Count(), 0);
}

TEST_F(ContractDataThreadTest, FailedReadKeepsWhatPrecedesTheDamageAndReleasesEveryWaiter) {
  const TSampleStore sample = MakeSampleStore();
  WriteFileText(FilePath(), sample.Bytes.substr(0, sample.ItemEnds[2] - 3));
  TEvent go(true);
  TContractDataThread reader(Store(contracts_, [&go] { go.Wait(); }), TContractDataThread::cdaRead);
  reader.Start();  // the latch is re-armed before Start returns
  EXPECT_TRUE(reading_);
  std::vector<std::thread> waiters;
  std::atomic<int> released{0};
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (read_.WaitFor(10s)) ++released;
    });
  go.SetEvent();
  for (auto& waiter : waiters)
    waiter.join();
  EXPECT_EQ(released, 3);
  EXPECT_TRUE(read_.IsSet());
  EXPECT_FALSE(reading_);
  EXPECT_FALSE(storeLoaded_);  // the next logon asks for everything
  ExpectItems(contracts_, FirstItems(2), "damaged");
  EXPECT_TRUE(FileExists(FilePath()));
}

TEST_F(ContractDataThreadTest, WriterWaitsForTheReader) {
  AddAll(contracts_, FirstItems(2));
  read_.Reset();  // a read in progress
  TContractDataThread writer(Store(contracts_), TContractDataThread::cdaWrite);
  writer.Start();
  EXPECT_FALSE(saved_.WaitFor(100ms));
  EXPECT_FALSE(FileExists(FilePath()));
  read_.Set();
  ASSERT_TRUE(saved_.WaitFor(10s));
  EXPECT_TRUE(FileExists(FilePath()));
}

TEST_F(ContractDataThreadTest, StoppedWriterWritesNothingAndReleasesWaiters) {
  AddAll(contracts_, FirstItems(2));
  read_.Reset();
  TContractDataThread writer(Store(contracts_), TContractDataThread::cdaWrite);
  writer.Start();
  writer.Stop();
  EXPECT_TRUE(saved_.IsSet());
  EXPECT_FALSE(FileExists(FilePath()));
}

}  // namespace
}  // namespace vorn
