// The program-wide state of a desktop host's windows, whatever draws them: the windows that
// run (the innermost last), their timers on the program's clock, the requests to end, and
// the policy of the host's pump. Each host keeps one and adds its toolkit's calls: how its
// pending events are dispatched and how its loop is woken to look at the timers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/host_services.h"

namespace ui {

class HostedWindow;

struct HostRuntime {
  std::vector<HostedWindow*> windows;
  HostTimers timers;
  HostTermination termination;
  // Pumps running on the call stack; pumps in a row that dispatched a handler.
  int pumpDepth = 0;
  int pumpRounds = 0;
  // Handlers of dialogs that ran (deliveries), counted so that a pump knows whether it
  // dispatched anything.
  uint64_t dispatched = 0;
  // Opens a help address instead of the host's own way (tests); false when it could not.
  std::function<bool(const std::string&)> helpOpener;
  // The toolkit's part: what the host does when its first window starts (it installs its
  // pump as the program's) and when its last one ends (it removes it), and when the
  // windows' timers have changed (its loop looks at the clock while any is set). Each may
  // be empty.
  std::function<void()> firstWindowStarted;
  std::function<void()> lastWindowEnded;
  std::function<void()> timersChanged;
  // Takes the toolkit's part once: a host calls it from its accessor, before any window runs.
  void attachToolkit(std::function<void()> started, std::function<void()> ended,
                     std::function<void()> timersMoved = {}) {
    if (firstWindowStarted) return;
    firstWindowStarted = std::move(started);
    lastWindowEnded = std::move(ended);
    timersChanged = std::move(timersMoved);
  }

  // A window starts its modal run; at the first, requests to end are caught from here on.
  void windowStarted(HostedWindow* window);
  // A window ends, and its timers with it; at the last, requests to end are no longer
  // caught.
  void windowEnded(HostedWindow* window);

  // Fires the timers that are due; true when one fired.
  bool serveDueTimers();
  // The innermost window hears of a request to end as a system command; a window that does
  // not handle it ends as with its cancel. At a second request every window hears of the
  // end, innermost first, and the program ends.
  void serveTermination();
  // Shows the progress numbers of every window now (a bounded wait's try, between pumps).
  void showProgressNumbersNow();

  // One pump: `dispatchPending` dispatches the toolkit's pending events, then the due timers
  // and the requests to end are served. True when a handler of a dialog ran; false after a
  // bounded number of rounds in a row, so that a caller that pumps until nothing is pending
  // always comes back.
  bool pump(const std::function<void()>& dispatchPending);
};

}  // namespace ui
