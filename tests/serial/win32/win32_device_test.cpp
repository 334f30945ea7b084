// The Win32 backend against scripted comm calls: every path of the driver that a Wine
// pseudo-terminal cannot show (modem lines, parity, a taken port, a pulled adapter, line
// errors, held output) is played from a script.
#include "serial/win32/win32_device.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace {

using namespace platform;
using namespace serial;
namespace err = serial::comm_error;

constexpr int kEmpty = -1;

// The port as the test sees it: what the calls find and what they did.
struct CommScript {
  // Calls fail in order with these error codes, by call name ("createFile", "readFile", ...).
  std::map<std::string, std::deque<uint32_t>> failures;
  std::deque<int> reads;             // byte values; kEmpty: the read times out
  uint32_t writeLimit = UINT32_MAX;  // bytes one WriteFile takes (a write time-out)
  std::deque<uint32_t> outQueue;     // cbOutQue of successive ClearCommError calls
  CommStat stat;
  uint32_t modem = 0;
  CommDcb dcb;
  uint64_t nowMs = 0;  // advanced by sleepMs

  std::vector<std::string> calls;
  std::string written;
  CommTimeouts timeouts;
  bool open = false;
};

class ScriptedCommApi : public CommApi {
 public:
  explicit ScriptedCommApi(std::shared_ptr<CommScript> script) : m_s(std::move(script)) {}

  bool createFile(const std::string& path, Access access) override {
    if (fails("createFile " + path + (access == Access::None ? " none" : " rw"))) return false;
    m_s->open = true;
    return true;
  }
  void closeHandle() override {
    m_s->calls.push_back("closeHandle");
    m_s->open = false;
  }
  uint32_t lastError() override { return m_error; }
  bool setupComm(uint32_t in, uint32_t out) override {
    return !fails("setupComm " + std::to_string(in) + " " + std::to_string(out));
  }
  bool setCommMask(uint32_t mask) override { return !fails("setCommMask " + std::to_string(mask)); }
  bool setCommTimeouts(const CommTimeouts& timeouts) override {
    if (fails("setCommTimeouts")) return false;
    m_s->timeouts = timeouts;
    return true;
  }
  bool purgeComm(uint32_t flags) override { return !fails("purgeComm " + std::to_string(flags)); }
  bool getCommState(CommDcb& dcb) override {
    if (fails("getCommState")) return false;
    dcb = m_s->dcb;
    return true;
  }
  bool setCommState(const CommDcb& dcb) override {
    if (fails("setCommState")) return false;
    m_s->dcb = dcb;
    return true;
  }
  bool readFile(uint8_t* data, uint32_t, uint32_t& read) override {
    read = 0;
    if (fails("readFile")) return false;
    if (m_s->reads.empty() || m_s->reads.front() == kEmpty) {
      if (!m_s->reads.empty()) m_s->reads.pop_front();
      return true;
    }
    *data = static_cast<uint8_t>(m_s->reads.front());
    m_s->reads.pop_front();
    read = 1;
    return true;
  }
  bool writeFile(const uint8_t* data, uint32_t size, uint32_t& written) override {
    written = std::min(size, m_s->writeLimit);
    if (fails("writeFile " + std::to_string(size))) written = 0;
    m_s->written.append(reinterpret_cast<const char*>(data), written);
    return m_error == 0;
  }
  bool flushFileBuffers() override { return !fails("flushFileBuffers"); }
  bool clearCommError(uint32_t& errors, CommStat& stat) override {
    errors = 0;
    if (fails("clearCommError")) return false;
    stat = m_s->stat;
    if (!m_s->outQueue.empty()) {
      stat.cbOutQue = m_s->outQueue.front();
      if (m_s->outQueue.size() > 1) m_s->outQueue.pop_front();
    }
    return true;
  }
  bool getCommModemStatus(uint32_t& status) override {
    if (fails("getCommModemStatus")) return false;
    status = m_s->modem;
    return true;
  }
  bool escapeCommFunction(uint32_t function) override {
    return !fails("escape " + std::to_string(function));
  }
  uint64_t tickMs() override { return m_s->nowMs; }
  void sleepMs(uint32_t ms) override { m_s->nowMs += ms; }

