// A pseudo-terminal of our own: the far end is a serial port to any program that opens it
// (its name goes to the user), this end is read and written here. Framing is what the
// program at the far end set on it, since a pseudo-terminal carries no wave form: a server
// behind it hands the settings on to whatever plays the line. Modem lines do not exist.
// Systems without pseudo-terminals (Windows) refuse to open one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct TerminalFraming {
  uint32_t baud = 9600;
  uint8_t dataBits = 8;
  char parity = 'N';  // 'N', 'O' or 'E'
  uint8_t stopBits = 1;
  bool operator==(const TerminalFraming&) const = default;
};

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // A new pseudo-terminal in raw mode at 9600 baud, 8N1; false with the reason in `error`.
  bool open(std::string& error);
  bool isOpen() const { return m_handle >= 0; }
  void close();
  // The far end's device path ("/dev/pts/7").
  const std::string& farName() const { return m_farName; }

  // Takes up to `size` bytes from the far end without waiting: the count, 0 when none wait
  // , -1 when the pseudo-terminal failed.
  int64_t read(uint8_t* data, size_t size);
  // Hands over up to `size` bytes without waiting: the count, 0 when there is no room now,
  // -1 on failure. Bytes written while no program has the far end open wait there for the
  // next one (which drops them with its first purge, as an opening port class does).
  int64_t write(const uint8_t* data, size_t size);
  // Waits up to timeoutUs for bytes from the far end or a request to stop (Ctrl-C); true
  // when bytes wait.
  bool waitReadable(int64_t timeoutUs);
  // The framing the far end's program set last.
  TerminalFraming framing();
  // Drops what the far end has not read yet and what it wrote that we have not read.
  void discard();

 private:
  int m_handle = -1;
  int m_farHandle = -1;  // held open so that the pseudo-terminal outlives its clients
  std::string m_farName;
};

}  // namespace platform
