#include "frontends/win32/win32_window.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <optional>

#include "frontends/win32/dialog_resource.h"
#include "frontends/win32/win32_host.h"
#include "platform/clock.h"
#include "ui/folder_menu.h"

namespace ui::win32 {
namespace {

// The system command of the "History..." entry (system commands below 0xF000 are the
// program's own; the dialogs use the low ones).
constexpr UINT kHistoryCommand = 0x0E00;
// The system command of the "Update set folder: FOLDER..." entry.
constexpr UINT kUpdateSetFolderCommand = 0x0E10;
constexpr UINT kSystemCommandMask = 0xFFF0;
// Posted to the main window once it is shown: the update set folder's start problem is due.
constexpr UINT kSayFolderProblemMessage = WM_APP + 0x10;

std::string itemText(HWND control, UINT lengthMessage, UINT textMessage, int index) {
  const LRESULT length = SendMessageW(control, lengthMessage, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got = SendMessageW(control, textMessage, static_cast<WPARAM>(index),
                                   reinterpret_cast<LPARAM>(text.data()));
  if (got < 0) return {};
  text.resize(static_cast<size_t>(std::min<LRESULT>(got, length)));
  return utf8(std::u16string(text.begin(), text.end()));
}

// A fixed-width font of the dialog font's height, so that "OK    " and "ERROR " are as wide.
HFONT fixedFontLike(HFONT dialogFont) {
  LOGFONTW base{};
  if (!dialogFont || GetObjectW(dialogFont, sizeof base, &base) == 0) {
    base.lfHeight = -11;
    base.lfWeight = FW_NORMAL;
  }
  base.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  base.lfCharSet = DEFAULT_CHARSET;
  HDC dc = GetDC(nullptr);
  HFONT chosen = nullptr;
  for (const wchar_t* face : {L"Consolas", L"Courier New", L"Lucida Console", L""}) {
    LOGFONTW wanted = base;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&wanted);
    if (!font) continue;
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    // TMPF_FIXED_PITCH set means a variable pitch (the name says the opposite).
    if (!(metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) || face[0] == L'\0') {
      chosen = font;
      break;
    }
    DeleteObject(font);
  }
  ReleaseDC(nullptr, dc);
  return chosen;
}

INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
  }
  auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_INITDIALOG) {
    // The window is known by its handle from here on.
    return self->handleMessage(message, reinterpret_cast<WPARAM>(window), lParam);
  }
  return self->handleMessage(message, wParam, lParam);
}

}  // namespace

std::wstring wide(const std::string& text) {
  const std::u16string converted = utf16(text);
  return std::wstring(converted.begin(), converted.end());
}

std::string textOf(HWND window) {
  if (!window) return {};
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(0, got)));
  return utf8(std::u16string(text.begin(), text.end()));
}

Win32DialogWindow::Win32DialogWindow(Dialog& dialog, ProgressSource progress)
    : HostedWindow(dialog, runtime::host(), std::move(progress)) {}

Win32DialogWindow::~Win32DialogWindow() {
  m_runtime.windowEnded(this);
  if (m_hwnd) DestroyWindow(m_hwnd);
  if (m_fixedFont) DeleteObject(m_fixedFont);
}

int Win32DialogWindow::run(HWND owner) {
  beginRun();
  const std::vector<uint16_t> resource = buildDialogResource(resourceFor(m_template));
  HWND window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEW>(resource.data()),
                                           owner, dialogProcedure, reinterpret_cast<LPARAM>(this));
  if (!window) {
    // Nothing was initialised, so nothing is to be destroyed either.
    m_running = false;
    m_runtime.windowEnded(this);
    if (m_dialog.m_window == this) m_dialog.m_window = nullptr;
    return kIdCancel;
  }
  if (!m_ended) {
    if (owner) EnableWindow(owner, FALSE);
    runtime::centre(window, owner);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    if (saysUpdateSetFolderProblem()) PostMessageW(window, kSayFolderProblemMessage, 0, 0);
    runtime::runLoop([this] { return m_ended; });
    if (owner) EnableWindow(owner, TRUE);
  }
  withdrawQuestion();
  ShowWindow(window, SW_HIDE);
  endRun();
  DestroyWindow(window);
  m_hwnd = nullptr;
  if (owner) SetActiveWindow(owner);
  return m_result;
}

