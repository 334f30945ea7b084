// The serial device: the operations the port class needs from the operating system,
// each with the effect of its Windows counterpart. Backends: termios (real ports and
// pseudo-terminals on Linux, serial/termios/), the Windows communications API
// (serial/win32/), a port of a terminal server over the network (serial/rfc2217/) and the
// line to the simulated instrument (sim/). The port class and everything above it include
// only this header.
#pragma once

#include <cstdint>

namespace platform {

enum class Parity : uint8_t { None = 0, Odd = 1, Even = 2 };
enum class StopBits : uint8_t { One = 0, OneAndHalf = 1, Two = 2 };
// How DTR and RTS are driven while the port is open.
enum class LineControl : uint8_t { Off = 0, On = 1, Handshake = 2 };

// The line settings as one portable value (the fields of a Windows device control block
// that the port class reads and writes).
struct LineSettings {
  uint32_t baudRate = 9600;
  bool binary = true;
  uint8_t dataBits = 8;
  bool parityCheck = false;
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;
  bool outxCtsFlow = false;  // output waits while CTS is off
  bool outxDsrFlow = false;  // output waits while DSR is off
  LineControl dtrControl = LineControl::On;
  LineControl rtsControl = LineControl::On;
  bool outX = false;  // output obeys XON/XOFF received from the peer
  bool inX = false;   // input sends XON/XOFF to the peer
  uint8_t xonChar = 0x11;
  uint8_t xoffChar = 0x13;
  uint16_t xonLim = 100;
  uint16_t xoffLim = 100;
};

// What a probe finds out about a port without taking it.
enum class ProbeResult { Free, InUse, Absent };

// Why a port could not be used, where its backend can tell: the network backend says what
// its connection met. None where nothing stood in the way, and for backends that cannot say
// more than the probe's result (a local port explains itself by its device node).
enum class PortFailure : uint8_t {
  None,
  Refused,       // the host answered that nobody listens on that port
  HostNotFound,  // the name could not be looked up within the connect time-out
  Busy,          // the server accepted and then hung up or refused the serial port option:
                 // it lends its port to another client
  NoAnswer,      // nothing answered within the connect time-out (or the host is unreachable)
};

enum class ReadResult { Byte, Empty, Failed };

// What holds up a byte from the far end on its way to this program, beyond its time on the
// line, as far as the device knows it (0: none, or unknown). Where the far end sends its next
// byte only once this program's echo of the last one is back (the programming link), every
// byte it sends costs this much once more.
struct ReceiveDelays {
  uint32_t adapterLatencyUs = 0;    // the host's adapter holds received bytes this long
  uint32_t networkRoundTripUs = 0;  // a network port: a request to the server and its answer
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens the device for exclusive use. False when it is absent, taken or not accessible.
  virtual bool open() = 0;
  // Why the last open() failed, where the backend can tell; None otherwise.
  virtual PortFailure openFailure() const { return PortFailure::None; }
  // Releases the device; harmless when it is not open.
  virtual void close() = 0;
  virtual bool isOpen() const = 0;

  // Driver queue sizes; a hint only.
  virtual bool setQueueSizes(uint32_t inputBytes, uint32_t outputBytes) = 0;
  // Discards what waits in the input and/or output queue.
  virtual bool purge(bool input, bool output) = 0;

  virtual bool getSettings(LineSettings& settings) = 0;
  virtual bool setSettings(const LineSettings& settings) = 0;

  // One byte: returns at once when a byte waits, else as soon as one arrives, else Empty
  // after 100 ms. Failed when the device is not open or broke down.
  virtual ReadResult readByte(uint8_t& byte) = 0;
  // Writes as much as possible within 20 ms per byte + 1000 ms and reports how many bytes
  // went out. False on an error of the device (written then says what did go out).
  virtual bool write(const uint8_t* data, uint32_t size, uint32_t& written) = 0;
  // Waits until the written bytes have left the driver.
  virtual bool drain() = 0;
  // Clears line errors and tells whether output is held by CTS/DSR flow control or by a
  // received XOFF.
  virtual bool outputHeld(bool& held) = 0;

  // Modem lines. False when the device has no modem lines (a pseudo-terminal).
  virtual bool modemStatus(bool& cts, bool& dsr) = 0;
  virtual bool setRts() = 0;
  virtual bool setDtr() = 0;
  virtual bool clearDtr() = 0;

  // Meaningful while the device is open; a local port's adapter is known to the serial
  // inventory instead (serial/serial_inventory.h).
  virtual ReceiveDelays receiveDelays() const { return {}; }
};

}  // namespace platform
