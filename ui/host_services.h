// What every desktop host of the dialogs does alike, whatever draws its windows: the
// dialogs' timers on the program's clock, and the requests to end the program served at
// the host's pumps.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace ui {

// The timers of a host's windows. They run on platform::clock(), so that on the virtual
// clock they fire by virtual time; the host looks at them from its event loop and its pumps.
// A tick that is overdue fires once; the next is due a period after it.
class HostTimers {
 public:
  // Starts (or restarts) a window's timer.
  void set(void* window, int timerId, uint32_t periodMs);
  void kill(void* window, int timerId);
  void killAll(void* window);
  bool empty() const { return m_timers.empty(); }
  // Fires the timers that are due through `fire`; true when one fired. A handler that waits
  // and serves the timers itself meanwhile does not fire them a second time.
  bool serveDue(const std::function<void(void* window, int timerId)>& fire);

 private:
  struct Timer {
    void* window;
    int timerId;
    uint64_t periodMicros;
    uint64_t dueMicros;
  };
  std::vector<Timer> m_timers;
  bool m_serving = false;
};

// Requests to end the program (SIGTERM, SIGHUP; Ctrl-Break and the closing of the console on
// Windows) while a host's windows run: caught from the first window's start to the last
// one's end. The first request is served at the next pump as a cancel of the innermost
// window; at a second every window writes what must not be lost and the program ends (a
// third, or the grace time, ends it at once).
class HostTermination {
 public:
  HostTermination();
  ~HostTermination();
  HostTermination(const HostTermination&) = delete;
  HostTermination& operator=(const HostTermination&) = delete;

  void start();
  void stop();
  // True once a request came: boxes no longer wait for a user.
  bool requested() const;
  // Takes the requests that came: `cancelInnermost` is called once, at the first while
  // windows are open; `endEveryWindow` at the second, before the program ends.
  void serve(bool windowsOpen, const std::function<void()>& cancelInnermost,
             const std::function<void()>& endEveryWindow);

 private:
  struct Catcher;
  std::unique_ptr<Catcher> m_catcher;
  int m_seen = 0;
  bool m_served = false;
};

}  // namespace ui
