// The two read-only viewers of the Windows window: the manual's text, when no browser opens
// its page, and the service history as a table; and the shell's folder chooser.
// The system's headers, windows.h first.
#include "frontends/win32/win32_window.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>

#include "frontends/win32/dialog_resource.h"

namespace ui::win32 {
namespace {

constexpr int kTextId = 100;
constexpr int kSourceId = 101;
constexpr int kTableId = 102;
// The room a history column takes beside its text: the width of this text.
constexpr const char* kColumnMargins = "MM";

HWND g_helpViewer = nullptr;
HWND g_historyViewer = nullptr;

// The help's text window in dialog units: room for the text's 90 columns in its font.
constexpr Rect kHelpViewerSize{0, 0, 440, 320};
constexpr int kHelpFontPoints = 9;

// A fixed-width font for the manual's text, made once and kept for the program's life.
HFONT helpFont(HWND window) {
  static HFONT font = nullptr;
  if (!font) {
    HDC dc = GetDC(window);
    const int height = -MulDiv(kHelpFontPoints, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(window, dc);
    font = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       FIXED_PITCH | FF_MODERN, L"Consolas");
  }
  return font;
}

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
  // Each column as wide as its header and its widest cell, measured in the list's font (its
  // header draws in the same), with room for the margins both draw around a text.
  const auto textWidth = [list](const std::string& text) {
    const std::wstring w = wide(text);
    return static_cast<int>(
        SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(w.c_str())));
  };
  const int margins = textWidth(kColumnMargins);
  for (size_t column = 0; column < table.header.size(); ++column) {
    int widest = textWidth(table.header[column]);
    for (const std::vector<std::string>& cells : table.rows) {
      if (column < cells.size()) widest = std::max(widest, textWidth(cells[column]));
    }
    SendMessageW(list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(widest + margins, 0));
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
  // The manual's plain text, made at build time from the Windows reading of the manual.
  const std::string plain = readWhole(programFolder() + L"manual.txt");
  if (plain.empty()) return false;
  // The edit control breaks lines at CR LF only. A heading is a line of its own between empty
  // lines; the view opens at the first whose anchor is the section's.
  std::string text;
  size_t headingAt = 0;
  bool headingFound = anchor.empty();
  bool afterEmptyLine = true;
  std::istringstream lines(plain);
  for (std::string l; std::getline(lines, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (!headingFound && afterEmptyLine && !l.empty() && l.front() != ' ' &&
        headingAnchor(l) == anchor) {
      headingFound = true;
      headingAt = text.size();
    }
    afterEmptyLine = l.empty();
    text += l;
    text += "\r\n";
  }
  if (!g_helpViewer) {
    ResourceDialog dialog = viewerDialog(u"Help - zelupdate user's manual", kHelpViewerSize);
    // Lines as the text has them (its tables are laid out for a fixed-width font): long ones
    // scroll sideways rather than wrap.
    dialog.items.push_back(item(kTextId, kClassEdit, nullptr,
                                {7, 7, kHelpViewerSize.width - 14, kHelpViewerSize.height - 34},
                                style::kEsMultiline | style::kEsReadOnly | style::kEsAutoVScroll |
                                    ES_AUTOHSCROLL | WS_HSCROLL | style::kVScroll | style::kTabStop,
                                style::kExClientEdge));
    dialog.items.push_back(item(IDCANCEL, kClassButton, nullptr,
                                {kHelpViewerSize.width - 57, kHelpViewerSize.height - 21, 50, 14},
                                style::kTabStop, 0, u"Close"));
    const std::vector<uint16_t> resource = buildDialogResource(dialog);
    // Owned by nobody: it stays open beside the window and does not hold it up.
    g_helpViewer = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                              reinterpret_cast<LPCDLGTEMPLATEW>(resource.data()),
                                              nullptr, helpProcedure, 0);
    if (!g_helpViewer) return false;
    SendDlgItemMessageW(g_helpViewer, kTextId, WM_SETFONT,
                        reinterpret_cast<WPARAM>(helpFont(g_helpViewer)), FALSE);
    runtime::centre(g_helpViewer, owner);
  }
  HWND edit = GetDlgItem(g_helpViewer, kTextId);
  SetWindowTextW(edit, wide(text).c_str());
  ShowWindow(g_helpViewer, SW_SHOW);
  SetForegroundWindow(g_helpViewer);
  // The focus on Close: a dialog that gives an edit control the focus selects its whole text.
  SendMessageW(g_helpViewer, WM_NEXTDLGCTL,
               reinterpret_cast<WPARAM>(GetDlgItem(g_helpViewer, IDCANCEL)), TRUE);
  const auto headingChar = static_cast<WPARAM>(wide(text.substr(0, headingAt)).size());
  SendMessageW(edit, EM_SETSEL, headingChar, static_cast<LPARAM>(headingChar));
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

std::optional<std::string> chooseFolder(HWND owner, const std::string& start) {
  // The dialog is a COM object of this thread; COM stays as it was found.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  std::optional<std::string> chosen;
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_PPV_ARGS(&dialog)))) {
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(L"Update set folder");
    IShellItem* folder = nullptr;
    if (!start.empty() && SUCCEEDED(SHCreateItemFromParsingName(wide(start).c_str(), nullptr,
                                                                IID_PPV_ARGS(&folder)))) {
      dialog->SetFolder(folder);
      folder->Release();
    }
    IShellItem* result = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&result))) {
      PWSTR path = nullptr;
      if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
        chosen = utf8(std::u16string(path, path + lstrlenW(path)));
      }
      CoTaskMemFree(path);
      result->Release();
    }
    dialog->Release();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

}  // namespace ui::win32
