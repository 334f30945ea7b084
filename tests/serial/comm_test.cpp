// CComm against the scripted serial device on the virtual clock.
#include "serial/comm.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/device_factory.h"
#include "tests/support/fake_serial_device.h"

namespace {

using testing_support::FakeSerialDevice;
using testing_support::FakeSerialLine;

constexpr int kPort = 9;
constexpr const char* kDevice = "fake:line";

TraceTime fixedTime() {
  return {7, 12, 2026, 9, 5, 3};
}

// Length of the class, operation, kind, date and time columns ahead of the detail.
constexpr size_t kClassWidth = 12;
constexpr size_t kOperationWidth = 30;
constexpr size_t kKindWidth = 10;
constexpr size_t kDetailColumn = kClassWidth + kOperationWidth + kKindWidth + 13 + 11;

std::string trim(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

std::string rtrim(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// A trace record as "operation|kind|detail", the operation with its indentation.
std::string compact(const std::string& line) {
  if (line.size() < kDetailColumn) return "short record: " + line;
  std::string detail = line.substr(kDetailColumn);
  if (!detail.empty() && detail.back() == '\n') detail.pop_back();
  return rtrim(line.substr(kClassWidth, kOperationWidth)) + "|" +
         trim(line.substr(kClassWidth + kOperationWidth, kKindWidth)) + "|" + detail;
}

class CommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    traceDepth = 0;
    bytesSent = 0;
    setTraceTimeSource(fixedTime);
    platform::setDebugOutputSink([this](const char* text) { records.push_back(compact(text)); });
    registerSerialDeviceFactory(
        "fake:", [this](const std::string&) { return std::make_unique<FakeSerialDevice>(line); },
        [this](const std::string&) { return line->probeResult; });
    serial::setComPortDevice(kPort, kDevice);
    comm.m_portNo = kPort;
    comm.m_baudRate = 9600;
    comm.m_parity = 0;
    comm.m_handshake = 0;
    comm.m_stopDelimiter = 10;
  }

  void TearDown() override {
    if (comm.isOpen()) comm.close();
    serial::setComPortDevice(kPort, "");
    registerSerialDeviceFactory("fake:", nullptr, nullptr);
    platform::setDebugOutputSink(nullptr);
    setTraceTimeSource(nullptr);
    traceDepth = 0;
  }

  // Opens the port and forgets what the open did to the line and the trace.
  void openQuietly() {
    ASSERT_EQ(comm.open(), 0);
    line->events.clear();
    records.clear();
  }

  uint64_t nowMs() { return clock.nowMicros() / 1000; }

  int countRecords(const std::string& kindAndDetail) const {
    int n = 0;
    for (const std::string& record : records) {
      if (record.find("|" + kindAndDetail) != std::string::npos) ++n;
    }
    return n;
  }

  platform::VirtualClock clock;
  platform::ScopedClock scopedClock{clock};
  std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
  CComm comm;
  std::vector<std::string> records;
};

// --- Reads -----------------------------------------------------------------------------

TEST_F(CommTest, block_read_ends_at_delimiter_or_size) {
  struct Row {
    int32_t delimiter;
    uint32_t size;
    std::string input;
    int result;
    std::string read;
    std::string left;
  };
  const Row rows[] = {
      {10, 10, "AB\nC", 0, "AB\n", "C"},  // the delimiter is stored and counted
      {10, 10, "\n", 0, "\n", ""},        // a delimiter alone still ends the read successfully
      {10, 1, "AB", 0, "A", "B"},
      {10, 1, "\nA", 0, "\n", "A"},
      {10, 4, "1234\n", 0, "1234", "\n"},
      {0x10A, 10, "A\nB", 0, "A\n", "B"},  // only the low 8 bits of the delimiter count
      {-1, 3, "A\nBC", 0, "A\nB", "C"},    // no delimiter: a line feed is an ordinary byte
      {10, 10, "ABC", 1, "ABC", ""},       // neither size nor delimiter: times out, keeps the bytes
      {10, 10, "", 1, "", ""},
  };
  openQuietly();
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "input '" << row.input << "' size " << row.size);
    line->incoming.clear();
    line->receive(row.input);
    comm.m_stopDelimiter = row.delimiter;
    char buffer[16] = {};
    uint32_t count = 99;
    EXPECT_EQ(comm.readBufferFromPort(buffer, count, row.size), row.result);
    EXPECT_EQ(std::string(buffer, count), row.read);
    EXPECT_EQ(line->pending(), row.left);
  }
}

