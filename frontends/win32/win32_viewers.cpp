// The two read-only viewers of the Windows window: the manual's text, when no browser opens
// its page, and the service history as a table.
// The system's headers, windows.h first.
#include "frontends/win32/win32_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "frontends/win32/dialog_resource.h"

namespace ui::win32 {
namespace {

constexpr int kTextId = 100;
constexpr int kSourceId = 101;
constexpr int kTableId = 102;

HWND g_helpViewer = nullptr;
HWND g_historyViewer = nullptr;

// The anchor of a heading as the manual's links name it: lower case, blanks to '-', other
// punctuation dropped ("The desktop window" -> "the-desktop-window").
std::string headingAnchor(const std::string& heading) {
  std::string out;
  for (unsigned char c : heading) {
    if (std::isalnum(c) || c == '-' || c == '_' || c >= 0x80) {
      out += static_cast<char>(std::tolower(c));
    } else if (c == ' ') {
      out += '-';
    }
  }
  while (!out.empty() && out.front() == '-') out.erase(out.begin());
  while (!out.empty() && out.back() == '-') out.pop_back();
  return out;
}

ResourceItem item(int id, uint16_t classOrdinal, const char16_t* className, Rect rect,
                  uint32_t itemStyle, uint32_t exStyle = 0, const std::u16string& text = {}) {
  ResourceItem out;
  out.id = static_cast<uint32_t>(id);
  out.classOrdinal = classOrdinal;
  if (className) out.className = className;
  out.text = text;
  out.rect = rect;
  out.style = style::kChild | style::kVisible | itemStyle;
  out.exStyle = exStyle;
  return out;
}

ResourceDialog viewerDialog(const std::u16string& caption, Rect size) {
  ResourceDialog dialog;
  dialog.caption = caption;
  dialog.size = size;
  dialog.style = style::kPopup | style::kCaption | style::kSysMenu | style::kDsModalFrame |
                 style::kDsSetFont | style::kDsFixedSys | style::kDs3dLook;
  return dialog;
}

INT_PTR CALLBACK helpProcedure(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE) {
    DestroyWindow(window);
    return TRUE;
  }
  if (message == WM_DESTROY && g_helpViewer == window) g_helpViewer = nullptr;
  return FALSE;
}

struct HistoryState {
  const HistoryTable* table;
  bool done = false;
};

void fillTable(HWND list, const HistoryTable& table) {
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  for (size_t column = 0; column < table.header.size(); ++column) {
    std::wstring title = wide(table.header[column]);
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH;
    c.cx = 100;
    c.pszText = title.data();
    SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&c));
  }
  for (size_t row = 0; row < table.rows.size(); ++row) {
    const std::vector<std::string>& cells = table.rows[row];
    for (size_t column = 0; column < cells.size() && column < table.header.size(); ++column) {
      std::wstring text = wide(cells[column]);
      LVITEMW cell{};
      cell.mask = LVIF_TEXT;
      cell.iItem = static_cast<int>(row);
      cell.iSubItem = static_cast<int>(column);
      cell.pszText = text.data();
      SendMessageW(list, column == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, column == 0 ? 0 : row,
                   reinterpret_cast<LPARAM>(&cell));
    }
  }
  for (size_t column = 0; column < table.header.size(); ++column) {
    SendMessageW(list, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE_USEHEADER);
  }
  if (!table.rows.empty()) {
    const int newest = static_cast<int>(table.rows.size()) - 1;
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(newest),
                 reinterpret_cast<LPARAM>(&state));
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(newest), FALSE);
  }
}

INT_PTR CALLBACK historyProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    const auto* state = reinterpret_cast<HistoryState*>(lParam);
    std::string caption = state->table->source;
    if (!state->table->error.empty()) {
      caption += "\nThe history cannot be read: " + state->table->error;
    } else if (state->table->rows.empty()) {
      caption += "\nNo service records yet.";
    }
    SetDlgItemTextW(window, kSourceId, wide(caption).c_str());
    fillTable(GetDlgItem(window, kTableId), *state->table);
    SetFocus(GetDlgItem(window, kTableId));
    return FALSE;
  }
  auto* state = reinterpret_cast<HistoryState*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!state) return FALSE;
  if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE) {
    state->done = true;
    return TRUE;
  }
  return FALSE;
}