 private:
  // Records the call; true (with the error set) when the script makes it fail.
  bool fails(const std::string& call) {
    m_s->calls.push_back(call);
    const std::string name = call.substr(0, call.find(' '));
    m_error = 0;
    auto& queue = m_s->failures[name];
    if (queue.empty()) return false;
    m_error = queue.front();
    queue.pop_front();
    return true;
  }

  std::shared_ptr<CommScript> m_s;
  uint32_t m_error = 0;
};

class Win32Device : public ::testing::Test {
 protected:
  std::shared_ptr<CommScript> script = std::make_shared<CommScript>();
  Win32SerialDevice device{"COM5", std::make_unique<ScriptedCommApi>(script)};

  void openDevice() {
    ASSERT_TRUE(device.open());
    script->calls.clear();
  }
  int count(const std::string& call) const {
    return static_cast<int>(std::count(script->calls.begin(), script->calls.end(), call));
  }
};

TEST(Win32DevicePath, com_names_get_the_device_prefix_others_stay) {
  const struct {
    const char* name;
    const char* path;
  } rows[] = {
      {"COM5", "\\\\.\\COM5"},
      {"com12", "\\\\.\\com12"},
      {"\\\\.\\COM3", "\\\\.\\COM3"},
      {"COMX", "COMX"},
      {"COM", "COM"},
      {"COM1a", "COM1a"},
      {"/dev/ttyS0", "/dev/ttyS0"},
  };
  for (const auto& row : rows) EXPECT_EQ(win32DevicePath(row.name), row.path) << row.name;
}

TEST(Win32Probe, tells_free_taken_and_absent_apart_from_the_create_error) {
  const struct {
    uint32_t error;  // 0: CreateFile succeeds
    ProbeResult expected;
  } rows[] = {
      {0, ProbeResult::Free},
      {err::kAccessDenied, ProbeResult::InUse},      // another program holds it, or no rights
      {err::kSharingViolation, ProbeResult::InUse},  // taken (Wine reports this)
      {err::kFileNotFound, ProbeResult::Absent},
      {err::kPathNotFound, ProbeResult::Absent},
      {err::kGenFailure, ProbeResult::Absent},  // a port whose device does not answer
  };
  for (const auto& row : rows) {
    auto script = std::make_shared<CommScript>();
    if (row.error != 0) script->failures["createFile"] = {row.error};
    ScriptedCommApi api(script);
    EXPECT_EQ(Win32SerialDevice::probe("COM12", api), row.expected) << row.error;
    // Without access rights, and a free port is let go at once.
    EXPECT_EQ(script->calls.front(), "createFile \\\\.\\COM12 none");
    EXPECT_FALSE(script->open);
  }
}

// The reason a port will not open, from the same look as the probe's.
TEST(Win32Probe, explains_why_a_port_cannot_be_opened) {
  const struct {
    uint32_t error;  // 0: CreateFile succeeds
    const char* says;
  } rows[] = {
      {0, ""},
      {err::kSharingViolation, "in use by another program"},
      {err::kAccessDenied,
       "access denied: in use by another program (a terminal program, "
       "another zelupdate), or this user has no rights to the port"},
      {err::kFileNotFound, "no such device"},
      {err::kPathNotFound, "no such device"},
      {err::kGenFailure,
       "the device does not respond (adapter unplugged, or its driver failed: "
       "replug the adapter) (error 31)"},
      {err::kDeviceRemoved,
       "the device does not respond (adapter unplugged, or its driver "
       "failed: replug the adapter) (error 1617)"},
      {1450, "cannot be opened (Windows error 1450)"},
  };
  for (const auto& row : rows) {
    auto script = std::make_shared<CommScript>();
    if (row.error != 0) script->failures["createFile"] = {row.error};
    ScriptedCommApi api(script);
    EXPECT_EQ(Win32SerialDevice::explainAccess("COM23", api), row.says) << row.error;
    EXPECT_EQ(script->calls.front(), "createFile \\\\.\\COM23 none");
    EXPECT_FALSE(script->open);
  }
}

