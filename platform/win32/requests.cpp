// Requests to stop through the console's control handler: Ctrl-C is the interrupt; Ctrl-Break,
// the closing of the console, the user's logoff and the shutdown are the request to end. A
// child of the fleet has no console: its parent asks it to end through an event of its own,
// whose handle the child inherits and finds in ZEL_END_EVENT, and the parent's death (the
// handle of the parent's process in ZEL_PARENT_PROCESS) is a request to end as well. The
// handler (it runs on a thread of its own) only counts and sets the wake event; the pump
// does the rest.
#include "platform/requests.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/request_counts.h"
#include "platform/win32/win32_shared.h"

namespace platform {
namespace {

// What a console program that Ctrl-C or Ctrl-Break ended returns (STATUS_CONTROL_C_EXIT).
constexpr UINT kEndedExitCode = 0xC000013A;
// After a close, logoff or shutdown the system ends the program once the handler returns,
// so the handler holds on while the program ends itself; the system does not wait longer
// than a few seconds anyway.
constexpr DWORD kCloseHoldMs = 20000;
constexpr wchar_t kEndEventVariable[] = L"ZEL_END_EVENT";
constexpr wchar_t kParentVariable[] = L"ZEL_PARENT_PROCESS";

// Live catchers that catch each kind; the handler passes a kind nobody catches on.
std::atomic<int> g_interruptCatchers{0};
std::atomic<int> g_terminationCatchers{0};
HANDLE g_wake = nullptr;
std::once_flag g_wakeOnce;
HANDLE g_graceCancel = nullptr;
std::once_flag g_parentOnce;

// Console handles and modes to put back; few are ever changed (the keys, the output).
constexpr int kMaxConsoles = 4;
std::atomic<HANDLE> g_consoles[kMaxConsoles] = {};
std::atomic<DWORD> g_consoleModes[kMaxConsoles] = {};
std::atomic<UINT> g_outputCodePage{0};

[[noreturn]] void endAtOnce() {
  win32::restoreConsole();
  ::TerminateProcess(::GetCurrentProcess(), kEndedExitCode);
  ::ExitProcess(kEndedExitCode);  // not reached
}

DWORD WINAPI graceTimer(LPVOID seconds) {
  const DWORD ms = static_cast<DWORD>(reinterpret_cast<uintptr_t>(seconds)) * 1000;
  if (::WaitForSingleObject(g_graceCancel, ms) == WAIT_TIMEOUT) endAtOnce();
  return 0;
}

// Counts a request to end; the second one may end the program (see RequestCatching).
void countTermination() {
  const request_counts::TerminationCounted counted = request_counts::countTermination();
  if (counted.endNow) endAtOnce();
  if (counted.startGrace) {
    const unsigned grace = counted.graceSeconds;
    win32::restoreConsole();
    ::ResetEvent(g_graceCancel);
    const HANDLE timer =
        ::CreateThread(nullptr, 0, graceTimer,
                       reinterpret_cast<LPVOID>(static_cast<uintptr_t>(grace)), 0, nullptr);
    if (timer) ::CloseHandle(timer);
  }
  win32::wake();
}

BOOL WINAPI onControl(DWORD type) {
  if (type == CTRL_C_EVENT) {
    if (g_interruptCatchers.load() == 0) return FALSE;
    request_counts::countInterrupt();
    win32::wake();
    return TRUE;
  }
  if (g_terminationCatchers.load() == 0) return FALSE;
  countTermination();
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    ::Sleep(kCloseHoldMs);  // ended with the program, or by the system before
  }
  return TRUE;
}

// The handles a child of the fleet inherited: its parent's request to end and its parent's
// process; either may be missing.
struct ParentHandles {
  HANDLE endEvent = nullptr;
  HANDLE parent = nullptr;
};

// The parent's requests to end and its death, for as long as the program runs; a request
// that nobody catches ends the program, as the request to end would from the console. The
// parent's death counts once: its handle stays signalled.
DWORD WINAPI watchParent(LPVOID given) {
  const ParentHandles handles = *static_cast<ParentHandles*>(given);
  delete static_cast<ParentHandles*>(given);
  HANDLE waited[2];
  DWORD count = 0;
  if (handles.endEvent) waited[count++] = handles.endEvent;
  if (handles.parent) waited[count++] = handles.parent;
  while (count > 0) {
    const DWORD result = ::WaitForMultipleObjects(count, waited, FALSE, INFINITE);
    if (result >= WAIT_OBJECT_0 + count) return 0;
    const HANDLE signalled = waited[result - WAIT_OBJECT_0];
    if (signalled == handles.parent) {
      ::CloseHandle(handles.parent);
      waited[result - WAIT_OBJECT_0] = waited[--count];
    } else {
      ::ResetEvent(signalled);
    }
    if (g_terminationCatchers.load() == 0) endAtOnce();
    countTermination();
  }
  return 0;
}

// A handle the parent passed in `variable`, taken out of the environment so that a program
// this one starts does not read a number that means nothing there; null when there is none.
HANDLE inheritedHandle(const wchar_t* variable) {
  wchar_t text[32] = {};
  const DWORD length = ::GetEnvironmentVariableW(variable, text, 32);
  if (length == 0 || length >= 32) return nullptr;
  ::SetEnvironmentVariableW(variable, nullptr);
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text, &end, 10);
  if (end == text || *end != L'\0' || value == 0) return nullptr;
  const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  DWORD flags = 0;
  if (!::GetHandleInformation(handle, &flags)) return nullptr;  // not inherited after all
  return handle;
}

