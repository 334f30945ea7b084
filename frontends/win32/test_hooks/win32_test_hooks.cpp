#include "frontends/win32/test_hooks/win32_test_hooks.h"

// The system's headers, windows.h first.
#include "frontends/win32/win32_window.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>

#include "frontends/win32/dialog_resource.h"

namespace ui::win32::test_hooks {
namespace {

Win32DialogWindow* shown(int dialogId) {
  const std::vector<Win32DialogWindow*>& all = runtime::windows();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if ((*it)->templateId() == dialogId && (*it)->handle() && IsWindowVisible((*it)->handle()))
      return *it;
  }
  return nullptr;
}

HWND controlOf(int dialogId, int controlId) {
  Win32DialogWindow* window = shown(dialogId);
  return window ? window->control(controlId) : nullptr;
}

std::vector<std::string> itemTexts(HWND control, UINT count, UINT length, UINT text) {
  std::vector<std::string> out;
  if (!control) return out;
  const auto n = static_cast<int>(SendMessageW(control, count, 0, 0));
  for (int i = 0; i < n; ++i) {
    const auto size = static_cast<int>(SendMessageW(control, length, static_cast<WPARAM>(i), 0));
    std::wstring buffer(static_cast<size_t>(std::max(0, size)) + 1, L'\0');
    const auto got = static_cast<int>(SendMessageW(control, text, static_cast<WPARAM>(i),
                                                   reinterpret_cast<LPARAM>(buffer.data())));
    buffer.resize(static_cast<size_t>(std::max(0, std::min(got, size))));
    out.push_back(utf8(std::u16string(buffer.begin(), buffer.end())));
  }
  return out;
}

HWND topBox() {
  const std::vector<HWND>& boxes = openMessageBoxes();
  return boxes.empty() ? nullptr : boxes.back();
}

// The poll: a timer of the thread, which every loop of the host (its dialogs, its boxes and
// the pumps of a long operation) dispatches, and the system's own loops too.
struct Poll {
  std::function<void()> poll;
  UINT_PTR timer = 0;
  bool inPoll = false;
};

Poll& pollState() {
  static Poll state;
  return state;
}

void CALLBACK pollNow(HWND, UINT, UINT_PTR, DWORD) {
  Poll& state = pollState();
  if (state.inPoll || !state.poll) return;
  state.inPoll = true;
  // A copy: the poll may replace itself.
  const std::function<void()> poll = state.poll;
  poll();
  state.inPoll = false;
}

}  // namespace

void setPoll(uint32_t periodMs, std::function<void()> poll) {
  Poll& state = pollState();
  if (state.timer) KillTimer(nullptr, state.timer);
  state.timer = 0;
  state.poll = std::move(poll);
  if (state.poll) state.timer = SetTimer(nullptr, 0, std::max<UINT>(1, periodMs), pollNow);
}

bool dialogShown(int dialogId) {
  return shown(dialogId) != nullptr;
}

std::string dialogCaption(int dialogId) {
  Win32DialogWindow* window = shown(dialogId);
  return window ? textOf(window->handle()) : std::string();
}

bool dialogHasInput(int dialogId) {
  Win32DialogWindow* window = shown(dialogId);
  return window && IsWindowEnabled(window->handle()) && openMessageBoxes().empty() &&
         !historyViewer();
}

ControlState control(int dialogId, int controlId) {
  ControlState state;
  Win32DialogWindow* window = shown(dialogId);
  HWND item = window ? window->control(controlId) : nullptr;
  if (!item) return state;
  state.exists = true;
  state.visible = window->isVisible(controlId);
  state.enabled = IsWindowEnabled(item) != FALSE;
  state.checked = SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED;
  state.defaultButton = (GetWindowLongW(item, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  state.text = textOf(item);
  RECT r{};
  GetWindowRect(item, &r);
  MapWindowPoints(nullptr, window->handle(), reinterpret_cast<POINT*>(&r), 2);
  state.pixels = Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
  return state;
}

Rect dialogUnitsToPixels(int dialogId, const Rect& units) {
  Win32DialogWindow* window = shown(dialogId);
  if (!window) return {};
  // The system converts a control's place and size each by itself.
  RECT r{units.x, units.y, units.width, units.height};
  MapDialogRect(window->handle(), &r);
  return Rect{r.left, r.top, r.right, r.bottom};
}

int textWidth(int dialogId, int controlId, const std::string& text) {
  HWND item = controlOf(dialogId, controlId);
  if (!item) return -1;
  HDC dc = GetDC(item);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item, WM_GETFONT, 0, 0)));
  const std::wstring w = wide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(item, dc);
  return size.cx;
}

