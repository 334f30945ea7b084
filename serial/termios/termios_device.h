// The termios backend of the serial device: real ports (/dev/ttyS*, /dev/ttyUSB*,
// /dev/ttyACM*) and pseudo-terminals.
//
// What Linux offers differs from the Windows driver the port class was written against:
//  - Exclusive use is a non-blocking flock on the open device (it binds root too) plus
//    TIOCEXCL; a live UUCP lock file of another program also counts as "in use".
//  - A probe must not open a free port (an open raises DTR and RTS, which the instrument
//    sees), so it looks from the outside: device node, sysfs, access(2), /proc/locks and
//    the UUCP lock files (termios_locks.cpp; the explanation for the technician is in
//    termios_access.cpp).
//  - Linux cannot tell whether output is held by a received XOFF and has no DTR/DSR flow
//    control. The backend therefore does XON/XOFF output flow control and DSR gating
//    itself (the kernel's IXON stays off): received XON/XOFF bytes are taken out of the
//    input and obeyed by the writer, so that outputHeld() is exact. RTS/CTS is the kernel's
//    (CRTSCTS).
//  - Pseudo-terminals have no modem lines (the ioctls answer ENOTTY) and force 8 data bits
//    without parity: modem calls report failure, the framing is not asked of them (so that
//    a second open with the same settings works as the first), everything else keeps
//    working, and flow control that needs a modem line does not hold output there. Their
//    output is never purged: written bytes are already with the far end.
//  - close() waits, bounded, for the output to leave, then drops unread input only.
//  - A hang-up (USB adapter pulled, pseudo-terminal peer closed) leaves the device open but
//    dead: reads return Empty after their 100 ms, writes fail.
//  - drain() waits, bounded, for the driver's output queue (TIOCOUTQ) to empty, looking
//    again every character time. It does not call tcdrain, which waits for the UART's last
//    bit in kernel ticks (4 to 8 ms per echoed byte) and never returns on a USB adapter
//    held by CTS. A pseudo-terminal hands written bytes on at once: its queue reads empty.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serial/received_input.h"
#include "serial/serial_device.h"
#include "serial/termios/termios_locks.h"

namespace serial {

// The termios structure for a set of line settings, built on `base` (the port's current
// termios) flag group by flag group. Empty when the settings cannot be expressed: a baud
// rate outside the table of standard rates, or data bits outside 5 to 8. (The device sets
// other rates by number, where the driver can produce them within 2 %.)
std::optional<termios> termiosFromLineSettings(const LineSettings& settings, termios base);
// The line settings that a termios structure stands for (speed, framing, RTS/CTS); the
// fields termios does not hold keep the values of `base`.
LineSettings lineSettingsFromTermios(const termios& tio, LineSettings base);
// The termios speed constant of a baud rate; B0 when the rate is not in the table.
speed_t baudRateConstant(uint32_t baudRate);

// Waits until `queued` (bytes still in the driver's output queue, negative when it cannot
// be read) reports 0, looking again every `characterMicros` microseconds (real time). The
// wait is bounded by twice the line time of the bytes queued at the start plus a margin
// for the adapter's own buffering. True when the queue emptied; false at the bound or when
// the queue cannot be read.
bool waitForEmptyOutputQueue(const std::function<int()>& queued, uint32_t characterMicros);

class TermiosDevice : public SerialDevice {
 public:
  explicit TermiosDevice(std::string path);
  ~TermiosDevice() override;
  TermiosDevice(const TermiosDevice&) = delete;
  TermiosDevice& operator=(const TermiosDevice&) = delete;

  // Looks at a device without opening it. Absent: no such node, not a character device,
  // or a serial port without a UART behind it (sysfs "type" 0). InUse: no read and write
  // access for this user, a flock held on the device node (by any open file, this process
  // included), or a UUCP lock file of a live process. Free otherwise.
  static ProbeResult probe(const std::string& path);
  // The process that holds the device: the live owner of its UUCP lock file, else the
  // holder of a lock on the device node. 0 when none is known (also for a lock that names
  // no process).
  static pid_t lockHolder(const std::string& path);
  // Why this user cannot open the device now, as one phrase (see explainSerialAccess);
  // empty when nothing stands in the way and for names that are no device paths.
  static std::string explainAccess(const std::string& path);

  const std::string& path() const { return m_path; }

  bool isOpen() const override { return m_fd >= 0; }

  // True once the device hung up while open (adapter pulled, peer closed).
  bool disconnected() const { return m_disconnected; }

 protected:
  bool openImpl() override;
  void closeImpl() override;
  bool setQueueSizesImpl(uint32_t inputBytes, uint32_t outputBytes) override;
  bool purgeImpl(bool input, bool output) override;
  bool getSettingsImpl(LineSettings& settings) override;
  bool setSettingsImpl(const LineSettings& settings) override;
  ReadResult readByteImpl(uint8_t& byte) override;
  bool writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) override;
  bool drainImpl() override;
  bool outputHeldImpl(bool& held) override;
  bool modemStatusImpl(bool& cts, bool& dsr) override;
  bool setRtsImpl() override;
  bool setDtrImpl() override;
  bool clearDtrImpl() override;

 private:
  // Moves what the driver holds into the input buffer, taking out XON/XOFF when the
  // writer obeys them. Returns false when the device hung up.
  bool pullInput();
  // Waits up to timeoutMs for input or a hang-up (real time).
  void waitForInput(int timeoutMs);
  bool modemBit(int bit, bool raise);
  bool heldNow();
  void markDisconnected();

  static constexpr size_t kInputBufferBytes = 4096;

  std::string m_path;
  int m_fd = -1;
  bool m_disconnected = false;
  bool m_pseudoTerminal = false;
  LineSettings m_settings{};
  // Received XOFF not yet followed by XON (only while outX is on).
  bool m_xoffReceived = false;
  // Received bytes not yet handed out.
  ReceivedInput m_input{kInputBufferBytes};
};

}  // namespace serial
