// Dialog templates as Windows builds dialogs from them: the extended dialog template
// (DLGTEMPLATEEX) in memory, with the template's control ids, rectangles in dialog units,
// styles and font. Plain data and numbers, without the system's headers, so that the
// layout is checked on every system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/utf8_text.h"
#include "ui/dialog_template.h"

namespace ui::win32 {

// Window styles and the styles of the system's control classes that the templates use.
namespace style {
inline constexpr uint32_t kPopup = 0x80000000u;
inline constexpr uint32_t kChild = 0x40000000u;
inline constexpr uint32_t kVisible = 0x10000000u;
inline constexpr uint32_t kDisabled = 0x08000000u;
inline constexpr uint32_t kCaption = 0x00C00000u;
inline constexpr uint32_t kVScroll = 0x00200000u;
inline constexpr uint32_t kHScroll = 0x00100000u;
inline constexpr uint32_t kSysMenu = 0x00080000u;
inline constexpr uint32_t kGroup = 0x00020000u;
inline constexpr uint32_t kTabStop = 0x00010000u;
inline constexpr uint32_t kDsSetFont = 0x40u;
inline constexpr uint32_t kDsModalFrame = 0x80u;
inline constexpr uint32_t kDsFixedSys = 0x08u;  // with kDsSetFont: the shell's dialog font
inline constexpr uint32_t kDs3dLook = 0x04u;
inline constexpr uint32_t kExClientEdge = 0x200u;
inline constexpr uint32_t kBsDefPushButton = 0x1u;
inline constexpr uint32_t kBsAutoCheckBox = 0x3u;
inline constexpr uint32_t kBsGroupBox = 0x7u;
inline constexpr uint32_t kBsAutoRadioButton = 0x9u;
inline constexpr uint32_t kBsMultiline = 0x2000u;
inline constexpr uint32_t kSsCenter = 0x1u;
inline constexpr uint32_t kSsIcon = 0x3u;
inline constexpr uint32_t kSsNoPrefix = 0x80u;
inline constexpr uint32_t kLbsNotify = 0x1u;
inline constexpr uint32_t kLbsNoIntegralHeight = 0x100u;
inline constexpr uint32_t kCbsDropDownList = 0x3u;
inline constexpr uint32_t kEsMultiline = 0x4u;
inline constexpr uint32_t kEsAutoVScroll = 0x40u;
inline constexpr uint32_t kEsReadOnly = 0x800u;
inline constexpr uint32_t kLvsReport = 0x1u;
inline constexpr uint32_t kLvsSingleSel = 0x4u;
inline constexpr uint32_t kLvsShowSelAlways = 0x8u;
}  // namespace style

// The predefined classes by their ordinals.
inline constexpr uint16_t kClassButton = 0x80;
inline constexpr uint16_t kClassEdit = 0x81;
inline constexpr uint16_t kClassStatic = 0x82;
inline constexpr uint16_t kClassListBox = 0x83;
inline constexpr uint16_t kClassComboBox = 0x85;
// The common controls' classes by name.
inline constexpr const char16_t* kClassProgress = u"msctls_progress32";
inline constexpr const char16_t* kClassListView = u"SysListView32";

// The dialog font: Windows' own name for the desktop's dialog font stands for the old bitmap
// font that the templates name (same metrics, drawn smoothly).
inline constexpr const char16_t* kShellDialogFont = u"MS Shell Dlg";

struct ResourceItem {
  uint32_t id = 0;
  uint16_t classOrdinal = 0;  // 0: the class is named by className
  std::u16string className;
  std::u16string text;
  Rect rect;  // dialog units
  uint32_t style = 0;
  uint32_t exStyle = 0;
};

struct ResourceDialog {
  std::u16string caption;
  Rect size;  // dialog units; x and y are where it stands on its owner (0, 0: Windows places it)
  uint32_t style = 0;
  uint32_t exStyle = 0;
  std::u16string fontName = kShellDialogFont;
  uint16_t fontPoints = 8;
  std::vector<ResourceItem> items;
};

// The dialog resource of a template: each control with its class and styles, the first of a
// radio group starting it, push buttons, check boxes, lists and the first radio button of a
// group reachable by Tab.
ResourceDialog resourceFor(const DialogTemplate& dialog);

// The bytes of the extended dialog template (as 16-bit words, so that the buffer is aligned
// as Windows asks): the header, the font, then each item on a 32-bit boundary.
std::vector<uint16_t> buildDialogResource(const ResourceDialog& dialog);

// UTF-8 to UTF-16 and back (platform/utf8_text.h): the texts of the resource and of the
// windows.
using platform::utf16;
using platform::utf8;

}  // namespace ui::win32
