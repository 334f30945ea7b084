// The terminal of a console run: whether input and output are one, its width, single keys
// without Enter and without waiting, and output that waits for a slow reader. Streams are
// named by the C library's file descriptor numbers (0 standard input, 1 standard output),
// which is what the console's options carry on every system.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

bool isTerminal(int fd);

// Columns of the terminal on fd; 0 when it is no terminal or does not tell.
int terminalColumns(int fd);

// Single keys while the object lives: no echo, no line editing, keys typed before are
// dropped; the terminal's settings come back when it goes, and also when the program ends
// on a second request to end. Nothing happens on a stream that is no terminal.
class RawKeys {
 public:
  explicit RawKeys(int fd);
  ~RawKeys();
  RawKeys(const RawKeys&) = delete;
  RawKeys& operator=(const RawKeys&) = delete;
  bool active() const { return m_saved != nullptr; }

 private:
  struct Saved;
  int m_fd;
  Saved* m_saved = nullptr;
};

enum class InputWait {
  Ready,   // bytes (or the end of the input) can be read without waiting
  Woken,   // a request came (platform/requests.h), or the time ran out
  Failed,  // the stream cannot be waited on
};

// Waits at most timeoutMs (0: just looks) until input on fd can be read, or a request
// comes in.
InputWait waitForInput(int fd, int timeoutMs);

// Reads what input is there, at most maxBytes, without waiting: the number of bytes
// (> 0), 0 at the end of the input, -1 when nothing is there yet or on an error.
int readInput(int fd, char* buffer, size_t maxBytes);

// Writes all of `bytes`, waiting for a reader that is slow (a non-blocking stream included).
// False when the output is gone (a closed pipe): the caller goes on without it.
bool writeOutput(int fd, const std::string& bytes);

// While the object lives, writing to output that nobody reads any more (a pager that has
// quit) fails instead of ending the program.
class ClosedOutputTolerated {
 public:
  ClosedOutputTolerated();
  ~ClosedOutputTolerated();
  ClosedOutputTolerated(const ClosedOutputTolerated&) = delete;
  ClosedOutputTolerated& operator=(const ClosedOutputTolerated&) = delete;

 private:
  struct Saved;
  Saved* m_saved;
};

// While the object lives, the program's UTF-8 text reaches a console as UTF-8 (on Windows the
// console's output code page is UTF-8, where it would show "PrÃ¼fstand" for "Prüfstand",
// and the standard streams on the console pass their bytes unchanged, a line in one piece);
// the code page before comes back when the object goes, when the program ends on a request
// (platform/requests.h), and when Ctrl-C or the closing of the console ends it. Pipes and
// files get the same bytes as before. Nothing to do on POSIX, where text is bytes.
class Utf8Console {
 public:
  Utf8Console();
  ~Utf8Console();
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;
  // Whether the console's code page was changed (false without a console, or where it was
  // UTF-8 already).
  bool changed() const { return m_saved != nullptr; }

 private:
  struct Saved;
  Saved* m_saved = nullptr;
};

}  // namespace platform
