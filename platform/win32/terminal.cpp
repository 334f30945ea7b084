// The console's terminal on Windows: console modes, console input records and the screen
// buffer's window. Output that is a console draws its progress line with virtual-terminal
// sequences; where the console cannot take them it counts as no terminal, and the console
// run prints plain lines. Text goes to a console under the UTF-8 code page while a
// Utf8Console lives. Pipes are polled in short slices, since they cannot be waited on.
#include "platform/terminal.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/win32/win32_shared.h"

namespace platform {
namespace {

// A pipe cannot be waited on: it is looked at in slices of this length.
constexpr DWORD kPipePollMs = 20;
constexpr int kMaxRecords = 64;

std::once_flag g_atExitOnce;
// Key bytes read from the console that the caller had no room for yet.
std::string g_pendingKeys;

void restoreAtExit() {
  std::call_once(g_atExitOnce, [] { std::atexit(win32::restoreConsole); });
}

bool consoleMode(HANDLE handle, DWORD& mode) {
  return handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) == FILE_TYPE_CHAR &&
         ::GetConsoleMode(handle, &mode) != 0;
}

bool isScreenBuffer(HANDLE handle) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  return ::GetConsoleScreenBufferInfo(handle, &info) != 0;
}

bool isConsoleInput(HANDLE handle) {
  DWORD mode = 0;
  return consoleMode(handle, mode) && !isScreenBuffer(handle);
}

// Appends the UTF-8 bytes of the characters that keys pressed down typed; Enter is a line
// feed, as on a terminal.
void appendKeys(const INPUT_RECORD* records, DWORD count, std::string& bytes) {
  for (DWORD i = 0; i < count; ++i) {
    if (records[i].EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
    if (!key.bKeyDown || key.uChar.UnicodeChar == 0) continue;
    wchar_t typed = key.uChar.UnicodeChar == L'\r' ? L'\n' : key.uChar.UnicodeChar;
    char utf8[8];
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, &typed, 1, utf8, sizeof utf8, nullptr, nullptr);
    for (WORD repeat = 0; repeat < (key.wRepeatCount ? key.wRepeatCount : 1); ++repeat) {
      bytes.append(utf8, static_cast<size_t>(n > 0 ? n : 0));
    }
  }
}

// Whether a typed key waits in the console's input; other records (the mouse, focus, keys
// let go) are taken out, so that the console's handle is not signalled for them.
bool keyWaiting(HANDLE console) {
  if (!g_pendingKeys.empty()) return true;
  INPUT_RECORD records[kMaxRecords];
  DWORD count = 0;
  if (!::PeekConsoleInputW(console, records, kMaxRecords, &count) || count == 0) return false;
  std::string keys;
  appendKeys(records, count, keys);
  if (!keys.empty()) return true;
  ::ReadConsoleInputW(console, records, count, &count);
  return false;
}

uint64_t now() {
  return ::GetTickCount64();
}

}  // namespace

namespace win32 {

HANDLE handleOf(int fd) {
  if (fd < 0) return INVALID_HANDLE_VALUE;
  const intptr_t handle = ::_get_osfhandle(fd);
  return handle == -1 || handle == -2 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(handle);
}

}  // namespace win32

bool isTerminal(int fd) {
  const HANDLE handle = win32::handleOf(fd);
  DWORD mode = 0;
  if (!consoleMode(handle, mode)) return false;
  if (!isScreenBuffer(handle) || (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return true;
  // The progress line is redrawn in place with virtual-terminal sequences.
  if (!::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
  restoreAtExit();
  win32::setConsoleToRestore(handle, mode);
  return true;
}

int terminalColumns(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(win32::handleOf(fd), &info)) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : 0;
}

struct RawKeys::Saved {
  DWORD mode = 0;
  bool restoresAtEnd = false;
};

RawKeys::RawKeys(int fd) : m_fd(fd) {
  const HANDLE console = win32::handleOf(fd);
  DWORD mode = 0;
  if (!isConsoleInput(console) || !::GetConsoleMode(console, &mode)) return;
  restoreAtExit();
  m_saved = new Saved{mode, win32::setConsoleToRestore(console, mode)};
  // Keys without Enter and without echo; processed input stays, so that Ctrl-C is still a
  // request and not a key.
  const DWORD keys =
      (mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) | ENABLE_PROCESSED_INPUT;
  ::SetConsoleMode(console, keys);
  // Keys typed before (a stray Enter during a long run) answer nothing.
  ::FlushConsoleInputBuffer(console);
  g_pendingKeys.clear();
}

RawKeys::~RawKeys() {
  if (!m_saved) return;
  const HANDLE console = win32::handleOf(m_fd);
  ::SetConsoleMode(console, m_saved->mode);
  if (m_saved->restoresAtEnd) win32::forgetConsoleToRestore(console);
  delete m_saved;
}

InputWait waitForInput(int fd, int timeoutMs) {
  const HANDLE handle = win32::handleOf(fd);
  if (handle == INVALID_HANDLE_VALUE) return InputWait::Failed;
  const HANDLE wake = win32::wakeEvent();
  const DWORD type = ::GetFileType(handle);
  const bool console = isConsoleInput(handle);
  if (type != FILE_TYPE_PIPE && !console) return InputWait::Ready;  // a file, the null device
  const uint64_t deadline = now() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (console) {
      if (keyWaiting(handle)) return InputWait::Ready;
    } else {
      DWORD available = 0;
      // A broken pipe is ready too: the read that follows sees the end of the input.
      if (!::PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) || available > 0) {
        return InputWait::Ready;
      }
    }
    const uint64_t time = now();
    if (time >= deadline) return InputWait::Woken;
    DWORD slice = static_cast<DWORD>(deadline - time);
    if (!console && slice > kPipePollMs) slice = kPipePollMs;
    const HANDLE handles[2] = {wake, handle};
    const DWORD count = console ? 2 : 1;
    const DWORD result = wake ? ::WaitForMultipleObjects(count, handles, FALSE, slice)
                              : ::WaitForSingleObject(handle, slice);
    if (wake && result == WAIT_OBJECT_0) {
      win32::drainWake();
      return InputWait::Woken;
    }
    if (result == WAIT_FAILED) return InputWait::Failed;
  }
}

