// CZel against the simulated instrument on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "dsp/option_update.h"
#include "flash/config/config_writer.h"
#include "serial/com_ports.h"
#include "sim/instrument.h"
#include "sim/registry.h"
#include "sim/sample_files.h"
#include "tests/instrument/zel_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kPort = 11;

class SimSessionTest : public zel_testing::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    sim::resetInstruments();
  }

  void TearDown() override {
    SessionTest::TearDown();
    serial::setComPortDevice(kPort, "");
    sim::resetInstruments();
  }

  // Puts a simulated instrument behind the session's port. Each test names its own
  // instrument (one instrument lives per distinct name).
  void attach(const std::string& name) {
    m_name = name;
    serial::setComPortDevice(kPort, name);
    zel.m_comm.m_portNo = kPort;
  }

  sim::Instrument& instrument() { return *sim::instrumentFor(m_name); }

  std::string m_name;
};

TEST_F(SimSessionTest, auto_connect_finds_9600_7_even_by_the_27th_probe) {
  attach("sim:baud=9600,bits=7,parity=EVEN,seed=301");
  zel.m_comm.m_writeTimeout = 20;
  ASSERT_NE(zel.autoConnect(), 0);
  EXPECT_EQ(countRecords("CComm| open|+ enter"), 27);
  EXPECT_EQ(countRecords("CZel| rdSystErr|+ enter"), 28);  // the probes and one more
  EXPECT_EQ(pumps, 27);
  EXPECT_TRUE(zel.m_comm.isOpen());
  EXPECT_EQ(zel.m_comm.m_baudRate, 9600);
  EXPECT_EQ(zel.m_comm.m_dataBits, 7);
  EXPECT_EQ(zel.m_comm.m_parity, 2);
  EXPECT_EQ(zel.m_comm.m_handshake, 4);
  EXPECT_EQ(zel.m_comm.m_stopBits, 0);
  EXPECT_EQ(zel.m_comm.m_readTimeout, 5000);
  EXPECT_EQ(zel.m_comm.m_stopDelimiter, 10);
}

