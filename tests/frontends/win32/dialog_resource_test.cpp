// The dialog resources that Windows builds the windows from, read back field by field: the
// header and font, each control's id, class, styles, rectangle and text on its 32-bit
// boundary, and the texts' UTF-16.
#include "frontends/win32/dialog_resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace ui::win32;

// Reads an extended dialog template as Windows does.
struct Reader {
  const std::vector<uint16_t>& words;
  size_t at = 0;
  uint16_t word() { return words.at(at++); }
  uint32_t dword() {
    const uint32_t low = word();
    return low | (static_cast<uint32_t>(word()) << 16);
  }
  std::u16string text() {
    std::u16string out;
    for (uint16_t c = word(); c != 0; c = word()) out.push_back(static_cast<char16_t>(c));
    return out;
  }
  ui::Rect rect() {
    ui::Rect r;
    r.x = static_cast<int16_t>(word());
    r.y = static_cast<int16_t>(word());
    r.width = static_cast<int16_t>(word());
    r.height = static_cast<int16_t>(word());
    return r;
  }
};

struct ReadItem {
  uint32_t style, exStyle, id;
  ui::Rect rect;
  uint16_t classOrdinal;
  std::u16string className, text;
};

std::vector<ReadItem> readBack(const std::vector<uint16_t>& words, std::u16string* caption,
                               std::u16string* font, uint16_t* points) {
  Reader r{words};
  EXPECT_EQ(r.word(), 1);
  EXPECT_EQ(r.word(), 0xFFFF);
  r.dword();
  r.dword();
  const uint32_t style = r.dword();
  const uint16_t count = r.word();
  r.rect();
  EXPECT_EQ(r.word(), 0);  // menu
  EXPECT_EQ(r.word(), 0);  // class
  *caption = r.text();
  if (style & style::kDsSetFont) {
    *points = r.word();
    r.word();
    r.word();
    *font = r.text();
  }
  std::vector<ReadItem> items;
  for (uint16_t i = 0; i < count; ++i) {
    if (r.at % 2) {
      EXPECT_EQ(r.word(), 0);
    }
    ReadItem item{};
    r.dword();
    item.exStyle = r.dword();
    item.style = r.dword();
    item.rect = r.rect();
    item.id = r.dword();
    if (words.at(r.at) == 0xFFFF) {
      r.word();
      item.classOrdinal = r.word();
    } else {
      item.className = r.text();
    }
    item.text = r.text();
    EXPECT_EQ(r.word(), 0);  // no creation data
    items.push_back(item);
  }
  EXPECT_EQ(r.at, words.size());
  return items;
}

