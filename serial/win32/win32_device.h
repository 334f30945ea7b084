// The Win32 backend of the serial device: "\\.\COMn" through the Windows communications
// calls (CreateFile, Get/SetCommState, SetCommTimeouts, SetupComm, PurgeComm,
// EscapeCommFunction, GetCommModemStatus, ClearCommError, ReadFile/WriteFile,
// FlushFileBuffers), reached through CommApi.
//
// The serial device interface was modelled on this driver, so most operations are one call:
//  - Exclusive use is the driver's: CreateFile without sharing. The probe opens without
//    access rights, which a free port allows and a taken one refuses (access denied or
//    sharing violation); any other error means there is no such port.
//  - Reads: COMMTIMEOUTS with ReadIntervalTimeout and ReadTotalTimeoutMultiplier MAXDWORD
//    and ReadTotalTimeoutConstant 100 make ReadFile of one byte return at once when a byte
//    waits, as soon as one arrives, else with nothing after 100 ms. Writes end after
//    20 ms per byte + 1000 ms with what went out.
//  - XON/XOFF, RTS/CTS and DTR/DSR flow control are the driver's (the DCB); the driver's
//    COMSTAT tells whether output is held by CTS, DSR or a received XOFF.
//  - Errors map to the results of the termios backend: a port that went away (USB adapter
//    pulled) stays open but dead: reads return Empty after their 100 ms, writes fail. A
//    line error with fAbortOnError set is cleared and the call tried once more.
//  - drain() does not call FlushFileBuffers while output is held (it would wait for ever);
//    it waits, bounded, for the output queue to empty and then flushes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/serial_device.h"
#include "serial/win32/comm_api.h"

namespace serial {

// The device path for a port name: "COM12" (any case) becomes "\\.\COM12", which every COM
// number needs from COM10 on; other names are kept as they are.
std::string win32DevicePath(const std::string& name);

// The DCB fields for a set of line settings. fAbortOnError is always off: with it a line
// error (parity, framing, overrun) would fail every read and write until cleared, where the
// termios backend passes the byte on as received.
CommDcb dcbFromLineSettings(const LineSettings& settings);
// The line settings a DCB stands for; mark and space parity read as none.
LineSettings lineSettingsFromDcb(const CommDcb& dcb);

class Win32SerialDevice : public SerialDevice {
 public:
  // `api` carries the calls for this port (createWindowsCommApi() on Windows).
  Win32SerialDevice(std::string name, std::unique_ptr<CommApi> api);
  ~Win32SerialDevice() override;
  Win32SerialDevice(const Win32SerialDevice&) = delete;
  Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

  // Looks at a port without taking it (CreateFile without access rights, closed at once).
  static ProbeResult probe(const std::string& name, CommApi& api);
  // Why the port cannot be opened now, as a phrase for the technician ("in use by another
  // program", "no such device", ...), looked at the same way; empty when it can be.
  static std::string explainAccess(const std::string& name, CommApi& api);

  const std::string& path() const { return m_path; }

  bool isOpen() const override { return m_open; }

  // True once the port went away while open (adapter pulled).
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
  // After a failed call: clears a line error, or marks the port gone. True when the call
  // is worth one more try (the failure was a line error that is now cleared).
  bool recover();
  bool status(CommStat& stat);

  std::string m_path;
  std::unique_ptr<CommApi> m_api;
  bool m_open = false;
  bool m_disconnected = false;
  LineSettings m_settings{};
};

}  // namespace serial
