// The pause on Windows: a waitable timer with a relative due time in 100 ns units. Sleep()
// and the C++ library's sleep_for count whole milliseconds of the system tick, too coarse for
// the time of a byte on the line; a high-resolution timer (Windows 10 1803 and later) is
// precise to tens of microseconds, a plain one to the system tick. Each thread keeps its own
// timer, since a timer that two threads set at once would wake only one of them at the right
// time. The wait is checked against the performance counter and taken up again when the
// timer fired early, so that the pause is never shorter than asked.
//
// Under Wine a waitable timer (high resolution or not) fires on the wine server's
// millisecond tick: a pause of 50 us lasts 1.1 ms there, and a run that waits for every
// byte on the line takes far longer than on Windows. Wine's NtDelayExecution waits in the
// host's own select(), to the microsecond, so there the pause waits with it instead. On
// Windows that call counts in system ticks (1 to 15.6 ms), which is why it is Wine's only.
#include "platform/pause.h"
#include "platform/win32/win32_shared.h"

namespace platform {
namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// NtDelayExecution where the program runs under Wine (ntdll then has wine_get_version);
// nullptr on Windows.
using DelayExecution = LONG(NTAPI*)(BOOLEAN alertable, PLARGE_INTEGER interval);

DelayExecution wineDelay() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (!ntdll || !::GetProcAddress(ntdll, "wine_get_version")) return nullptr;
  return reinterpret_cast<DelayExecution>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtDelayExecution")));
}

class ThreadTimer {
 public:
  ThreadTimer() {
    m_handle = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                        TIMER_ALL_ACCESS);
    // Systems before Windows 10 1803 refuse the flag: a plain timer instead.
    if (!m_handle) m_handle = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
  }
  ~ThreadTimer() {
    if (m_handle) ::CloseHandle(m_handle);
  }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;

  // Waits the given number of 100 ns units; false when the timer could not be used.
  bool wait(int64_t units) {
    if (!m_handle) return false;
    LARGE_INTEGER due;
    due.QuadPart = -units;  // negative: relative to now
    if (!::SetWaitableTimer(m_handle, &due, 0, nullptr, nullptr, FALSE)) return false;
    return ::WaitForSingleObject(m_handle, INFINITE) == WAIT_OBJECT_0;
  }

 private:
  HANDLE m_handle = nullptr;
};

int64_t counter() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int64_t counterFrequency() {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}

}  // namespace

void pauseMicros(uint64_t micros) {
  if (micros == 0) return;
  // Far beyond any pause the program takes; keeps the counter arithmetic inside 64 bits.
  constexpr uint64_t kLongest = uint64_t{1} << 36;  // about 19 hours
  if (micros > kLongest) micros = kLongest;
  static const int64_t frequency = counterFrequency();
  static const DelayExecution delay = wineDelay();
  thread_local ThreadTimer timer;

  // The deadline in counter ticks, rounded up.
  const int64_t span = static_cast<int64_t>(micros);
  const int64_t ticks =
      span / 1000000 * frequency + (span % 1000000 * frequency + 999999) / 1000000;
  const int64_t deadline = counter() + ticks;
  for (int64_t left = ticks; left > 0; left = deadline - counter()) {
    // Ticks to 100 ns units, rounded up.
    const int64_t units =
        left / frequency * 10000000 + (left % frequency * 10000000 + frequency - 1) / frequency;
    LARGE_INTEGER interval;
    interval.QuadPart = -units;  // negative: relative to now
    if (delay && delay(FALSE, &interval) >= 0) continue;
    if (!timer.wait(units)) {
      ::Sleep(static_cast<DWORD>((units + 9999) / 10000));
    }
  }
}

}  // namespace platform
