// What the host offers its tests: windows and controls found by their ids, their texts,
// states and places, the user's clicks and keys (posted, so that the handler a click starts
// does not hold up the caller), the open message box, and a poll that runs inside every
// loop of the host (its dialogs, its boxes and the pumps of a long operation).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/dialog_host.h"

namespace ui::win32::test_hooks {

// Calls `poll` every `periodMs` of real time while the host serves events; an empty
// function stops it.
void setPoll(uint32_t periodMs, std::function<void()> poll);

// The shown window of a dialog template.
bool dialogShown(int dialogId);
std::string dialogCaption(int dialogId);
// True when the window has the input: no box or other dialog above it.
bool dialogHasInput(int dialogId);

struct ControlState {
  bool exists = false;
  bool visible = false;
  bool enabled = false;
  bool checked = false;
  bool defaultButton = false;
  std::string text;
  Rect pixels;  // in the dialog's client area
};
ControlState control(int dialogId, int controlId);
// A template rectangle in the dialog's pixels, as the system converts dialog units.
Rect dialogUnitsToPixels(int dialogId, const Rect& units);
// The width of a text in the control's font, in pixels.
int textWidth(int dialogId, int controlId, const std::string& text);

std::vector<std::string> listLines(int dialogId, int controlId);
int listSelection(int dialogId, int controlId);
std::vector<std::string> comboTexts(int dialogId, int controlId);
int comboSelection(int dialogId, int controlId);
int progressPos(int dialogId, int controlId);
std::vector<std::string> systemMenuTexts(int dialogId);

// A mouse click at the middle of the control, as the user's.
void click(int dialogId, int controlId);
// The user picks an item of a combo box.
void chooseComboItem(int dialogId, int controlId, int index);
// Opens a combo box's list (it tells the dialog first) and closes it again.
void openComboList(int dialogId, int controlId);
// Tells the dialog's window that a device came (arrived) or went, as Windows does.
void tellDeviceChange(int dialogId, bool arrived);
// A key pressed in the window that has the input (a dialog or a box).
void pressKey(int virtualKey);
// A command of the window's system menu (its title bar).
void systemCommand(int dialogId, int command);

struct BoxState {
  bool shown = false;
  std::string text;
  std::string caption;
  MessageBoxKind kind = MessageBoxKind::Information;
  bool noIsDefault = false;
};
// The message box that is open now (the topmost).
BoxState messageBox();
void answerMessageBox(MessageBoxAnswer answer);

// The history viewer: its rows as shown, the selected row, and its closing.
bool historyShown();
std::vector<std::vector<std::string>> historyRows();
int historySelection();
void closeHistory();

// The help's text window: the line at its top (empty when it is not open), and its closing.
std::string helpTextTopLine();
void closeHelpText();
// Its text as shown: how many characters are selected, and whether its font is fixed-width.
struct HelpTextLook {
  int selectedChars = 0;
  bool fixedWidthFont = false;
};
HelpTextLook helpTextLook();

// The history's columns: each one's width, and the room that its header's text and its
// widest cell need as the header and the list draw them (the text and 3 edges on each side
// of it), in pixels.
struct HistoryColumn {
  int width = 0;
  int headerNeeds = 0;
  int widestCellNeeds = 0;
};
std::vector<HistoryColumn> historyColumns();

// A picture of a dialog window with its frame: width, height and the pixels, row by row
// from the top, 0x00RRGGBB. Empty when the window is not shown.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};
Picture picture(int dialogId);
// The same of the message box that is open now.
Picture messageBoxPicture();
// The dialog with its system menu opened (as Alt+Space opens it), the menu drawn where it
// stands over the window; the menu is closed again. `enabled` (when given) gets each entry's
// state as the menu showed it, in the order of systemMenuTexts.
Picture systemMenuPicture(int dialogId, std::vector<bool>* enabled = nullptr);
// The same of the history and of the help's text window.
Picture historyPicture();
Picture helpTextPicture();

}  // namespace ui::win32::test_hooks
