#include "ui/hosted_window.h"

#include <algorithm>

#include "ui/folder_menu.h"
#include "ui/history_view.h"

namespace ui {
HostedWindow::HostedWindow(Dialog& dialog, HostRuntime& runtime, ProgressSource progress)
    : m_dialog(dialog),
      m_template(dialog.dialogTemplate()),
      m_runtime(runtime),
      m_progress(std::move(progress)) {}

bool HostedWindow::inputHeldBack() const {
  return m_running && m_runtime.pumpDepth > m_pumpDepthAtStart;
}

void HostedWindow::beginRun() {
  m_pumpDepthAtStart = m_runtime.pumpDepth;
  m_running = true;
  m_runtime.windowStarted(this);
}

void HostedWindow::initialiseDialog() {
  m_dialog.m_window = this;
  m_dialog.onInitDialog();
}

void HostedWindow::endRun() {
  m_running = false;
  m_runtime.windowEnded(this);
  m_dialog.onDestroy();
  m_dialog.m_window = nullptr;
}

void HostedWindow::deliver(const std::function<void()>& handler) {
  if (!m_running || m_ended) return;
  ++m_runtime.dispatched;
  handler();
}

void HostedWindow::route(int id, Notification notification) {
  if (notification != Notification::Clicked) {
    deliver([this, id, notification] { m_dialog.onCommand(id, notification); });
    return;
  }
  // The help command belongs to the application, not to the dialog.
  if (id == kIdHelp) {
    openHelp();
    return;
  }
  deliver([this, id] {
    if (id == kIdOk) {
      m_dialog.onOk();
    } else if (id == kIdCancel) {
      m_dialog.onCancel();
    } else {
      m_dialog.onCommand(id, Notification::Clicked);
    }
  });
}

void HostedWindow::routeSystemCommand(int command) {
  deliver([this, command] {
    if (!m_dialog.onSystemCommand(command) && command == kSysCommandClose) m_dialog.onCancel();
  });
}

void HostedWindow::deliverTermination() {
  withdrawQuestion();
  deliver([this] {
    if (!m_dialog.onSystemCommand(kSysCommandTerminate)) m_dialog.onCancel();
  });
}

void HostedWindow::deliverEnd() {
  m_dialog.onSystemCommand(kSysCommandTerminateNow);
}

void HostedWindow::deliverTimer(int timerId) {
  deliver([this, timerId] { m_dialog.onTimer(timerId); });
  showProgressNumbers(true, false);
}

void HostedWindow::showProgressNumbers(bool sample, bool paintNow) {
  if (!m_running || !hasControl(kIdProgressNumbers)) return;
  int percent = -1;
  int low = 0;
  int high = 0;
  if (progressRange(m_progress.transferBarId, low, high)) {
    const int value = progressPos(m_progress.transferBarId);
    percent = (std::max(value, low) - low) * 100 / std::max(1, high - low);
  }
  const std::string numbers = progressNumbersText(sample, percent);
  if (numbers == text(kIdProgressNumbers)) return;
  setText(kIdProgressNumbers, numbers);
  if (paintNow) this->paintNow(kIdProgressNumbers);
}

void HostedWindow::progressMoved(int id, int before, int value, int low, int high) {
  if (id != m_progress.transferBarId) return;
  if (value == low) setText(kIdProgressNumbers, "");
  if (value == high && before != value) showProgressNumbers(true, true);
}

std::optional<MessageBoxAnswer> HostedWindow::answerWithoutBox(MessageBoxKind kind) {
  withdrawQuestion();
  if (!m_runtime.termination.requested()) return std::nullopt;
  return kind == MessageBoxKind::Question ? MessageBoxAnswer::Yes : MessageBoxAnswer::Ok;
}

bool HostedWindow::offersHistory() const {
  return hasMenuEntries() && static_cast<bool>(historyProvider());
}

bool HostedWindow::offersUpdateSetFolder() const {
  return hasMenuEntries() && static_cast<bool>(updateSetFolderService().folder);
}

bool HostedWindow::saysUpdateSetFolderProblem() const {
  return hasMenuEntries() && !updateSetFolderService().startProblem.empty();
}

void HostedWindow::setTimer(int timerId, uint32_t periodMs) {
  m_runtime.timers.set(this, timerId, periodMs);
  if (m_runtime.timersChanged) m_runtime.timersChanged();
}

void HostedWindow::killTimer(int timerId) {
  m_runtime.timers.kill(this, timerId);
  if (m_runtime.timersChanged) m_runtime.timersChanged();
}

void HostedWindow::endDialog(int result) {
  m_result = result;
  m_ended = true;
  wakeLoop();
}

void HostedWindow::appendSystemMenuItem(int command, const std::string& text) {
  m_menuEntries.push_back(MenuEntry{command, text});
}

}  // namespace ui
