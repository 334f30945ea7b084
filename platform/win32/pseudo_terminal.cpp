// Windows has no pseudo-terminal that a program opens as a COM port.
#include "platform/pseudo_terminal.h"

namespace platform {

PseudoTerminal::~PseudoTerminal() {
  close();
}

void PseudoTerminal::close() {
  m_handle = -1;
  m_farHandle = -1;
  m_farName.clear();
}

bool PseudoTerminal::open(std::string& error) {
  error = "pseudo-terminals do not exist on Windows: use --rfc2217";
  return false;
}

int64_t PseudoTerminal::read(uint8_t*, size_t) {
  return -1;
}

int64_t PseudoTerminal::write(const uint8_t*, size_t) {
  return -1;
}

bool PseudoTerminal::waitReadable(int64_t) {
  return false;
}

TerminalFraming PseudoTerminal::framing() {
  return {};
}

void PseudoTerminal::discard() {}

}  // namespace platform
