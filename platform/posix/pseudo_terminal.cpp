// Pseudo-terminals on POSIX systems: the master end here, the slave end held open as well,
// so that the pair outlives the programs that open and close the slave.
#include "platform/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_shared.h"

namespace platform {
namespace {

struct BaudEntry {
  speed_t code;
  uint32_t baud;
};
constexpr BaudEntry kBauds[] = {
    {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

uint32_t baudOf(speed_t code) {
  for (const BaudEntry& entry : kBauds) {
    if (entry.code == code) return entry.baud;
  }
  return 0;
}

}  // namespace

PseudoTerminal::~PseudoTerminal() {
  close();
}

void PseudoTerminal::close() {
  if (m_farHandle >= 0) ::close(m_farHandle);
  if (m_handle >= 0) ::close(m_handle);
  m_farHandle = -1;
  m_handle = -1;
  m_farName.clear();
}

bool PseudoTerminal::open(std::string& error) {
  close();
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    error = std::string("no pseudo-terminal: ") + std::strerror(errno);
    if (master >= 0) ::close(master);
    return false;
  }
  char name[128] = {};
  if (::ptsname_r(master, name, sizeof name - 1) != 0) {
    error = std::string("no pseudo-terminal name: ") + std::strerror(errno);
    ::close(master);
    return false;
  }
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    error = std::string(name) + ": " + std::strerror(errno);
    ::close(master);
    return false;
  }
  termios settings{};
  ::tcgetattr(slave, &settings);
  ::cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  ::cfsetispeed(&settings, B9600);
  ::cfsetospeed(&settings, B9600);
  ::tcsetattr(slave, TCSANOW, &settings);
  m_handle = master;
  m_farHandle = slave;
  m_farName = name;
  return true;
}

int64_t PseudoTerminal::read(uint8_t* data, size_t size) {
  if (m_handle < 0) return -1;
  for (;;) {
    const ssize_t got = ::read(m_handle, data, size);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EIO ? 0 : -1;
  }
}

int64_t PseudoTerminal::write(const uint8_t* data, size_t size) {
  if (m_handle < 0) return -1;
  for (;;) {
    const ssize_t put = ::write(m_handle, data, size);
    if (put >= 0) return put;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

bool PseudoTerminal::waitReadable(int64_t timeoutUs) {
  if (m_handle < 0) return false;
  pollfd entries[2] = {{m_handle, POLLIN, 0}, {posix::wakeFd(), POLLIN, 0}};
  if (timeoutUs < 0) timeoutUs = 0;
  const timespec wait{static_cast<time_t>(timeoutUs / 1000000),
                      static_cast<long>(timeoutUs % 1000000) * 1000};
  if (::ppoll(entries, 2, &wait, nullptr) <= 0) return false;
  if (entries[1].revents & POLLIN) posix::drainWake();
  return (entries[0].revents & POLLIN) != 0;
}

TerminalFraming PseudoTerminal::framing() {
  TerminalFraming framing;
  termios settings{};
  if (m_farHandle < 0 || ::tcgetattr(m_farHandle, &settings) != 0) return framing;
  if (const uint32_t baud = baudOf(::cfgetospeed(&settings))) framing.baud = baud;
  switch (settings.c_cflag & CSIZE) {
    case CS5:
      framing.dataBits = 5;
      break;
    case CS6:
      framing.dataBits = 6;
      break;
    case CS7:
      framing.dataBits = 7;
      break;
    default:
      framing.dataBits = 8;
      break;
  }
  framing.parity = (settings.c_cflag & PARENB) ? ((settings.c_cflag & PARODD) ? 'O' : 'E') : 'N';
  framing.stopBits = (settings.c_cflag & CSTOPB) ? 2 : 1;
  return framing;
}

void PseudoTerminal::discard() {
  if (m_farHandle >= 0) ::tcflush(m_farHandle, TCIOFLUSH);
}

}  // namespace platform
