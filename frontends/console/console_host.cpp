#include "frontends/console/console_host.h"

#include <memory>
#include <utility>

#include "frontends/console/console_window.h"
#include "platform/clock.h"
#include "platform/message_pump.h"
#include "platform/requests.h"
#include "run/run_progress.h"

namespace ui {
namespace {

// A second request to end ends the program within this time even where no pump comes.
constexpr unsigned kEndGraceSeconds = 2;

}  // namespace

void ConsoleHost::Impl::deliverTermination(ConsoleWindow& window) {
  // Nobody may be left to answer: boxes from now on are answered at once.
  options.assumeYes = true;
  closeQuestion(nullptr);
  if (!window.dialog().onSystemCommand(kSysCommandTerminate)) window.dialog().onCancel();
}

void ConsoleHost::Impl::endProgram() {
  // On the way out now: the record's append is bounded by its own lock wait.
  platform::cancelEndGrace();
  closeQuestion(nullptr);
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    (*it)->dialog().onSystemCommand(kSysCommandTerminateNow);
  }
  beginOutput();
  flush();
  platform::endAsRequested();
}

void ConsoleHost::Impl::deliverInterrupt(ConsoleWindow& window) {
  const int id = options.interruptControlId;
  const ConsoleWindow::Control* control = id >= 0 ? window.find(id) : nullptr;
  if (control && control->enabled && control->visible) {
    window.dialog().onCommand(id, Notification::Clicked);
  } else {
    window.dialog().onCancel();
  }
}

bool ConsoleHost::Impl::dispatchOne() {
  if (windows.empty()) return false;
  ConsoleWindow& window = *windows.back();
  if (window.ended()) return false;
  if (takeTermination()) {
    deliverTermination(window);
    return true;
  }
  if (serveQuestion()) return true;
  if (takeInterrupt()) {
    deliverInterrupt(window);
    return true;
  }
  const uint64_t now = platform::clock().nowMicros();
  for (const ConsoleWindow::Timer& timer : window.timers()) {
    if (now < timer.dueMicros) continue;
    const int id = timer.id;
    window.dialog().onTimer(id);
    // The handler may have killed or restarted it; the next tick is one period after this.
    for (ConsoleWindow::Timer& t : window.timers()) {
      if (t.id == id) t.dueMicros = platform::clock().nowMicros() + uint64_t{t.periodMs} * 1000;
    }
    drawProgress(window, true);
    return true;
  }
  return false;
}

ConsoleHost::ConsoleHost(ConsoleOptions options)
    : m_impl(std::make_unique<Impl>(std::move(options))) {}

ConsoleHost::~ConsoleHost() = default;

bool ConsoleHost::interactive() const {
  return m_impl->interactive();
}

bool ConsoleHost::outputIsTerminal() const {
  return m_impl->outputTerminal;
}

void ConsoleHost::requestInterrupt() {
  platform::postRequest(platform::Request::Interrupt);
}

void ConsoleHost::postCommand(int controlId) {
  post([this, controlId] {
    if (m_impl->windows.empty()) return;
    ConsoleWindow& window = *m_impl->windows.front();
    window.dialog().onCommand(controlId, Notification::Clicked);
  });
}

void ConsoleHost::post(std::function<void()> action) {
  m_impl->posted.push_back(std::move(action));
}

int ConsoleHost::runModal(Dialog& dialog) {
  Impl& impl = *m_impl;
  const bool outermost = impl.windows.empty();
  auto window = std::make_unique<ConsoleWindow>(impl, *this, dialog);
  if (outermost) {
    // A request to end the program stops the run at its next pump, as a confirmed cancel,
    // so that it ends with its lines; a second one ends the program once the dialogs wrote
    // what must not be lost, a third (or the grace time over) at once.
    impl.requests = std::make_unique<platform::RequestCatcher>(
        platform::RequestCatching{.interrupt = impl.options.catchInterrupt,
                                  .termination = impl.options.catchTermination,
                                  .secondTerminationEnds = impl.options.catchTermination,
                                  .secondTerminationGraceSeconds = kEndGraceSeconds});
    // Output that nobody reads any more (a pager or `head` that has quit) must not end the
    // program in the middle of programming a flash: the run goes on without its output.
    impl.closedOutput = std::make_unique<platform::ClosedOutputTolerated>();
    impl.terminationsTaken = 0;
    platform::setMessagePumpHook([&impl] { return impl.dispatchOne(); });
    // The reboot wait draws the progress line at each of its tries, so that a
    // reader of the plain lines (the fleet) can tell a long quiet wait from a hung run.
    setBoundedWaitHook([&impl] {
      if (!impl.windows.empty()) impl.drawProgress(*impl.windows.back(), false);
    });
  }
  impl.windows.push_back(window.get());
  dialog.m_window = window.get();
  dialog.onInitDialog();

  // Only the outermost dialog gets the queued work; one opened from it has nobody to
  // answer it in a console and ends with its cancel command.
  while (!window->ended()) {
    if (impl.takeTermination()) {
      impl.deliverTermination(*window);
      continue;
    }
    if (takeInterrupt()) {
      impl.deliverInterrupt(*window);
      continue;
    }
    if (outermost && !impl.posted.empty()) {
      std::function<void()> action = std::move(impl.posted.front());
      impl.posted.pop_front();
      action();
      continue;
    }
    dialog.onCancel();
    if (!window->ended()) window->endDialog(kIdCancel);
  }

  impl.closeQuestion(nullptr);
  impl.beginOutput();
  impl.flush();
  dialog.onDestroy();
  dialog.m_window = nullptr;
  impl.windows.pop_back();
  if (outermost) {
    platform::setMessagePumpHook({});
    setBoundedWaitHook({});
    // The next dialog starts counting the requests afresh.
    impl.closedOutput.reset();
    impl.requests.reset();
    impl.terminationsTaken = 0;
    impl.posted.clear();
    impl.forgetLastLine();
  }
  return window->result();
}

}  // namespace ui