void startWatchingParent() {
  auto* handles =
      new ParentHandles{inheritedHandle(kEndEventVariable), inheritedHandle(kParentVariable)};
  if (!handles->endEvent && !handles->parent) {
    delete handles;
    return;
  }
  const HANDLE watcher = ::CreateThread(nullptr, 0, watchParent, handles, 0, nullptr);
  if (watcher) {
    ::CloseHandle(watcher);
  } else {
    delete handles;
  }
}

}  // namespace

namespace win32 {

HANDLE wakeEvent() {
  std::call_once(g_wakeOnce, [] {
    g_wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_graceCancel = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  });
  return g_wake;
}

void wake() {
  if (wakeEvent()) ::SetEvent(g_wake);
}

void drainWake() {
  if (wakeEvent()) ::ResetEvent(g_wake);
}

bool setConsoleToRestore(HANDLE console, DWORD mode) {
  for (int i = 0; i < kMaxConsoles; ++i) {
    if (g_consoles[i].load() == console) return false;
  }
  for (int i = 0; i < kMaxConsoles; ++i) {
    if (g_consoles[i].load() == nullptr) {
      g_consoleModes[i].store(mode);
      g_consoles[i].store(console);
      return true;
    }
  }
  return false;
}

void forgetConsoleToRestore(HANDLE console) {
  for (int i = 0; i < kMaxConsoles; ++i) {
    if (g_consoles[i].load() == console) g_consoles[i].store(nullptr);
  }
}

void setCodePageToRestore(UINT codePage) {
  g_outputCodePage.store(codePage);
}

void restoreConsole() {
  for (int i = 0; i < kMaxConsoles; ++i) {
    const HANDLE console = g_consoles[i].load();
    if (console) ::SetConsoleMode(console, g_consoleModes[i].load());
  }
  if (const UINT codePage = g_outputCodePage.load()) ::SetConsoleOutputCP(codePage);
}

}  // namespace win32

struct RequestCatcher::Saved {
  bool interruptCaught = false;
  bool terminationCaught = false;
  request_counts::CatchSettings settings;
};

RequestCatcher::RequestCatcher(const RequestCatching& catching) : m_saved(new Saved) {
  win32::wakeEvent();  // before the handler may set it
  if (catching.termination) std::call_once(g_parentOnce, startWatchingParent);
  if (request_counts::beginCatching(catching, m_saved->settings)) {
    ::SetConsoleCtrlHandler(onControl, TRUE);
  }
  m_saved->interruptCaught = catching.interrupt;
  m_saved->terminationCaught = catching.termination;
  if (catching.interrupt) ++g_interruptCatchers;
  if (catching.termination) ++g_terminationCatchers;
}

RequestCatcher::~RequestCatcher() {
  if (m_saved->interruptCaught) --g_interruptCatchers;
  if (m_saved->terminationCaught) --g_terminationCatchers;
  if (request_counts::endCatching(m_saved->settings)) ::SetConsoleCtrlHandler(onControl, FALSE);
  delete m_saved;
}

void postRequest(Request kind) {
  request_counts::countPosted(kind);
  win32::wake();
}

void cancelEndGrace() {
  if (win32::wakeEvent()) ::SetEvent(g_graceCancel);
}

void endAsRequested() {
  cancelEndGrace();
  // Text held for the console (platform::Utf8Console) is written before the end.
  std::fflush(stdout);
  std::fflush(stderr);
  win32::restoreConsole();
  ::ExitProcess(kEndedExitCode);
}

}  // namespace platform
