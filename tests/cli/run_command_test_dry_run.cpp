// The dry run against the simulated instrument: it plans the update, puts the instrument's
// serial settings back and never switches it over.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cli/console_run.h"
#include "instrument/zel.h"
#include "platform/profile.h"
#include "serial/com_ports.h"
#include "sim/registry.h"
#include "tests/cli/run_command_test_program.h"

namespace cli_test {
namespace {

// The dry run puts the instrument's serial settings back and never switches it over: it
// answers at its own settings afterwards.
TEST(RunCommandTest, dry_run_leaves_the_instrument_answering_at_its_own_settings) {
  TempDir dir(true);
  writeUpdateSet(dir);
  const std::string port = "sim:hw=0x11000,baud=19200,parity=even,pace=xon,speed=virtual";
  ConsoleRunRequest request;
  request.port = port;
  request.dryRun = true;
  CommonOptions common;
  common.settingsFile = dir.file("settings.ini");
  common.noHistory = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(runInConsole(request, common), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("  program   NO_DVBT.BIN, 655360 bytes, SHA-256 "), std::string::npos) << out;
  EXPECT_EQ(out.find("update mode\n"), std::string::npos) << out;

  const std::shared_ptr<sim::Instrument> instrument = sim::instrumentFor(port);
  ASSERT_NE(instrument, nullptr);
  EXPECT_EQ(instrument->mode(), sim::Mode::Normal);
  EXPECT_EQ(instrument->counters.loaderDownloads, 0u);
  EXPECT_EQ(instrument->serial.baud, 19200u);
  EXPECT_EQ(instrument->serial.parity, sim::SerialParity::Even);
  EXPECT_EQ(instrument->serial.pace, sim::Pace::Xon);
  CZel session;
  serial::setComPortDevice(9, port);
  session.m_comm.m_portNo = 9;
  session.m_comm.m_baudRate = 19200;
  session.m_comm.m_parity = 2;
  session.m_comm.m_handshake = 2;
  ASSERT_EQ(session.open(), 0);
  char answer[kZelAnswerCapacity + 1];
  uint32_t length = 0;
  EXPECT_NE(session.queryCommand(kCmdIdn, answer, length, kZelAnswerCapacity), 0);
  EXPECT_EQ(std::string(answer, length).rfind("QUORIX&VANTEL,ZEL,57,", 0), 0u);
  session.close();
  sim::uninstallClock();
  sim::resetInstruments();
  serial::resetComPortMapping();
  platform::setSettingsFileOverride("");
}

}  // namespace
}  // namespace cli_test