void Win32DialogWindow::initialise(HWND window) {
  m_hwnd = window;
  SendMessageW(window, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(runtime::applicationIcon(GetSystemMetrics(SM_CXICON))));
  SendMessageW(window, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(runtime::applicationIcon(GetSystemMetrics(SM_CXSMICON))));
  const auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  for (const ControlTemplate& c : m_template.controls) {
    HWND item = c.id == -1 ? nullptr : GetDlgItem(window, c.id);
    if (!item) continue;
    switch (c.kind) {
      case ControlKind::ListBox:
        // Status lines begin with "OK    " or "ERROR ": in a fixed-width font they line up.
        if (!m_fixedFont) m_fixedFont = fixedFontLike(dialogFont);
        if (m_fixedFont) SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(m_fixedFont), 0);
        break;
      case ControlKind::ProgressBar:
        SendMessageW(item, PBM_SETRANGE32, 0, 100);
        break;
      default:
        break;
    }
  }
  // The icon controls (they have no id of their own) show the program's icon.
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[16] = {};
    GetClassNameW(child, name, 16);
    if (lstrcmpiW(name, L"Static") == 0 &&
        (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      SendMessageW(child, STM_SETICON,
                   reinterpret_cast<WPARAM>(runtime::applicationIcon(GetSystemMetrics(SM_CXICON))),
                   0);
    }
  }
  initialiseDialog();
  // The service history stands beside the dialog's own entries (the About box).
  if (!m_ended && offersHistory()) {
    AppendMenuW(GetSystemMenu(window, FALSE), MF_STRING, kHistoryCommand, L"&History...");
  }
  if (!m_ended && offersUpdateSetFolder()) {
    AppendMenuW(GetSystemMenu(window, FALSE), MF_STRING, kUpdateSetFolderCommand, L"");
    refreshFolderEntry();
  }
}

void Win32DialogWindow::refreshFolderEntry() {
  const UpdateSetFolderService& service = updateSetFolderService();
  if (!m_hwnd || !service.folder) return;
  HMENU menu = GetSystemMenu(m_hwnd, FALSE);
  const std::wstring text = wide(updateSetFolderMenuText(service.folder()));
  ModifyMenuW(menu, kUpdateSetFolderCommand, MF_BYCOMMAND | MF_STRING, kUpdateSetFolderCommand,
              text.c_str());
  // The folder cannot change while a run goes on.
  EnableMenuItem(menu, kUpdateSetFolderCommand,
                 MF_BYCOMMAND | (inputHeldBack() ? MF_GRAYED : MF_ENABLED));
}

void Win32DialogWindow::chooseFolderEntry() {
  if (inputHeldBack()) return;
  chooseUpdateSetFolder(*this,
                        [this](const std::string& start) { return chooseFolder(m_hwnd, start); });
  refreshFolderEntry();
}

INT_PTR Win32DialogWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      initialise(reinterpret_cast<HWND>(wParam));
      return TRUE;
    case WM_INITMENUPOPUP:
      // The system menu opens: its folder entry names the folder in use, greyed during a run.
      if (HIWORD(lParam)) refreshFolderEntry();
      return FALSE;
    case kSayFolderProblemMessage:
      sayUpdateSetFolderProblem(
          *this, [this](const std::string& start) { return chooseFolder(m_hwnd, start); });
      refreshFolderEntry();
      return TRUE;
    case WM_COMMAND:
      command(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      return systemCommand(static_cast<UINT>(wParam) & kSystemCommandMask) ? TRUE : FALSE;
    case WM_CLOSE:
      // The title bar's close button is a system command; the dialog decides.
      routeSystemCommand(kSysCommandClose);
      return TRUE;
    case WM_DEVICECHANGE:
      // Windows tells every top-level window when a port is plugged in or removed.
      if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)
        deliver([this] { m_dialog.onDevicesChanged(); });
      return TRUE;
    case WM_ENDSESSION:
      // Windows is shutting down or the user logs off: the program ends when this returns,
      // wherever it is. What must not be lost (the record of a run) is written now.
      if (wParam) deliverEnd();
      return TRUE;
    default:
      return FALSE;
  }
}

