#include "ui/host_runtime.h"

#include <algorithm>

#include "ui/hosted_window.h"

namespace ui {
namespace {

// Rounds in a row in which a pump may report dispatched events before it reports none.
constexpr int kMaxPumpRounds = 16;

}  // namespace

void HostRuntime::windowStarted(HostedWindow* window) {
  if (windows.empty()) {
    termination.start();
    if (firstWindowStarted) firstWindowStarted();
  }
  windows.push_back(window);
}

void HostRuntime::windowEnded(HostedWindow* window) {
  timers.killAll(window);
  const auto it = std::find(windows.begin(), windows.end(), window);
  if (it == windows.end()) return;
  windows.erase(it);
  if (timersChanged) timersChanged();
  if (!windows.empty()) return;
  if (lastWindowEnded) lastWindowEnded();
  termination.stop();
}

bool HostRuntime::serveDueTimers() {
  // The window is one of the host's while its timers run: windowEnded kills them.
  return timers.serveDue(
      [](void* window, int timerId) { static_cast<HostedWindow*>(window)->deliverTimer(timerId); });
}

void HostRuntime::serveTermination() {
  termination.serve(
      !windows.empty(), [this] { windows.back()->deliverTermination(); },
      [this] {
        const std::vector<HostedWindow*> all = windows;
        for (auto it = all.rbegin(); it != all.rend(); ++it) (*it)->deliverEnd();
      });
}

void HostRuntime::showProgressNumbersNow() {
  for (HostedWindow* window : windows) window->showProgressNumbers(false, true);
}

bool HostRuntime::pump(const std::function<void()>& dispatchPending) {
  const uint64_t before = dispatched;
  ++pumpDepth;
  dispatchPending();
  serveDueTimers();
  serveTermination();
  --pumpDepth;
  if (dispatched == before) {
    pumpRounds = 0;
    return false;
  }
  if (++pumpRounds > kMaxPumpRounds) {
    pumpRounds = 0;
    return false;
  }
  return true;
}

}  // namespace ui
