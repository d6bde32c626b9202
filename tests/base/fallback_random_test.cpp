#include "base/fallback_random.h"

#include <gtest/gtest.h>

#include <bit>
#include <set>

namespace {

// Two runs a clock tick apart, or a process id apart, must not give values
// that differ in only a bit or two: the value ends up in a message's unique
// identifier.
TEST(FallbackRandom, CloseInputsGiveDistantValues) {
  const uint64_t clock = 0x0123456789ABCDEFULL;
  const struct {
    const char* name;
    uint64_t clockA, pidA, clockB, pidB;
  } cases[] = {
      {"next tick", clock, 1000, clock + 1, 1000},
      {"next process", clock, 1000, clock, 1001},
      {"zero and one", 0, 0, 1, 0},
      {"high bit of the clock", clock, 7, clock ^ (1ULL << 63), 7},
  };
  for (const auto& c : cases) {
    const uint64_t a = FallbackRandom(c.clockA, c.pidA);
    const uint64_t b = FallbackRandom(c.clockB, c.pidB);
    EXPECT_GE(std::popcount(a ^ b), 12) << c.name;
  }
  std::set<uint64_t> seen;
  for (uint64_t tick = 0; tick < 1000; ++tick) seen.insert(FallbackRandom(clock + tick, 42));
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
