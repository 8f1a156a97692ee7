#include "sim/RandomSource.h"

#include <bit>
#include <chrono>
#include <limits>

namespace vorn::sim {

TRandomSource::TRandomSource(std::uint64_t seed) : engine_(seed) {}

void TRandomSource::Seed(std::uint64_t seed) {
  std::lock_guard guard(lock_);
  engine_.seed(seed);
}

void TRandomSource::SeedFromClock() {
  const auto wall = std::chrono::system_clock::now().time_since_epoch().count();
  const auto steady = std::chrono::steady_clock::now().time_since_epoch().count();
  Seed(static_cast<std::uint64_t>(wall) ^ std::rotl(static_cast<std::uint64_t>(steady), 32));
}

std::int32_t TRandomSource::Random(std::int32_t n) {
  if (n < 1) return 0;
  // Our own reduction rather than a standard distribution, whose results differ between
  // standard libraries: a seeded market replays alike everywhere.
  const std::uint64_t range = static_cast<std::uint64_t>(n);
  const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() -
                              std::numeric_limits<std::uint64_t>::max() % range;
  std::lock_guard guard(lock_);
  std::uint64_t draw = engine_();
  while (draw >= limit) draw = engine_();
  return static_cast<std::int32_t>(draw % range);
}

}  // namespace vorn::sim
