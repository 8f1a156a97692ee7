// Joins the threads that tests stopped from inside themselves, before the process ends.
#include <gtest/gtest.h>

#include "platform/Thread.h"

namespace {

class StoppedThreadsEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { vorn::JoinStoppedThreads(); }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new StoppedThreadsEnvironment);

}  // namespace
