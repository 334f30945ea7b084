// autoConnect against the simulated instrument's line rules: probes at other settings put
// garbage into its command line, which the next probe's line end turns into an error.
#include <gtest/gtest.h>

#include <string>

#include "serial/com_ports.h"
#include "sim/instrument.h"
#include "sim/registry.h"
#include "tests/instrument/zel_fixture.h"

namespace {

constexpr int kPort = 10;

class AutoConnectRulesTest : public zel_testing::SessionTest {
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
};

TEST_F(AutoConnectRulesTest, probes_at_other_settings_leave_an_error_and_the_right_one_finds_it) {
  struct Row {
    const char* instrument;
    int portStopBits;  // the port's stop-bit code, which autoConnect keeps
    int probes;
    int baud, dataBits, parity;
    // What the successful probe reads from the error queue: the garbage of the probes
    // before it, ended by its line feed, or nothing.
    int firstError;
  };
  const Row rows[] = {
      {"sim:baud=19200", 0, 1, 19200, 8, 0, 0},
      {"sim:baud=19200,stop=2", 0, 1, 19200, 8, 0, 0},  // stop bits never garble
      {"sim:stop=2", 0, 2, 9600, 8, 0, -113},
      {"sim:baud=9600,stop=1", 2, 2, 9600, 8, 0, -113},  // the port at two stop bits
      {"sim:baud=1200,parity=EVEN", 0, 15, 1200, 8, 2, -113},
      {"sim:baud=2400,bits=7,parity=ODD", 0, 24, 2400, 7, 1, -113},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.instrument);
    lines.clear();
    serial::setComPortDevice(kPort, row.instrument);
    zel.m_comm.m_portNo = kPort;
    zel.m_comm.m_stopBits = row.portStopBits;
    zel.m_comm.m_writeTimeout = 20;
    ASSERT_NE(zel.autoConnect(), 0);
    EXPECT_EQ(countRecords("CComm| open|+ enter"), row.probes);
    EXPECT_EQ(zel.m_comm.m_baudRate, row.baud);
    EXPECT_EQ(zel.m_comm.m_dataBits, row.dataBits);
    EXPECT_EQ(zel.m_comm.m_parity, row.parity);
    EXPECT_EQ(zel.m_comm.m_stopBits, row.portStopBits);
    const std::string found =
        "CZel| rdSystErr|- leave|TRUE {value=" + std::to_string(row.firstError) + ", strValue=<\"" +
        (row.firstError == 0 ? "No error" : "Undefined header") + "\">}";
    EXPECT_GE(countRecords(found), 1) << found;
    EXPECT_EQ(sim::instrumentFor(row.instrument)->counters.garbledBytes > 0, row.probes > 1);
    // At the settings found the instrument takes commands.
    int32_t number = 0;
    std::string text;
    EXPECT_NE(zel.rdSystErr(number, text), 0);
    zel.m_comm.close();
  }
}

}  // namespace
