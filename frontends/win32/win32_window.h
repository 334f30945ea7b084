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
#include <optional>
#include <string>
#include <vector>

#include "run/run_progress.h"
#include "ui/dialog_host.h"
#include "ui/history_view.h"
#include "ui/hosted_window.h"

namespace ui::win32 {

std::wstring wide(const std::string& text);
std::string textOf(HWND window);

class Win32DialogWindow final : public HostedWindow {
 public:
  Win32DialogWindow(Dialog& dialog, ProgressSource progress);
  ~Win32DialogWindow() override;
  Win32DialogWindow(const Win32DialogWindow&) = delete;
  Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

  // Builds the window, initialises, shows and runs the dialog modally over `owner` (none:
  // the program's main window) until endDialog; returns its end code.
  int run(HWND owner);
  HWND handle() const { return m_hwnd; }
  // The control of an id of the template; nullptr for any other id.
  HWND control(int id) const;

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
  MessageBoxAnswer showMessageBox(const std::string& text, const std::string& caption,
                                  MessageBoxKind kind) override;
  // Opened over the window without a loop of its own: the answer arrives as an event that
  // the window's loop or the engine's pump dispatches.
  void askQuestion(const std::string& text, const std::string& caption,
                   std::function<void(MessageBoxAnswer)> answered) override;
  void withdrawQuestion() override;
  int runModal(Dialog& dialog) override;
  void repaint() override;
  bool pumpMessages() override;
  void appendSystemMenuItem(int command, const std::string& text) override;
  void removeSystemMenuClose() override;

  INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void initialise(HWND window);
  void command(int id, int code);
  bool systemCommand(UINT command);
  // The system menu's update set folder entry: its text and state, and its choice.
  void refreshFolderEntry();
  void chooseFolderEntry();
  const ControlTemplate* templateOf(int id) const;

  // --- HostedWindow ---
  void openHelp() override;
  void wakeLoop() override;
  bool progressRange(int id, int& low, int& high) const override;
  bool hasControl(int id) const override;
  void paintNow(int id) override;
  std::string progressNumbersText(bool sample, int percent) override;

  ProgressMeter m_meter;
  HWND m_hwnd = nullptr;
  HFONT m_fixedFont = nullptr;
  HWND m_question = nullptr;
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

// The state of the host's windows, with the toolkit's parts installed.
HostRuntime& host();
// The windows that run, the innermost last.
std::vector<Win32DialogWindow*> windows();
// Dispatches the pending messages, the due timers and the requests to end once (see
// HostRuntime::pump).
bool pump();
// Serves the thread's messages until `done` is true: the loop of every modal window.
void runLoop(const std::function<bool()>& done);
// Puts a window in the middle of its owner (of the work area when it has none).
void centre(HWND window, HWND owner);
// Opens the help address: with the opener of setHelpOpener, else in the user's browser, else
// the manual's text in a window. False when none could.
bool openHelp(const std::string& url);
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
// The shell's folder chooser (the file dialog in its folder mode), opened at `start`; nothing
// when the user cancels it.
std::optional<std::string> chooseFolder(HWND owner, const std::string& start);
// The folder of the program's own file, with its closing backslash.
std::wstring programFolder();

}  // namespace ui::win32
