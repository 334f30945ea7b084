// Upper bounds of the tests that measure real time. Such a test keeps its lower bounds as
// they are (a wait must not end early), but a machine that is busy with other work (a
// parallel build, a sanitizer) may take many times as long as an idle one: an upper bound
// is ten times the expected time, and never less than a second.
#pragma once

#include <algorithm>
#include <cstdint>

namespace testing_support {

inline constexpr int64_t kBusyMachineFactor = 10;
inline constexpr int64_t kLeastUpperBoundMs = 1000;

// The upper bound of a real-time measurement expected to take `expectedMs`.
constexpr int64_t generousMs(int64_t expectedMs) {
  return std::max(kLeastUpperBoundMs, kBusyMachineFactor * expectedMs);
}
constexpr int64_t generousMicros(int64_t expectedMicros) {
  return std::max(kLeastUpperBoundMs * 1000, kBusyMachineFactor * expectedMicros);
}

}  // namespace testing_support