TEST(DialogResource, every_kind_of_control_reads_back_with_its_class_and_styles) {
  using ui::ControlKind;
  struct Case {
    ui::ControlTemplate control;
    uint16_t classOrdinal;
    const char16_t* className;
    uint32_t styleSet;    // bits that must be set
    uint32_t styleClear;  // bits that must not
    uint32_t exStyle;
  };
  const uint32_t visible = style::kChild | style::kVisible;
  const Case cases[] = {
      {{-1, ControlKind::GroupBox, "Mode/RS232", {5, 5, 220, 50}, 0},
       kClassButton,
       nullptr,
       visible | style::kBsGroupBox,
       style::kTabStop,
       0},
      {{1037, ControlKind::RadioButton, "Automatic", {10, 20, 47, 10}, ui::kStyleGroupStart},
       kClassButton,
       nullptr,
       visible | style::kBsAutoRadioButton | style::kGroup | style::kTabStop,
       0,
       0},
      {{1038, ControlKind::RadioButton, "Manual", {10, 35, 39, 10}, 0},
       kClassButton,
       nullptr,
       visible | style::kBsAutoRadioButton,
       style::kTabStop | style::kGroup,
       0},
      {{1085, ControlKind::StaticText, "Port", {90, 17, 14, 8}, 0},
       kClassStatic,
       nullptr,
       visible,
       style::kSsCenter,
       0},
      {{1096, ControlKind::StaticText, "", {25, 67, 290, 15}, ui::kStyleCentered},
       kClassStatic,
       nullptr,
       visible | style::kSsCenter,
       0,
       0},
      {{1084, ControlKind::ComboBox, "", {110, 15, 95, 45}, ui::kStyleSorted | ui::kStyleVScroll},
       kClassComboBox,
       nullptr,
       visible | style::kCbsDropDownList | style::kVScroll,
       0x100u,
       0},
      {{1083, ControlKind::PushButton, "Exit", {260, 7, 55, 14}, ui::kStyleDefaultButton},
       kClassButton,
       nullptr,
       visible | style::kBsDefPushButton | style::kTabStop,
       0,
       0},
      {{1053, ControlKind::PushButton, "Cancel", {230, 280, 85, 14}, ui::kStyleDisabled},
       kClassButton,
       nullptr,
       visible | style::kDisabled,
       style::kBsDefPushButton,
       0},
      {{1014, ControlKind::ListBox, "", {25, 84, 290, 151}, ui::kStyleVScroll | ui::kStyleBorder},
       kClassListBox,
       nullptr,
       visible | style::kLbsNotify | style::kVScroll,
       0x2u /* sorted */,
       style::kExClientEdge},
      {{1074, ControlKind::ProgressBar, "", {25, 240, 290, 14}, 0},
       0,
       kClassProgress,
       visible,
       0,
       0},
      {{1200, ControlKind::CheckBox, "Memory extension", {10, 10, 80, 10}, ui::kStyleHidden},
       kClassButton,
       nullptr,
       style::kChild | style::kBsAutoCheckBox,
       style::kVisible,
       0},
      {{1201, ControlKind::Icon, "ignored", {7, 7, 21, 20}, 0},
       kClassStatic,
       nullptr,
       visible | style::kSsIcon,
       0,
       0},
      {{1202, ControlKind::PushButton, "Two\nlines", {0, 0, 50, 20}, ui::kStyleMultiline},
       kClassButton,
       nullptr,
       visible | style::kBsMultiline,
       0,
       0},
      {{1203, ControlKind::RadioButton, "B20  ZEL\nATSC", {20, 90, 159, 18}, ui::kStyleMultiline},
       kClassButton,
       nullptr,
       visible | style::kBsAutoRadioButton | style::kBsMultiline,
       0,
       0},
  };
  ui::DialogTemplate dialog;
  dialog.id = 102;
  dialog.caption = "Update";
  dialog.width = 336;
  dialog.height = 306;
  dialog.fontName = "MS Sans Serif";
  dialog.fontPoints = 8;
  for (const Case& c : cases) dialog.controls.push_back(c.control);

  std::u16string caption, font;
  uint16_t points = 0;
  const ResourceDialog resource = resourceFor(dialog);
  EXPECT_TRUE(resource.style & style::kSysMenu);
  const std::vector<ReadItem> items =
      readBack(buildDialogResource(resource), &caption, &font, &points);
  EXPECT_EQ(caption, u"Update");
  EXPECT_EQ(font, u"MS Shell Dlg");
  EXPECT_EQ(points, 8);
  ASSERT_EQ(items.size(), std::size(cases));
  for (size_t i = 0; i < items.size(); ++i) {
    const Case& c = cases[i];
    const ReadItem& item = items[i];
    SCOPED_TRACE(c.control.text);
    EXPECT_EQ(item.id, c.control.id == -1 ? 0xFFFFu : static_cast<uint32_t>(c.control.id));
    EXPECT_EQ(item.classOrdinal, c.classOrdinal);
    EXPECT_EQ(item.className, c.className ? std::u16string(c.className) : std::u16string());
    EXPECT_EQ(item.style & c.styleSet, c.styleSet);
    EXPECT_EQ(item.style & c.styleClear, 0u);
    EXPECT_EQ(item.exStyle, c.exStyle);
    EXPECT_EQ(item.rect.x, c.control.rect.x);
    EXPECT_EQ(item.rect.height, c.control.rect.height);
    if (c.control.kind != ControlKind::Icon) {
      EXPECT_EQ(utf8(item.text), c.control.text);
    }
  }
}

TEST(DialogResource, texts_cross_to_utf16_and_back) {
  struct Case {
    std::string utf8Text;
    std::u16string utf16Text;
    bool roundTrip;
  };
  const Case cases[] = {
      {"Inf&o über Update...", u"Inf&o \u00fcber Update...", true},
      {"Pr\xc3\xbc"
       "fstand \xe6\xb5\x8b \xf0\x9f\x93\xa1",
       u"Pr\u00fcfstand \u6d4b \U0001F4E1", true},
      {"", u"", true},
      // Not UTF-8: one replacement character per broken sequence, nothing read past the end.
      {"a\xff"
       "b",
       u"a\ufffdb", false},
      {"\xc3", u"\ufffd", false},
      {"\xe6\xb5", u"\ufffd", false},
      {"\xc0\xaf", u"\ufffd", false},      // an overlong '/'
      {"\xed\xa0\x80", u"\ufffd", false},  // a surrogate's code
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8Text);
    EXPECT_EQ(utf16(c.utf8Text), c.utf16Text);
    if (c.roundTrip) {
      EXPECT_EQ(utf8(c.utf16Text), c.utf8Text);
    }
  }
  // An unpaired surrogate becomes U+FFFD on the way back.
  EXPECT_EQ(utf8(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
}

}  // namespace
