// zelupdatew.exe has no console: what the program prints goes into message boxes instead.
// Standard output and standard error each become the write end of a pipe; a thread per pipe
// reads it and shows each text as it comes, so that a line printed while the window is open
// (a settings file that cannot be written, a record that could not be kept) is seen then.
// The system's headers, windows.h first.
#include "frontends/win32/win32_window.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <mutex>
#include <thread>

#include "frontends/win32/win32_host.h"

namespace ui::win32 {
namespace {

// Enough for every text the program prints at once: a writer never waits for a box.
constexpr DWORD kPipeBytes = 64 * 1024;
constexpr DWORD kReadBytes = 4096;
constexpr const wchar_t* kBoxCaption = L"zelupdate";

OutputBoxShower& shower() {
  static OutputBoxShower instance;
  return instance;
}

void showInBox(const std::string& text, bool error) {
  if (const OutputBoxShower& replaced = shower()) {
    replaced(text, error);
    return;
  }
  // Owned by nobody: the box stands on its own, beside the window or before it opens.
  MessageBoxW(nullptr, wide(text).c_str(), kBoxCaption,
              MB_OK | MB_SETFOREGROUND | (error ? MB_ICONHAND : MB_ICONASTERISK));
}

// Shows what arrives through `pipe` until every writer has closed it. A text is shown once it
// ends a line and nothing more waits, so that one message is one box.
void relay(HANDLE pipe, bool error) {
  std::string text;
  char buffer[kReadBytes];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
    text.append(buffer, got);
    DWORD waiting = 0;
    if (text.back() != '\n' ||
        (PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0)) {
      continue;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!text.empty()) showInBox(text, error);
    text.clear();
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (!text.empty()) showInBox(text, error);
  CloseHandle(pipe);
}

struct Redirection {
  Redirection(std::FILE* s, bool e) : stream(s), error(e) {}
  std::FILE* stream;
  bool error;
  int saved = -1;  // the stream's descriptor before, restored at the end
  bool active = false;
  std::thread reader;
};

Redirection g_redirections[] = {Redirection(stdout, false), Redirection(stderr, true)};
bool g_active = false;

bool redirect(Redirection& r) {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, nullptr, kPipeBytes)) return false;
  const int writer = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_BINARY);
  if (writer < 0) {
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return false;
  }
  std::fflush(r.stream);
  // A program of the Windows subsystem starts with streams that lead nowhere, without a
  // descriptor of their own: they get one first.
  int fd = _fileno(r.stream);
  if (fd < 0 || _get_osfhandle(fd) == -1 || _get_osfhandle(fd) == -2) {
    std::FILE* reopened = std::freopen("NUL", "w", r.stream);
    fd = reopened ? _fileno(reopened) : -1;
    r.saved = -1;
  } else {
    r.saved = _dup(fd);
  }
  if (fd < 0 || _dup2(writer, fd) != 0) {
    _close(writer);
    CloseHandle(readEnd);
    return false;
  }
  _close(writer);
  std::setvbuf(r.stream, nullptr, _IONBF, 0);
  r.reader = std::thread(relay, readEnd, r.error);
  r.active = true;
  return true;
}

void restore(Redirection& r) {
  if (!r.active) return;
  r.active = false;
  std::fflush(r.stream);
  const int fd = _fileno(r.stream);
  // The pipe's last write end closes here: its reader sees the end and shows what is left.
  if (r.saved >= 0) {
    _dup2(r.saved, fd);
    _close(r.saved);
    r.saved = -1;
  } else {
    const int nowhere = _open("NUL", _O_WRONLY);
    if (nowhere >= 0) {
      _dup2(nowhere, fd);
      _close(nowhere);
    }
  }
  if (r.reader.joinable()) r.reader.join();
}

}  // namespace

bool showOutputInMessageBoxes() {
  if (g_active) return true;
  bool all = true;
  for (Redirection& r : g_redirections) all = redirect(r) && all;
  g_active = true;
  return all;
}

void finishOutputMessageBoxes() {
  if (!g_active) return;
  for (Redirection& r : g_redirections) restore(r);
  g_active = false;
}

void setOutputBoxShower(OutputBoxShower show) {
  shower() = std::move(show);
}

}  // namespace ui::win32