std::string readWhole(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool showHelpText(HWND owner, const std::string& anchor) {
  const std::string markdown = readWhole(programFolder() + L"manual.md");
  if (markdown.empty()) return false;
  // The edit control breaks lines at CR LF only; the view opens at the heading's first
  // character (the control wraps long lines, so its line numbers are not the file's).
  std::string text;
  size_t headingAt = 0;
  bool headingFound = false;
  std::istringstream lines(markdown);
  for (std::string l; std::getline(lines, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (!headingFound && !anchor.empty() && l.rfind('#', 0) == 0 &&
        headingAnchor(l.substr(l.find_first_not_of('#'))) == anchor) {
      headingFound = true;
      headingAt = text.size();
    }
    text += l;
    text += "\r\n";
  }
  if (!g_helpViewer) {
    ResourceDialog dialog = viewerDialog(u"Help - manual.md", Rect{0, 0, 420, 300});
    dialog.items.push_back(item(kTextId, kClassEdit, nullptr, {7, 7, 406, 266},
                                style::kEsMultiline | style::kEsReadOnly | style::kEsAutoVScroll |
                                    style::kVScroll | style::kTabStop,
                                style::kExClientEdge));
    dialog.items.push_back(
        item(IDCANCEL, kClassButton, nullptr, {363, 279, 50, 14}, style::kTabStop, 0, u"Close"));
    const std::vector<uint16_t> resource = buildDialogResource(dialog);
    // Owned by nobody: it stays open beside the window and does not hold it up.
    g_helpViewer = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                              reinterpret_cast<LPCDLGTEMPLATEW>(resource.data()),
                                              nullptr, helpProcedure, 0);
    if (!g_helpViewer) return false;
    runtime::centre(g_helpViewer, owner);
  }
  HWND edit = GetDlgItem(g_helpViewer, kTextId);
  SetWindowTextW(edit, wide(text).c_str());
  // Shown first: the lines wrap anew once the scroll bar takes its room.
  ShowWindow(g_helpViewer, SW_SHOW);
  SetForegroundWindow(g_helpViewer);
  const auto headingChar = static_cast<WPARAM>(wide(text.substr(0, headingAt)).size());
  const auto headingLine = static_cast<int>(SendMessageW(edit, EM_LINEFROMCHAR, headingChar, 0));
  const auto first = static_cast<int>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
  SendMessageW(edit, EM_LINESCROLL, 0, headingLine - first);
  return true;
}

void runHistoryViewer(HWND owner, const HistoryTable& table) {
  ResourceDialog dialog = viewerDialog(u"History", Rect{0, 0, 480, 240});
  dialog.items.push_back(
      item(kSourceId, kClassStatic, nullptr, {7, 7, 466, 18}, style::kSsNoPrefix));
  dialog.items.push_back(
      item(kTableId, 0, kClassListView, {7, 28, 466, 184},
           style::kLvsReport | style::kLvsSingleSel | style::kLvsShowSelAlways | style::kTabStop,
           style::kExClientEdge));
  dialog.items.push_back(
      item(IDCANCEL, kClassButton, nullptr, {423, 219, 50, 14}, style::kTabStop, 0, u"Close"));
  const std::vector<uint16_t> resource = buildDialogResource(dialog);
  HistoryState state{&table};
  HWND window = CreateDialogIndirectParamW(
      GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(resource.data()), owner,
      historyProcedure, reinterpret_cast<LPARAM>(&state));
  if (!window) return;
  g_historyViewer = window;
  if (owner) EnableWindow(owner, FALSE);
  runtime::centre(window, owner);
  ShowWindow(window, SW_SHOW);
  runtime::runLoop([&state] { return state.done; });
  if (owner) EnableWindow(owner, TRUE);
  g_historyViewer = nullptr;
  DestroyWindow(window);
  if (owner) SetActiveWindow(owner);
}

HWND helpTextViewer() {
  return g_helpViewer;
}

HWND historyViewer() {
  return g_historyViewer;
}

}  // namespace ui::win32
