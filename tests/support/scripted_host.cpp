#include "tests/support/scripted_host.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/message_pump.h"
#include "ui/message_box.h"

namespace testing_support {
namespace {

uint64_t nowMs() {
  return platform::clock().nowMicros() / 1000;
}

}  // namespace

ScriptedWindow::ScriptedWindow(ScriptedHost& host, ui::Dialog& dialog)
    : m_host(host), m_dialog(dialog) {
  for (const ui::ControlTemplate& t : dialog.dialogTemplate().controls) {
    if (t.id < 0) continue;
    ControlState& c = m_controls[t.id];
    c.kind = t.kind;
    c.text = t.text;
    c.enabled = (t.style & ui::kStyleDisabled) == 0;
    c.visible = (t.style & ui::kStyleHidden) == 0;
    c.sorted = (t.style & ui::kStyleSorted) != 0;
  }
}

ControlState* ScriptedWindow::find(int id) {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : &it->second;
}

const ControlState* ScriptedWindow::control(int id) const {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : &it->second;
}

void ScriptedWindow::click(int id) {
  ControlState* c = find(id);
  if (c == nullptr || !c->enabled || !c->visible || m_ended) {
    m_host.operations.push_back("ignored click " + std::to_string(id));
    return;
  }
  if (c->kind == ui::ControlKind::RadioButton) {
    // The radio group: from the last group start at or before the button to the next one.
    const auto& controls = m_dialog.dialogTemplate().controls;
    size_t self = 0;
    while (controls[self].id != id) ++self;
    size_t first = self;
    while (first > 0 && (controls[first].style & ui::kStyleGroupStart) == 0) --first;
    for (size_t i = first; i < controls.size(); ++i) {
      if (i > first && (controls[i].style & ui::kStyleGroupStart) != 0) break;
      if (controls[i].kind == ui::ControlKind::RadioButton) setCheck(controls[i].id, i == self);
    }
  } else if (c->kind == ui::ControlKind::CheckBox) {
    c->checked = !c->checked;
  }
  if (id == ui::kIdOk && c->kind == ui::ControlKind::PushButton) {
    m_dialog.onOk();
  } else if (id == ui::kIdCancel && c->kind == ui::ControlKind::PushButton) {
    m_dialog.onCancel();
  } else {
    m_dialog.onCommand(id, ui::Notification::Clicked);
  }
}

void ScriptedWindow::select(int id, int index) {
  ControlState* c = find(id);
  if (c == nullptr || !c->enabled) return;
  c->selection = index;
  m_dialog.onCommand(id, ui::Notification::SelectionChanged);
}

void ScriptedWindow::dropDown(int id) {
  ControlState* c = find(id);
  if (c == nullptr || !c->enabled || !c->visible) return;
  m_dialog.onCommand(id, ui::Notification::DropDown);
}

void ScriptedWindow::escape() {
  m_dialog.onCancel();
}

void ScriptedWindow::systemCommand(int command) {
  if (m_dialog.onSystemCommand(command)) return;
  if ((command & 0xFFF0) == ui::kSysCommandClose && !m_closeRemoved) endDialog(ui::kIdCancel);
}

void ScriptedWindow::setText(int id, const std::string& text) {
  if (ControlState* c = find(id)) c->text = text;
}
std::string ScriptedWindow::text(int id) const {
  const ControlState* c = control(id);
  return c ? c->text : std::string();
}
void ScriptedWindow::enable(int id, bool enabled) {
  if (ControlState* c = find(id)) c->enabled = enabled;
}
bool ScriptedWindow::isEnabled(int id) const {
  const ControlState* c = control(id);
  return c && c->enabled;
}
void ScriptedWindow::show(int id, bool visible) {
  if (ControlState* c = find(id)) c->visible = visible;
}
bool ScriptedWindow::isVisible(int id) const {
  const ControlState* c = control(id);
  return c && c->visible;
}
void ScriptedWindow::setCheck(int id, bool checked) {
  if (ControlState* c = find(id)) c->checked = checked;
}
bool ScriptedWindow::isChecked(int id) const {
  const ControlState* c = control(id);
  return c && c->checked;
}

int ScriptedWindow::insertItem(ControlState& c, const std::string& text) {
  size_t at = c.items.size();
  if (c.sorted) at = std::upper_bound(c.items.begin(), c.items.end(), text) - c.items.begin();
  c.items.insert(c.items.begin() + static_cast<long>(at), text);
  c.itemData.insert(c.itemData.begin() + static_cast<long>(at), 0);
  return static_cast<int>(at);
}

void ScriptedWindow::listReset(int id) {
  if (ControlState* c = find(id)) {
    c->items.clear();
    c->itemData.clear();
    c->topIndex = 0;
    c->selection = -1;
  }
}
int ScriptedWindow::listAdd(int id, const std::string& text) {
  ControlState* c = find(id);
  return c ? insertItem(*c, text) : -1;
}
int ScriptedWindow::listCount(int id) const {
  const ControlState* c = control(id);
  return c ? static_cast<int>(c->items.size()) : 0;
}
std::string ScriptedWindow::listText(int id, int index) const {
  const ControlState* c = control(id);
  if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return {};
  return c->items[index];
}
void ScriptedWindow::listDelete(int id, int index) {
  ControlState* c = find(id);
  if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return;
  c->items.erase(c->items.begin() + index);
  c->itemData.erase(c->itemData.begin() + index);
  if (c->selection == index) c->selection = -1;
  if (c->selection > index) --c->selection;
}
void ScriptedWindow::listSetTopIndex(int id, int index) {
  if (ControlState* c = find(id)) c->topIndex = index;
}
int ScriptedWindow::listTopIndex(int id) const {
  const ControlState* c = control(id);
  return c ? c->topIndex : -1;
}
void ScriptedWindow::listSetSelection(int id, int index) {
  if (ControlState* c = find(id)) c->selection = index;
}
int ScriptedWindow::listSelection(int id) const {
  const ControlState* c = control(id);
  return c ? c->selection : -1;
}
void ScriptedWindow::comboReset(int id) {
  listReset(id);
}
int ScriptedWindow::comboAdd(int id, const std::string& text) {
  return listAdd(id, text);
}
int ScriptedWindow::comboCount(int id) const {
  return listCount(id);
}
std::string ScriptedWindow::comboText(int id, int index) const {
  return listText(id, index);
}
void ScriptedWindow::comboSetItemData(int id, int index, int64_t data) {
  ControlState* c = find(id);
  if (c && index >= 0 && index < static_cast<int>(c->itemData.size())) c->itemData[index] = data;
}
int64_t ScriptedWindow::comboItemData(int id, int index) const {
  const ControlState* c = control(id);
  if (!c || index < 0 || index >= static_cast<int>(c->itemData.size())) return -1;
  return c->itemData[index];
}
void ScriptedWindow::comboSetSelection(int id, int index) {
  listSetSelection(id, index);
}
int ScriptedWindow::comboSelection(int id) const {
  return listSelection(id);
}
void ScriptedWindow::progressSetRange(int id, int low, int high) {
  if (ControlState* c = find(id)) {
    c->rangeLow = low;
    c->rangeHigh = high;
  }
}
void ScriptedWindow::progressSetPos(int id, int pos) {
  if (ControlState* c = find(id)) c->pos = std::clamp(pos, c->rangeLow, c->rangeHigh);
}
int ScriptedWindow::progressPos(int id) const {
  const ControlState* c = control(id);
  return c ? c->pos : 0;
}

void ScriptedWindow::setTimer(int timerId, uint32_t periodMs) {
  m_host.operations.push_back("setTimer " + std::to_string(timerId) + " " +
                              std::to_string(periodMs));
  m_timers[timerId] = {periodMs, nowMs() + periodMs};
}
void ScriptedWindow::killTimer(int timerId) {
  m_host.operations.push_back("killTimer " + std::to_string(timerId));
  m_timers.erase(timerId);
}

bool ScriptedWindow::fireDueTimer() {
  const uint64_t now = nowMs();
  for (auto& [id, timer] : m_timers) {
    if (now < timer.second) continue;
    // Ticks missed while nobody pumped are not caught up, as with a window timer.
    timer.second = now + timer.first;
    m_dialog.onTimer(id);
    return true;
  }
  return false;
}

ui::MessageBoxAnswer ScriptedWindow::showMessageBox(const std::string& text, const std::string&,
                                                    ui::MessageBoxKind kind) {
  ui::MessageBoxAnswer answer = ui::MessageBoxAnswer::Ok;
  if (kind == ui::MessageBoxKind::Question) {
    answer = ui::MessageBoxAnswer::Yes;
    if (!m_host.answers.empty()) {
      answer = m_host.answers.front();
      m_host.answers.pop_front();
    }
  }
  m_host.boxes.push_back({kind, text, answer, timerRunning(1)});
  m_host.operations.push_back(std::string("box ") + ui::messageBoxKindName(kind) + " " + text);
  return answer;
}

void ScriptedWindow::askQuestion(const std::string& text, const std::string&,
                                 std::function<void(ui::MessageBoxAnswer)> answered) {
  ui::MessageBoxAnswer answer = ui::MessageBoxAnswer::Yes;
  if (!m_host.answers.empty()) {
    answer = m_host.answers.front();
    m_host.answers.pop_front();
  }
  m_host.boxes.push_back({ui::MessageBoxKind::Question, text, answer, timerRunning(1)});
  m_host.operations.push_back("question " + text);
  m_question.assign(1, {std::move(answered), answer, nowMs() + m_host.questionAnswerDelayMs});
}

void ScriptedWindow::withdrawQuestion() {
  if (m_question.empty()) return;
  m_host.operations.push_back("withdraw question");
  m_question.clear();
}

bool ScriptedWindow::answerDueQuestion() {
  if (m_question.empty() || nowMs() < m_question.front().dueMs) return false;
  OpenQuestion question = std::move(m_question.front());
  m_question.clear();
  m_host.operations.push_back(std::string("answer ") +
                              (question.answer == ui::MessageBoxAnswer::Yes ? "yes" : "no"));
  question.answered(question.answer);
  return true;
}

int ScriptedWindow::runModal(ui::Dialog& dialog) {
  return m_host.runModal(dialog);
}

void ScriptedWindow::endDialog(int result) {
  m_host.operations.push_back("endDialog " + std::to_string(result));
  if (m_ended) return;
  m_ended = true;
  m_result = result;
}

bool ScriptedWindow::pumpMessages() {
  bool any = false;
  while (m_host.pumpOne()) any = true;
  return any;
}

void ScriptedWindow::appendSystemMenuItem(int command, const std::string& text) {
  m_systemMenu.emplace_back(command, text);
}

ScriptedHost::~ScriptedHost() {
  if (!windows.empty()) platform::setMessagePumpHook(nullptr);
}

void ScriptedHost::atIdle(int templateId, Step step) {
  m_idleSteps[templateId].push_back(std::move(step));
}

void ScriptedHost::when(std::function<bool()> condition, Step step) {
  m_triggers.emplace_back(std::move(condition), std::move(step));
}

bool ScriptedHost::runTriggered() {
  if (windows.empty()) return false;
  for (size_t i = 0; i < m_triggers.size(); ++i) {
    if (!m_triggers[i].first()) continue;
    Step step = std::move(m_triggers[i].second);
    m_triggers.erase(m_triggers.begin() + static_cast<long>(i));
    step(*windows.back());
    return true;
  }
  return false;
}

bool ScriptedHost::pumpOne() {
  if (windows.empty() || windows.back()->ended()) return false;
  if (runTriggered()) return true;
  if (windows.back()->answerDueQuestion()) return true;
  return windows.back()->fireDueTimer();
}

int ScriptedHost::runModal(ui::Dialog& dialog) {
  operations.push_back("runModal " + std::to_string(dialog.dialogTemplate().id));
  ScriptedWindow window(*this, dialog);
  windows.push_back(&window);
  if (windows.size() == 1) {
    platform::setMessagePumpHook([this] {
      const bool dispatched = pumpOne();
      if (dispatched) ++pumps;
      return dispatched;
    });
  }
  dialog.m_window = &window;
  dialog.onInitDialog();
  while (!window.ended()) {
    if (pumpOne()) continue;
    std::deque<Step>& steps = m_idleSteps[window.templateId()];
    if (steps.empty()) {
      window.endDialog(kScriptExhausted);
      break;
    }
    Step step = std::move(steps.front());
    steps.pop_front();
    step(window);
  }
  dialog.onDestroy();
  dialog.m_window = nullptr;
  windows.pop_back();
  if (windows.empty()) platform::setMessagePumpHook(nullptr);
  return window.result();
}

std::vector<std::string> boxTexts(const std::vector<RecordedBox>& boxes) {
  std::vector<std::string> texts;
  for (const RecordedBox& box : boxes) texts.push_back(box.text);
  return texts;
}

}  // namespace testing_support