TEST_F(CommTest, block_read_records) {
  openQuietly();
  line->receive("\n");
  char buffer[10];
  uint32_t count = 0;
  comm.readBufferFromPort(buffer, count, 10);
  line->receive("AB");
  comm.readBufferFromPort(buffer, count, 10);
  const std::vector<std::string> expected = {
      "readBufferFromPort|+ enter|size=10",
      "readBufferFromPort|* error|null bytes read, only StopDelimiter found",
      "readBufferFromPort|- leave|FALSE {noOfReadBytes= 1}",
      "readBufferFromPort|+ enter|size=10",
      "readBufferFromPort|* error|timed out after 5000 msecs",
  };
  EXPECT_EQ(records, expected);
}

TEST_F(CommTest, text_read_drops_blanks_and_control_bytes) {
  struct Row {
    int32_t delimiter;
    uint32_t size;
    std::string input;
    int result;
    std::string read;
    std::string left;
    int infoRecords;
  };
  const Row rows[] = {
      {10, 99, "  1234\r\n", 1, "1234", "", 1},
      {10, 4, "123456\n", 1, "1234", "56\n", 0},  // bytes not taken stay queued
      {10, 99,
       "\n\r \x01"
       "12\n",
       1, "12", "", 0},  // blanks ahead of the answer: silent
      {10, 99,
       "\xB0"
       "12\xB0"
       "3\n",
       1, "123", "", 1},                   // 0x80..0xFF count as control bytes
      {10, 99, "A B\n", 1, "A B", "", 0},  // inner spaces are kept
      {'>', 99, ">12>", 1, "12", "", 0},   // delimiter before any character is dropped
      {10, 99, "12", 0, "12", "", 0},      // no delimiter: time-out keeps the partial answer
      {10, 99, "", 0, "", "", 0},
      {-1, 99, "12\xFF", 0, "12", "", 1},  // -1 means no delimiter, not the byte 0xFF
  };
  openQuietly();
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "input '" << row.input << "' size " << row.size);
    line->incoming.clear();
    line->receive(row.input);
    records.clear();
    comm.m_stopDelimiter = row.delimiter;
    char buffer[128] = {};
    uint32_t count = 99;
    EXPECT_EQ(comm.readStringFromPort(buffer, count, row.size) != 0, row.result != 0);
    EXPECT_EQ(std::string(buffer, count), row.read);
    EXPECT_EQ(line->pending(), row.left);
    EXPECT_EQ(countRecords("info|blankCharacter found"), row.infoRecords);
  }
}

TEST_F(CommTest, text_read_records) {
  openQuietly();
  comm.m_stopDelimiter = '>';
  line->receive(
      ">1\xB0"
      "2>");
  char buffer[10];
  uint32_t count = 0;
  EXPECT_NE(comm.readStringFromPort(buffer, count, 10), 0);
  line->receive("7");
  EXPECT_EQ(comm.readStringFromPort(buffer, count, 10), 0);
  const std::vector<std::string> expected = {
      "readStringFromPort|+ enter|size=10",
      "readStringFromPort|* error|null bytes read and StopDelimiter found",
      "readStringFromPort|info|blankCharacter found \xB0",
      "readStringFromPort|- leave|TRUE {noOfReadBytes= 2}",
      "readStringFromPort|+ enter|size=10",
      "readStringFromPort|* error|timed out after 5000 msecs",
      "readStringFromPort|- leave|FALSE {noOfReadBytes= 1}",
  };
  EXPECT_EQ(records, expected);
}

