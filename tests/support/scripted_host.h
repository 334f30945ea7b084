// The scripted host: runs dialogs without a screen for tests. It keeps every control's
// state, records the operations and message boxes, answers question boxes from a script,
// serves the dialog's timers by the program clock (platform::clock(), so the virtual
// clock of a simulated run drives the 100 ms tick), and carries out scripted user actions:
// at idle (the dialog's own event loop) one after another, or at the first message pump at
// which a condition holds (in the middle of a long operation).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/dialog_host.h"

namespace testing_support {

class ScriptedHost;

struct ControlState {
  ui::ControlKind kind = ui::ControlKind::StaticText;
  std::string text;
  bool enabled = true;
  bool visible = true;
  bool checked = false;
  bool sorted = false;
  std::vector<std::string> items;
  std::vector<int64_t> itemData;
  int topIndex = 0;
  int selection = -1;
  int rangeLow = 0;
  int rangeHigh = 100;
  int pos = 0;
};

class ScriptedWindow : public ui::DialogWindow {
 public:
  ScriptedWindow(ScriptedHost& host, ui::Dialog& dialog);

  // --- what the user does (events to the dialog) ---
  // A click: ignored (and recorded) on a missing, disabled or hidden control. Radio
  // buttons check themselves and uncheck their group, check boxes toggle, OK and Cancel
  // go to onOk / onCancel, everything else to onCommand.
  void click(int id);
  // Picks a combo entry and notifies the dialog.
  void select(int id, int index);
  // Opens a combo's list (the dialog is told first), as a click on its arrow does.
  void dropDown(int id);
  void escape();
  void systemCommand(int command);

  // --- state ---
  const ControlState* control(int id) const;
  bool ended() const { return m_ended; }
  int result() const { return m_result; }
  bool timerRunning(int timerId) const { return m_timers.count(timerId) != 0; }
  bool closeRemoved() const { return m_closeRemoved; }
  const std::vector<std::pair<int, std::string>>& systemMenu() const { return m_systemMenu; }
  ui::Dialog& dialog() { return m_dialog; }
  int templateId() const { return m_dialog.dialogTemplate().id; }
  int repaints = 0;

  // --- ui::DialogWindow ---
  void setText(int id, const std::string& text) override;
  std::string text(int id) const override;
  void enable(int id, bool enabled) override;
  bool isEnabled(int id) const override;
  void show(int id, bool visible) override;
  bool isVisible(int id) const override;
  void setCheck(int id, bool checked) override;
  bool isChecked(int id) const override;
  void listReset(int id) override;
  int listAdd(int id, const std::string& text) override;
  int listCount(int id) const override;
  std::string listText(int id, int index) const override;
  void listDelete(int id, int index) override;
  void listSetTopIndex(int id, int index) override;
  int listTopIndex(int id) const override;
  void listSetSelection(int id, int index) override;
  int listSelection(int id) const override;
  void comboReset(int id) override;
  int comboAdd(int id, const std::string& text) override;
  int comboCount(int id) const override;
  std::string comboText(int id, int index) const override;
  void comboSetItemData(int id, int index, int64_t data) override;
  int64_t comboItemData(int id, int index) const override;
  void comboSetSelection(int id, int index) override;
  int comboSelection(int id) const override;
  void progressSetRange(int id, int low, int high) override;
  void progressSetPos(int id, int pos) override;
  int progressPos(int id) const override;
  void setTimer(int timerId, uint32_t periodMs) override;
  void killTimer(int timerId) override;
  ui::MessageBoxAnswer showMessageBox(const std::string& text, const std::string& caption,
                                      ui::MessageBoxKind kind) override;
  void askQuestion(const std::string& text, const std::string& caption,
                   std::function<void(ui::MessageBoxAnswer)> answered) override;
  void withdrawQuestion() override;
  // Answers the open question of askQuestion once its time has come; false when none did.
  bool answerDueQuestion();
  int runModal(ui::Dialog& dialog) override;
  void endDialog(int result) override;
  void repaint() override { ++repaints; }
  bool pumpMessages() override;
  void appendSystemMenuItem(int command, const std::string& text) override;
  void removeSystemMenuClose() override { m_closeRemoved = true; }

  // Fires the first timer that is due on the program clock; false when none is.
  bool fireDueTimer();

 private:
  ControlState* find(int id);
  int insertItem(ControlState& c, const std::string& text);

  ScriptedHost& m_host;
  ui::Dialog& m_dialog;
  std::map<int, ControlState> m_controls;
  // timer id -> (period ms, next due in ms of the program clock)
  std::map<int, std::pair<uint32_t, uint64_t>> m_timers;
  std::vector<std::pair<int, std::string>> m_systemMenu;
  bool m_closeRemoved = false;
  struct OpenQuestion {
    std::function<void(ui::MessageBoxAnswer)> answered;
    ui::MessageBoxAnswer answer;
    uint64_t dueMs;
  };
  std::vector<OpenQuestion> m_question;  // at most one
  bool m_ended = false;
  int m_result = 0;
};

struct RecordedBox {
  ui::MessageBoxKind kind;
  std::string text;
  ui::MessageBoxAnswer answer;
  bool timerRunning;  // timer 1 of the window ran while the box was shown
};

class ScriptedHost : public ui::DialogHost {
 public:
  using Step = std::function<void(ScriptedWindow& window)>;

  ScriptedHost() = default;
  ~ScriptedHost() override;
  ScriptedHost(const ScriptedHost&) = delete;
  ScriptedHost& operator=(const ScriptedHost&) = delete;

  // A user action when a dialog of this template waits in its event loop. A dialog whose
  // steps have run out ends with kScriptExhausted.
  void atIdle(int templateId, Step step);
  // A user action at the first message pump (or idle turn) at which the condition holds.
  void when(std::function<bool()> condition, Step step);
  // Answers of question boxes in order; Yes once they have run out.
  std::deque<ui::MessageBoxAnswer> answers;
  // A question that does not hold up its caller (askQuestion) is answered at the first pump
  // this long after it was asked, on the program clock.
  uint64_t questionAnswerDelayMs = 0;

  int runModal(ui::Dialog& dialog) override;

  // The dialog windows open now, outermost first.
  std::vector<ScriptedWindow*> windows;
  std::vector<RecordedBox> boxes;
  // "setTimer 1 100", "killTimer 1", "runModal 130", "endDialog 2", "ignored click 1083", ...
  std::vector<std::string> operations;
  // Pumps served while a long operation ran.
  int pumps = 0;

  static constexpr int kScriptExhausted = -1;

 private:
  friend class ScriptedWindow;
  bool pumpOne();
  bool runTriggered();

  std::map<int, std::deque<Step>> m_idleSteps;
  std::vector<std::pair<std::function<bool()>, Step>> m_triggers;
};

// The texts of the boxes, in order.
std::vector<std::string> boxTexts(const std::vector<RecordedBox>& boxes);

}  // namespace testing_support
