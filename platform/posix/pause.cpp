// The pause on Linux: a sleep on the monotonic clock up to a deadline, so that a signal
// that interrupts it neither cuts it short nor makes it longer.
#include "platform/pause.h"

#include <errno.h>
#include <time.h>

namespace platform {

void pauseMicros(uint64_t micros) {
  if (micros == 0) return;
  timespec deadline{};
  if (::clock_gettime(CLOCK_MONOTONIC, &deadline) != 0) return;
  // Far beyond any pause the program takes; keeps the seconds inside time_t.
  constexpr uint64_t kLongest = uint64_t{1} << 50;
  if (micros > kLongest) micros = kLongest;
  deadline.tv_sec += static_cast<time_t>(micros / 1000000);
  deadline.tv_nsec += static_cast<long>(micros % 1000000) * 1000;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_nsec -= 1000000000L;
    ++deadline.tv_sec;
  }
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace platform
