#include "serial/termios/termios_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <utility>

#include "platform/clock.h"
#include "serial/termios/termios_custom_baud.h"
#include "serial/termios/termios_locks.h"

namespace serial {
namespace {

// An empty read waits this long for a byte.
constexpr int kReadPollMs = 100;
// Under the virtual clock an empty read still looks at the device for a moment of real
// time (bytes already on their way), then counts its full 100 ms on the virtual clock.
constexpr int kVirtualReadPollMs = 1;
// The write time-out: per byte and constant part.
constexpr int kWriteMsPerByte = 20;
constexpr int kWriteConstantMs = 1000;
// While the backend's own flow control holds output it looks again this often.
constexpr int kHeldPollMs = 10;
// With backend flow control the writer hands the driver this many bytes at a time, so
// that an XOFF or a DSR drop stops the output within a short stretch.
constexpr uint32_t kGatedChunkBytes = 64;
// Bytes taken from the driver in one read().
constexpr size_t kReadChunkBytes = 256;
// drain(): the queued bytes may take twice their line time (gaps between characters, a
// slow adapter), plus this much for the buffering of a USB adapter.
constexpr int64_t kDrainLineTimeFactor = 2;
constexpr int64_t kDrainMarginMicros = 50000;
struct BaudEntry {
  uint32_t rate;
  speed_t constant;
};

// The standard rates of the Linux termios interface.
constexpr BaudEntry kBaudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// Real time for the bounds of poll() and write(): the kernel moves bytes in real time,
// whatever clock the program runs on.
int64_t monotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t monotonicMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleepMicros(int64_t micros) {
  timespec pause{static_cast<time_t>(micros / 1000000), static_cast<long>(micros % 1000000) * 1000};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

bool isHangUpError(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

// The raw mode every open port is in: bytes pass unchanged in both directions. The line
// discipline's processing (echo, canonical lines, CR/NL mapping, signals) has no
// counterpart in the driver the port class expects.
void makeRaw(termios& tio) {
  // Input: no break or parity-error translation, no CR/NL mapping, no stripping of the
  // eighth bit. INPCK off: a byte with a parity error is passed on as received rather than
  // replaced by NUL. IXON/IXANY off: the backend obeys XON/XOFF itself.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXANY | IMAXBEL | INPCK | IGNPAR | IUCLC);
  // Output: no post-processing, bytes leave as written.
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  // Local modes: no echo, no line editing, no signals from received characters.
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ICANON |
                                        ISIG | IEXTEN);
  // CLOCAL: ignore DCD. The instrument's cable need not carry it; without CLOCAL a carrier
  // drop would hang the port up. CREAD: the receiver is on.
  tio.c_cflag |= CLOCAL | CREAD;
  // VMIN 1, VTIME 0 on a non-blocking descriptor: read() answers EAGAIN when nothing waits,
  // so a read of 0 bytes means end of file (hang-up). All waiting is done by poll().
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

// The slave side of a pseudo-terminal: the Unix 98 majors 136 to 143, or a legacy one (3).
bool isPseudoTerminalSlave(dev_t rdev) {
  const unsigned major = ::major(rdev);
  return (major >= 136 && major <= 143) || major == 3;
}

}  // namespace

bool waitForEmptyOutputQueue(const std::function<int()>& queued, uint32_t characterMicros) {
  int pending = queued();
  if (pending <= 0) return pending == 0;
  const int64_t step = characterMicros == 0 ? 1 : characterMicros;
  const int64_t deadline =
      monotonicMicros() + pending * step * kDrainLineTimeFactor + kDrainMarginMicros;
  for (;;) {
    const int64_t remaining = deadline - monotonicMicros();
    if (remaining <= 0) return false;
    sleepMicros(remaining < step ? remaining : step);
    pending = queued();
    if (pending <= 0) return pending == 0;
  }
}

speed_t baudRateConstant(uint32_t baudRate) {
  for (const BaudEntry& entry : kBaudTable) {
    if (entry.rate == baudRate) return entry.constant;
  }
  return B0;
}

std::optional<termios> termiosFromLineSettings(const LineSettings& settings, termios base) {
  const speed_t speed = baudRateConstant(settings.baudRate);
  if (speed == B0) return std::nullopt;
  tcflag_t size = 0;
  switch (settings.dataBits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return std::nullopt;
  }

  termios tio = base;
  makeRaw(tio);

  // Input flow control: with inX the kernel asks the peer to pause (sends the XOFF
  // character) when its input buffer runs full and to go on (XON) when it has room again.
  // It only sends; received XON/XOFF stay the backend's business (IXON is off).
  tio.c_iflag &= ~static_cast<tcflag_t>(IXOFF);
  if (settings.inX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(settings.xonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(settings.xoffChar);

  // Character size.
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  tio.c_cflag |= size;

  // Parity: generated and expected on the line for odd and even; none otherwise. Space
  // and mark parity (CMSPAR) are not used.
  tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
  if (settings.parity == Parity::Odd) tio.c_cflag |= PARENB | PARODD;
  if (settings.parity == Parity::Even) tio.c_cflag |= PARENB;

  // Stop bits: termios knows one or two; one and a half becomes two.
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  if (settings.stopBits != StopBits::One) tio.c_cflag |= CSTOPB;

  // RTS/CTS: the kernel stops sending while CTS is off and drives RTS from the fill of its
  // input buffer. DTR/DSR and XON/XOFF output flow control are done by the backend.
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  if (settings.outxCtsFlow) tio.c_cflag |= CRTSCTS;

  // Speed, the same in both directions.
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  return tio;
}

LineSettings lineSettingsFromTermios(const termios& tio, LineSettings base) {
  LineSettings settings = base;
  const speed_t speed = ::cfgetospeed(&tio);
  for (const BaudEntry& entry : kBaudTable) {
    if (entry.constant == speed) settings.baudRate = entry.rate;
  }
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      settings.dataBits = 5;
      break;
    case CS6:
      settings.dataBits = 6;
      break;
    case CS7:
      settings.dataBits = 7;
      break;
    default:
      settings.dataBits = 8;
      break;
  }
  if (tio.c_cflag & PARENB) {
    settings.parity = (tio.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    settings.parityCheck = true;
  } else {
    settings.parity = Parity::None;
    settings.parityCheck = false;
  }
  settings.stopBits = (tio.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
  settings.outxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  settings.inX = (tio.c_iflag & IXOFF) != 0;
  return settings;
}

TermiosDevice::TermiosDevice(std::string path) : m_path(std::move(path)) {}

TermiosDevice::~TermiosDevice() {
  close();
}

bool TermiosDevice::openImpl() {
  m_disconnected = false;
  m_xoffReceived = false;
  m_input.clear();

  if (uucpLockHeld(m_path)) {
    errno = EBUSY;
    return false;
  }
  const int fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Exclusive use: flock binds every process, root included; TIOCEXCL additionally keeps
  // out programs that open without looking for locks (root excepted).
  termios tio{};
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0 ||
      ::tcgetattr(fd, &tio) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return false;
  }
  m_fd = fd;
  struct stat node {};
  m_pseudoTerminal = ::fstat(fd, &node) == 0 && isPseudoTerminalSlave(node.st_rdev);
  m_settings = lineSettingsFromTermios(tio, LineSettings{});
  makeRaw(tio);
  ::tcsetattr(m_fd, TCSANOW, &tio);

  // Low-latency mode: a USB adapter otherwise collects received bytes for up to 16 ms,
  // which costs that much on every echoed byte of the programming link. Ports that do not
  // know the request (pseudo-terminals) simply refuse it.
  serial_struct serial{};
  if (::ioctl(m_fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(m_fd, TIOCSSERIAL, &serial);
  }
  return true;
}

void TermiosDevice::closeImpl() {
  // What was written leaves first (bounded); only input not yet taken is dropped.
  if (!m_disconnected) drain();
  ::tcflush(m_fd, TCIFLUSH);
  // Let later opens of the same tty (by a non-root user) through again, even when another
  // descriptor keeps the tty alive.
  ::ioctl(m_fd, TIOCNXCL);
  ::flock(m_fd, LOCK_UN);
  ::close(m_fd);
  m_fd = -1;
  m_disconnected = false;
  m_xoffReceived = false;
  m_input.clear();
}

bool TermiosDevice::setQueueSizesImpl(uint32_t, uint32_t) {
  // The kernel's queues have a fixed size; reads are taken from them promptly.
  return true;
}

bool TermiosDevice::purgeImpl(bool input, bool output) {
  if (input) {
    m_input.clear();
  }
  // A pseudo-terminal has no transmit queue: what was written already waits at the far end,
  // and flushing the slave's output would discard it there.
  if (m_pseudoTerminal) output = false;
  if (!input && !output) return true;
  const int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
  return ::tcflush(m_fd, queue) == 0 || m_disconnected;
}

bool TermiosDevice::getSettingsImpl(LineSettings& settings) {
  settings = m_settings;
  return true;
}

bool TermiosDevice::setSettingsImpl(const LineSettings& settings) {
  if (m_disconnected) return false;
  termios current{};
  if (::tcgetattr(m_fd, &current) != 0) return false;
  std::optional<termios> wanted = termiosFromLineSettings(settings, current);
  // A rate without a speed constant (14400, 28800, ...): everything else as usual with a
  // stand-in speed, then the rate itself by number.
  const bool customRate =
      !wanted && settings.baudRate != 0 && baudRateConstant(settings.baudRate) == B0;
  if (customRate) {
    LineSettings standIn = settings;
    standIn.baudRate = 38400;
    wanted = termiosFromLineSettings(standIn, current);
  }
  if (!wanted) return false;
  if (m_pseudoTerminal) {
    // A pseudo-terminal always carries 8 bits without parity and ignores a request for
    // anything else; asking for it anyway would fail a call that changes nothing else.
    wanted->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR);
    wanted->c_cflag |= CS8;
  }
  if (::tcsetattr(m_fd, TCSANOW, &*wanted) != 0) return false;
  if (customRate && !setCustomBaudRate(m_fd, settings.baudRate)) {
    ::tcsetattr(m_fd, TCSANOW, &current);
    return false;
  }
  m_settings = settings;
  if (!settings.outX) m_xoffReceived = false;

  // The output lines take their state at once. On/Handshake raise them: with the DTR
  // handshake the line says "room for input", which the backend always has; the RTS
  // handshake is the kernel's (CRTSCTS). Ports without modem lines ignore this.
  modemBit(TIOCM_DTR, settings.dtrControl != LineControl::Off);
  modemBit(TIOCM_RTS, settings.rtsControl != LineControl::Off);
  return true;
}

void TermiosDevice::markDisconnected() {
  m_disconnected = true;
}

bool TermiosDevice::pullInput() {
  if (m_disconnected) return false;
  uint8_t chunk[kReadChunkBytes];
  while (m_input.room() > 0) {
    size_t room = m_input.room();
    if (room > sizeof chunk) room = sizeof chunk;
    const ssize_t got = ::read(m_fd, chunk, room);
    if (got > 0) {
      m_input.take(chunk, static_cast<size_t>(got), m_settings, m_xoffReceived);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    // End of file or an error of the device: the port hung up.
    markDisconnected();
    return false;
  }
  return true;
}

void TermiosDevice::waitForInput(int timeoutMs) {
  if (timeoutMs <= 0) return;
  // With the input buffer full nothing more can be taken from the driver, so the device
  // would report "ready" at once for ever: wait as a plain pause instead of spinning.
  if (m_disconnected || m_input.room() == 0) {
    ::poll(nullptr, 0, timeoutMs);
    return;
  }
  pollfd entry{m_fd, POLLIN, 0};
  const int ready = ::poll(&entry, 1, timeoutMs);
  if (ready <= 0) return;
  const size_t before = m_input.size();
  const bool xoffBefore = m_xoffReceived;
  if (!pullInput()) return;
  // Told that something is there, but the read found nothing: a hang-up.
  if ((entry.revents & (POLLHUP | POLLERR | POLLNVAL)) && m_input.size() == before &&
      m_xoffReceived == xoffBefore) {
    markDisconnected();
  }
}

ReadResult TermiosDevice::readByteImpl(uint8_t& byte) {
  if (m_input.empty() && !m_disconnected) pullInput();
  if (m_input.empty()) {
    const bool virtualTime = dynamic_cast<platform::VirtualClock*>(&platform::clock()) != nullptr;
    const int64_t deadline = monotonicMs() + (virtualTime ? kVirtualReadPollMs : kReadPollMs);
    for (;;) {
      const int64_t remaining = deadline - monotonicMs();
      if (remaining <= 0 || !m_input.empty()) break;
      // Returns early when bytes arrive; a hang-up turns the rest of the wait into a plain
      // pause, so a dead port costs no CPU either.
      waitForInput(static_cast<int>(remaining));
    }
    if (m_input.empty()) {
      if (virtualTime) platform::clock().sleepMicros(static_cast<uint64_t>(kReadPollMs) * 1000);
      return ReadResult::Empty;
    }
  }
  m_input.pop(byte);
  return ReadResult::Byte;
}

bool TermiosDevice::heldNow() {
  if (m_settings.outX && m_xoffReceived) return true;
  if (!m_settings.outxCtsFlow && !m_settings.outxDsrFlow) return false;
  bool cts = false, dsr = false;
  // Without modem lines (a pseudo-terminal) nothing holds the output.
  if (!modemStatus(cts, dsr)) return false;
  return (m_settings.outxCtsFlow && !cts) || (m_settings.outxDsrFlow && !dsr);
}

bool TermiosDevice::writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) {
  if (m_disconnected) return false;
  if (size == 0) return true;
  if (data == nullptr) return false;
  const bool gated = m_settings.outX || m_settings.outxDsrFlow;
  const int64_t deadline =
      monotonicMs() + static_cast<int64_t>(size) * kWriteMsPerByte + kWriteConstantMs;

  while (written < size) {
    const int64_t remaining = deadline - monotonicMs();
    if (remaining <= 0) break;
    if (gated) {
      if (m_settings.outX && !pullInput()) return false;
      if (heldNow()) {
        // Wait for the XON (input) or the next look at DSR.
        const int wait = static_cast<int>(remaining < kHeldPollMs ? remaining : kHeldPollMs);
        if (m_settings.outX) {
          waitForInput(wait);
          if (m_disconnected) return false;
        } else {
          ::poll(nullptr, 0, wait);
        }
        continue;
      }
    }
    uint32_t chunk = size - written;
    if (gated && chunk > kGatedChunkBytes) chunk = kGatedChunkBytes;
    const ssize_t sent = ::write(m_fd, data + written, chunk);
    if (sent > 0) {
      written += static_cast<uint32_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno == EAGAIN) {
      // The driver's queue is full (or CTS holds it): wait for room.
      int wait = static_cast<int>(remaining);
      if (gated && wait > kHeldPollMs) wait = kHeldPollMs;
      pollfd entry{m_fd, POLLOUT, 0};
      if (::poll(&entry, 1, wait) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        markDisconnected();
        return false;
      }
      continue;
    }
    if (sent < 0 && isHangUpError(errno)) markDisconnected();
    return false;
  }
  // Time is up: report what went out, like a write that timed out.
  return true;
}

bool TermiosDevice::drainImpl() {
  if (m_disconnected) return false;
  // The driver's queue only: what the UART's own FIFO still holds leaves by itself within
  // a few character times, and nothing the port class does next needs it gone.
  return waitForEmptyOutputQueue(
      [this] {
        int pending = 0;
        return ::ioctl(m_fd, TIOCOUTQ, &pending) == 0 ? pending : -1;
      },
      characterMicros(m_settings));
}

bool TermiosDevice::outputHeldImpl(bool& held) {
  if (m_disconnected) return false;
  // An XOFF may wait unread in the driver.
  if (m_settings.outX && !pullInput()) return false;
  held = heldNow();
  return true;
}

bool TermiosDevice::modemStatusImpl(bool& cts, bool& dsr) {
  int lines = 0;
  if (::ioctl(m_fd, TIOCMGET, &lines) != 0) return false;
  cts = (lines & TIOCM_CTS) != 0;
  dsr = (lines & TIOCM_DSR) != 0;
  return true;
}

bool TermiosDevice::modemBit(int bit, bool raise) {
  return ::ioctl(m_fd, raise ? TIOCMBIS : TIOCMBIC, &bit) == 0;
}

bool TermiosDevice::setRtsImpl() {
  return modemBit(TIOCM_RTS, true);
}

bool TermiosDevice::setDtrImpl() {
  return modemBit(TIOCM_DTR, true);
}

bool TermiosDevice::clearDtrImpl() {
  return modemBit(TIOCM_DTR, false);
}

}  // namespace serial