TEST_F(Win32Device, open_sets_the_read_and_write_contract_and_takes_the_port_alone) {
  script->dcb.BaudRate = 19200;
  script->dcb.Parity = kEvenParity;
  ASSERT_TRUE(device.open());
  EXPECT_EQ(script->calls[0], "createFile \\\\.\\COM5 rw");
  EXPECT_EQ(count("setCommMask 0"), 1);
  EXPECT_EQ(script->timeouts.ReadIntervalTimeout, kMaxDword);
  EXPECT_EQ(script->timeouts.ReadTotalTimeoutMultiplier, kMaxDword);
  EXPECT_EQ(script->timeouts.ReadTotalTimeoutConstant, 100u);
  EXPECT_EQ(script->timeouts.WriteTotalTimeoutMultiplier, 20u);
  EXPECT_EQ(script->timeouts.WriteTotalTimeoutConstant, 1000u);
  LineSettings settings;
  ASSERT_TRUE(device.getSettings(settings));
  EXPECT_EQ(settings.baudRate, 19200u);
  EXPECT_EQ(settings.parity, Parity::Even);
  device.close();
  EXPECT_FALSE(script->open);
  EXPECT_FALSE(device.isOpen());
}

TEST_F(Win32Device, a_port_that_refuses_to_open_or_the_time_outs_is_not_used) {
  script->failures["createFile"] = {err::kAccessDenied};
  EXPECT_FALSE(device.open());
  EXPECT_FALSE(device.isOpen());
  // Without the time-outs an empty read would wait for ever.
  script->failures["setCommTimeouts"] = {err::kGenFailure};
  EXPECT_FALSE(device.open());
  EXPECT_FALSE(device.isOpen());
  EXPECT_FALSE(script->open);
}

TEST_F(Win32Device, under_the_virtual_clock_an_empty_read_counts_its_100_ms_there) {
  VirtualClock clock;
  ScopedClock scoped(clock);
  ASSERT_TRUE(device.open());
  EXPECT_EQ(script->timeouts.ReadTotalTimeoutConstant, 1u);
  script->reads = {'A', kEmpty};
  uint8_t byte = 0;
  EXPECT_EQ(device.readByte(byte), ReadResult::Byte);
  EXPECT_EQ(byte, 'A');
  EXPECT_EQ(clock.nowMicros(), 0u);
  EXPECT_EQ(device.readByte(byte), ReadResult::Empty);
  EXPECT_EQ(clock.nowMicros(), 100000u);
}

bool sameSettings(const LineSettings& a, const LineSettings& b) {
  return a.baudRate == b.baudRate && a.binary == b.binary && a.dataBits == b.dataBits &&
         a.parityCheck == b.parityCheck && a.parity == b.parity && a.stopBits == b.stopBits &&
         a.outxCtsFlow == b.outxCtsFlow && a.outxDsrFlow == b.outxDsrFlow &&
         a.dtrControl == b.dtrControl && a.rtsControl == b.rtsControl && a.outX == b.outX &&
         a.inX == b.inX && a.xonChar == b.xonChar && a.xoffChar == b.xoffChar &&
         a.xonLim == b.xonLim && a.xoffLim == b.xoffLim;
}