TEST_F(CommTest, inactivity_time_out_counts_from_the_last_byte) {
  openQuietly();
  comm.m_readTimeout = 5000;
  char buffer[16];
  uint32_t count = 0;
  // A text line has a bound of its own from its first byte: the time-out and the 22 ms
  // that 15 characters and the line end take at 9600 bits/s. Bytes every 4 s never leave
  // 5 s without one, and blanks are dropped, yet neither keeps the read going past it.
  struct Row {
    std::string bytes;
    std::string read;
  };
  const Row rows[] = {{"12345\n", "12"}, {std::string(40, ' ') + "1\n", ""}};
  for (const Row& row : rows) {
    line->incoming.clear();
    const uint64_t start = nowMs();
    line->receiveSpaced(start + 4000, 4000, row.bytes);
    EXPECT_EQ(comm.readStringFromPort(buffer, count, 15), 0);
    EXPECT_EQ(std::string(buffer, count), row.read);
    EXPECT_GE(nowMs() - start, 4000u + 5022u);
    EXPECT_LT(nowMs() - start, 4000u + 5022u + 200u);
  }
  EXPECT_EQ(countRecords("* error|line not ended after 5022 msecs"), 2);
  line->incoming.clear();

  line->receiveSpaced(nowMs() + 4000, 4000, "ABC\n");
  EXPECT_EQ(comm.readBufferFromPort(buffer, count, 15), 0);
  EXPECT_EQ(std::string(buffer, count), "ABC\n");

  // Two bytes, then silence: the limit runs from the second byte.
  const uint64_t start = nowMs();
  line->receiveSpaced(start + 3000, 1000, "AB");
  EXPECT_EQ(comm.readBufferFromPort(buffer, count, 15), 1);
  EXPECT_EQ(count, 2u);
  EXPECT_GE(nowMs() - start, 4000u + 5000u);
  EXPECT_LT(nowMs() - start, 4000u + 5000u + 100u);
}

TEST_F(CommTest, failing_device_reads_still_time_out) {
  openQuietly();
  line->readsFail = true;
  char buffer[4];
  uint32_t count = 0;
  EXPECT_EQ(comm.readBufferFromPort(buffer, count, 4), 1);
  EXPECT_EQ(comm.readStringFromPort(buffer, count, 4), 0);
  EXPECT_EQ(nowMs(), 10000u);
}

TEST_F(CommTest, operations_on_a_closed_port_fail) {
  char buffer[4];
  uint32_t count = 3;
  EXPECT_EQ(comm.readBufferFromPort(buffer, count, 4), 1);
  EXPECT_EQ(comm.readStringFromPort(buffer, count, 4), 0);
  EXPECT_EQ(comm.writeBufferToPort("x", 1), 0);
  int32_t state = 7;
  EXPECT_EQ(comm.getCts(state), 0);
  EXPECT_EQ(state, 0);
  EXPECT_EQ(comm.setDtr(), 0);
  const std::vector<std::string> expected = {
      "readBufferFromPort|+ enter|size=4",
      "readBufferFromPort|* error|port not open",
      "readBufferFromPort|- leave|TRUE",
      "readStringFromPort|+ enter|size=4",
      "readStringFromPort|* error|port not open",
      "readStringFromPort|- leave|FALSE {noOfReadBytes= 3}",
      "writeBufferToPort|+ enter|size=1",
      "writeBufferToPort|* error|port not open",
      "writeBufferToPort|- leave|FALSE",
  };
  EXPECT_EQ(records, expected);
}

// --- Writes ----------------------------------------------------------------------------

