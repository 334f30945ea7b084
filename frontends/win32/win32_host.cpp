// The host's program-wide part: timers on the program's clock, the message pump and its
// input guard, requests to end, the message boxes and the help.
#include "frontends/win32/win32_host.h"

// The system's headers, windows.h first.
#include "frontends/win32/win32_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>

#include "frontends/win32/dialog_resource.h"
#include "platform/message_pump.h"
#include "platform/program_path.h"
#include "run/run_progress.h"
#include "ui/host_runtime.h"

namespace ui::win32 {
namespace {

// Real time between two looks at the program's clock for due timers and for requests to
// end. Short, because the clock may run many times faster than real time.
constexpr UINT kPollMs = 5;
// Messages that one pump serves at most: a caller that pumps until nothing is pending always
// comes back.
constexpr int kMaxMessagesPerPump = 256;
// The program's icon in its resources.
constexpr int kIconResource = 128;

struct Runtime {
  HostRuntime host;
  std::vector<HWND> boxes;
  UINT_PTR poll = 0;
};

Runtime& state() {
  static Runtime runtime;
  return runtime;
}

void CALLBACK pollTimers(HWND, UINT, UINT_PTR, DWORD) {
  state().host.serveDueTimers();
  state().host.serveTermination();
}

bool isDialogClass(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  return lstrcmpW(name, L"#32770") == 0;
}

bool isPushButton(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (lstrcmpiW(name, L"Button") != 0) return false;
  const LONG type = GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool isUserInput(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MOUSEWHEEL:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
      return true;
    default:
      return false;
  }
}

// Input to a window that waits beneath a long operation goes to its push buttons only: a
// click on a mode button or a port would start work of its own in the middle of a run.
// Escape and Enter stay the dialog's own keys.
bool heldBack(const MSG& msg) {
  if (!msg.hwnd || !isUserInput(msg.message)) return false;
  if ((msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_CHAR) &&
      (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN)) {
    return false;
  }
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  for (HostedWindow* hosted : state().host.windows) {
    const auto* window = static_cast<Win32DialogWindow*>(hosted);
    if (window->handle() != root) continue;
    if (!window->inputHeldBack() || msg.hwnd == root) return false;
    // The control itself, or a part of it (the edit of a combo box).
    HWND control = msg.hwnd;
    while (GetParent(control) && GetParent(control) != root) control = GetParent(control);
    return !isPushButton(control);
  }
  return false;
}

void dispatch(MSG& msg) {
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (root && isDialogClass(root) && IsDialogMessageW(root, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

// --- message boxes ---

constexpr int kBoxTextId = 0xFFFF;
constexpr int kBoxIconId = 20;

struct BoxWindow {
  std::string text;
  std::string caption;
  MessageBoxKind kind;
  HWND owner;
  std::function<void(MessageBoxAnswer)> answered;
};

BoxWindow* boxOf(HWND window) {
  return reinterpret_cast<BoxWindow*>(GetWindowLongPtrW(window, DWLP_USER));
}

void finishBox(HWND window, std::optional<MessageBoxAnswer> answer) {
  BoxWindow* box = boxOf(window);
  if (!box) return;
  SetWindowLongPtrW(window, DWLP_USER, 0);
  std::unique_ptr<BoxWindow> owned(box);
  std::erase(state().boxes, window);
  if (box->owner) EnableWindow(box->owner, TRUE);
  DestroyWindow(window);
  if (box->owner) SetActiveWindow(box->owner);
  if (answer && box->answered) box->answered(*answer);
}

// Lays the box out around its text: the icon at the left, the text beside it as wide as it
// needs up to a bound, the buttons centred below.
void layOutBox(HWND window, const BoxWindow& box) {
  RECT unit{0, 0, 4, 8};
  MapDialogRect(window, &unit);
  const int baseX = std::max(1L, unit.right);
  const int baseY = std::max(1L, unit.bottom);
  const int margin = MulDiv(7, baseX, 4);
  const int buttonWidth = MulDiv(50, baseX, 4);
  const int buttonHeight = MulDiv(14, baseY, 8);
  const int buttonGap = MulDiv(4, baseX, 4);
  const bool icon = box.kind != MessageBoxKind::Question;
  const int iconSize = icon ? GetSystemMetrics(SM_CXICON) : 0;

  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
  const std::wstring text = wide(box.text);
  RECT textRect{0, 0, std::min(MulDiv(240, baseX, 4), GetSystemMetrics(SM_CXSCREEN) * 3 / 5), 0};
  DrawTextW(dc, text.c_str(), -1, &textRect,
            DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(window, dc);

  const int textX = margin + (icon ? iconSize + margin : 0);
  const int contentHeight = std::max<int>(textRect.bottom, iconSize);
  const int textY = margin + (contentHeight - textRect.bottom) / 2;
  const int buttons = box.kind == MessageBoxKind::Question ? 2 : 1;
  const int buttonsWidth = buttons * buttonWidth + (buttons - 1) * buttonGap;
  const int clientWidth = std::max<int>(textX + textRect.right + margin, buttonsWidth + 2 * margin);
  const int buttonsY = margin + contentHeight + margin;
  const int clientHeight = buttonsY + buttonHeight + margin;

  if (icon) {
    SetWindowPos(GetDlgItem(window, kBoxIconId), nullptr, margin,
                 margin + (contentHeight - iconSize) / 2, iconSize, iconSize,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SetWindowPos(GetDlgItem(window, kBoxTextId), nullptr, textX, textY, textRect.right,
               textRect.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
  int x = (clientWidth - buttonsWidth) / 2;
  const int ids[2] = {box.kind == MessageBoxKind::Question ? IDYES : IDOK, IDNO};
  for (int i = 0; i < buttons; ++i) {
    SetWindowPos(GetDlgItem(window, ids[i]), nullptr, x, buttonsY, buttonWidth, buttonHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    x += buttonWidth + buttonGap;
  }
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

INT_PTR CALLBACK boxProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    const auto* box = reinterpret_cast<BoxWindow*>(lParam);
    SetDlgItemTextW(window, kBoxTextId, wide(box->text).c_str());
    if (box->kind != MessageBoxKind::Question) {
      HICON icon =
          LoadIconW(nullptr, MAKEINTRESOURCEW(box->kind == MessageBoxKind::Stop ? 32513 : 32516));
      SendDlgItemMessageW(window, kBoxIconId, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    } else {
      // Neither Escape nor the title bar answers a question; one of the two buttons must.
      EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    }
    layOutBox(window, *box);
    runtime::centre(window, box->owner);
    // A question's default is No: Enter must not confirm what cannot be undone.
    const int defaultId = box->kind == MessageBoxKind::Question ? IDNO : IDOK;
    SendMessageW(window, DM_SETDEFID, static_cast<WPARAM>(defaultId), 0);
    SetFocus(GetDlgItem(window, defaultId));
    return FALSE;
  }
  BoxWindow* box = boxOf(window);
  if (!box) return FALSE;
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case IDOK:
        finishBox(window, MessageBoxAnswer::Ok);
        return TRUE;
      case IDYES:
        finishBox(window, MessageBoxAnswer::Yes);
        return TRUE;
      case IDNO:
        finishBox(window, MessageBoxAnswer::No);
        return TRUE;
      case IDCANCEL:
        if (box->kind != MessageBoxKind::Question) finishBox(window, MessageBoxAnswer::Ok);
        return TRUE;
      default:
        return FALSE;
    }
  }
  if (message == WM_CLOSE) {
    if (box->kind != MessageBoxKind::Question) finishBox(window, MessageBoxAnswer::Ok);
    return TRUE;
  }
  return FALSE;
}

// An item of a box; the box lays its items out once it knows its text's size.
ResourceItem boxItem(int id, uint16_t classOrdinal, const char16_t* text, uint32_t itemStyle) {
  ResourceItem item;
  item.id = static_cast<uint32_t>(id);
  item.classOrdinal = classOrdinal;
  item.text = text;
  item.rect = Rect{0, 0, 50, 14};
  item.style = style::kChild | style::kVisible | itemStyle;
  return item;
}

// The percent-encoded form of a path as a file address names it.
std::string fileUrl(const std::wstring& path) {
  std::string url = "file:///";
  for (unsigned char c : utf8(std::u16string(path.begin(), path.end()))) {
    if (c == '\\') {
      url += '/';
    } else if (std::isalnum(c) || c == '/' || c == ':' || c == '-' || c == '_' || c == '.' ||
               c == '~') {
      url += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0x0F];
    }
  }
  return url;
}

class Host final : public DialogHost {
 public:
  explicit Host(ProgressSource progress) : m_progress(std::move(progress)) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
  }
  int runModal(Dialog& dialog) override {
    Win32DialogWindow window(dialog, m_progress);
    return window.run(nullptr);
  }

 private:
  ProgressSource m_progress;
};

}  // namespace

HWND openMessageBox(const std::string& text, const std::string& caption, MessageBoxKind kind,
                    HWND owner, std::function<void(MessageBoxAnswer)> answered) {
  ResourceDialog dialog;
  dialog.caption = utf16(caption);
  dialog.size = Rect{0, 0, 180, 60};
  dialog.style = style::kPopup | style::kCaption | style::kSysMenu | style::kDsModalFrame |
                 style::kDsSetFont | style::kDsFixedSys | style::kDs3dLook;
  if (kind != MessageBoxKind::Question) {
    dialog.items.push_back(boxItem(kBoxIconId, kClassStatic, u"", style::kSsIcon));
  }
  dialog.items.push_back(boxItem(kBoxTextId, kClassStatic, u"", style::kSsNoPrefix));
  if (kind == MessageBoxKind::Question) {
    dialog.items.push_back(boxItem(IDYES, kClassButton, u"&Yes", style::kTabStop));
    dialog.items.push_back(boxItem(IDNO, kClassButton, u"&No", style::kTabStop));
  } else {
    dialog.items.push_back(boxItem(IDOK, kClassButton, u"OK", style::kTabStop));
  }
  const std::vector<uint16_t> resource = buildDialogResource(dialog);
  auto box =
      std::make_unique<BoxWindow>(BoxWindow{text, caption, kind, owner, std::move(answered)});
  HWND window = CreateDialogIndirectParamW(
      GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(resource.data()), owner,
      boxProcedure, reinterpret_cast<LPARAM>(box.get()));
  if (!window) return nullptr;
  box.release();  // the window owns it now; finishBox frees it
  state().boxes.push_back(window);
  if (owner) EnableWindow(owner, FALSE);
  MessageBeep(kind == MessageBoxKind::Stop
                  ? MB_ICONHAND
                  : (kind == MessageBoxKind::Information ? MB_ICONASTERISK : MB_OK));
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  return window;
}

void closeMessageBox(HWND box) {
  finishBox(box, std::nullopt);
}

const std::vector<HWND>& openMessageBoxes() {
  return state().boxes;
}

bool boxFacts(HWND window, BoxFacts& facts) {
  const BoxWindow* box = boxOf(window);
  if (!box) return false;
  facts = BoxFacts{box->text, box->caption, box->kind};
  return true;
}

namespace runtime {

namespace {

// The first window starts the look at the timers and the requests to end, and installs the
// program's message pump hook; the last one stops and removes them.
void firstWindowStarted() {
  state().poll = SetTimer(nullptr, 0, kPollMs, pollTimers);
  platform::setMessagePumpHook([] { return pump(); });
  // The reboot wait shows its countdown at each of its tries, also between pumps.
  setBoundedWaitHook([] { state().host.showProgressNumbersNow(); });
}

void lastWindowEnded() {
  Runtime& rt = state();
  platform::setMessagePumpHook({});
  setBoundedWaitHook({});
  if (rt.poll) KillTimer(nullptr, rt.poll);
  rt.poll = 0;
}

}  // namespace

HostRuntime& host() {
  HostRuntime& host = state().host;
  host.attachToolkit(firstWindowStarted, lastWindowEnded);
  return host;
}

std::vector<Win32DialogWindow*> windows() {
  std::vector<Win32DialogWindow*> all;
  for (HostedWindow* window : state().host.windows) {
    all.push_back(static_cast<Win32DialogWindow*>(window));
  }
  return all;
}

bool pump() {
  return state().host.pump([] {
    MSG msg;
    for (int served = 0;
         served < kMaxMessagesPerPump && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++served) {
      if (msg.message == WM_QUIT) {
        // For the loop beneath, which ends the program.
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (!heldBack(msg)) dispatch(msg);
    }
  });
}

void runLoop(const std::function<bool()>& done) {
  MSG msg;
  while (!done()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (got < 0) return;
    dispatch(msg);
  }
}

void centre(HWND window, HWND owner) {
  RECT area{};
  if (owner && IsWindowVisible(owner)) {
    GetWindowRect(owner, &area);
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT own{};
  GetWindowRect(window, &own);
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  const int x = std::max<int>(0, area.left + (area.right - area.left - width) / 2);
  const int y = std::max<int>(0, area.top + (area.bottom - area.top - height) / 2);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool openHelp(const std::string& url) {
  const HostRuntime& rt = state().host;
  std::string anchor;
  const size_t hash = url.find('#');
  if (hash != std::string::npos) anchor = url.substr(hash + 1);
  HWND owner =
      rt.windows.empty() ? nullptr : static_cast<Win32DialogWindow*>(rt.windows.back())->handle();
  if (!url.empty()) {
    if (rt.helpOpener) {
      if (rt.helpOpener(url)) return true;
    } else if (reinterpret_cast<INT_PTR>(ShellExecuteW(owner, L"open", wide(url).c_str(), nullptr,
                                                       nullptr, SW_SHOWNORMAL)) > 32) {
      return true;
    }
  }
  // No browser took it: the manual's text in a window of the program.
  return showHelpText(owner, anchor);
}

HICON applicationIcon(int pixels) {
  auto icon =
      static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResource),
                                    IMAGE_ICON, pixels, pixels, LR_SHARED));
  return icon ? icon : LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // the system's program icon
}

}  // namespace runtime

std::unique_ptr<DialogHost> createDialogHost(ProgressSource progress) {
  return std::make_unique<Host>(std::move(progress));
}

std::wstring programFolder() {
  const std::wstring path = wide(platform::programPath());
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::string helpUrlFor(const DialogTemplate& dialog) {
  const std::wstring page = programFolder() + L"manual.html";
  if (GetFileAttributesW(page.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  std::string url = fileUrl(page);
  if (!dialog.helpSection.empty()) url += "#" + dialog.helpSection;
  return url;
}

void setHelpOpener(std::function<bool(const std::string& url)> opener) {
  state().host.helpOpener = std::move(opener);
}

void releaseOwnConsole() {
  DWORD processes[2] = {};
  // Only this program on its console: nobody started it from a prompt.
  if (GetConsoleWindow() && GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

}  // namespace ui::win32
