// The program's clock: a millisecond tick count and a blocking pause.
//
// Everything that waits or measures time goes through the clock that is installed for
// the whole program. The real clock follows the steady system clock (optionally sped up
// for rehearsals against the simulated instrument); the virtual clock only moves when
// the program sleeps, so a whole update with all its pauses runs in a fraction of a
// second and exactly the same way every time.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Microseconds since the clock's own epoch; never goes backwards.
  virtual uint64_t nowMicros() = 0;
  // Blocks the caller for the given time (the virtual clock just moves on).
  virtual void sleepMicros(uint64_t micros) = 0;
  // Microseconds since the clock's own epoch as a watch on the wall measures them; never
  // goes backwards. The same as nowMicros() on a clock that runs at real speed; a sped-up
  // clock still tells how long a run really took. The virtual clock has no other time.
  virtual uint64_t wallMicros() { return nowMicros(); }
};

// Steady system clock. A factor above 1 makes the program's time run that many times
// faster than real time (used with the simulated instrument's speed=N).
class SteadyClock : public Clock {
 public:
  explicit SteadyClock(double factor = 1.0);
  uint64_t nowMicros() override;
  void sleepMicros(uint64_t micros) override;
  uint64_t wallMicros() override;

 private:
  double m_factor;
  uint64_t m_startRealMicros;
};

// Time that passes only when someone sleeps on it or advances it.
class VirtualClock : public Clock {
 public:
  uint64_t nowMicros() override { return m_now; }
  void sleepMicros(uint64_t micros) override { m_now += micros; }
  void advanceTo(uint64_t micros) {
    if (micros > m_now) m_now = micros;
  }

 private:
  uint64_t m_now = 0;
};

// The clock of the whole program (a SteadyClock until another one is installed).
Clock& clock();
// Installs a clock for the whole program; nullptr restores the steady clock. The caller
// keeps the object alive while it is installed.
void setClock(Clock* clock);

// Milliseconds of the installed clock, wrapping at 2^32 like a system tick count.
uint32_t tickCount();
// Pause of the installed clock in milliseconds.
void sleepMs(uint32_t ms);
// Seconds of the installed clock's wall time: what a run's duration is measured in, on the
// same clock as the elapsed time of its progress line.
double wallSeconds();

// Installs a clock for the lifetime of the object and restores the previous one after.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* m_previous;
};

}  // namespace platform
