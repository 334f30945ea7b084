// CComm: the one RS-232 port through which the system talks to the instrument.
//
// Line parameters, time-outs and the stop delimiter are public fields that callers set
// before open() or a read or write. Every operation is blocking and traced.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "serial/serial_device.h"
#include "trace/trace.h"

class CComm {
 public:
  CComm() = default;
  // Destroying the object does not close the port: its owner closes it first.
  ~CComm();
  CComm(const CComm&) = delete;
  CComm& operator=(const CComm&) = delete;

  TraceOwner m_trace{"CComm"};
  int32_t m_portNo = 1;
  int32_t m_dataBits = 8;
  int32_t m_stopBits = 0;  // 0 one, 1 one and a half, 2 two
  int32_t m_baudRate = 115200;
  int32_t m_parity = 2;     // 0 none, 1 odd, 2 even; other values mean none
  int32_t m_handshake = 2;  // 0 none, 1 RTS/CTS, 2 XON/XOFF, 3 DTR/DSR, 4 DTR/DSR + XON/XOFF out
  // The open device; null while the port is closed.
  std::unique_ptr<serial::SerialDevice> m_port;
  // Line settings read from the driver at open() and written back changed.
  serial::LineSettings m_lineSettings{};
  int32_t m_writeTimeout = 25000;  // ms
  int32_t m_readTimeout = 5000;    // ms of inactivity
  int32_t m_stopDelimiter = -1;    // byte that ends an answer, -1 for none
  // Called each time a read has waited for a byte in vain (a device read lasts at most
  // 100 ms), a write has waited 10 ms for a held line, or an open that the port refused is
  // to be tried again, so that a long wait for the instrument can serve the front end's
  // events. A true result abandons the operation at once as failed (a cancel). Empty: not
  // called.
  std::function<bool()> m_waitHook;

  bool isOpen() const { return m_port != nullptr; }

  // 0 free, 1 in use or access denied, -1 absent. Does not touch this object's port.
  // `failure`, where given, gets the backend's cause when the port is not free.
  int checkCommExisting(int32_t portNo, serial::PortFailure* failure = nullptr);
  // 0 success, 1 failure. An open port is closed first.
  int open();
  // Why the last open() failed, where the port's backend can tell (a network port: refused,
  // host not found, busy, no answer); None after a success and where it cannot.
  serial::PortFailure openFailure() const { return m_openFailure; }
  void close();
  // Nonzero on success.
  int writeBufferToPort(const void* data, uint32_t size);
  // printf-style; nonzero on success.
  int writeStringToPort(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // 0 on success, 1 on failure (the opposite sense of the other operations).
  int readBufferFromPort(void* buffer, uint32_t& count, uint32_t size);
  // Nonzero on success.
  int readStringFromPort(char* buffer, uint32_t& count, uint32_t size);
  // Modem lines; the result is the platform call's success flag.
  int getCts(int32_t& state);
  int getDsr(int32_t& state);
  int setRts();
  int setDtr();

 private:
  bool waitAbandoned() const { return m_waitHook && m_waitHook(); }
  // The port's device, opened; null when it could not be (m_openFailure says why, where the
  // backend can tell).
  std::unique_ptr<serial::SerialDevice> openDevice();
  // The line settings for the port's parameters, built on `wanted` as read from the driver.
  // False when the handshake index names no mode.
  bool buildSettings(serial::LineSettings& wanted) const;

  serial::PortFailure m_openFailure = serial::PortFailure::None;
};
