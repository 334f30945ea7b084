// The serial device: the operations the port class needs from the operating system,
// each with the effect of its Windows counterpart. Backends: termios (real ports and
// pseudo-terminals on Linux, serial/termios/), the Windows communications API
// (serial/win32/), a port of a terminal server over the network (serial/rfc2217/) and the
// line to the simulated instrument (sim/sim_port.cpp). The folders of the two local backends
// also hold their system's local ports and the inventory of them (local_device_*,
// serial_inventory_*); the build picks the folder. The port class and the program's
// workflows reach a backend only through this header and device_factory.h; the network
// line's Telnet codec and sockets (serial/rfc2217/) are also used directly by the simulated
// instrument's line server and the console's simulate command.
#pragma once

#include <cstdint>

namespace serial {

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

// Microseconds one character takes on the line at these settings (start bit, data bits,
// parity bit, stop bits; one and a half counted as two), rounded up; at least 1 (also for
// a rate of 0).
inline uint32_t characterMicros(const LineSettings& settings) {
  const uint32_t bits = 1u + settings.dataBits + (settings.parity == Parity::None ? 0u : 1u) +
                        (settings.stopBits == StopBits::One ? 1u : 2u);
  if (settings.baudRate == 0) return 1;
  const uint64_t micros = (uint64_t{bits} * 1000000u + settings.baudRate - 1) / settings.baudRate;
  return micros == 0 ? 1 : static_cast<uint32_t>(micros);
}

// The public operations are the same for every backend and do what all of them need: an
// operation on a device that is not open fails at once (Failed, false; outputs cleared) and
// never reaches the backend; open() of an open device and close() of a closed one do
// nothing. A backend implements the protected part, which runs only on an open device
// (openImpl only on a closed one).
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens the device for exclusive use. False when it is absent, taken or not accessible.
  bool open();
  // Why the last open() failed, where the backend can tell; None otherwise.
  virtual PortFailure openFailure() const { return PortFailure::None; }
  // Releases the device; harmless when it is not open.
  void close();
  virtual bool isOpen() const = 0;

  // Driver queue sizes; a hint only.
  bool setQueueSizes(uint32_t inputBytes, uint32_t outputBytes);
  // Discards what waits in the input and/or output queue.
  bool purge(bool input, bool output);

  bool getSettings(LineSettings& settings);
  bool setSettings(const LineSettings& settings);

  // One byte: returns at once when a byte waits, else as soon as one arrives, else Empty
  // after 100 ms. Failed when the device is not open or broke down.
  ReadResult readByte(uint8_t& byte);
  // Writes as much as possible within 20 ms per byte + 1000 ms and reports how many bytes
  // went out. False on an error of the device (written then says what did go out).
  bool write(const uint8_t* data, uint32_t size, uint32_t& written);
  // Waits until the written bytes have left the driver.
  bool drain();
  // Clears line errors and tells whether output is held by CTS/DSR flow control or by a
  // received XOFF.
  bool outputHeld(bool& held);

  // Modem lines. False when the device has no modem lines (a pseudo-terminal).
  bool modemStatus(bool& cts, bool& dsr);
  bool setRts();
  bool setDtr();
  bool clearDtr();

  // Meaningful while the device is open; a local port's adapter is known to the serial
  // inventory instead (serial/serial_inventory.h).
  virtual ReceiveDelays receiveDelays() const { return {}; }

 protected:
  virtual bool openImpl() = 0;
  virtual void closeImpl() = 0;
  virtual bool setQueueSizesImpl(uint32_t inputBytes, uint32_t outputBytes) = 0;
  virtual bool purgeImpl(bool input, bool output) = 0;
  virtual bool getSettingsImpl(LineSettings& settings) = 0;
  virtual bool setSettingsImpl(const LineSettings& settings) = 0;
  virtual ReadResult readByteImpl(uint8_t& byte) = 0;
  // `written` is 0 on entry.
  virtual bool writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) = 0;
  virtual bool drainImpl() = 0;
  // `held` is false on entry.
  virtual bool outputHeldImpl(bool& held) = 0;
  // `cts` and `dsr` are false on entry.
  virtual bool modemStatusImpl(bool& cts, bool& dsr) = 0;
  virtual bool setRtsImpl() = 0;
  virtual bool setDtrImpl() = 0;
  virtual bool clearDtrImpl() = 0;
};

inline bool SerialDevice::open() {
  return isOpen() || openImpl();
}

inline void SerialDevice::close() {
  if (isOpen()) closeImpl();
}

inline bool SerialDevice::setQueueSizes(uint32_t inputBytes, uint32_t outputBytes) {
  return isOpen() && setQueueSizesImpl(inputBytes, outputBytes);
}

inline bool SerialDevice::purge(bool input, bool output) {
  return isOpen() && purgeImpl(input, output);
}

inline bool SerialDevice::getSettings(LineSettings& settings) {
  return isOpen() && getSettingsImpl(settings);
}

inline bool SerialDevice::setSettings(const LineSettings& settings) {
  return isOpen() && setSettingsImpl(settings);
}

inline ReadResult SerialDevice::readByte(uint8_t& byte) {
  return isOpen() ? readByteImpl(byte) : ReadResult::Failed;
}

inline bool SerialDevice::write(const uint8_t* data, uint32_t size, uint32_t& written) {
  written = 0;
  return isOpen() && writeImpl(data, size, written);
}

inline bool SerialDevice::drain() {
  return isOpen() && drainImpl();
}

inline bool SerialDevice::outputHeld(bool& held) {
  held = false;
  return isOpen() && outputHeldImpl(held);
}

inline bool SerialDevice::modemStatus(bool& cts, bool& dsr) {
  cts = false;
  dsr = false;
  return isOpen() && modemStatusImpl(cts, dsr);
}

inline bool SerialDevice::setRts() {
  return isOpen() && setRtsImpl();
}

inline bool SerialDevice::setDtr() {
  return isOpen() && setDtrImpl();
}

inline bool SerialDevice::clearDtr() {
  return isOpen() && clearDtrImpl();
}

}  // namespace serial
