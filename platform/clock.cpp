#include "platform/clock.h"

#include <chrono>

#include "platform/pause.h"

namespace platform {
namespace {

uint64_t realMicros() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

SteadyClock& defaultClock() {
  static SteadyClock clock;
  return clock;
}

Clock* g_clock = nullptr;

}  // namespace

SteadyClock::SteadyClock(double factor)
    : m_factor(factor > 0 ? factor : 1.0), m_startRealMicros(realMicros()) {}

uint64_t SteadyClock::nowMicros() {
  return static_cast<uint64_t>(static_cast<double>(realMicros() - m_startRealMicros) * m_factor);
}

uint64_t SteadyClock::wallMicros() {
  return realMicros() - m_startRealMicros;
}

void SteadyClock::sleepMicros(uint64_t micros) {
  pauseMicros(static_cast<uint64_t>(static_cast<double>(micros) / m_factor));
}

Clock& clock() {
  return g_clock ? *g_clock : defaultClock();
}

void setClock(Clock* clock) {
  g_clock = clock;
}

uint32_t tickCount() {
  return static_cast<uint32_t>(clock().nowMicros() / 1000);
}

void sleepMs(uint32_t ms) {
  clock().sleepMicros(static_cast<uint64_t>(ms) * 1000);
}

double wallSeconds() {
  return static_cast<double>(clock().wallMicros()) / 1e6;
}

ScopedClock::ScopedClock(Clock& clock) : m_previous(g_clock) {
  g_clock = &clock;
}

ScopedClock::~ScopedClock() {
  g_clock = m_previous;
}

}  // namespace platform
