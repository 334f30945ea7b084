// Starts the Windows program's window as the Start menu's entry does (no command, the
// working folder the program's own) and drives it from outside, as a user would: prints the
// system menu's entries; with --run presses Run, prints the box that ends the run and the
// status list, answers the box; with --chooser picks the system menu's update set folder
// entry, prints the folder chooser's caption and cancels it; then presses Exit. Every wait
// is bounded.
//
//   zel_start_menu_driver PROGRAM [--run | --chooser]
//
// Exit status: 0 when the window opened (with --run: the run ended with its success box; with
// --chooser: the chooser opened) and the program ended by Exit; 1 otherwise.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_templates.h"

namespace {

constexpr int kBoxTextId = 0xFFFF;
// The system command of the window's "Update set folder: FOLDER..." entry.
constexpr WPARAM kUpdateSetFolderCommand = 0x0E10;
constexpr auto kWindowWait = std::chrono::seconds(60);
constexpr auto kRunWait = std::chrono::seconds(300);
constexpr auto kPoll = std::chrono::milliseconds(100);

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring textOf(HWND window) {
  wchar_t text[4096] = {};
  GetWindowTextW(window, text, 4096);
  return text;
}

// Every line printed at once, so that the script sees it even when the program hangs.
void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The visible top-level windows of the process.
std::vector<HWND> windowsOf(DWORD pid) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{pid, {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->pid && IsWindowVisible(window)) s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Polls until `found` gives a window or the time is up.
HWND waitFor(std::chrono::seconds limit, const std::function<HWND()>& found) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (HWND window = found()) return window;
    std::this_thread::sleep_for(kPoll);
  }
  return nullptr;
}

void press(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: zel_start_menu_driver PROGRAM [--run | --chooser]\n", stderr);
    return 1;
  }
  const bool run = argc > 2 && std::string(argv[2]) == "--run";
  const bool chooser = argc > 2 && std::string(argv[2]) == "--chooser";
  const int wideLength = MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, nullptr, 0);
  std::wstring program(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, program.data(), wideLength);
  program.resize(program.size() - 1);
  const std::wstring folder = program.substr(0, program.find_last_of(L"\\/"));
  std::wstring commandLine = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &process)) {
    say("cannot start the program: error " + std::to_string(GetLastError()));
    return 1;
  }
  const DWORD pid = process.dwProcessId;
  const auto end = [&process](bool ok) {
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
      say("the program did not end: ended from outside");
      TerminateProcess(process.hProcess, 1);
      ok = false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ok ? 0 : 1;
  };

  HWND dialog = waitFor(kWindowWait, [pid]() -> HWND {
    for (HWND window : windowsOf(pid)) {
      HWND runButton = GetDlgItem(window, kIdcRun);
      if (runButton && IsWindowEnabled(runButton)) return window;
    }
    return nullptr;
  });
  if (!dialog) {
    say("the window did not open");
    TerminateProcess(process.hProcess, 1);
    return end(false);
  }
  say("caption: " + utf8(textOf(dialog)));
  HMENU menu = GetSystemMenu(dialog, FALSE);
  for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
    wchar_t text[512] = {};
    if (GetMenuStringW(menu, static_cast<UINT>(i), text, 512, MF_BYPOSITION) > 0)
      say("menu: " + utf8(text));
  }

  bool succeeded = true;
  if (run) {
    press(dialog, kIdcRun);
    HWND box = waitFor(kRunWait, [pid, dialog]() -> HWND {
      for (HWND window : windowsOf(pid)) {
        if (window != dialog && GetDlgItem(window, kBoxTextId)) return window;
      }
      return nullptr;
    });
    if (!box) {
      say("no box ended the run");
      TerminateProcess(process.hProcess, 1);
      return end(false);
    }
    const std::string text = utf8(textOf(GetDlgItem(box, kBoxTextId)));
    say("box: " + text);
    succeeded = text.find("successfully completed") != std::string::npos;
    press(box, IDOK);
  }
  if (chooser) {
    PostMessageW(dialog, WM_SYSCOMMAND, kUpdateSetFolderCommand, 0);
    HWND shown = waitFor(kWindowWait, [pid, dialog]() -> HWND {
      for (HWND window : windowsOf(pid)) {
        if (window != dialog && textOf(window) == L"Update set folder") return window;
      }
      return nullptr;
    });
    if (shown) {
      say("chooser: " + utf8(textOf(shown)));
      PostMessageW(shown, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    } else {
      say("no folder chooser opened");
      succeeded = false;
    }
  }
  // Exit, once the window takes input again.
  const HWND exitButton = waitFor(kWindowWait, [dialog]() -> HWND {
    HWND button = GetDlgItem(dialog, kIdcExit);
    return button && IsWindowEnabled(button) && IsWindowEnabled(dialog) ? button : nullptr;
  });
  if (!exitButton) say("Exit did not become enabled");
  if (run) {
    // The status list as the run left it, the lines after its last box included.
    HWND list = GetDlgItem(dialog, kIdcStatusList);
    const auto count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      wchar_t line[1024] = {};
      if (SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) < 1024) {
        SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line));
        say("line: " + utf8(line));
      }
    }
  }
  press(dialog, kIdcExit);
  return end(succeeded && exitButton != nullptr);
}