TEST_F(SimSessionTest, silent_instrument_is_probed_30_times) {
  attach("sim:fault=silent,seed=302");
  const auto realStart = std::chrono::steady_clock::now();
  EXPECT_EQ(zel.autoConnect(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(5));
  EXPECT_EQ(countRecords("CComm| open|+ enter"), 30);
  EXPECT_EQ(countRecords("CZel|autoConnect|* error|no device found"), 1);
  EXPECT_FALSE(zel.m_comm.isOpen());
}

TEST_F(SimSessionTest, instrument_settings_read_as_texts_and_sent_back_unchanged) {
  attach("sim:baud=4800,parity=ODD,pace=XON,seed=303");
  ASSERT_NE(zel.autoConnect(), 0);
  zel.m_comm.m_writeTimeout = 20000;

  ASSERT_EQ(zel.getRs232Parameter(), 0);
  EXPECT_STREQ(zel.m_paceText, "XON");
  EXPECT_STREQ(zel.m_baudText, "4800");
  EXPECT_STREQ(zel.m_stopBitsText, "1");
  EXPECT_STREQ(zel.m_dataBitsText, "8");
  EXPECT_STREQ(zel.m_parityText, "ODD");

  // Both ends to 9600/8/none/1/none; the instrument answers there.
  ASSERT_EQ(zel.setDefaultRs232Parameter(), 0);
  EXPECT_EQ(zel.m_comm.m_baudRate, 9600);
  EXPECT_EQ(zel.m_comm.m_dataBits, 8);
  EXPECT_EQ(zel.m_comm.m_parity, 0);
  EXPECT_EQ(zel.m_comm.m_stopBits, 0);
  EXPECT_EQ(zel.m_comm.m_handshake, 0);
  EXPECT_EQ(instrument().serial.baud, 9600u);
  EXPECT_EQ(instrument().serial.parity, sim::SerialParity::None);
  EXPECT_EQ(instrument().serial.pace, sim::Pace::None);
  EXPECT_EQ(zel.readSwVersion(), 0);

  // Back to the instrument's own settings, the port following each one.
  ASSERT_EQ(zel.setRs232Parameter(), 0);
  EXPECT_EQ(instrument().serial.baud, 4800u);
  EXPECT_EQ(instrument().serial.parity, sim::SerialParity::Odd);
  EXPECT_EQ(instrument().serial.pace, sim::Pace::Xon);
  EXPECT_EQ(zel.m_comm.m_baudRate, 4800);
  EXPECT_EQ(zel.m_comm.m_parity, 1);
  EXPECT_EQ(zel.m_comm.m_handshake, 2);
  int32_t number = 0;
  std::string text;
  EXPECT_NE(zel.rdSystErr(number, text), 0);
}

struct IdentificationRow {
  std::string options;
  int32_t result;
  int32_t swVersion;  // -1: unchanged from the start
  std::string deviceName;
};

TEST_F(SimSessionTest, identification_names_the_model_and_reads_the_version) {
  const IdentificationRow rows[] = {
      {"model=ZEL,version=03.08", 0, 308, "ZEL"},
      {"model=ZEL,version=4.9", 0, 409, "ZEL"},
      {"model=LUM,version=4.90", 0, 490, "LUM"},
      {"model=LUM,version=V4", 1, -1, "LUM"},       // named, but the version is unreadable
      {"model=XYZ,version=4.90", 1, -1, "device"},  // not a model this tool updates
      {"maker=OTHER,version=4.90", 1, -1, "device"},
  };
  int seed = 310;
  for (const IdentificationRow& row : rows) {
    CZel session;
    deviceName = kDeviceNameUnknown;
    attach("sim:" + row.options + ",seed=" + std::to_string(seed++));
    session.m_comm.m_portNo = kPort;
    ASSERT_EQ(session.open(), 0) << row.options;
    EXPECT_EQ(session.readSwVersion(), row.result) << row.options;
    EXPECT_EQ(session.m_swVersion, row.swVersion) << row.options;
    EXPECT_EQ(std::string(deviceName), row.deviceName) << row.options;
    if (row.result == 0) {
      EXPECT_EQ(session.m_serialNo, 57u) << row.options;
    }
    session.m_comm.close();
  }
}

struct BoardRow {
  std::string options;
  uint32_t hwInfo;
  bool boardAsked;
};

TEST_F(SimSessionTest, board_information_adds_the_memory_extension_from_4_90_on) {
  const BoardRow rows[] = {
      {"version=04.90,hw=0x20,board=4", 0x30020, true},
      {"version=04.90,hw=0x20,board=3", 0x20, true},
      {"version=04.90,hw=0x20", 0x20, true},          // no "0xE0:" field
      {"version=04.9,hw=0x20,board=4", 0x20, false},  // 409 is below 490
      // A word that has either bit already is taken as it is.
      {"version=04.90,hw=0x10020,board=4", 0x10020, false},
      {"version=04.90,hw=0x20420,board=4", 0x20420, false},
  };
  int seed = 320;
  for (const BoardRow& row : rows) {
    CZel session;
    lines.clear();
    attach("sim:" + row.options + ",seed=" + std::to_string(seed++));
    session.m_comm.m_portNo = kPort;
    ASSERT_EQ(session.open(), 0) << row.options;
    EXPECT_EQ(session.read_SwVersion(), 0) << row.options;
    EXPECT_EQ(static_cast<uint32_t>(session.hwInfo), row.hwInfo) << row.options;
    EXPECT_EQ(countRecords("|+ enter|SYSTEM:SERVICE:GET:BOARD:INFO?"), row.boardAsked ? 1 : 0)
        << row.options;
    session.m_comm.close();
  }
}

TEST_F(SimSessionTest, update_mode_shows_on_the_modem_lines) {
  attach("sim:seed=330");
  ASSERT_EQ(zel.open(), 0);
  uint64_t start = nowMs();
  EXPECT_EQ(zel.isZelInUpdateMode(), 0);
  EXPECT_EQ(nowMs() - start, 500u);

  ASSERT_EQ(zel.setUpdateModeOn(), 0);
  EXPECT_EQ(countRecords("CZel|setUpdateModeOn|- leave|result = NO_ERROR"), 1);
  platform::sleepMs(100);
  start = nowMs();
  EXPECT_EQ(zel.isZelInUpdateMode(), 1);
  EXPECT_EQ(nowMs() - start, 0u);
}

TEST_F(SimSessionTest, dsp_power_on_switches_the_instrument_to_qam_mode) {
  attach("sim:hw=0x10020,seed=331");
  ASSERT_EQ(zel.open(), 0);
  lines.clear();
  const uint64_t start = nowMs();
  EXPECT_EQ(zel.powerOnDspB1(), 0);
  EXPECT_GE(nowMs() - start, 5000u);
  EXPECT_EQ(pumps, 10);
  EXPECT_TRUE(instrument().qamMode);
  EXPECT_EQ(statusLineText(0), "OK    Power on DSP on B1");
  EXPECT_EQ(countRecords("CZel|"), 0);  // not traced itself

  zel.m_comm.close();
  EXPECT_EQ(zel.powerOnDspB1(), 1);
  EXPECT_EQ(statusLineText(1), "ERROR Power on DSP on B1");
}

TEST_F(SimSessionTest, device_answer_gives_up_on_a_silent_instrument_in_virtual_time) {
  attach("sim:fault=silent,seed=332");
  ASSERT_EQ(zel.open(), 0);
  const auto realStart = std::chrono::steady_clock::now();
  EXPECT_EQ(zel.getDeviceAnswer(150), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(5));
  // One "*IDN?" per 5000 ms read time-out until 150 s have passed.
  EXPECT_EQ(countRecords("queryCommand:|+ enter|*IDN?"), 30);
  EXPECT_GE(nowMs(), 150000u);
  EXPECT_LT(nowMs(), 156000u);
  EXPECT_EQ(countRecords("CZel|getDeviceAnswer|- leave|result = ERROR {idnString=<>}"), 1);
}

// The hand-over to both update sequences, as the automatic workflow runs them on an
// instrument with memory extension and option B20: processor firmware with a boot, the
// wait for the rebooted instrument, then the option.
TEST_F(SimSessionTest, flash_updates_take_the_open_port_and_pass_their_results_on) {
  testing_support::TempDir dir;
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
  attach("sim:hw=0x11000,version=04.40,boot-time=20,seed=350");
  ASSERT_EQ(zel.open(), 0);
  ASSERT_EQ(zel.read_SwVersion(), 0);
  ASSERT_EQ(writeAutomaticConfiguration(static_cast<uint32_t>(zel.hwInfo), true, kPort),
            kConfigWritten);
  ASSERT_EQ(zel.setUpdateModeOn(), 0);

  EXPECT_EQ(zel.startFlashUpdate(1), 0);
  EXPECT_EQ(statusLineText(0), "Preparing update environment");
  EXPECT_EQ(countRecords("CZel|startFlashUpdate|+ enter"), 1);

  // Back at the settings the instrument boots with; it answers once it has booted.
  zel.m_comm.m_readTimeout = 5000;
  zel.m_comm.m_baudRate = 9600;
  zel.m_comm.m_parity = 0;
  zel.m_comm.m_handshake = 2;
  ASSERT_EQ(zel.open(), 0);
  const uint64_t waitStart = nowMs();
  EXPECT_EQ(zel.getDeviceAnswer(150), 0);
  EXPECT_GE(nowMs() - waitStart, 5000u);  // at least one silent pass while it boots
  EXPECT_EQ(zel.idnString.rfind("QUORIX&VANTEL,ZEL,57,", 0), 0u);

  ASSERT_EQ(zel.setUpdateModeOn(), 0);
  const int before = statusLineCount();
  EXPECT_EQ(zel.startFlashUpdate(kOptionB20, 1), 0);
  EXPECT_EQ(statusLineText(before), "Update Option(B20)");
  EXPECT_GT(instrument().counters.boots, 1u);
}

TEST_F(SimSessionTest, option_update_line_names_the_option) {
  struct Row {
    int32_t option;
    std::string line;
  };
  const Row rows[] = {
      {1, "Update Option(B1)"},   {2, "Update Option(B20)"},  {3, "Update Option(B10)"},
      {0, "Update Option(NONE)"}, {7, "Update Option(NONE)"},
  };
  testing_support::TempDir dir;  // no romwrite.cnf: each sequence stops at once
  attach("sim:seed=351");
  for (const Row& row : rows) {
    clearStatusList();
    const int32_t result = zel.startFlashUpdate(row.option, 1);
    ASSERT_GE(statusLineCount(), 1);
    EXPECT_EQ(statusLineText(0), row.line);
    clearStatusList();
    EXPECT_EQ(result, updateOption(kProgrammingConfigFile, zel.m_comm, row.option, 1));
  }
}

TEST_F(SimSessionTest, auto_connect_trace_nests_session_and_port_records_in_fixed_columns) {
  attach("sim:baud=19200,bits=8,parity=ODD,seed=340");
  zel.m_comm.m_writeTimeout = 20;
  ASSERT_NE(zel.autoConnect(), 0);  // the 6th probe

  // Every record: class, indented operation, kind, date and time in their columns, and the
  // scope it belongs to open at its indentation.
  struct Scope {
    std::string className;
    std::string operation;
  };
  std::vector<Scope> open;
  size_t deepest = 0;
  for (const std::string& line : lines) {
    ASSERT_GT(line.size(), zel_testing::kDetailColumn) << line;
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.substr(52, 13), "07.12.2026   ") << line;
    EXPECT_EQ(line.substr(65, 11), "09:05:03   ") << line;
    const std::string className = zel_testing::rtrim(line.substr(0, 12));
    EXPECT_TRUE(className == "CZel" || className == "CComm") << line;
    const std::string column = line.substr(12, 30);
    const size_t indent = column.find_first_not_of(' ');
    ASSERT_NE(indent, std::string::npos) << line;
    const std::string operation = zel_testing::rtrim(column.substr(indent));
    const std::string kind = zel_testing::rtrim(line.substr(42, 10));
    if (kind == "+ enter") {
      ASSERT_LE(indent, open.size()) << "enter more than one level deeper: " << line;
      open.resize(indent);
      open.push_back({className, operation});
      deepest = std::max(deepest, indent);
    } else {
      ASSERT_LT(indent, open.size()) << "record outside any scope: " << line;
      EXPECT_EQ(open[indent].className, className) << line;
      EXPECT_EQ(open[indent].operation, operation) << line;
    }
  }
  EXPECT_EQ(deepest, 3u);  // port read inside queryCommand inside rdSystErr inside autoConnect

  // One silent probe, record by record.
  const std::vector<std::string> all = records();
  const std::vector<std::string> firstProbe = {
      "CZel|autoConnect|+ enter|(no input)",
      "CComm| open|+ enter|(no input)",
      "CComm| open|info|portno=11",
      "CComm|  checkCommExisting|+ enter|(no input)",
      "CComm|  checkCommExisting|- leave|-",
      "CZel| writeLineFeedToTerminateLastC|+ enter|(no input)",
      "CComm|  writeBufferToPort|+ enter|size=1",
      "CComm|  writeBufferToPort|- leave|TRUE",
      "CComm|  writeBufferToPort|+ enter|size=2",
      "CComm|  writeBufferToPort|- leave|TRUE",
      "CZel| writeLineFeedToTerminateLastC|- leave|TRUE",
      "CZel| rdSystErr|+ enter|(no input)",
      "CZel|  queryCommand:|+ enter|\\r\\nSYST:ERR?\\r\\n",
      "CComm|   writeBufferToPort|+ enter|size=13",
      "CComm|   writeBufferToPort|- leave|TRUE",
      "CComm|   readStringFromPort|+ enter|size=127",
      "CComm|   readStringFromPort|* error|timed out after 400 msecs",
      "CComm|   readStringFromPort|- leave|FALSE {noOfReadBytes= 0}",
      "CZel|  queryCommand:|- leave|FALSE {noOfReadBytes=0}",
      "CZel| rdSystErr|- leave|FALSE {value=-1, strValue=<Error>}",
      "CComm| close|+ enter|(no input)",
      "CComm| close|- leave|close ok",
  };
  ASSERT_GT(all.size(), firstProbe.size());
  EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + firstProbe.size()), firstProbe);
  // The five probes at other settings left garbage in the instrument's input: the line feed
  // of the sixth ends it, so the probe finds the error it caused before the empty queue.
  EXPECT_EQ(
      countRecords("CZel| rdSystErr|- leave|TRUE {value=-113, strValue=<\"Undefined header\">}"),
      1);
  EXPECT_EQ(countRecords("CZel| rdSystErr|- leave|TRUE {value=0, strValue=<\"No error\">}"), 1);
  EXPECT_EQ(all.back(), "CZel|autoConnect|- leave|TRUE");
}

}  // namespace
