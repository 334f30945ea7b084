// The pause waits at least the time asked, also below a millisecond and between whole
// milliseconds, where a sleep that counts whole ticks returns at once or too early. Only the
// lower bound is checked: a loaded machine may always wait longer.
#include "platform/pause.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/clock.h"

namespace {

uint64_t elapsedMicrosOf(uint64_t micros, void (*pause)(uint64_t)) {
  const auto start = std::chrono::steady_clock::now();
  pause(micros);
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
}

void steadyClockPause(uint64_t micros) {
  platform::SteadyClock clock;
  clock.sleepMicros(micros);
}

TEST(Pause, waits_at_least_the_time_asked) {
  // One byte at 115200 baud, a few bytes, a millisecond and a half, past a system tick.
  for (const uint64_t micros : {1u, 87u, 348u, 1500u, 2500u, 16100u}) {
    SCOPED_TRACE(micros);
    EXPECT_GE(elapsedMicrosOf(micros, platform::pauseMicros), micros);
    EXPECT_GE(elapsedMicrosOf(micros, steadyClockPause), micros);
  }
  EXPECT_LT(elapsedMicrosOf(0, platform::pauseMicros), 1000000u);  // no pause: no hang
}

}  // namespace
