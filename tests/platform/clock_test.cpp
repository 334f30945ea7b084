// The wall time of the program's clocks: a sped-up clock still tells real durations.
#include "platform/clock.h"

#include <gtest/gtest.h>

namespace {

TEST(Clock, wall_time_is_real_time_on_a_fast_clock_and_virtual_on_the_virtual_one) {
  platform::SteadyClock fast(1000);
  const uint64_t now = fast.nowMicros(), wall = fast.wallMicros();
  fast.sleepMicros(1000000);  // one second of its time: a millisecond of real time
  const uint64_t nowSpan = fast.nowMicros() - now, wallSpan = fast.wallMicros() - wall;
  EXPECT_GE(nowSpan, 1000000u);
  EXPECT_GE(wallSpan, 1000u);
  EXPECT_LT(wallSpan, nowSpan);

  platform::VirtualClock virtualClock;
  platform::ScopedClock installed(virtualClock);
  virtualClock.sleepMicros(2500000);
  EXPECT_EQ(virtualClock.wallMicros(), 2500000u);
  EXPECT_DOUBLE_EQ(platform::wallSeconds(), 2.5);
}

}  // namespace
