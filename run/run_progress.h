// The numbers of a run's progress that the front ends show beside their bars: the transfer
// percent, the rate, the time left and the time since the run began, all measured on the
// program's clock; and the countdown of a bounded wait the run is in (the instrument's
// reboot).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

// The transfer bar stops here while a run goes on (the bytes it was set to expect are a
// guess); the time left no longer follows from it.
inline constexpr int kPercentCap = 95;

struct ProgressNumbers {
  int percent = -1;            // 0..100; below 0: no transfer bar
  double bytesPerSecond = -1;  // below 0: not known yet
  int64_t secondsLeft = -1;    // below 0: not known
  int64_t secondsElapsed = -1;
  int64_t waitSecondsLeft = -1;  // below 0: no bounded wait
};

// Measures the rate of the moved bytes and turns the transfer percent into a time left.
// Fed at the progress timer's ticks with the program clock's time and the bytes moved.
// The rate counts only the time in which bytes moved: a pause of the line (an erase, the
// reboot of the instrument) is left out, so the rate does not sink after it.
class ProgressMeter {
 public:
  // `percent` is the transfer bar's (of the bytes the update is expected to move; -1 none).
  void sample(uint64_t nowMicros, uint64_t bytes, int percent);
  void reset();
  ProgressNumbers numbers(uint64_t nowMicros) const;
  double bytesPerSecond() const;

 private:
  struct Interval {
    uint64_t micros;
    uint64_t bytes;
  };
  std::deque<Interval> m_intervals;  // the latest first-to-last, at most the rate's window
  uint64_t m_windowMicros = 0;
  uint64_t m_windowBytes = 0;
  bool m_started = false;
  uint64_t m_lastMicros = 0;  // when the bytes last changed
  uint64_t m_lastBytes = 0;
  int m_percent = -1;
  // The bytes the update is expected to move, as the percent tells it. A whole percent
  // leaves the total open by up to 1/percent; the tick at which the percent steps up pins
  // it to within the bytes of one tick.
  double m_expectedBytes = 0;
  bool m_expectedPinned = false;
};

// "12 %   8.4 kB/s   1:05 left   0:42 elapsed", or during a bounded wait
// "waiting 1:58 (at most)   0:42 elapsed"; parts that are not known are left out.
std::string formatProgressNumbers(const ProgressNumbers& numbers);
// "8.4 kB/s" from 1000 bytes a second on, "512 B/s" below.
std::string formatRate(double bytesPerSecond);

// Program time at which the current run began (resetRunState); 0 before the first run.
uint64_t runStartMicros();

// A long wait of the run for the instrument (its reboot) tells its bound here, and reports
// each of its tries, so that a front end can redraw the countdown at each try as well as
// when it dispatches events. The hook is the front end's; an empty one removes it.
void beginBoundedWait(uint32_t boundMs);
void boundedWaitProgressed();
void endBoundedWait();
// Seconds left of the bounded wait in progress (rounded up); -1 when none.
int64_t boundedWaitSecondsLeft(uint64_t nowMicros);
void setBoundedWaitHook(std::function<void()> hook);