TEST(Win32Settings, every_handshake_mode_and_framing_maps_to_the_dcb_and_back) {
  auto mode = [](bool cts, bool dsr, LineControl dtr, LineControl rts, bool outX, bool inX) {
    LineSettings s;
    s.outxCtsFlow = cts;
    s.outxDsrFlow = dsr;
    s.dtrControl = dtr;
    s.rtsControl = rts;
    s.outX = outX;
    s.inX = inX;
    return s;
  };
  const LineControl on = LineControl::On, hs = LineControl::Handshake;
  std::vector<LineSettings> rows = {
      mode(false, false, on, on, false, false),  // none
      mode(true, false, on, hs, false, false),   // RTS/CTS
      mode(false, false, on, on, true, true),    // XON/XOFF
      mode(false, true, hs, on, false, false),   // DTR/DSR
      mode(false, true, hs, on, true, false),    // DTR/DSR, XON/XOFF on output
  };
  LineSettings framing = rows[0];
  framing.baudRate = 115200;
  framing.dataBits = 7;
  framing.parity = Parity::Even;
  framing.parityCheck = true;
  framing.stopBits = StopBits::Two;
  framing.xonLim = 50;
  framing.xoffLim = 70;
  rows.push_back(framing);
  framing.parity = Parity::Odd;
  framing.stopBits = StopBits::OneAndHalf;
  framing.dataBits = 5;
  rows.push_back(framing);

  for (size_t i = 0; i < rows.size(); ++i) {
    const CommDcb dcb = dcbFromLineSettings(rows[i]);
    EXPECT_FALSE(dcb.fAbortOnError) << i;
    EXPECT_EQ(dcb.fDtrControl, static_cast<uint8_t>(rows[i].dtrControl)) << i;
    EXPECT_EQ(dcb.fRtsControl, static_cast<uint8_t>(rows[i].rtsControl)) << i;
    EXPECT_EQ(dcb.Parity, static_cast<uint8_t>(rows[i].parity)) << i;
    EXPECT_TRUE(sameSettings(lineSettingsFromDcb(dcb), rows[i])) << i;
  }
  // Values the interface cannot name read as their nearest: mark parity none, RTS toggle on.
  CommDcb odd;
  odd.Parity = kMarkParity;
  odd.fRtsControl = kRtsControlToggle;
  EXPECT_EQ(lineSettingsFromDcb(odd).parity, Parity::None);
  EXPECT_EQ(lineSettingsFromDcb(odd).rtsControl, LineControl::On);
}

TEST_F(Win32Device, settings_the_dcb_cannot_carry_are_refused_before_the_driver) {
  openDevice();
  LineSettings good;
  EXPECT_TRUE(device.setSettings(good));
  const struct {
    uint32_t baud;
    uint8_t dataBits;
  } bad[] = {{0, 8}, {9600, 4}, {9600, 9}};
  for (const auto& row : bad) {
    LineSettings settings;
    settings.baudRate = row.baud;
    settings.dataBits = row.dataBits;
    EXPECT_FALSE(device.setSettings(settings)) << row.baud << " " << int{row.dataBits};
  }
  EXPECT_EQ(count("setCommState"), 1);
  // The driver's refusal (5 data bits with 2 stop bits, say) is reported.
  script->failures["setCommState"] = {87};  // ERROR_INVALID_PARAMETER
  EXPECT_FALSE(device.setSettings(good));
  EXPECT_TRUE(device.isOpen());
}

TEST_F(Win32Device, reads_take_one_byte_clear_a_line_error_and_outlast_a_pulled_adapter) {
  uint8_t byte = 0;
  EXPECT_EQ(device.readByte(byte), ReadResult::Failed);  // not open
  openDevice();
  // A parity error with fAbortOnError set by another program: cleared, read again.
  script->failures["readFile"] = {err::kOperationAborted};
  script->reads = {0x55, kEmpty};
  EXPECT_EQ(device.readByte(byte), ReadResult::Byte);
  EXPECT_EQ(byte, 0x55);
  EXPECT_EQ(count("clearCommError"), 1);
  EXPECT_EQ(device.readByte(byte), ReadResult::Empty);
  EXPECT_EQ(script->nowMs, 0u);  // the driver did the waiting

  // The adapter is pulled: the port stays open but dead, each read lasts 100 ms.
  script->failures["readFile"] = {err::kDeviceRemoved};
  EXPECT_EQ(device.readByte(byte), ReadResult::Empty);
  EXPECT_TRUE(device.disconnected());
  EXPECT_EQ(device.readByte(byte), ReadResult::Empty);
  EXPECT_EQ(script->nowMs, 200u);
  EXPECT_EQ(count("readFile"), 4);
  uint32_t written = 0;
  const uint8_t data[] = {1};
  EXPECT_FALSE(device.write(data, 1, written));
  bool held = false;
  EXPECT_FALSE(device.outputHeld(held));
  EXPECT_TRUE(device.purge(true, true));  // nothing left to discard
}

