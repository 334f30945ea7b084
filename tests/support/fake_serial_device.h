// A scripted serial device for tests of the code above the device interface.
//
// A FakeSerialLine is the line as the test sees it: the bytes that will arrive (each at a
// time of the program clock), what was written, the modem lines, the held state of the
// output and the faults to play. FakeSerialDevice objects are the device side of it; every
// open of the port creates a new device on the same line, so the line keeps its state over
// close and open as a real port does. Time comes from platform::clock(): with a
// VirtualClock installed a read that finds nothing due within 100 ms moves the clock by
// 100 ms, and one that finds a byte due sooner moves it to that byte.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "serial/serial_device.h"

namespace testing_support {

struct FakeSerialLine {
  // --- Script -----------------------------------------------------------------------

  // What a probe of the port reports.
  serial::ProbeResult probeResult = serial::ProbeResult::Free;
  // Number of open() calls that fail before one succeeds; -1: the port never opens.
  int openFailures = 0;
  bool getSettingsFails = false;
  bool setSettingsFails = false;
  // Largest number of bytes one write() call takes (a partial write when the block is longer).
  uint32_t maxBytesPerWrite = UINT32_MAX;
  // Number of write() calls that report an error; each still takes writtenOnFailure bytes.
  int writeFailures = 0;
  uint32_t writtenOnFailure = 0;
  // The output is held (by CTS or a received XOFF) until the clock reaches this time, or
  // for good.
  uint64_t heldUntilMs = 0;
  bool heldForever = false;
  // A pseudo-terminal has no modem lines: modemStatus, setRts, setDtr, clearDtr fail.
  bool hasModemLines = true;
  bool cts = true;
  bool dsr = true;
  // Reads of an open device fail (a device that broke down) instead of returning Empty.
  bool readsFail = false;

  // Queues bytes that arrive at the given time of the program clock (ms); bytes queued for
  // the same time keep their order.
  void receiveAt(uint64_t atMs, std::string_view bytes);
  // Queues bytes that arrive now.
  void receive(std::string_view bytes);
  // Queues bytes one by one, the first at firstAtMs and each following one intervalMs later.
  void receiveSpaced(uint64_t firstAtMs, uint64_t intervalMs, std::string_view bytes);
  // The bytes not yet taken by a read, arrived or not, in order.
  std::string pending() const;

  // --- Record -----------------------------------------------------------------------

  // Every byte that went out, in order.
  std::string written;
  // The device calls that change something, in order: "open", "open failed", "close",
  // "queues 32000 5072", "purge in out", "purge out", "settings", "clearDtr", "setRts",
  // "setDtr", "drain", "write 12" (bytes taken by the call).
  std::vector<std::string> events;
  // The driver's line settings (what getSettings returns and setSettings stores).
  serial::LineSettings settings{};
  bool rts = false;
  bool dtr = false;
  bool open = false;
  int openCalls = 0;
  int writeCalls = 0;
  int heldQueries = 0;

  // Number of events with this text.
  int count(std::string_view event) const;

  struct Arrival {
    uint64_t atMicros;
    uint8_t byte;
  };
  std::deque<Arrival> incoming;
};

class FakeSerialDevice : public serial::SerialDevice {
 public:
  explicit FakeSerialDevice(std::shared_ptr<FakeSerialLine> line);

  bool isOpen() const override { return m_open; }

 protected:
  bool openImpl() override;
  void closeImpl() override;
  bool setQueueSizesImpl(uint32_t inputBytes, uint32_t outputBytes) override;
  bool purgeImpl(bool input, bool output) override;
  bool getSettingsImpl(serial::LineSettings& settings) override;
  bool setSettingsImpl(const serial::LineSettings& settings) override;
  serial::ReadResult readByteImpl(uint8_t& byte) override;
  bool writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) override;
  bool drainImpl() override;
  bool outputHeldImpl(bool& held) override;
  bool modemStatusImpl(bool& cts, bool& dsr) override;
  bool setRtsImpl() override;
  bool setDtrImpl() override;
  bool clearDtrImpl() override;

 private:
  std::shared_ptr<FakeSerialLine> m_line;
  bool m_open = false;
};

}  // namespace testing_support
