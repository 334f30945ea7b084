#include "run/run_progress.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/time_text.h"
#include "run/run_state.h"

namespace {

constexpr uint64_t kTick = 100'000;  // the progress timer's period, µs

// A transfer of 100 000 bytes at 10 kB/s with a 20 s pause (an erase) after the first 10 %:
// the rate is the line's, the pause left out, and the time left is that of the bytes to go.
TEST(ProgressMeter, measures_the_line_not_its_pauses_and_counts_the_bytes_left) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  clearStatusList();  // the run begins
  ProgressMeter meter;
  uint64_t now = 0;
  uint64_t bytes = 0;
  auto tick = [&](uint64_t moved) {
    now += kTick;
    bytes += moved;
    meter.sample(now, bytes, static_cast<int>(bytes * 100 / 100'000));
  };
  for (int i = 0; i < 10; ++i) tick(1000);  // 1 s: 10 %
  for (int i = 0; i < 200; ++i) tick(0);    // the pause
  for (int i = 0; i < 30; ++i) tick(1000);  // 3 s more: 40 %
  clock.advanceTo(now);
  const ProgressNumbers n = meter.numbers(now);
  EXPECT_EQ(n.percent, 40);
  EXPECT_NEAR(n.bytesPerSecond, 10'000, 1);
  EXPECT_EQ(n.secondsLeft, 6);
  EXPECT_EQ(n.secondsElapsed, 24);
  EXPECT_EQ(formatProgressNumbers(n), "40 %   10.0 kB/s   0:06 left   0:24 elapsed");

  // Fewer bytes: a new transfer, measured anew.
  meter.sample(now + kTick, 0, 0);
  EXPECT_LT(meter.numbers(now + kTick).bytesPerSecond, 0);
}

TEST(ProgressMeter, a_bounded_wait_counts_down_its_bound_and_tells_the_hook) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  int calls = 0;
  setBoundedWaitHook([&] { ++calls; });
  clearStatusList();
  beginBoundedWait(150'000);
  clock.sleepMicros(2'500'000);
  boundedWaitProgressed();
  const ProgressMeter meter;
  EXPECT_EQ(formatProgressNumbers(meter.numbers(clock.nowMicros())),
            "waiting 2:28 at most   0:02 elapsed");
  endBoundedWait();
  EXPECT_EQ(boundedWaitSecondsLeft(clock.nowMicros()), -1);
  EXPECT_EQ(calls, 3);
  setBoundedWaitHook({});
  EXPECT_EQ(platform::progressDurationText(3 * 3600 + 61), "3:01:01");
}

}  // namespace
