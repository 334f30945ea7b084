// Dialog templates: what a dialog window is made of, in the units of the dialog's font.
//
// A host (the desktop window, the console, the tests' scripted host) builds its window from
// a template and routes events to the dialog object by control id. Rectangles are in dialog
// units: a horizontal unit is a quarter of the font's average character width, a vertical
// unit an eighth of its height.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ui {

enum class ControlKind : uint8_t {
  GroupBox,
  StaticText,
  PushButton,
  RadioButton,  // auto radio button: checking one unchecks the others of its group
  CheckBox,     // auto check box
  ListBox,
  ComboBox,  // drop-down list
  ProgressBar,
  Icon,  // the application icon
};

// Style bits of a control.
inline constexpr uint32_t kStyleGroupStart = 1u << 0;     // first control of a radio group
inline constexpr uint32_t kStyleDefaultButton = 1u << 1;  // Enter presses it
inline constexpr uint32_t kStyleDisabled = 1u << 2;
inline constexpr uint32_t kStyleHidden = 1u << 3;
inline constexpr uint32_t kStyleSorted = 1u << 4;    // list or combo keeps its items sorted by text
inline constexpr uint32_t kStyleVScroll = 1u << 5;   // vertical scroll bar
inline constexpr uint32_t kStyleBorder = 1u << 6;    // list box with a border
inline constexpr uint32_t kStyleCentered = 1u << 7;  // static text centred
inline constexpr uint32_t kStyleMultiline = 1u << 8;  // button text on more than one line

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct ControlTemplate {
  int id = 0;  // -1: a control without an id (a group box that nothing addresses)
  ControlKind kind = ControlKind::StaticText;
  std::string text;  // "\n" breaks a line
  Rect rect;
  uint32_t style = 0;
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  int width = 0;  // dialog units
  int height = 0;
  std::string fontName;
  int fontPoints = 8;
  bool systemMenu = true;  // title bar with a system menu (no minimise or maximise box)
  std::vector<ControlTemplate> controls;
  // The anchor of the manual's section about this window ("the-configuration-dialog"); empty
  // when the manual has no section of its own for it: Help opens the manual at its start.
  std::string helpSection;

  // The control with this id; nullptr when there is none.
  const ControlTemplate* control(int controlId) const;
};

// Standard control ids and dialog results.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
// The Help button, which the desktop hosts handle themselves: they open the manual.
inline constexpr int kIdHelp = 57670;
// A static text that a host fills with the run's progress numbers (run/run_progress.h)
// while a timer of its dialog runs and during a bounded wait; the dialog never writes it.
inline constexpr int kIdProgressNumbers = 1094;

}  // namespace ui
