// CZel against a scripted line: exact bytes on the wire, answers at chosen times, modem
// lines and ports that do not open.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/profile.h"
#include "serial/com_ports.h"
#include "serial/device_factory.h"
#include "tests/instrument/zel_fixture.h"
#include "tests/support/fake_serial_device.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::FakeSerialDevice;
using testing_support::FakeSerialLine;

constexpr int kPort = 9;

class ScriptedSessionTest : public zel_testing::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    registerSerialDeviceFactory(
        "fake:", [this](const std::string&) { return std::make_unique<FakeSerialDevice>(line); },
        [this](const std::string&) { return line->probeResult; });
    serial::setComPortDevice(kPort, "fake:line");
    zel.m_comm.m_portNo = kPort;
  }

  void TearDown() override {
    SessionTest::TearDown();
    serial::setComPortDevice(kPort, "");
    registerSerialDeviceFactory("fake:", nullptr, nullptr);
  }

  void openPort() {
    ASSERT_EQ(zel.open(), 0);
    line->written.clear();
    line->events.clear();
    lines.clear();
  }

  // Number of times the text went out on the line.
  int sent(const std::string& text) const {
    int n = 0;
    for (size_t at = line->written.find(text); at != std::string::npos;
         at = line->written.find(text, at + 1))
      ++n;
    return n;
  }

  std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
};

TEST_F(ScriptedSessionTest, execute_command_upper_cases_in_place_and_reads_nothing) {
  openPort();
  char command[] = "sense:swup\r\n";
  char answer[129];
  uint32_t length = 128;
  line->receive("unexpected\n");
  EXPECT_NE(zel.executeCommand(command, answer, length), 0);
  EXPECT_STREQ(command, "SENSE:SWUP\r\n");
  EXPECT_EQ(line->written, "SENSE:SWUP\r\n");
  EXPECT_EQ(length, 0u);
  EXPECT_STREQ(answer, "");
  EXPECT_EQ(line->pending(), "unexpected\n");
}

TEST_F(ScriptedSessionTest, dump_read_query_takes_a_raw_block_and_resets_the_port) {
  openPort();
  zel.m_comm.m_stopDelimiter = 13;
  zel.m_comm.m_readTimeout = 300;
  const std::string block(
      "\x01\n\x00\xFF"
      "AB",
      6);
  line->receiveSpaced(nowMs() + 10, 1500, block);  // gaps below the 2000 ms limit
  char command[] = "read:dump? 0,6\r\n";
  char answer[33];
  uint32_t length = 32;
  const uint64_t start = nowMs();
  EXPECT_NE(zel.executeCommand(command, answer, length), 0);
  EXPECT_EQ(std::string(answer, length), block);
  EXPECT_EQ(answer[length], '\0');
  EXPECT_GE(nowMs() - start, 10u + 5 * 1500 + 2000);  // ended by 2000 ms of silence
  EXPECT_EQ(zel.m_comm.m_stopDelimiter, 10);
  EXPECT_EQ(zel.m_comm.m_readTimeout, 5000);

  // Nothing at all still succeeds, with length 0.
  char again[] = "READ:DUMP?\r\n";
  length = 32;
  EXPECT_NE(zel.executeCommand(again, answer, length), 0);
  EXPECT_EQ(length, 0u);

  // With COUNT the answer is a text line.
  line->receive("  12\r\n");
  char count[] = "READ:DUMP:COUNT?\r\n";
  length = 32;
  EXPECT_NE(zel.executeCommand(count, answer, length), 0);
  EXPECT_STREQ(answer, "12");
  EXPECT_EQ(length, 2u);
}

struct ErrorQueueRow {
  std::string answer;  // empty: the instrument stays silent
  int32_t result;
  int32_t number;
  std::string text;
};

TEST_F(ScriptedSessionTest, error_queue_entry_fields_keep_defaults_unless_scanned) {
  const ErrorQueueRow rows[] = {
      {"", 0, -1, "Error"},
      {"0,\"No error\"\r\n", 1, 0, "\"No error\""},
      {"42\r\n", 0, 42, "Error"},                     // number without a comma
      {"-350,Queue-overflow\r\n", 1, -350, "Queue"},  // a hyphen ends the text
  };
  openPort();
  for (const ErrorQueueRow& row : rows) {
    line->receive(row.answer);
    int32_t number = 99;
    std::string text = "old";
    EXPECT_EQ(zel.rdSystErr(number, text), row.result) << row.answer;
    EXPECT_EQ(number, row.number) << row.answer;
    EXPECT_EQ(text, row.text) << row.answer;
  }
  EXPECT_EQ(sent("\r\nSYST:ERR?\r\n"), 4);
  EXPECT_EQ(countRecords("CZel|rdSystErr|- leave|TRUE {value=0, strValue=<\"No error\">}"), 1);
}

TEST_F(ScriptedSessionTest, line_feed_terminator_is_xon_then_crlf_with_pauses) {
  EXPECT_EQ(zel.writeLineFeedToTerminateLastCommand(), 0);
  openPort();
  const uint64_t start = nowMs();
  EXPECT_NE(zel.writeLineFeedToTerminateLastCommand(), 0);
  EXPECT_EQ(line->written, "\x11\r\n");
  EXPECT_EQ(nowMs() - start, 75u);
}

TEST_F(ScriptedSessionTest, unopenable_port_ends_auto_connect_after_the_first_probe) {
  line->probeResult = serial::ProbeResult::InUse;
  zel.m_comm.m_readTimeout = 1234;
  EXPECT_EQ(zel.autoConnect(), 0);
  EXPECT_EQ(countRecords("CComm| open|+ enter"), 1);
  EXPECT_EQ(countRecords("CZel|autoConnect|* error|no device found"), 1);
  EXPECT_EQ(countRecords("CZel|autoConnect|- leave|FALSE"), 1);
  EXPECT_EQ(pumps, 1);  // one probe, one look at the message queue
  EXPECT_EQ(zel.m_comm.m_readTimeout, 1234);
  EXPECT_FALSE(zel.m_comm.isOpen());
  EXPECT_EQ(line->openCalls, 0);
}