TEST_F(Win32Device, writes_report_what_went_out) {
  openDevice();
  const std::string text = "0123456789";
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  uint32_t written = 0;
  // Time-out on a held line: success with part of the block.
  script->writeLimit = 4;
  EXPECT_TRUE(device.write(data, 10, written));
  EXPECT_EQ(written, 4u);
  // A line error: cleared and the rest written.
  script->writeLimit = UINT32_MAX;
  script->written.clear();
  script->failures["writeFile"] = {err::kOperationAborted};
  EXPECT_TRUE(device.write(data, 10, written));
  EXPECT_EQ(written, 10u);
  EXPECT_EQ(script->written, text);
  // A pulled adapter.
  script->failures["writeFile"] = {err::kBadCommand};
  EXPECT_FALSE(device.write(data, 10, written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(device.disconnected());
}

TEST_F(Win32Device, output_held_by_cts_dsr_or_xoff) {
  openDevice();
  const struct {
    bool cts, dsr, xoff, held;
  } rows[] = {{false, false, false, false},
              {true, false, false, true},
              {false, true, false, true},
              {false, false, true, true}};
  for (const auto& row : rows) {
    script->stat.fCtsHold = row.cts;
    script->stat.fDsrHold = row.dsr;
    script->stat.fXoffHold = row.xoff;
    bool held = !row.held;
    EXPECT_TRUE(device.outputHeld(held));
    EXPECT_EQ(held, row.held);
  }
  script->failures["clearCommError"] = {err::kGenFailure};
  bool held = true;
  EXPECT_FALSE(device.outputHeld(held));
  EXPECT_FALSE(held);
}

TEST_F(Win32Device, drain_flushes_only_once_the_queue_is_empty_and_gives_up_in_bounded_time) {
  script->dcb.BaudRate = 9600;
  openDevice();
  script->outQueue = {3, 2, 0};
  EXPECT_TRUE(device.drain());
  EXPECT_EQ(count("flushFileBuffers"), 1);
  EXPECT_EQ(count("clearCommError"), 3);

  // CTS holds 100 bytes at 9600 baud for good: twice their 105 ms, plus 50 ms, then false.
  script->calls.clear();
  script->nowMs = 0;
  script->stat.fCtsHold = true;
  script->outQueue = {100};
  EXPECT_FALSE(device.drain());
  EXPECT_EQ(count("flushFileBuffers"), 0);
  EXPECT_EQ(script->nowMs, 260u);
}

TEST_F(Win32Device, modem_lines_purge_and_escape_functions) {
  openDevice();
  const struct {
    uint32_t status;
    bool cts, dsr;
  } rows[] = {{0, false, false},
              {kMsCtsOn, true, false},
              {kMsDsrOn, false, true},
              {kMsCtsOn | kMsDsrOn | 0x80, true, true}};
  for (const auto& row : rows) {
    script->modem = row.status;
    bool cts = !row.cts, dsr = !row.dsr;
    EXPECT_TRUE(device.modemStatus(cts, dsr));
    EXPECT_EQ(cts, row.cts);
    EXPECT_EQ(dsr, row.dsr);
  }
  // A port without modem lines (a pseudo-terminal under Wine) reports failure.
  script->failures["getCommModemStatus"] = {1};  // ERROR_INVALID_FUNCTION
  bool cts = false, dsr = false;
  EXPECT_FALSE(device.modemStatus(cts, dsr));
  EXPECT_FALSE(device.disconnected());

  script->calls.clear();
  EXPECT_TRUE(device.setRts());
  EXPECT_TRUE(device.setDtr());
  EXPECT_TRUE(device.clearDtr());
  EXPECT_TRUE(device.purge(true, false));
  EXPECT_TRUE(device.purge(false, true));
  EXPECT_TRUE(device.purge(true, true));
  EXPECT_TRUE(device.setQueueSizes(32000, 5072));
  const std::vector<std::string> expected = {"escape 3",
                                             "escape 5",
                                             "escape 6",
                                             "purgeComm 10",
                                             "purgeComm 5",
                                             "purgeComm 15",
                                             "setupComm 32000 5072"};
  EXPECT_EQ(script->calls, expected);
}

}  // namespace