bool Win32DialogWindow::systemCommand(UINT command) {
  if (command == SC_CLOSE) {
    routeSystemCommand(kSysCommandClose);
    return true;
  }
  if (command == kHistoryCommand) {
    if (const HistoryProvider& history = historyProvider()) runHistoryViewer(m_hwnd, history());
    return true;
  }
  if (command == kUpdateSetFolderCommand) {
    chooseFolderEntry();
    return true;
  }
  for (const MenuEntry& entry : m_menuEntries) {
    if ((static_cast<UINT>(entry.command) & kSystemCommandMask) == command) {
      routeSystemCommand(entry.command);
      return true;
    }
  }
  return false;  // moving the window and the rest take their usual course
}

void Win32DialogWindow::command(int id, int code) {
  // Escape (IDCANCEL) and Enter (IDOK or the default button) come without a control too.
  if ((id == kIdHelp || id == kIdOk || id == kIdCancel) && code == BN_CLICKED) {
    route(id, Notification::Clicked);
    return;
  }
  const ControlTemplate* control = templateOf(id);
  if (!control) return;
  switch (control->kind) {
    case ControlKind::PushButton:
    case ControlKind::RadioButton:
    case ControlKind::CheckBox:
      if (code == BN_CLICKED) route(id, Notification::Clicked);
      break;
    case ControlKind::ListBox:
      if (code == LBN_SELCHANGE) route(id, Notification::SelectionChanged);
      break;
    case ControlKind::ComboBox:
      // Sent for the user's choice only: a selection set by the dialog stays silent.
      if (code == CBN_SELCHANGE) route(id, Notification::SelectionChanged);
      // Before the list opens: the dialog may fill it again.
      if (code == CBN_DROPDOWN) route(id, Notification::DropDown);
      break;
    default:
      break;
  }
}

void Win32DialogWindow::openHelp() {
  // The help belongs to the application, not to the dialog: the user's manual beside the
  // program, at the section about this window.
  if (runtime::openHelp(helpUrlFor(m_template))) return;
  showMessageBox(
      "The manual cannot be shown: it is not beside this program.\nIt is installed as "
      "manual.html in the program's folder.",
      m_template.caption, MessageBoxKind::Stop);
}

const ControlTemplate* Win32DialogWindow::templateOf(int id) const {
  return id == -1 ? nullptr : m_template.control(id);
}

HWND Win32DialogWindow::control(int id) const {
  if (!m_hwnd || !templateOf(id)) return nullptr;
  return GetDlgItem(m_hwnd, id);
}

// --- any control ---

void Win32DialogWindow::setText(int id, const std::string& text) {
  if (HWND item = control(id)) SetWindowTextW(item, wide(text).c_str());
}

std::string Win32DialogWindow::text(int id) const {
  return textOf(control(id));
}

void Win32DialogWindow::enable(int id, bool enabled) {
  if (HWND item = control(id)) EnableWindow(item, enabled ? TRUE : FALSE);
}

bool Win32DialogWindow::isEnabled(int id) const {
  HWND item = control(id);
  return item && IsWindowEnabled(item);
}

void Win32DialogWindow::show(int id, bool visible) {
  if (HWND item = control(id)) ShowWindow(item, visible ? SW_SHOWNA : SW_HIDE);
}