TEST_F(ScriptedSessionTest, cancel_request_stops_auto_connect_before_opening) {
  cancelRequested = 1;
  EXPECT_EQ(zel.autoConnect(), 0);
  EXPECT_EQ(line->openCalls, 0);
  EXPECT_EQ(countRecords("no device found"), 1);
}

TEST_F(ScriptedSessionTest, pace_text_moves_the_port_before_the_next_command) {
  openPort();
  std::snprintf(zel.m_paceText, sizeof zel.m_paceText, "XON");
  std::snprintf(zel.m_parityText, sizeof zel.m_parityText, "even");  // not a known text
  std::snprintf(zel.m_baudText, sizeof zel.m_baudText, "19200");
  EXPECT_EQ(zel.setRs232Parameter(), 0);
  EXPECT_EQ(line->written,
            "SYST:COMM:SER:PACE XON\r\nSYST:COMM:SER:PARITY even\r\nSYST:COMM:SER:BAUD 19200\r\n");
  EXPECT_EQ(zel.m_comm.m_handshake, 2);
  EXPECT_EQ(zel.m_comm.m_parity, 0);
  EXPECT_EQ(zel.m_comm.m_baudRate, 19200);
  // Re-opened after the pace and after the baud rate command, not after the parity.
  std::string order;
  for (const std::string& event : line->events) {
    if (event.rfind("write", 0) == 0) order += "w";
    if (event == "settings") order += "s";
  }
  EXPECT_EQ(order, "wswws");
}

TEST_F(ScriptedSessionTest, instrument_text_too_long_for_the_command_is_not_sent) {
  openPort();
  std::snprintf(zel.m_paceText, sizeof zel.m_paceText, "%s", std::string(99, 'X').c_str());
  EXPECT_EQ(zel.setRs232Parameter(), 1);
  EXPECT_EQ(line->written, "");
}

TEST_F(ScriptedSessionTest, device_answer_waits_through_a_reboot) {
  openPort();
  // Silent for a minute, then the identification and two entries of the error queue.
  line->receiveAt(61234, "QUORIX&VANTEL,ZEL,57,04.41 \r\n");
  line->receiveAt(61334, "-310,\"System error\"\r\n");
  line->receiveAt(61434, "0,\"No error\"\r\n");
  EXPECT_EQ(zel.getDeviceAnswer(150), 0);
  EXPECT_EQ(zel.idnString, "QUORIX&VANTEL,ZEL,57,04.41 ");
  EXPECT_EQ(sent("SYST:ERR?\r\n"), 2);
  EXPECT_LT(nowMs(), 70000u);
  EXPECT_EQ(countRecords("CZel|getDeviceAnswer|- leave|result = NO_ERROR"), 1);
}

TEST_F(ScriptedSessionTest, device_answer_sends_at_most_ten_error_queries_per_call) {
  openPort();
  for (int i = 0; i < 12; ++i) line->receive("QUORIX&VANTEL,ZEL,57,04.41\r\n-100,\"Busy\"\r\n");
  EXPECT_EQ(zel.getDeviceAnswer(150), 0);
  EXPECT_EQ(sent("SYST:ERR?\r\n"), 10);
}

TEST_F(ScriptedSessionTest, device_answer_on_a_closed_port_ends_at_once) {
  EXPECT_EQ(zel.getDeviceAnswer(150), 1);
  EXPECT_LT(nowMs(), 1000u);
}

struct SettingsRow {
  std::string file;  // contents; empty: no file
  int32_t read;
  int32_t portNo;
};

TEST_F(ScriptedSessionTest, port_number_comes_from_the_settings_file) {
  testing_support::TempDir dir;
  const SettingsRow rows[] = {
      {"", 9, 9},  // no file: the current number stays
      {"[DEVICE]\nPORT_NO=4\n", 4, 4},
      {"[DEVICE]\nOTHER=1\n", 9, 9},
      {"[DEVICE]\nPORT_NO=0\n", 0, 1},
      {"[DEVICE]\nPORT_NO=-3\n", -3, 1},
  };
  for (const SettingsRow& row : rows) {
    const std::string path = dir.file("zel.ini");
    std::remove(path.c_str());
    if (!row.file.empty()) dir.write("zel.ini", row.file);
    zel.setIniFile(path);
    zel.m_comm.m_portNo = kPort;
    EXPECT_EQ(zel.readSettings(), row.read) << row.file;
    EXPECT_EQ(zel.m_comm.m_portNo, row.portNo) << row.file;
  }

  dir.write("keep.ini", "; kept\n[PORTS]\nCOM7=/dev/ttyUSB3\n[DEVICE]\nPORT_NO=2\n");
  zel.setIniFile(dir.file("keep.ini"));
  zel.m_comm.m_portNo = 7;
  EXPECT_NE(zel.writeSettings(), 0);
  EXPECT_EQ(platform::getPrivateProfileInt("DEVICE", "PORT_NO", 0, dir.file("keep.ini")), 7);
  EXPECT_EQ(platform::getPrivateProfileString("PORTS", "COM7", "", dir.file("keep.ini")),
            "/dev/ttyUSB3");
  EXPECT_NE(dir.read("keep.ini").find("; kept"), std::string::npos);
  EXPECT_EQ(lines.size(), 0u);  // settings are not traced
}

}  // namespace
