#pragma once
// TRandomSource: the simulator's one random generator. Random(n) is a uniform integer from 0 to
// n - 1, and 0 for any n below 1 (a lot limit of 0 draws no lots). Tests seed it to replay a
// market; the simulator seeds it from the clock when it is created.
//
// Threads: any thread; one small lock (a leaf: nothing is called while it is held) makes each
// draw whole.

#include <cstdint>
#include <mutex>
#include <random>

namespace vorn::sim {

class TRandomSource {
 public:
  explicit TRandomSource(std::uint64_t seed);
  TRandomSource(const TRandomSource&) = delete;
  TRandomSource& operator=(const TRandomSource&) = delete;

  void Seed(std::uint64_t seed);
  // Seeds from the monotonic and wall clocks.
  void SeedFromClock();
  std::int32_t Random(std::int32_t n);

 private:
  std::mutex lock_;
  std::mt19937_64 engine_;
};

}  // namespace vorn::sim