TEST_F(CommTest, write_budget_bounds_attempts_and_held_waits) {
  struct Row {
    int32_t writeTimeout;
    bool heldForever;
    uint64_t heldForMs;
    uint32_t maxBytesPerWrite;
    int result;
    std::string written;
    int writeCalls;
    uint64_t elapsedMs;
  };
  const Row rows[] = {
      {20, false, 0, 100, 1, "0123456789", 1, 0},
      {20, true, 0, 100, 0, "", 0, 20},  // held: 2 attempts share 2 waits of 10 ms
      {20, false, 15, 100, 1, "0123456789", 1, 20},
      {20, false, 25, 100, 0, "", 0, 20},      // released after the budget is spent
      {9, false, 0, 100, 0, "", 0, 0},         // below 10: no attempt at all
      {20, false, 0, 4, 0, "01234567", 2, 0},  // partial writes, attempts run out
      {30, false, 0, 4, 1, "0123456789", 3, 0},
      {25000, true, 0, 100, 0, "", 0, 25000},  // the default bounds a held line to 25 s
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "timeout " << row.writeTimeout << " held " << row.heldForMs
                                    << " chunk " << row.maxBytesPerWrite);
    openQuietly();
    line->written.clear();
    line->writeCalls = 0;
    line->heldForever = row.heldForever;
    line->heldUntilMs = nowMs() + row.heldForMs;
    line->maxBytesPerWrite = row.maxBytesPerWrite;
    comm.m_writeTimeout = row.writeTimeout;
    bytesSent = 0;
    const uint64_t start = nowMs();
    EXPECT_EQ(comm.writeBufferToPort("0123456789", 10) != 0, row.result != 0);
    EXPECT_EQ(line->written, row.written);
    EXPECT_EQ(line->writeCalls, row.writeCalls);
    EXPECT_EQ(nowMs() - start, row.elapsedMs);
    EXPECT_EQ(bytesSent, row.result ? 10u : 0u);
    // A failed write discards the output queue; every write ends with a drain.
    EXPECT_EQ(line->count("purge out"), row.result ? 0 : 1);
    EXPECT_EQ(line->events.back(), "drain");
    EXPECT_EQ(records.back(),
              row.result ? "writeBufferToPort|- leave|TRUE" : "writeBufferToPort|- leave|FALSE");
  }
}

TEST_F(CommTest, failed_write_call_is_retried_without_resending_what_went_out) {
  openQuietly();
  line->writeFailures = 1;
  line->writtenOnFailure = 3;
  EXPECT_NE(comm.writeBufferToPort("0123456789", 10), 0);
  EXPECT_EQ(line->written, "0123456789");
  const std::vector<std::string> expected = {
      "writeBufferToPort|+ enter|size=10",
      "writeBufferToPort|* error|WriteFile in writeBufferToPort",
      "writeBufferToPort|- leave|FALSE",
      "writeBufferToPort|- leave|TRUE",
  };
  EXPECT_EQ(records, expected);

  // A call that reports an error after all bytes went out does not send them again.
  line->written.clear();
  line->writeFailures = 1;
  line->writtenOnFailure = 10;
  EXPECT_NE(comm.writeBufferToPort("0123456789", 10), 0);
  EXPECT_EQ(line->written, "0123456789");
}

TEST_F(CommTest, bytes_sent_counts_whole_blocks_written) {
  openQuietly();
  line->maxBytesPerWrite = 3;
  EXPECT_NE(comm.writeBufferToPort("12345", 5), 0);
  EXPECT_NE(comm.writeStringToPort("*IDN?\r\n"), 0);
  EXPECT_EQ(comm.writeBufferToPort(nullptr, 5), 0);
  EXPECT_EQ(comm.writeBufferToPort("x", 0), 0);
  comm.m_writeTimeout = 5;
  EXPECT_EQ(comm.writeBufferToPort("lost", 4), 0);
  EXPECT_EQ(bytesSent, 5u + 7u);
  EXPECT_EQ(line->written, "12345*IDN?\r\n");
  EXPECT_EQ(countRecords("* error|data to write = NULL"), 2);
}

TEST_F(CommTest, formatted_text_of_any_length_is_sent_whole) {
  openQuietly();
  const std::string fits(1023, 'a');
  const std::string tooLong(1024, 'b');
  const struct {
    std::string text;
    std::string suffix;
  } rows[] = {
      {fits, ""},
      {tooLong, ""},  // one more than the fixed buffer holds: formatted again, not cut
      {fits, "SYST:ERR?\r\n"},
      {std::string(5000, 'c'), "\r\n"},
  };
  uint32_t total = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text.size() + row.suffix.size());
    line->written.clear();
    records.clear();
    EXPECT_NE(comm.writeStringToPort("%s%s", row.text.c_str(), row.suffix.c_str()), 0);
    EXPECT_EQ(line->written, row.text + row.suffix);
    total += static_cast<uint32_t>(row.text.size() + row.suffix.size());
    // The formatted write has no records of its own, only those of the block write.
    const std::vector<std::string> expected = {
        "writeBufferToPort|+ enter|size=" + std::to_string(row.text.size() + row.suffix.size()),
        "writeBufferToPort|- leave|TRUE",
    };
    EXPECT_EQ(records, expected);
  }
  EXPECT_EQ(bytesSent, total);
}