bool Win32DialogWindow::isVisible(int id) const {
  // The control's own visibility, also before the window itself is shown.
  HWND item = control(id);
  return item && (GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

// --- radio buttons and check boxes ---

void Win32DialogWindow::setCheck(int id, bool checked) {
  if (HWND item = control(id))
    SendMessageW(item, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32DialogWindow::isChecked(int id) const {
  HWND item = control(id);
  return item && SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// --- list box ---

void Win32DialogWindow::listReset(int id) {
  if (HWND item = control(id)) {
    SendMessageW(item, LB_RESETCONTENT, 0, 0);
    SendMessageW(item, LB_SETHORIZONTALEXTENT, 0, 0);
  }
}

int Win32DialogWindow::listAdd(int id, const std::string& text) {
  HWND item = control(id);
  if (!item) return -1;
  int index = listCount(id);
  if (templateOf(id)->style & kStyleSorted) {
    index = sortedPosition(index, text, [this, id](int i) { return listText(id, i); });
  }
  const std::wstring line = wide(text);
  const LRESULT at = SendMessageW(item, LB_INSERTSTRING, static_cast<WPARAM>(index),
                                  reinterpret_cast<LPARAM>(line.c_str()));
  // The list scrolls sideways as far as its widest line, measured in its own font.
  if (HDC dc = GetDC(item)) {
    const auto font = reinterpret_cast<HFONT>(SendMessageW(item, WM_GETFONT, 0, 0));
    const HGDIOBJ before = font ? SelectObject(dc, font) : nullptr;
    SIZE size{};
    if (GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size)) {
      const LRESULT extent = SendMessageW(item, LB_GETHORIZONTALEXTENT, 0, 0);
      const LONG wanted = size.cx + 2 * GetSystemMetrics(SM_CXEDGE);
      if (wanted > extent)
        SendMessageW(item, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(wanted), 0);
    }
    if (before) SelectObject(dc, before);
    ReleaseDC(item, dc);
  }
  return at < 0 ? -1 : static_cast<int>(at);
}

int Win32DialogWindow::listCount(int id) const {
  HWND item = control(id);
  return item ? std::max(0, static_cast<int>(SendMessageW(item, LB_GETCOUNT, 0, 0))) : 0;
}

std::string Win32DialogWindow::listText(int id, int index) const {
  HWND item = control(id);
  if (!item || index < 0 || index >= listCount(id)) return {};
  return itemText(item, LB_GETTEXTLEN, LB_GETTEXT, index);
}

void Win32DialogWindow::listDelete(int id, int index) {
  HWND item = control(id);
  if (item && index >= 0 && index < listCount(id))
    SendMessageW(item, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

void Win32DialogWindow::listSetTopIndex(int id, int index) {
  HWND item = control(id);
  if (item && index >= 0 && index < listCount(id))
    SendMessageW(item, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

int Win32DialogWindow::listTopIndex(int id) const {
  HWND item = control(id);
  return item ? std::max(0, static_cast<int>(SendMessageW(item, LB_GETTOPINDEX, 0, 0))) : 0;
}

void Win32DialogWindow::listSetSelection(int id, int index) {
  HWND item = control(id);
  if (!item) return;
  const bool valid = index >= 0 && index < listCount(id);
  SendMessageW(item, LB_SETCURSEL, valid ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1), 0);
}

int Win32DialogWindow::listSelection(int id) const {
  HWND item = control(id);
  if (!item) return -1;
  const LRESULT selected = SendMessageW(item, LB_GETCURSEL, 0, 0);
  return selected < 0 ? -1 : static_cast<int>(selected);
}

// --- combo box ---

void Win32DialogWindow::comboReset(int id) {
  if (HWND item = control(id)) SendMessageW(item, CB_RESETCONTENT, 0, 0);
}

int Win32DialogWindow::comboAdd(int id, const std::string& text) {
  HWND item = control(id);
  if (!item) return -1;
  int index = comboCount(id);
  if (templateOf(id)->style & kStyleSorted) {
    index = sortedPosition(index, text, [this, id](int i) { return comboText(id, i); });
  }
  const LRESULT at = SendMessageW(item, CB_INSERTSTRING, static_cast<WPARAM>(index),
                                  reinterpret_cast<LPARAM>(wide(text).c_str()));
  return at < 0 ? -1 : static_cast<int>(at);
}

int Win32DialogWindow::comboCount(int id) const {
  HWND item = control(id);
  return item ? std::max(0, static_cast<int>(SendMessageW(item, CB_GETCOUNT, 0, 0))) : 0;
}

std::string Win32DialogWindow::comboText(int id, int index) const {
  HWND item = control(id);
  if (!item || index < 0 || index >= comboCount(id)) return {};
  return itemText(item, CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
}

void Win32DialogWindow::comboSetItemData(int id, int index, int64_t data) {
  HWND item = control(id);
  if (item && index >= 0 && index < comboCount(id))
    SendMessageW(item, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
}

int64_t Win32DialogWindow::comboItemData(int id, int index) const {
  HWND item = control(id);
  if (!item || index < 0 || index >= comboCount(id)) return 0;
  return static_cast<int64_t>(SendMessageW(item, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

void Win32DialogWindow::comboSetSelection(int id, int index) {
  HWND item = control(id);
  if (!item) return;
  const bool valid = index >= 0 && index < comboCount(id);
  SendMessageW(item, CB_SETCURSEL, valid ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1), 0);
}

int Win32DialogWindow::comboSelection(int id) const {
  HWND item = control(id);
  if (!item) return -1;
  const LRESULT selected = SendMessageW(item, CB_GETCURSEL, 0, 0);
  return selected < 0 ? -1 : static_cast<int>(selected);
}

// --- progress bar ---

void Win32DialogWindow::progressSetRange(int id, int low, int high) {
  if (HWND item = control(id)) SendMessageW(item, PBM_SETRANGE32, static_cast<WPARAM>(low), high);
}

void Win32DialogWindow::progressSetPos(int id, int pos) {
  HWND item = control(id);
  if (!item) return;
  const int low = static_cast<int>(SendMessageW(item, PBM_GETRANGE, TRUE, 0));
  const int high = static_cast<int>(SendMessageW(item, PBM_GETRANGE, FALSE, 0));
  const int value = std::clamp(pos, low, std::max(low, high));
  const int before =
      static_cast<int>(SendMessageW(item, PBM_SETPOS, static_cast<WPARAM>(value), 0));
  progressMoved(id, before, value, low, high);
}

int Win32DialogWindow::progressPos(int id) const {
  HWND item = control(id);
  return item ? static_cast<int>(SendMessageW(item, PBM_GETPOS, 0, 0)) : 0;
}

// --- window ---

bool Win32DialogWindow::progressRange(int id, int& low, int& high) const {
  HWND bar = control(id);
  if (!bar) return false;
  low = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, TRUE, 0));
  high = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
  return true;
}

bool Win32DialogWindow::hasControl(int id) const {
  return control(id) != nullptr;
}

void Win32DialogWindow::paintNow(int id) {
  if (HWND item = control(id)) UpdateWindow(item);
}

std::string Win32DialogWindow::progressNumbersText(bool sample, int percent) {
  const uint64_t now = platform::clock().nowMicros();
  if (sample && m_progress.transferredBytes) {
    m_meter.sample(now, m_progress.transferredBytes(), percent);
  }
  return formatProgressNumbers(m_meter.numbers(now));
}

MessageBoxAnswer Win32DialogWindow::showMessageBox(const std::string& text,
                                                   const std::string& caption,
                                                   MessageBoxKind kind) {
  if (const std::optional<MessageBoxAnswer> answer = answerWithoutBox(kind)) return *answer;
  HWND owner = m_hwnd && IsWindowVisible(m_hwnd) ? m_hwnd : nullptr;
  std::optional<MessageBoxAnswer> answer;
  HWND box = openMessageBox(text, caption, kind, owner,
                            [&answer](MessageBoxAnswer given) { answer = given; });
  if (box) runtime::runLoop([&answer] { return answer.has_value(); });
  if (!answer) {
    // The program is ending (or the box could not be made): a question counts as No.
    if (box) closeMessageBox(box);
    answer = kind == MessageBoxKind::Question ? MessageBoxAnswer::No : MessageBoxAnswer::Ok;
  }
  return *answer;
}

void Win32DialogWindow::askQuestion(const std::string& text, const std::string& caption,
                                    std::function<void(MessageBoxAnswer)> answered) {
  withdrawQuestion();
  m_question = openMessageBox(text, caption, MessageBoxKind::Question, m_hwnd,
                              [this, answered = std::move(answered)](MessageBoxAnswer answer) {
                                m_question = nullptr;
                                deliver([&answered, answer] { answered(answer); });
                              });
}

void Win32DialogWindow::withdrawQuestion() {
  HWND box = m_question;
  if (!box) return;
  m_question = nullptr;
  closeMessageBox(box);
}

int Win32DialogWindow::runModal(Dialog& dialog) {
  Win32DialogWindow child(dialog, ProgressSource{});
  return child.run(m_hwnd);
}

void Win32DialogWindow::wakeLoop() {
  // The window's loop may be waiting for the next message.
  if (m_hwnd) PostMessageW(m_hwnd, WM_NULL, 0, 0);
}

void Win32DialogWindow::repaint() {
  if (m_hwnd) RedrawWindow(m_hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

bool Win32DialogWindow::pumpMessages() {
  return runtime::pump();
}

void Win32DialogWindow::appendSystemMenuItem(int command, const std::string& text) {
  HostedWindow::appendSystemMenuItem(command, text);
  if (!m_hwnd) return;
  HMENU menu = GetSystemMenu(m_hwnd, FALSE);
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(command), wide(text).c_str());
}

void Win32DialogWindow::removeSystemMenuClose() {
  if (m_hwnd) DeleteMenu(GetSystemMenu(m_hwnd, FALSE), SC_CLOSE, MF_BYCOMMAND);
}

}  // namespace ui::win32
