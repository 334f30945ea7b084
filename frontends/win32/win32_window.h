// The parts of the Windows host that its files share: one dialog window built from a
// template, the open message boxes, the program-wide state of the host's windows (timers on
// the program's clock, the pump, the input guard) and its two viewers.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "run/run_progress.h"
#include "ui/dialog_host.h"
#include "ui/history_view.h"

namespace ui::win32 {

std::wstring wide(const std::string& text);
std::string textOf(HWND window);

class Win32DialogWindow final : public DialogWindow {
 public:
  Win32DialogWindow(Dialog& dialog, ProgressSource progress);
  ~Win32DialogWindow() override;
  Win32DialogWindow(const Win32DialogWindow&) = delete;
  Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

  // Builds the window, initialises, shows and runs the dialog modally over `owner` (none:
  // the program's main window) until endDialog; returns its end code.
  int run(HWND owner);
  HWND handle() const { return m_hwnd; }
  int templateId() const { return m_template.id; }
  // The control of an id of the template; nullptr for any other id.
  HWND control(int id) const;
  // True while user input to the controls other than push buttons is held back: the
  // dialog is in a long operation that serves only the timer, painting and buttons.
  bool inputHeldBack() const;

  // --- DialogWindow ---
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
  MessageBoxAnswer showMessageBox(const std::string& text, const std::string& caption,
                                  MessageBoxKind kind) override;
  // Opened over the window without a loop of its own: the answer arrives as an event that
  // the window's loop or the engine's pump dispatches.
  void askQuestion(const std::string& text, const std::string& caption,
                   std::function<void(MessageBoxAnswer)> answered) override;
  void withdrawQuestion() override;
  int runModal(Dialog& dialog) override;
  void endDialog(int result) override;
  void repaint() override;
  bool pumpMessages() override;
  void appendSystemMenuItem(int command, const std::string& text) override;
  void removeSystemMenuClose() override;

  // The host's timer and request services call these.
  void deliverTimer(int timerId);
  void showProgressNumbers(bool sample, bool paintNow);
  void deliverTermination();
  void deliverEnd();

  INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void initialise(HWND window);
  void command(int id, int code);
  void systemCommand(int command);
  void openHelp();
  // The system menu's update set folder entry: its text and state, and its choice.
  void refreshFolderEntry();
  void chooseFolderEntry();
  void deliver(const std::function<void()>& handler);
  const ControlTemplate* templateOf(int id) const;

  Dialog& m_dialog;
  const DialogTemplate& m_template;
  ProgressSource m_progress;
  ProgressMeter m_meter;
  HWND m_hwnd = nullptr;
  HFONT m_fixedFont = nullptr;
  struct MenuEntry {
    int command;
    std::string text;
  };
  std::vector<MenuEntry> m_menuEntries;
  HWND m_question = nullptr;
  bool m_running = false;
  bool m_ended = false;
  int m_result = kIdCancel;
  int m_pumpDepthAtStart = 0;
};

// --- message boxes ---

// Opens a box over `owner` (disabled while the box is open) and returns at once; `answered`
// is called once, after the box has gone. nullptr when it cannot be created.
HWND openMessageBox(const std::string& text, const std::string& caption, MessageBoxKind kind,
                    HWND owner, std::function<void(MessageBoxAnswer)> answered);
// Closes a box without an answer.
void closeMessageBox(HWND box);
// The open boxes, the newest last.
const std::vector<HWND>& openMessageBoxes();
struct BoxFacts {
  std::string text;
  std::string caption;
  MessageBoxKind kind;
};
bool boxFacts(HWND box, BoxFacts& facts);

// --- the host's state ---
namespace runtime {

void windowStarted(Win32DialogWindow* window);
void windowEnded(Win32DialogWindow* window);
const std::vector<Win32DialogWindow*>& windows();
void setTimer(Win32DialogWindow* window, int timerId, uint32_t periodMs);
void killTimer(Win32DialogWindow* window, int timerId);
bool pump();
int pumpDepth();
void countDispatch();
bool terminationRequested();
// Serves the thread's messages until `done` is true: the loop of every modal window.
void runLoop(const std::function<bool()>& done);
// Puts a window in the middle of its owner (of the work area when it has none).
void centre(HWND window, HWND owner);
// Opens the help address: with the opener of setHelpOpener, else in the user's browser, else
// the manual's text in a window. False when none could.
bool openHelp(const std::string& url);
void setTestPoll(uint32_t periodMs, std::function<void()> poll);
HICON applicationIcon(int pixels);

}  // namespace runtime

// --- viewers ---

// The manual's text (manual.md beside the program) in a read-only window of its own, at the
// heading with `anchor`, without a loop of its own. False when there is no manual.
bool showHelpText(HWND owner, const std::string& anchor);
HWND helpTextViewer();
// The history table, modal, the newest row selected and in view.
void runHistoryViewer(HWND owner, const HistoryTable& table);
HWND historyViewer();
// The folder of the program's own file, with its closing backslash.
std::wstring programFolder();

}  // namespace ui::win32
