#include "run/run_progress.h"

#include <algorithm>
#include <cstdio>

#include "platform/clock.h"
#include "platform/time_text.h"
#include "run/run_state.h"

namespace {

// The span of the transfer over which the rate is measured: long enough to even out the
// pauses between packets, short enough to follow a change of line speed.
constexpr uint64_t kRateWindowMicros = 5'000'000;
constexpr uint64_t kRateMinSpanMicros = 500'000;
// Longer than any gap between two packets of a transfer, even at the slowest line speed.
constexpr uint64_t kPauseMicros = 1'500'000;
constexpr uint64_t kMicrosPerSecond = 1'000'000;

struct BoundedWait {
  bool active = false;
  uint64_t endMicros = 0;
};

BoundedWait g_wait;
std::function<void()> g_waitHook;

}  // namespace

void ProgressMeter::reset() {
  *this = ProgressMeter{};
}

void ProgressMeter::sample(uint64_t nowMicros, uint64_t bytes, int percent) {
  // Fewer bytes than before: a new run, or a new transfer, counts from 0.
  if (!m_started || bytes < m_lastBytes || nowMicros < m_lastMicros || percent < m_percent) {
    reset();
    m_started = true;
    m_lastMicros = nowMicros;
    m_lastBytes = bytes;
    m_percent = percent;
    return;
  }
  if (percent > 0 && percent < kPercentCap) {
    if (percent > m_percent && m_percent > 0) {
      m_expectedBytes = static_cast<double>(bytes) * 100 / percent;
      m_expectedPinned = true;
    } else if (!m_expectedPinned) {
      m_expectedBytes = static_cast<double>(bytes) * 100 / (percent + 0.5);
    }
  }
  m_percent = percent;
  if (bytes == m_lastBytes) return;  // idle so far: the interval goes on
  const uint64_t span = nowMicros - m_lastMicros;
  const uint64_t moved = bytes - m_lastBytes;
  m_lastMicros = nowMicros;
  m_lastBytes = bytes;
  // An interval that long held a pause of the line, not a transfer: it tells no rate.
  if (span > kPauseMicros) return;
  m_intervals.push_back(Interval{span, moved});
  m_windowMicros += span;
  m_windowBytes += moved;
  while (m_intervals.size() > 1 &&
         m_windowMicros - m_intervals.front().micros >= kRateWindowMicros) {
    m_windowMicros -= m_intervals.front().micros;
    m_windowBytes -= m_intervals.front().bytes;
    m_intervals.pop_front();
  }
}

double ProgressMeter::bytesPerSecond() const {
  if (m_windowMicros < kRateMinSpanMicros) return -1;
  return static_cast<double>(m_windowBytes) * 1e6 / static_cast<double>(m_windowMicros);
}

ProgressNumbers ProgressMeter::numbers(uint64_t nowMicros) const {
  ProgressNumbers out;
  const int percent = m_percent;
  out.percent = percent;
  const uint64_t start = runStartMicros();
  if (nowMicros >= start)
    out.secondsElapsed = static_cast<int64_t>((nowMicros - start) / kMicrosPerSecond);
  out.waitSecondsLeft = boundedWaitSecondsLeft(nowMicros);
  out.bytesPerSecond = bytesPerSecond();
  // At the cap the percent no longer tells how much is left.
  if (percent > 0 && percent < kPercentCap && out.bytesPerSecond > 0 && m_expectedBytes > 0) {
    const double remaining = std::max(0.0, m_expectedBytes - static_cast<double>(m_lastBytes));
    out.secondsLeft = static_cast<int64_t>(remaining / out.bytesPerSecond + 0.5);
  }
  return out;
}

std::string formatRate(double bytesPerSecond) {
  char buffer[48];
  if (bytesPerSecond >= 1000) {
    std::snprintf(buffer, sizeof buffer, "%.1f kB/s", bytesPerSecond / 1000);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.0f B/s", bytesPerSecond);
  }
  return buffer;
}

std::string formatProgressNumbers(const ProgressNumbers& numbers) {
  std::string out;
  auto part = [&out](const std::string& text) {
    if (!out.empty()) out += "   ";
    out += text;
  };
  char buffer[48];
  if (numbers.waitSecondsLeft >= 0) {
    part("waiting " + platform::progressDurationText(numbers.waitSecondsLeft) + " at most");
  } else {
    if (numbers.percent >= 0) {
      std::snprintf(buffer, sizeof buffer, "%d %%", std::clamp(numbers.percent, 0, 100));
      part(buffer);
    }
    if (numbers.bytesPerSecond >= 0) part(formatRate(numbers.bytesPerSecond));
    if (numbers.secondsLeft >= 0)
      part(platform::progressDurationText(numbers.secondsLeft) + " left");
  }
  if (numbers.secondsElapsed >= 0)
    part(platform::progressDurationText(numbers.secondsElapsed) + " elapsed");
  return out;
}

void beginBoundedWait(uint32_t boundMs) {
  g_wait.active = true;
  g_wait.endMicros = platform::clock().nowMicros() + uint64_t{boundMs} * 1000;
  boundedWaitProgressed();
}

void boundedWaitProgressed() {
  if (g_waitHook) g_waitHook();
}

void endBoundedWait() {
  g_wait.active = false;
  boundedWaitProgressed();
}

int64_t boundedWaitSecondsLeft(uint64_t nowMicros) {
  if (!g_wait.active) return -1;
  if (nowMicros >= g_wait.endMicros) return 0;
  return static_cast<int64_t>((g_wait.endMicros - nowMicros + kMicrosPerSecond - 1) /
                              kMicrosPerSecond);
}

void setBoundedWaitHook(std::function<void()> hook) {
  g_waitHook = std::move(hook);
}