// --- Open and close ----------------------------------------------------------------------

TEST_F(CommTest, open_maps_fields_to_line_settings) {
  using serial::LineControl;
  struct Row {
    int32_t handshake;
    bool ctsFlow, dsrFlow;
    LineControl dtr, rts;
    bool outX, inX;
  };
  const Row rows[] = {
      {0, false, false, LineControl::On, LineControl::On, false, false},
      {1, true, false, LineControl::On, LineControl::Handshake, false, false},
      {2, false, false, LineControl::On, LineControl::On, true, true},
      {3, false, true, LineControl::Handshake, LineControl::On, false, false},
      {4, false, true, LineControl::Handshake, LineControl::On, true, false},
  };
  comm.m_baudRate = 19200;
  comm.m_dataBits = 7;
  comm.m_stopBits = 2;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.handshake);
    line->settings = serial::LineSettings{};
    line->settings.xonChar = 0x55;
    comm.m_handshake = row.handshake;
    comm.m_parity = row.handshake % 3;  // cycles none, odd, even
    ASSERT_EQ(comm.open(), 0);
    const serial::LineSettings& s = line->settings;
    EXPECT_EQ(s.baudRate, 19200u);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, serial::StopBits::Two);
    EXPECT_EQ(static_cast<int>(s.parity), comm.m_parity);
    EXPECT_EQ(s.parityCheck, comm.m_parity != 0);
    EXPECT_EQ(s.outxCtsFlow, row.ctsFlow);
    EXPECT_EQ(s.outxDsrFlow, row.dsrFlow);
    EXPECT_EQ(s.dtrControl, row.dtr);
    EXPECT_EQ(s.rtsControl, row.rts);
    EXPECT_EQ(s.outX, row.outX);
    EXPECT_EQ(s.inX, row.inX);
    EXPECT_EQ(s.xonChar, 0x11);
    EXPECT_EQ(s.xoffChar, 0x13);
    EXPECT_EQ(s.xonLim, 100);
    EXPECT_EQ(s.xoffLim, 100);
  }
  comm.m_parity = 7;  // any other code means no parity
  ASSERT_EQ(comm.open(), 0);
  EXPECT_EQ(line->settings.parity, serial::Parity::None);
  EXPECT_FALSE(line->settings.parityCheck);
}

TEST_F(CommTest, open_prepares_the_line) {
  ASSERT_EQ(comm.open(), 0);
  const std::vector<std::string> events = {"open", "queues 32000 5072", "purge in out", "settings"};
  EXPECT_EQ(line->events, events);
  const std::vector<std::string> expected = {
      "open|+ enter|(no input)",
      "open|info|portno=9",
      " checkCommExisting|+ enter|(no input)",
      " checkCommExisting|- leave|-",
  };
  EXPECT_EQ(records, expected);
}

TEST_F(CommTest, open_failures_after_the_handle_leave_the_port_open) {
  struct Row {
    int32_t handshake;
    int32_t stopBits;
    bool getFails, setFails;
    std::vector<std::string> tail;  // the records after the probe
  };
  const Row rows[] = {
      {5, 0, false, false, {"open|* error|unknown m_handshake index"}},
      {-1, 0, false, false, {"open|* error|unknown m_handshake index"}},
      {0, 0, true, false, {"open|* error|GetCommState failed", "open|- leave|TRUE"}},
      {0, 0, false, true, {"open|* error|SetCommState failed"}},
      {0, 3, false, false, {"open|* error|SetCommState failed"}},  // no such stop-bit code
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.tail.front());
    comm.close();
    line->events.clear();
    records.clear();
    comm.m_handshake = row.handshake;
    comm.m_stopBits = row.stopBits;
    line->getSettingsFails = row.getFails;
    line->setSettingsFails = row.setFails;
    EXPECT_EQ(comm.open(), 1);
    EXPECT_TRUE(comm.isOpen());
    EXPECT_EQ(line->count("settings"), 0);
    const std::vector<std::string> tail(records.begin() + 4, records.end());
    EXPECT_EQ(tail, row.tail);
  }
}

