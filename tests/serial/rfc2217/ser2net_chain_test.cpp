// The instrument session through a real terminal server: ser2net on loopback lends a
// pseudo-terminal, and on the pseudo-terminal's other side the simulated instrument answers
// its text commands at its own serial settings. It hears the host at the speed that
// ser2net set on the line; at any other speed the bytes arrive as garbage. Skipped when
// ser2net is not installed.
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "instrument/zel.h"
#include "serial/com_ports.h"
#include "serial/device_factory.h"
#include "serial/rfc2217/rfc2217_device.h"
#include "serial/termios/termios_device.h"
#include "sim/instrument.h"
#include "sim/registry.h"
#include "tests/serial/rfc2217/scripted_server.h"
#include "tests/serial/rfc2217/ser2net_chain.h"
#include "tests/support/timing.h"

namespace net_test {
namespace {

constexpr int kChainPort = 15;

int64_t realMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The simulated instrument on the master side of the pseudo-terminal, on a thread of its
// own: the host's framing is the speed of the line's termios with 8 data bits.
class InstrumentPeer {
 public:
  InstrumentPeer(Ser2netChain& chain, const std::string& simPortName, BridgeClock& clock)
      : m_chain(chain), m_instrument(sim::instrumentFor(simPortName)) {
    m_instrument->hostOpen();
    m_thread = std::thread([this, &clock] {
      clock.setQuietThread(std::this_thread::get_id());
      run();
    });
  }
  ~InstrumentPeer() { stop(); }
  void stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  // Only once stopped.
  sim::Instrument& instrument() { return *m_instrument; }

 private:
  void run() {
    while (!m_stop) {
      pollfd entry{m_chain.masterFd(), POLLIN, 0};
      ::poll(&entry, 1, 1);
      termios tio{};
      if (::tcgetattr(m_chain.slaveFd(), &tio) == 0) {
        serial::LineSettings host = m_instrument->hostSettings();
        host = serial::lineSettingsFromTermios(tio, host);
        host.outxCtsFlow = false;
        host.outxDsrFlow = false;
        m_instrument->hostSetSettings(host);
      }
      uint8_t chunk[512];
      const ssize_t got = ::read(m_chain.masterFd(), chunk, sizeof chunk);
      if (got > 0) {
        uint32_t written = 0;
        m_instrument->hostWrite(chunk, static_cast<uint32_t>(got), written);
      }
      std::vector<uint8_t> answer;
      uint8_t byte = 0;
      while (m_instrument->hostReadByte(byte) == serial::ReadResult::Byte) answer.push_back(byte);
      if (!answer.empty()) {
        ssize_t ignored = ::write(m_chain.masterFd(), answer.data(), answer.size());
        (void)ignored;
      }
    }
  }

  Ser2netChain& m_chain;
  std::shared_ptr<sim::Instrument> m_instrument;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
};

struct ChainStage {
  ChainStage() : clock(1.0), scopedClock(clock) {
    sim::resetInstruments();
    serial::setComPortDevice(kChainPort, chain.portName());
    session.m_comm.m_portNo = kChainPort;
  }
  ~ChainStage() {
    session.m_comm.close();
    serial::setComPortDevice(kChainPort, "");
  }
  BridgeClock clock;
  platform::ScopedClock scopedClock;
  Ser2netChain chain;
  CZel session;
};

#define SKIP_WITHOUT_SER2NET(stage)                                                             \
  do {                                                                                          \
    if (!(stage).chain.installed()) GTEST_SKIP() << "ser2net is not installed";                 \
    ASSERT_TRUE((stage).chain.ok()) << "ser2net did not start on " << (stage).chain.portName(); \
  } while (0)

speed_t lineSpeed(const Ser2netChain& chain) {
  termios tio{};
  ::tcgetattr(chain.slaveFd(), &tio);
  return ::cfgetospeed(&tio);
}

TEST(Ser2netChain, AutoConnectFindsThePeerAtItsOwnSpeedAndTheSettingsMoveBothEnds) {
  ChainStage stage;
  SKIP_WITHOUT_SER2NET(stage);
  InstrumentPeer peer(stage.chain, "sim:baud=2400", stage.clock);
  EXPECT_EQ(probeSerialDevice(stage.chain.portName()), serial::ProbeResult::Free);

  // 19200, 9600 and 4800 hear garbage; 2400 with 8 data bits and no parity is the fourth
  // probe.
  ASSERT_NE(stage.session.autoConnect(), 0);
  EXPECT_EQ(stage.session.m_comm.m_baudRate, 2400);
  EXPECT_EQ(stage.session.m_comm.m_dataBits, 8);
  EXPECT_EQ(stage.session.m_comm.m_parity, 0);
  EXPECT_EQ(lineSpeed(stage.chain), static_cast<speed_t>(B2400));

  // The port is the session's: another client is turned away.
  EXPECT_EQ(probeSerialDevice(stage.chain.portName()), serial::ProbeResult::InUse);
  serial::Rfc2217Device second(stage.chain.portName());
  EXPECT_FALSE(second.open());

  // The instrument's settings are read, then both ends go to 9600 baud together.
  ASSERT_EQ(stage.session.getRs232Parameter(), 0);
  EXPECT_STREQ(stage.session.m_baudText, "2400");
  ASSERT_EQ(stage.session.setDefaultRs232Parameter(), 0);
  EXPECT_EQ(lineSpeed(stage.chain), static_cast<speed_t>(B9600));
  char answer[128] = {};
  uint32_t length = 0;
  ASSERT_NE(stage.session.queryCommand("SYST:COMM:SER:BAUD?\r\n", answer, length, 127), 0);
  EXPECT_STREQ(answer, "9600");

  stage.session.m_comm.close();
  peer.stop();
  EXPECT_EQ(peer.instrument().serial.baud, 9600u);
}

TEST(Ser2netChain, KilledServerGivesThePortsFailureWithinItsTimeOut) {
  ChainStage stage;
  SKIP_WITHOUT_SER2NET(stage);
  InstrumentPeer peer(stage.chain, "sim:", stage.clock);
  CComm& port = stage.session.m_comm;
  port.m_baudRate = 9600;
  port.m_parity = 0;
  port.m_handshake = 0;
  ASSERT_EQ(port.open(), 0);
  char answer[128] = {};
  uint32_t length = 0;
  ASSERT_NE(stage.session.queryCommand("*IDN?\r\n", answer, length, 127), 0);

  port.m_readTimeout = 1000;
  stage.chain.kill();
  const int64_t start = realMs();
  EXPECT_EQ(stage.session.queryCommand("*IDN?\r\n", answer, length, 127), 0);
  EXPECT_LT(realMs() - start, testing_support::generousMs(1000));
  // Dead for good: writes fail at once, and the closed server is absent.
  EXPECT_EQ(port.writeBufferToPort("x", 1), 0);
  port.close();
  EXPECT_EQ(probeSerialDevice(stage.chain.portName()), serial::ProbeResult::Absent);
}

}  // namespace
}  // namespace net_test
