#include "frontends/win32/dialog_resource.h"

namespace ui::win32 {
namespace {

void putWord(std::vector<uint16_t>& out, uint16_t word) {
  out.push_back(word);
}

void putDword(std::vector<uint16_t>& out, uint32_t value) {
  out.push_back(static_cast<uint16_t>(value & 0xFFFFu));
  out.push_back(static_cast<uint16_t>(value >> 16));
}

void putText(std::vector<uint16_t>& out, const std::u16string& text) {
  for (char16_t c : text) out.push_back(static_cast<uint16_t>(c));
  out.push_back(0);
}

void putRect(std::vector<uint16_t>& out, const Rect& rect) {
  for (int value : {rect.x, rect.y, rect.width, rect.height}) {
    // Dialog units are 16-bit signed coordinates.
    const int clamped = value < -32768 ? -32768 : (value > 32767 ? 32767 : value);
    out.push_back(static_cast<uint16_t>(static_cast<int16_t>(clamped)));
  }
}

ResourceItem itemFor(const ControlTemplate& control, bool firstRadioOfGroup) {
  ResourceItem item;
  // A control without an id gets the static's "no id" (0xFFFF), as resource compilers do.
  item.id = control.id == -1 ? 0xFFFFu : static_cast<uint32_t>(control.id);
  item.text = utf16(control.text);
  item.rect = control.rect;
  uint32_t s = style::kChild | style::kVisible;
  switch (control.kind) {
    case ControlKind::GroupBox:
      item.classOrdinal = kClassButton;
      s |= style::kBsGroupBox;
      break;
    case ControlKind::StaticText:
      item.classOrdinal = kClassStatic;
      if (control.style & kStyleCentered) s |= style::kSsCenter;
      break;
    case ControlKind::PushButton:
      item.classOrdinal = kClassButton;
      s |= style::kTabStop;
      if (control.style & kStyleDefaultButton) s |= style::kBsDefPushButton;
      if (control.style & kStyleMultiline) s |= style::kBsMultiline;
      break;
    case ControlKind::RadioButton:
      item.classOrdinal = kClassButton;
      s |= style::kBsAutoRadioButton;
      if (firstRadioOfGroup) s |= style::kTabStop;
      if (control.style & kStyleMultiline) s |= style::kBsMultiline;
      break;
    case ControlKind::CheckBox:
      item.classOrdinal = kClassButton;
      s |= style::kBsAutoCheckBox | style::kTabStop;
      if (control.style & kStyleMultiline) s |= style::kBsMultiline;
      break;
    case ControlKind::ListBox:
      // Sorted lists are kept in order by the host (plain character order, which the system's
      // own sorting does not use).
      item.classOrdinal = kClassListBox;
      // A line wider than the list (a long next step) scrolls sideways; the bar shows only then.
      s |= style::kLbsNotify | style::kLbsNoIntegralHeight | style::kTabStop | style::kHScroll;
      if (control.style & kStyleBorder) item.exStyle |= style::kExClientEdge;
      break;
    case ControlKind::ComboBox:
      item.classOrdinal = kClassComboBox;
      s |= style::kCbsDropDownList | style::kTabStop;
      break;
    case ControlKind::ProgressBar:
      item.className = kClassProgress;
      break;
    case ControlKind::Icon:
      // The host puts the program's icon in once the window exists.
      item.classOrdinal = kClassStatic;
      s |= style::kSsIcon;
      item.text.clear();
      break;
  }
  if (control.style & kStyleGroupStart) s |= style::kGroup;
  if (control.style & kStyleVScroll) s |= style::kVScroll;
  if (control.style & kStyleDisabled) s |= style::kDisabled;
  if (control.style & kStyleHidden) s &= ~style::kVisible;
  item.style = s;
  return item;
}

}  // namespace

ResourceDialog resourceFor(const DialogTemplate& dialog) {
  ResourceDialog out;
  out.caption = utf16(dialog.caption);
  out.size = Rect{0, 0, dialog.width, dialog.height};
  out.style = style::kPopup | style::kCaption | style::kDsModalFrame | style::kDsSetFont |
              style::kDsFixedSys | style::kDs3dLook;
  if (dialog.systemMenu) out.style |= style::kSysMenu;
  out.fontPoints = static_cast<uint16_t>(dialog.fontPoints > 0 ? dialog.fontPoints : 8);
  bool radioGroupOpen = false;
  for (const ControlTemplate& control : dialog.controls) {
    if (control.style & kStyleGroupStart) radioGroupOpen = false;
    const bool firstRadio = control.kind == ControlKind::RadioButton && !radioGroupOpen;
    if (control.kind == ControlKind::RadioButton) radioGroupOpen = true;
    out.items.push_back(itemFor(control, firstRadio));
  }
  return out;
}

std::vector<uint16_t> buildDialogResource(const ResourceDialog& dialog) {
  std::vector<uint16_t> out;
  putWord(out, 1);       // version
  putWord(out, 0xFFFF);  // the extended template's signature
  putDword(out, 0);      // help id
  putDword(out, dialog.exStyle);
  putDword(out, dialog.style);
  putWord(out, static_cast<uint16_t>(dialog.items.size()));
  putRect(out, dialog.size);
  putWord(out, 0);  // no menu
  putWord(out, 0);  // the dialog class
  putText(out, dialog.caption);
  if (dialog.style & style::kDsSetFont) {
    putWord(out, dialog.fontPoints);
    putWord(out, 400);     // weight: normal
    putWord(out, 0x0100);  // not italic; character set 1, the default
    putText(out, dialog.fontName);
  }
  for (const ResourceItem& item : dialog.items) {
    if (out.size() % 2 != 0) putWord(out, 0);  // each item on a 32-bit boundary
    putDword(out, 0);                          // help id
    putDword(out, item.exStyle);
    putDword(out, item.style);
    putRect(out, item.rect);
    putDword(out, item.id);
    if (item.classOrdinal != 0) {
      putWord(out, 0xFFFF);
      putWord(out, item.classOrdinal);
    } else {
      putText(out, item.className);
    }
    putText(out, item.text);
    putWord(out, 0);  // no creation data
  }
  return out;
}

}  // namespace ui::win32