TEST_F(CommTest, open_retries_a_port_that_refuses) {
  struct Row {
    int failures;
    int result;
    int openCalls;
    uint64_t elapsedMs;
  };
  const Row rows[] = {
      {0, 0, 1, 0},
      {2, 0, 3, 1000},
      {5, 0, 6, 2500},
      {-1, 1, 6, 3000},  // never opens: 6 attempts, each followed by 500 ms
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.failures);
    comm.close();
    line->openCalls = 0;
    line->openFailures = row.failures;
    records.clear();
    const uint64_t start = nowMs();
    EXPECT_EQ(comm.open(), row.result);
    EXPECT_EQ(line->openCalls, row.openCalls);
    EXPECT_EQ(nowMs() - start, row.elapsedMs);
    EXPECT_EQ(comm.isOpen(), row.result == 0);
  }
  EXPECT_EQ(records.back(), "open|- leave|TRUE");
  EXPECT_EQ(records[records.size() - 2], "open|* error|CreateFile failed");
}

TEST_F(CommTest, port_in_use_or_absent_is_not_tried) {
  const struct {
    serial::ProbeResult probe;
    int existing;
  } rows[] = {
      {serial::ProbeResult::Free, 0},
      {serial::ProbeResult::InUse, 1},
      {serial::ProbeResult::Absent, -1},
  };
  for (const auto& row : rows) {
    line->probeResult = row.probe;
    EXPECT_EQ(comm.checkCommExisting(kPort), row.existing);
  }
  EXPECT_EQ(line->openCalls, 0);  // probing never opens

  for (serial::ProbeResult probe : {serial::ProbeResult::InUse, serial::ProbeResult::Absent}) {
    line->probeResult = probe;
    EXPECT_EQ(comm.open(), 1);
    EXPECT_EQ(line->openCalls, 0);
    EXPECT_EQ(nowMs(), 0u);
  }
  serial::setComPortDevice(kPort, "");
  EXPECT_EQ(comm.checkCommExisting(kPort), -1);  // a number without a device
}

TEST_F(CommTest, open_on_an_open_port_closes_it_first) {
  openQuietly();
  line->receive("stale");
  comm.m_baudRate = 115200;
  ASSERT_EQ(comm.open(), 0);
  const std::vector<std::string> events = {
      "clearDtr", "purge in out", "close", "open", "queues 32000 5072", "purge in out", "settings",
  };
  EXPECT_EQ(line->events, events);
  EXPECT_EQ(line->pending(), "");
  EXPECT_EQ(line->settings.baudRate, 115200u);
  const std::vector<std::string> expected = {
      "open|+ enter|(no input)",
      "open|info|portno=9",
      " close|+ enter|(no input)",
      " close|- leave|close ok",
      " checkCommExisting|+ enter|(no input)",
      " checkCommExisting|- leave|-",
  };
  EXPECT_EQ(records, expected);
}

TEST_F(CommTest, close_on_a_closed_port_only_traces) {
  comm.close();
  EXPECT_TRUE(line->events.empty());
  const std::vector<std::string> expected = {"close|+ enter|(no input)", "close|- leave|not open"};
  EXPECT_EQ(records, expected);
}

// --- Modem lines ---------------------------------------------------------------------

TEST_F(CommTest, modem_lines) {
  openQuietly();
  line->cts = false;
  line->dsr = true;
  int32_t cts = 7;
  int32_t dsr = 7;
  EXPECT_NE(comm.getCts(cts), 0);
  EXPECT_NE(comm.getDsr(dsr), 0);
  EXPECT_EQ(cts, 0);
  EXPECT_EQ(dsr, 1);
  EXPECT_NE(comm.setRts(), 0);
  EXPECT_NE(comm.setDtr(), 0);
  EXPECT_TRUE(line->rts);
  EXPECT_TRUE(line->dtr);
  EXPECT_TRUE(records.empty());

  // A line without modem lines (a pseudo-terminal) reports failure and reads as off.
  line->hasModemLines = false;
  EXPECT_EQ(comm.getDsr(dsr), 0);
  EXPECT_EQ(dsr, 0);
  EXPECT_EQ(comm.setRts(), 0);
}

}  // namespace
