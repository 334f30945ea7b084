// Baud rates outside the table of termios speed constants (14400, 28800, ...), set through
// the kernel's termios2 interface with BOTHER. This lives in a file of its own because the
// kernel's termios headers clash with the C library's <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

#include "serial/termios/termios_custom_baud.h"

// The C library's declaration, without pulling in <sys/ioctl.h> and its termios types.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace serial {
namespace {

// A driver may round a rate to what its clock divides down to; beyond this deviation (in
// parts per thousand) the line would not work and the rate counts as not supported.
constexpr uint64_t kMaxDeviationPerMille = 20;

bool closeEnough(uint32_t wanted, uint32_t actual) {
  const uint64_t difference = wanted > actual ? wanted - actual : actual - wanted;
  return difference * 1000 <= static_cast<uint64_t>(wanted) * kMaxDeviationPerMille;
}

}  // namespace

bool setCustomBaudRate(int fd, uint32_t baudRate) {
  if (baudRate == 0) return false;
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
  const struct termios2 previous = tio;
  // Output and input speed both given as plain numbers.
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ospeed = baudRate;
  tio.c_ispeed = baudRate;
  if (::ioctl(fd, TCSETS2, &tio) != 0) return false;
  struct termios2 actual {};
  if (::ioctl(fd, TCGETS2, &actual) == 0 && closeEnough(baudRate, actual.c_ospeed)) return true;
  ::ioctl(fd, TCSETS2, &previous);
  return false;
}

}  // namespace serial
