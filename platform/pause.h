// A pause of the calling thread in microseconds, as close to the time asked as the system
// allows and never shorter, without keeping a processor busy: the real clock waits with it
// for the time a few bytes take on the line (one byte at 115200 baud is 87 us).
#pragma once

#include <cstdint>

namespace platform {

// Blocks the calling thread for at least the given number of microseconds (0 returns at once).
void pauseMicros(uint64_t micros);

}  // namespace platform