int readInput(int fd, char* buffer, size_t maxBytes) {
  const HANDLE handle = win32::handleOf(fd);
  if (handle == INVALID_HANDLE_VALUE || maxBytes == 0) return -1;
  if (isConsoleInput(handle)) {
    if (g_pendingKeys.empty()) {
      INPUT_RECORD records[kMaxRecords];
      DWORD count = 0;
      if (!::GetNumberOfConsoleInputEvents(handle, &count) || count == 0) return -1;
      if (!::ReadConsoleInputW(handle, records, kMaxRecords, &count)) return -1;
      appendKeys(records, count, g_pendingKeys);
      if (g_pendingKeys.empty()) return -1;
    }
    const size_t n = g_pendingKeys.size() < maxBytes ? g_pendingKeys.size() : maxBytes;
    g_pendingKeys.copy(buffer, n);
    g_pendingKeys.erase(0, n);
    return static_cast<int>(n);
  }
  DWORD wanted = maxBytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(maxBytes);
  if (::GetFileType(handle) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!::PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) {
      return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    if (available == 0) return -1;
    if (available < wanted) wanted = available;
  }
  DWORD got = 0;
  if (!::ReadFile(handle, buffer, wanted, &got, nullptr)) {
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return static_cast<int>(got);
}

bool writeOutput(int fd, const std::string& bytes) {
  const HANDLE handle = win32::handleOf(fd);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // What the C library holds for the same stream goes first.
  if (fd == 1) std::fflush(stdout);
  if (fd == 2) std::fflush(stderr);
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t rest = bytes.size() - done;
    const DWORD chunk = rest > 65536 ? 65536 : static_cast<DWORD>(rest);
    DWORD written = 0;
    // A pipe whose reader is gone fails here (there is no signal to catch on Windows).
    if (!::WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

// Writing to a pipe that nobody reads fails with an error on Windows and never ends the
// program: there is nothing to change.
struct ClosedOutputTolerated::Saved {};

ClosedOutputTolerated::ClosedOutputTolerated() : m_saved(nullptr) {}

ClosedOutputTolerated::~ClosedOutputTolerated() = default;

struct Utf8Console::Saved {
  UINT codePage = 0;
  HANDLE stop = nullptr;
  HANDLE flusher = nullptr;
};

namespace {

// Last in the chain of control handlers (registered before any catcher of requests): a Ctrl-C
// or close that nobody caught ends the program once this returns, so the console gets its
// code page back here.
BOOL WINAPI restoreBeforeTheEnd(DWORD) {
  win32::restoreConsole();
  return FALSE;
}

// Text for the console leaves its stream's buffer this often, and before anything else is
// written to the console or read from it.
constexpr DWORD kConsoleFlushMs = 50;
constexpr size_t kConsoleBufferBytes = 65536;

DWORD WINAPI flushConsoleStreams(LPVOID stop) {
  while (::WaitForSingleObject(static_cast<HANDLE>(stop), kConsoleFlushMs) == WAIT_TIMEOUT) {
    std::fflush(stdout);
    std::fflush(stderr);
  }
  return 0;
}

bool isConsoleOutput(int fd) {
  const HANDLE handle = win32::handleOf(fd);
  DWORD mode = 0;
  return consoleMode(handle, mode) && isScreenBuffer(handle);
}

}  // namespace

Utf8Console::Utf8Console() {
  const UINT before = ::GetConsoleOutputCP();  // 0 without a console
  if (before == 0) return;
  // The console takes a UTF-8 character whole only when its bytes come in one write, and the
  // C library would convert the bytes of a text-mode stream itself: a stream on the console
  // passes bytes unchanged and is buffered, so that a line leaves in one piece.
  bool any = false;
  for (std::FILE* stream : {stdout, stderr}) {
    const int fd = ::_fileno(stream);
    if (!isConsoleOutput(fd)) continue;
    std::fflush(stream);
    ::_setmode(fd, _O_BINARY);
    std::setvbuf(stream, nullptr, _IOFBF, kConsoleBufferBytes);
    any = true;
  }
  if (!any) return;
  m_saved = new Saved{before, ::CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
  if (m_saved->stop) {
    m_saved->flusher = ::CreateThread(nullptr, 0, flushConsoleStreams, m_saved->stop, 0, nullptr);
  }
  if (before != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
    win32::setCodePageToRestore(before);
    restoreAtExit();
    ::SetConsoleCtrlHandler(restoreBeforeTheEnd, TRUE);
  } else {
    m_saved->codePage = 0;
  }
}

Utf8Console::~Utf8Console() {
  if (!m_saved) return;
  if (m_saved->flusher) {
    ::SetEvent(m_saved->stop);
    ::WaitForSingleObject(m_saved->flusher, INFINITE);  // it ends within one flush
    ::CloseHandle(m_saved->flusher);
  }
  if (m_saved->stop) ::CloseHandle(m_saved->stop);
  std::fflush(stdout);
  std::fflush(stderr);
  if (m_saved->codePage != 0) {
    ::SetConsoleCtrlHandler(restoreBeforeTheEnd, FALSE);
    win32::setCodePageToRestore(0);
    ::SetConsoleOutputCP(m_saved->codePage);
  }
  delete m_saved;
}

}  // namespace platform
