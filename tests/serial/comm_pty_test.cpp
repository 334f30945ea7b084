// CComm over a real pseudo-terminal with the termios backend: the slave is the port, the
// test drives the master as the instrument's end of the line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "platform/clock.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/comm.h"
#include "serial/termios/termios_device.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"
#include "tests/support/timing.h"

namespace {

constexpr int kPort = 11;

class CommPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
    serial::setComPortDevice(kPort, pty.slavePath());
    comm.m_portNo = kPort;
    comm.m_baudRate = 9600;
    comm.m_parity = 0;
    comm.m_handshake = 0;
    comm.m_stopDelimiter = 10;
    bytesSent = 0;
  }

  void TearDown() override {
    if (comm.isOpen()) comm.close();
    serial::setComPortDevice(kPort, "");
  }

  testing_support::PtyPair pty;
  CComm comm;
};

TEST_F(CommPtyTest, command_and_answer_travel_both_ways) {
  ASSERT_EQ(comm.open(), 0);
  ASSERT_NE(comm.writeStringToPort("%s\r\n", "*IDN?"), 0);
  EXPECT_EQ(pty.receive(7), "*IDN?\r\n");
  EXPECT_EQ(bytesSent, 7u);

  ASSERT_TRUE(pty.send(" ZEL,1.0\r\nREST"));
  char answer[128];
  uint32_t count = 0;
  ASSERT_NE(comm.readStringFromPort(answer, count, 127), 0);
  EXPECT_EQ(std::string(answer, count), "ZEL,1.0");
  // What the read did not take waits for the next one.
  ASSERT_EQ(comm.readBufferFromPort(answer, count, 4), 0);
  EXPECT_EQ(std::string(answer, count), "REST");

  // All 256 byte values arrive unchanged in a block read (raw line, no delimiter).
  comm.m_stopDelimiter = -1;
  std::string all;
  for (int value = 0; value < 256; ++value) all.push_back(static_cast<char>(value));
  ASSERT_TRUE(pty.send(all));
  char block[256];
  ASSERT_EQ(comm.readBufferFromPort(block, count, 256), 0);
  EXPECT_EQ(std::string(block, count), all);
}

TEST_F(CommPtyTest, read_times_out_after_the_inactivity_limit) {
  ASSERT_EQ(comm.open(), 0);
  comm.m_readTimeout = 300;
  char buffer[8];
  uint32_t count = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(comm.readBufferFromPort(buffer, count, 8), 1);
  const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  EXPECT_EQ(count, 0u);
  EXPECT_GE(elapsedMs, 300);
  EXPECT_LT(elapsedMs, testing_support::generousMs(300));

  // On the virtual clock the full default limit passes without waiting for it.
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  comm.m_readTimeout = 5000;
  ASSERT_TRUE(pty.send("12"));
  EXPECT_EQ(comm.readStringFromPort(buffer, count, 7), 0);
  EXPECT_EQ(std::string(buffer, count), "12");
  EXPECT_GE(clock.nowMicros(), 5000u * 1000);
}

TEST_F(CommPtyTest, probe_tells_free_in_use_and_absent) {
  CComm other;
  EXPECT_EQ(other.checkCommExisting(kPort), 0);
  ASSERT_EQ(comm.open(), 0);
  EXPECT_EQ(other.checkCommExisting(kPort), 1);

  // A port in use is not opened, and costs no retries.
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  other.m_portNo = kPort;
  EXPECT_EQ(other.open(), 1);
  EXPECT_FALSE(other.isOpen());
  EXPECT_EQ(clock.nowMicros(), 0u);

  comm.close();
  EXPECT_EQ(other.checkCommExisting(kPort), 0);
  serial::setComPortDevice(kPort, "/dev/zelupdate-no-such-port");
  EXPECT_EQ(other.checkCommExisting(kPort), -1);
}

TEST_F(CommPtyTest, pseudo_terminal_has_no_modem_lines) {
  ASSERT_EQ(comm.open(), 0);
  int32_t cts = 7;
  EXPECT_EQ(comm.getCts(cts), 0);
  EXPECT_EQ(cts, 0);
  // Writing still works with a handshake that would need a modem line.
  comm.m_handshake = 1;
  ASSERT_EQ(comm.open(), 0);
  EXPECT_NE(comm.writeBufferToPort("ok", 2), 0);
  EXPECT_EQ(pty.receive(2), "ok");
}

TEST_F(CommPtyTest, hung_up_line_fails_writes_and_times_out_reads) {
  ASSERT_EQ(comm.open(), 0);
  pty.closeMaster();
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  comm.m_writeTimeout = 200;
  EXPECT_EQ(comm.writeBufferToPort("lost", 4), 0);
  EXPECT_EQ(bytesSent, 0u);
  char buffer[8];
  uint32_t count = 0;
  EXPECT_EQ(comm.readBufferFromPort(buffer, count, 8), 1);
  EXPECT_EQ(count, 0u);
}

// Anyone may create files in the lock folder: a named pipe under the port's lock-file name
// must neither hang the port list nor an open, nor count as a lock.
TEST_F(CommPtyTest, named_pipe_in_the_lock_folder_stalls_neither_probe_nor_open) {
  testing_support::TempDir folder(false);
  serial::setUucpLockFolders({folder.path()});
  std::string name = pty.slavePath().substr(5);  // /dev/pts/7 -> LCK..pts_7
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  ASSERT_EQ(::mkfifo(folder.file("LCK.." + name).c_str(), 0666), 0);
  using std::chrono::steady_clock;
  const auto msSince = [](steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - start)
        .count();
  };
  auto start = steady_clock::now();
  EXPECT_EQ(comm.checkCommExisting(kPort), 0);
  EXPECT_LT(msSince(start), testing_support::generousMs(10));
  start = steady_clock::now();
  EXPECT_EQ(comm.open(), 0);
  EXPECT_LT(msSince(start), testing_support::generousMs(10));
  serial::setUucpLockFolders({});
}

}  // namespace

// Every set of settings the program uses opens a pseudo-terminal again after a close, and a
// command written just before a close reaches a peer that reads a moment later.
TEST_F(CommPtyTest, reopens_with_the_same_settings_and_close_keeps_unread_output) {
  struct Row {
    int baud, dataBits, parity, stopBits, handshake;
  };
  const Row rows[] = {{9600, 8, 0, 0, 2},  {19200, 8, 2, 0, 4}, {19200, 7, 2, 0, 0},
                      {57600, 8, 1, 2, 1}, {14400, 8, 0, 0, 3}, {9600, 8, 0, 0, 0}};
  for (const Row& row : rows) {
    comm.m_baudRate = row.baud;
    comm.m_dataBits = row.dataBits;
    comm.m_parity = row.parity;
    comm.m_stopBits = row.stopBits;
    comm.m_handshake = row.handshake;
    for (int attempt = 0; attempt < 2; ++attempt) {
      ASSERT_EQ(comm.open(), 0) << row.baud << " " << row.handshake << " attempt " << attempt;
      ASSERT_NE(comm.writeStringToPort("%s\n", "SYST:COMM:SER:PACE NONE"), 0);
      comm.close();
      EXPECT_EQ(pty.receive(24), "SYST:COMM:SER:PACE NONE\n") << row.baud;
    }
  }
}