std::vector<std::string> listLines(int dialogId, int controlId) {
  return itemTexts(controlOf(dialogId, controlId), LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
}

int listSelection(int dialogId, int controlId) {
  HWND item = controlOf(dialogId, controlId);
  return item ? static_cast<int>(SendMessageW(item, LB_GETCURSEL, 0, 0)) : -1;
}

std::vector<std::string> comboTexts(int dialogId, int controlId) {
  return itemTexts(controlOf(dialogId, controlId), CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
}

int comboSelection(int dialogId, int controlId) {
  HWND item = controlOf(dialogId, controlId);
  return item ? static_cast<int>(SendMessageW(item, CB_GETCURSEL, 0, 0)) : -1;
}

int progressPos(int dialogId, int controlId) {
  HWND item = controlOf(dialogId, controlId);
  return item ? static_cast<int>(SendMessageW(item, PBM_GETPOS, 0, 0)) : -1;
}

std::vector<std::string> systemMenuTexts(int dialogId) {
  std::vector<std::string> texts;
  Win32DialogWindow* window = shown(dialogId);
  if (!window) return texts;
  HMENU menu = GetSystemMenu(window->handle(), FALSE);
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[128] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 127;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    if (info.fType & MFT_SEPARATOR) continue;
    texts.push_back(utf8(std::u16string(text, text + lstrlenW(text))));
  }
  return texts;
}

void click(int dialogId, int controlId) {
  HWND item = controlOf(dialogId, controlId);
  if (!item) return;
  RECT r{};
  GetClientRect(item, &r);
  const LPARAM at = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
  PostMessageW(item, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(item, WM_LBUTTONUP, 0, at);
}

void chooseComboItem(int dialogId, int controlId, int index) {
  Win32DialogWindow* window = shown(dialogId);
  HWND item = window ? window->control(controlId) : nullptr;
  if (!item) return;
  SendMessageW(item, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  PostMessageW(window->handle(), WM_COMMAND, MAKEWPARAM(controlId, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(item));
}

void openComboList(int dialogId, int controlId) {
  Win32DialogWindow* window = shown(dialogId);
  HWND item = window ? window->control(controlId) : nullptr;
  if (!item) return;
  SendMessageW(item, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessageW(item, CB_SHOWDROPDOWN, FALSE, 0);
}

void tellDeviceChange(int dialogId, bool arrived) {
  Win32DialogWindow* window = shown(dialogId);
  if (!window) return;
  SendMessageW(window->handle(), WM_DEVICECHANGE,
               arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, 0);
}

void pressKey(int virtualKey) {
  HWND target = topBox();
  if (!target && historyViewer()) target = historyViewer();
  if (!target) {
    const std::vector<Win32DialogWindow*>& all = runtime::windows();
    if (!all.empty()) target = all.back()->handle();
  }
  if (!target) return;
  // The key goes to the control with the focus, as the keyboard's does; IsDialogMessage
  // turns Escape and Enter into the dialog's commands.
  HWND focus = GetFocus();
  if (!focus || GetAncestor(focus, GA_ROOT) != target) focus = target;
  PostMessageW(focus, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
  PostMessageW(focus, WM_KEYUP, static_cast<WPARAM>(virtualKey), static_cast<LPARAM>(0xC0000001u));
}

void systemCommand(int dialogId, int command) {
  if (Win32DialogWindow* window = shown(dialogId))
    PostMessageW(window->handle(), WM_SYSCOMMAND, static_cast<WPARAM>(command), 0);
}

BoxState messageBox() {
  BoxState state;
  HWND box = topBox();
  BoxFacts facts;
  if (!box || !boxFacts(box, facts)) return state;
  state.shown = IsWindowVisible(box) != FALSE;
  state.text = facts.text;
  state.caption = facts.caption;
  state.kind = facts.kind;
  state.noIsDefault = LOWORD(SendMessageW(box, DM_GETDEFID, 0, 0)) == IDNO;
  return state;
}

void answerMessageBox(MessageBoxAnswer answer) {
  HWND box = topBox();
  if (!box) return;
  const int id =
      answer == MessageBoxAnswer::Yes ? IDYES : (answer == MessageBoxAnswer::No ? IDNO : IDOK);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

std::string helpTextTopLine() {
  HWND viewer = helpTextViewer();
  HWND edit = viewer && IsWindowVisible(viewer) ? GetDlgItem(viewer, 100) : nullptr;
  if (!edit) return {};
  const auto line = static_cast<WPARAM>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
  wchar_t text[256] = {};
  text[0] = 255;  // the buffer's size, as EM_GETLINE reads it
  const auto length =
      static_cast<int>(SendMessageW(edit, EM_GETLINE, line, reinterpret_cast<LPARAM>(text)));
  return utf8(std::u16string(text, text + std::clamp(length, 0, 255)));
}

void closeHelpText() {
  if (HWND viewer = helpTextViewer())
    PostMessageW(viewer, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

HelpTextLook helpTextLook() {
  HelpTextLook look;
  HWND viewer = helpTextViewer();
  HWND edit = viewer ? GetDlgItem(viewer, 100) : nullptr;
  if (!edit) return look;
  DWORD start = 0;
  DWORD end = 0;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  look.selectedChars = static_cast<int>(end - start);
  HDC dc = GetDC(edit);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  // TMPF_FIXED_PITCH set means a variable pitch (the name says the opposite).
  if (GetTextMetricsW(dc, &metrics))
    look.fixedWidthFont = !(metrics.tmPitchAndFamily & TMPF_FIXED_PITCH);
  SelectObject(dc, old);
  ReleaseDC(edit, dc);
  return look;
}

namespace {

// A cell of a list view, up to 255 characters.
std::wstring cellText(HWND list, int row, int column) {
  wchar_t text[256] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 255;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return std::wstring(text, text + lstrlenW(text));
}

int drawnWidth(HWND window, const std::wstring& text) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return size.cx;
}

}  // namespace

std::vector<HistoryColumn> historyColumns() {
  std::vector<HistoryColumn> columns;
  HWND viewer = historyViewer();
  HWND list = viewer ? GetDlgItem(viewer, 102) : nullptr;
  if (!list) return columns;
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  const auto count = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  const auto rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int column = 0; column < count; ++column) {
    HistoryColumn c;
    c.width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
    wchar_t text[256] = {};
    HDITEMW item{};
    item.mask = HDI_TEXT;
    item.pszText = text;
    item.cchTextMax = 255;
    SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
    const int margins = 6 * GetSystemMetrics(SM_CXEDGE);
    c.headerNeeds = drawnWidth(header, text) + margins;
    for (int row = 0; row < rows; ++row) {
      c.widestCellNeeds =
          std::max(c.widestCellNeeds, drawnWidth(list, cellText(list, row, column)) + margins);
    }
    columns.push_back(c);
  }
  return columns;
}

bool historyShown() {
  return historyViewer() && IsWindowVisible(historyViewer());
}

std::vector<std::vector<std::string>> historyRows() {
  std::vector<std::vector<std::string>> rows;
  HWND viewer = historyViewer();
  HWND list = viewer ? GetDlgItem(viewer, 102) : nullptr;
  if (!list) return rows;
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  const auto columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    std::vector<std::string> cells;
    for (int column = 0; column < columns; ++column) {
      const std::wstring text = cellText(list, row, column);
      cells.push_back(utf8(std::u16string(text.begin(), text.end())));
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

int historySelection() {
  HWND viewer = historyViewer();
  HWND list = viewer ? GetDlgItem(viewer, 102) : nullptr;
  if (!list) return -1;
  return static_cast<int>(
      SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void closeHistory() {
  if (HWND viewer = historyViewer())
    PostMessageW(viewer, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

namespace {

Picture pictureOf(HWND hwnd) {
  Picture out;
  if (!hwnd || !IsWindowVisible(hwnd)) return out;
  RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  RECT r{};
  GetWindowRect(hwnd, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return out;
  HDC source = GetWindowDC(hwnd);
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* pixels = static_cast<const uint32_t*>(bits);
    out.width = width;
    out.height = height;
    out.pixels.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
    for (uint32_t& p : out.pixels) p &= 0x00FFFFFFu;
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(hwnd, source);
  return out;
}

}  // namespace

Picture picture(int dialogId) {
  Win32DialogWindow* window = shown(dialogId);
  return pictureOf(window ? window->handle() : nullptr);
}

Picture messageBoxPicture() {
  return pictureOf(topBox());
}

namespace {

// What the timer inside the menu's own loop found.
struct MenuCapture {
  HWND dialog = nullptr;
  Picture picture;
  std::vector<bool> enabled;
};
MenuCapture* g_menuCapture = nullptr;

void CALLBACK captureOpenMenu(HWND, UINT, UINT_PTR timer, DWORD) {
  MenuCapture* capture = g_menuCapture;
  HWND popup = FindWindowW(L"#32768", nullptr);
  if (!capture || !popup || !IsWindowVisible(popup)) return;
  KillTimer(nullptr, timer);
  HMENU menu = GetSystemMenu(capture->dialog, FALSE);
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    if (!(state & MF_SEPARATOR)) capture->enabled.push_back(!(state & (MF_GRAYED | MF_DISABLED)));
  }
  const Picture window = pictureOf(capture->dialog);
  const Picture shown = pictureOf(popup);
  RECT w{};
  RECT m{};
  GetWindowRect(capture->dialog, &w);
  GetWindowRect(popup, &m);
  Picture& out = capture->picture;
  out.width = std::max(w.right, m.right) - w.left;
  out.height = std::max(w.bottom, m.bottom) - w.top;
  out.pixels.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height), 0x00808080u);
  const auto place = [&out](const Picture& part, int left, int top) {
    for (int y = 0; y < part.height; ++y) {
      for (int x = 0; x < part.width; ++x) {
        const int tx = left + x;
        const int ty = top + y;
        if (tx < 0 || ty < 0 || tx >= out.width || ty >= out.height) continue;
        out.pixels[static_cast<size_t>(ty) * static_cast<size_t>(out.width) +
                   static_cast<size_t>(tx)] =
            part.pixels[static_cast<size_t>(y) * static_cast<size_t>(part.width) +
                        static_cast<size_t>(x)];
      }
    }
  };
  place(window, 0, 0);
  place(shown, m.left - w.left, m.top - w.top);
  EndMenu();
}

}  // namespace

Picture systemMenuPicture(int dialogId, std::vector<bool>* enabled) {
  Win32DialogWindow* window = shown(dialogId);
  if (!window) return {};
  MenuCapture capture;
  capture.dialog = window->handle();
  g_menuCapture = &capture;
  // The menu runs a loop of its own until it is closed: a timer dispatched inside that loop
  // takes the picture and closes it.
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, captureOpenMenu);
  SendMessageW(capture.dialog, WM_SYSCOMMAND, SC_KEYMENU, ' ');
  KillTimer(nullptr, timer);
  g_menuCapture = nullptr;
  if (enabled) *enabled = capture.enabled;
  return capture.picture;
}

Picture historyPicture() {
  return pictureOf(historyViewer());
}

Picture helpTextPicture() {
  return pictureOf(helpTextViewer());
}

}  // namespace ui::win32::test_hooks
