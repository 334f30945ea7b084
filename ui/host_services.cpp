#include "ui/host_services.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/requests.h"

namespace ui {
namespace {

// Time the program has to end by itself after the second request to end.
constexpr unsigned kEndGraceSeconds = 2;

}  // namespace

void HostTimers::set(void* window, int timerId, uint32_t periodMs) {
  const uint64_t period = static_cast<uint64_t>(periodMs == 0 ? 1 : periodMs) * 1000;
  const uint64_t now = platform::clock().nowMicros();
  for (Timer& t : m_timers) {
    if (t.window == window && t.timerId == timerId) {
      t.periodMicros = period;
      t.dueMicros = now + period;
      return;
    }
  }
  m_timers.push_back(Timer{window, timerId, period, now + period});
}

void HostTimers::kill(void* window, int timerId) {
  std::erase_if(m_timers,
                [&](const Timer& t) { return t.window == window && t.timerId == timerId; });
}

void HostTimers::killAll(void* window) {
  std::erase_if(m_timers, [window](const Timer& t) { return t.window == window; });
}

bool HostTimers::serveDue(const std::function<void(void* window, int timerId)>& fire) {
  if (m_serving) return false;
  m_serving = true;
  bool fired = false;
  const uint64_t now = platform::clock().nowMicros();
  // A copy: a handler may set or kill timers.
  const std::vector<Timer> timers = m_timers;
  for (const Timer& due : timers) {
    if (due.dueMicros > now) continue;
    bool stillSet = false;
    for (Timer& t : m_timers) {
      if (t.window == due.window && t.timerId == due.timerId && t.dueMicros == due.dueMicros) {
        t.dueMicros = now + t.periodMicros;
        stillSet = true;
      }
    }
    if (!stillSet) continue;
    fire(due.window, due.timerId);
    fired = true;
  }
  m_serving = false;
  return fired;
}

struct HostTermination::Catcher {
  platform::RequestCatcher catcher{
      platform::RequestCatching{.interrupt = false,
                                .termination = true,
                                .secondTerminationEnds = true,
                                .secondTerminationGraceSeconds = kEndGraceSeconds}};
};

HostTermination::HostTermination() = default;
HostTermination::~HostTermination() = default;

void HostTermination::start() {
  if (!m_catcher) m_catcher = std::make_unique<Catcher>();
}

void HostTermination::stop() {
  m_catcher.reset();
  m_seen = 0;
  m_served = false;
}

bool HostTermination::requested() const {
  return m_seen != 0 || platform::pendingRequests(platform::Request::Termination) != 0;
}

void HostTermination::serve(bool windowsOpen, const std::function<void()>& cancelInnermost,
                            const std::function<void()>& endEveryWindow) {
  m_seen += platform::takeAllRequests(platform::Request::Termination);
  if (m_seen >= 2) {
    // On the way out; what the windows write is bounded by its own waits.
    platform::cancelEndGrace();
    endEveryWindow();
    platform::endAsRequested();
  }
  if (m_served || m_seen == 0 || !windowsOpen) return;
  m_served = true;
  cancelInnermost();
}

}  // namespace ui
