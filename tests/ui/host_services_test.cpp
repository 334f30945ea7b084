// The desktop hosts' timers on the program's clock: due by program time, an overdue tick
// fired once, a restart, and timers set or killed by the tick's own handler.
#include "ui/host_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"

namespace {

TEST(HostTimers, fire_by_program_time_once_per_round_and_follow_their_handlers) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  ui::HostTimers timers;
  int windowA = 0;
  int windowB = 0;
  std::vector<std::string> fired;
  const auto serve = [&](const std::function<void(void*, int)>& extra = {}) {
    return timers.serveDue([&](void* window, int id) {
      std::string name(1, window == &windowA ? 'A' : 'B');
      name.append(std::to_string(id));
      fired.push_back(name);
      if (extra) extra(window, id);
    });
  };
  timers.set(&windowA, 1, 100);
  timers.set(&windowB, 1, 250);
  EXPECT_FALSE(serve());
  clock.sleepMicros(100'000);
  EXPECT_TRUE(serve());
  // Far overdue: one tick, and the next a period after it.
  clock.sleepMicros(1'000'000);
  serve();
  clock.sleepMicros(50'000);
  serve();
  EXPECT_EQ(fired, (std::vector<std::string>{"A1", "A1", "B1"}));

  // A restart moves the next tick a whole period on; a killed timer never fires.
  fired.clear();
  timers.set(&windowA, 1, 100);
  timers.kill(&windowB, 1);
  clock.sleepMicros(99'000);
  serve();
  clock.sleepMicros(1'000);
  serve();
  EXPECT_EQ(fired, (std::vector<std::string>{"A1"}));

  // A handler that serves the timers while it waits does not fire them again, and one that
  // kills its window's timers ends them before their turn.
  fired.clear();
  timers.set(&windowB, 2, 100);
  clock.sleepMicros(100'000);
  serve([&](void* window, int) {
    EXPECT_FALSE(serve());
    if (window == &windowA) timers.killAll(&windowB);
  });
  EXPECT_EQ(fired, (std::vector<std::string>{"A1"}));
  timers.killAll(&windowA);
  EXPECT_TRUE(timers.empty());
}

}  // namespace
