// The network serial backend against a scripted terminal server on loopback: settings
// confirmed by the server, modem lines and flow control from its notifications, purges,
// IAC bytes, a server that goes away, the probe, and a whole processor update of the
// simulated instrument behind the server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "flash/programming_link.h"
#include "flash/result_codes.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/comm.h"
#include "serial/device_factory.h"
#include "serial/rfc2217/rfc2217_device.h"
#include "sim/instrument.h"
#include "sim/registry.h"
#include "tests/serial/rfc2217/scripted_server.h"
#include "tests/support/loopback_servers.h"
#include "tests/support/temp_dir.h"
#include "tests/support/timing.h"

namespace net_test {
namespace {

using serial::PortFailure;
using serial::ProbeResult;
using serial::ReadResult;
using serial::Rfc2217Device;
using testing_support::generousMs;

constexpr int kNetPort = 14;

int64_t realMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A COM number mapped to the scripted server for the test's lifetime.
struct MappedPort {
  explicit MappedPort(const std::string& name) { serial::setComPortDevice(kNetPort, name); }
  ~MappedPort() { serial::setComPortDevice(kNetPort, ""); }
};

std::string readAll(Rfc2217Device& device, size_t count) {
  std::string bytes;
  uint8_t byte = 0;
  const int64_t giveUp = realMs() + generousMs(2000);
  while (bytes.size() < count && realMs() < giveUp) {
    if (device.readByte(byte) == ReadResult::Byte) bytes.push_back(static_cast<char>(byte));
  }
  return bytes;
}

TEST(NetworkPort, ModemStateReachesTargetReady) {
  struct Row {
    const char* scenario;
    uint8_t modemState;
    bool modemLines;
    int32_t ready;
  };
  const Row rows[] = {
      {"update mode: CTS off, DSR on", 0x20, true, kResultOk},
      {"normal mode: both on", 0x30, true, kResultTargetNotReady},
      {"booting: both off", 0x00, true, kResultTargetNotReady},
      {"CTS on alone", 0x10, true, kResultTargetNotReady},
      // The server cannot drive DTR and RTS: its port has no modem lines to read either.
      {"no modem lines", 0x20, false, kResultTargetNotReady},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.scenario);
    ServerScript script;
    script.modemState = row.modemState;
    script.answerModemLines = row.modemLines;
    ScriptedServer server(script);
    MappedPort mapped(server.portName());
    CComm port;
    port.m_portNo = kNetPort;
    port.m_baudRate = 19200;
    ASSERT_EQ(port.open(), 0);
    EXPECT_EQ(isTargetReady(port), row.ready);
    port.close();
  }
}

TEST(NetworkPort, ModemStateChangesAreFollowed) {
  ServerScript script;
  script.modemState = 0x30;
  ScriptedServer server(script);
  Rfc2217Device device(server.portName());
  ASSERT_TRUE(device.open());
  bool cts = false, dsr = false;
  ASSERT_TRUE(device.modemStatus(cts, dsr));
  EXPECT_TRUE(cts && dsr);
  server.setModemState(0x20);
  const int64_t giveUp = realMs() + generousMs(1000);
  while (cts && realMs() < giveUp) device.modemStatus(cts, dsr);
  EXPECT_FALSE(cts);
  EXPECT_TRUE(dsr);
}

// Flow control held by the modem lines or by XON/XOFF from the instrument; the XON/XOFF
// bytes themselves never reach the reader.
TEST(NetworkPort, OutputHeldFollowsFlowControl) {
  struct Row {
    const char* scenario;
    int handshake;
    uint8_t modemState;
    const char* incoming;
    bool held;
    const char* readable;
  };
  const Row rows[] = {
      {"RTS/CTS with CTS off", 1, 0x20, "", true, ""},
      {"RTS/CTS with CTS on", 1, 0x30, "", false, ""},
      {"DTR/DSR with DSR off", 3, 0x10, "", true, ""},
      {"XON/XOFF after XOFF", 2, 0x30,
       "a\x13"
       "b",
       true, "ab"},
      {"XON/XOFF after XOFF and XON", 2, 0x30,
       "a\x13\x11"
       "b",
       false, "ab"},
      // Without XON/XOFF the bytes are data.
      {"no handshake", 0, 0x00,
       "a\x13"
       "b",
       false,
       "a\x13"
       "b"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.scenario);
    ServerScript script;
    script.modemState = row.modemState;
    ScriptedServer server(script);
    MappedPort mapped(server.portName());
    CComm port;
    port.m_portNo = kNetPort;
    port.m_handshake = row.handshake;
    ASSERT_EQ(port.open(), 0);
    server.sendData(row.incoming);
    port.m_stopDelimiter = 'b';
    port.m_readTimeout = 300;
    char buffer[16] = {};
    uint32_t count = 0;
    const std::string expected = row.readable;
    if (!expected.empty()) {
      port.readBufferFromPort(buffer, count, sizeof buffer - 1);
      EXPECT_EQ(std::string(buffer, count), expected);
    }
    // A held line lets a short write time-out run out without sending.
    port.m_writeTimeout = 20;
    EXPECT_EQ(port.writeBufferToPort("x", 1) != 0, !row.held);
    port.close();
  }
}

TEST(NetworkPort, SettingsNeedTheServersConfirmation) {
  struct Row {
    const char* scenario;
    uint32_t baudAnswer;
    int openResult;
  };
  const Row rows[] = {
      {"the server sets what is asked", 0, 0},
      // A port that cannot do 19200 answers with its own rate: the settings did not take.
      {"the server answers another rate", 9600, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.scenario);
    ServerScript script;
    script.baudAnswer = row.baudAnswer;
    ScriptedServer server(script);
    MappedPort mapped(server.portName());
    CComm port;
    port.m_portNo = kNetPort;
    port.m_baudRate = 19200;
    port.m_parity = 2;
    port.m_dataBits = 7;
    port.m_stopBits = 2;
    EXPECT_EQ(port.open(), row.openResult);
    port.close();
    // What went to the server: the framing as asked, in the protocol's values.
    std::vector<std::vector<uint8_t>> framing;
    for (const ServerCommand& command : server.commands()) {
      const bool query = command.value == std::vector<uint8_t>(command.value.size(), 0);
      if (command.code >= 1 && command.code <= 4 && !query) framing.push_back(command.value);
    }
    const std::vector<std::vector<uint8_t>> expected = {{0, 0, 0x4B, 0x00}, {7}, {3}, {2}};
    EXPECT_EQ(framing, expected);
  }
}

TEST(NetworkPort, ServerThatNeverAnswersFailsTheOpenWithinItsBound) {
  ServerScript script;
  script.mute = true;
  ScriptedServer server(script);
  Rfc2217Device device(server.portName());
  const int64_t start = realMs();
  EXPECT_FALSE(device.open());
  EXPECT_LT(realMs() - start, generousMs(2000));
  EXPECT_FALSE(device.isOpen());
}

TEST(NetworkPort, IacBytesPassBothWays) {
  const std::string rows[] = {
      std::string("\xff", 1),
      std::string("\xff\xff", 2),
      std::string("a\xff"
                  "b\xff",
                  4),
      std::string("\xff\xfa\x2c\x01\xff\xf0", 6),  // looks like a command, is data
      std::string("\r\n\r\0x", 5),
  };
  ServerScript script;
  ScriptedServer server(script);
  Rfc2217Device device(server.portName());
  ASSERT_TRUE(device.open());
  std::string sent;
  for (const std::string& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row));
    uint32_t written = 0;
    ASSERT_TRUE(device.write(reinterpret_cast<const uint8_t*>(row.data()),
                             static_cast<uint32_t>(row.size()), written));
    EXPECT_EQ(written, row.size());
    sent += row;
    server.sendData(row);
    EXPECT_EQ(readAll(device, row.size()), row);
  }
  ASSERT_TRUE(device.drain());
  EXPECT_EQ(server.received(), sent);
}

TEST(NetworkPort, PurgeDropsWhatArrivedBeforeIt) {
  ServerScript script;
  ScriptedServer server(script);
  Rfc2217Device device(server.portName());
  ASSERT_TRUE(device.open());
  server.sendData("stale");
  ASSERT_TRUE(device.purge(true, false));
  server.sendData("fresh");
  EXPECT_EQ(readAll(device, 5), "fresh");
  bool purged = false;
  for (const ServerCommand& command : server.commands()) {
    if (command.code == 12 && command.value == std::vector<uint8_t>{1}) purged = true;
  }
  EXPECT_TRUE(purged);
}

TEST(NetworkPort, ServerGoingAwayGivesThePortsFailure) {
  ServerScript script;
  ScriptedServer server(script);
  MappedPort mapped(server.portName());
  CComm port;
  port.m_portNo = kNetPort;
  port.m_readTimeout = 500;
  port.m_stopDelimiter = '\n';
  ASSERT_EQ(port.open(), 0);
  server.dropClient();
  char buffer[32];
  uint32_t count = 0;
  const int64_t start = realMs();
  EXPECT_EQ(port.readStringFromPort(buffer, count, sizeof buffer - 1), 0);
  const int64_t elapsed = realMs() - start;
  EXPECT_GE(elapsed, 400);
  EXPECT_LT(elapsed, generousMs(500));
  EXPECT_EQ(port.writeBufferToPort("x", 1), 0);
  port.close();
}

// A server that sends without end keeps no operation past its own time-out.
TEST(NetworkPort, FloodingServerEndsEveryOperationWithinItsTimeOut) {
  struct Row {
    const char* scenario;
    ServerScript::Flood flood;
  };
  const Row rows[] = {
      {"Telnet NOP commands from the start", ServerScript::Flood::Nops},
      {"data after a good negotiation", ServerScript::Flood::Data},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.scenario);
    ServerScript script;
    script.flood = row.flood;
    ScriptedServer server(script);
    MappedPort mapped(server.portName());
    CComm port;
    port.m_portNo = kNetPort;
    port.m_readTimeout = 300;
    port.m_stopDelimiter = '\n';
    // Answers stuck behind the flood fail the open within its bounds: the probe's 750 ms,
    // the negotiation's 1.5 s, and 2 s each for the purge and the settings.
    int64_t start = realMs();
    const bool opened = port.open() == 0;
    EXPECT_LT(realMs() - start, generousMs(6500));
    if (!opened) continue;
    ASSERT_NE(port.writeBufferToPort("go", 2), 0);
    char buffer[64];
    uint32_t count = 0;
    start = realMs();
    port.readStringFromPort(buffer, count, sizeof buffer - 1);
    port.readBufferFromPort(buffer, count, sizeof buffer - 1);
    EXPECT_LT(realMs() - start, generousMs(2 * (300 + 300)));
    // The write's 1 s, then the close's purge and line drop, 2 s each at most.
    start = realMs();
    port.writeBufferToPort("probe", 5);
    port.close();
    EXPECT_LT(realMs() - start, generousMs(5500));
  }
}

// The server changes its line at once: bytes written before a settings change must have
// left its line by then, or they go out garbled at the new settings.
TEST(NetworkPort, WriteThenSettingsChangeDeliversEveryByteAtTheOldSettings) {
  struct Row {
    uint32_t fromBaud;
    uint32_t toBaud;
    size_t bytes;
  };
  const Row rows[] = {{9600, 115200, 120}, {115200, 9600, 1500}, {19200, 19200, 200}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.fromBaud << " -> " << row.toBaud);
    ScriptedServer server(ServerScript{});
    Rfc2217Device device(server.portName());
    ASSERT_TRUE(device.open());
    serial::LineSettings settings;
    settings.baudRate = row.fromBaud;
    ASSERT_TRUE(device.setSettings(settings));
    std::string data(row.bytes, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    uint32_t written = 0;
    const int64_t start = realMs();
    ASSERT_TRUE(device.write(reinterpret_cast<const uint8_t*>(data.data()),
                             static_cast<uint32_t>(data.size()), written));
    settings.baudRate = row.toBaud;
    settings.parity = serial::Parity::Even;
    ASSERT_TRUE(device.setSettings(settings));
    // The wait is the line time, not more (10 bits per byte at the old rate).
    EXPECT_LT(realMs() - start,
              generousMs(static_cast<int64_t>(row.bytes * 10000 / row.fromBaud) + 100));
    device.close();
    server.stop();
    EXPECT_EQ(server.received(), data);
    EXPECT_EQ(server.garbledBytes(), 0u);
  }
}

// A settings change (close and open) keeps the connection: the lines drop and rise again
// as on a local port, and the port stays free for us in between.
TEST(NetworkPort, ReopenKeepsTheConnectionWithTheLinesDroppedInBetween) {
  ServerScript script;
  ScriptedServer server(script);
  MappedPort mapped(server.portName());
  CComm port;
  port.m_portNo = kNetPort;
  ASSERT_EQ(port.open(), 0);
  const size_t firstOpen = server.commands().size();
  const uint32_t connections = server.connections();
  port.m_baudRate = 19200;
  const int64_t start = realMs();
  ASSERT_EQ(port.open(), 0);
  EXPECT_LT(realMs() - start, generousMs(10));
  EXPECT_EQ(server.connections(), connections);
  std::vector<uint8_t> lines;
  const std::vector<ServerCommand> commands = server.commands();
  for (size_t i = firstOpen; i < commands.size(); ++i) {
    const uint8_t value = commands[i].value.empty() ? 0 : commands[i].value[0];
    if (commands[i].code == 5 && (value == 8 || value == 9 || value == 11 || value == 12))
      lines.push_back(value);
  }
  // DTR off at the close (twice: the port class's own and the kept connection's), RTS off,
  // then both on again at the open and at the settings.
  EXPECT_EQ(lines, (std::vector<uint8_t>{9, 9, 12, 8, 11, 8, 11}));
  port.close();
}

// The round trip to the server is taken from an answer of the open, and a reopen that takes
// over the kept connection keeps the smallest one seen.
TEST(NetworkPort, RoundTripIsKnownFromTheOpenAndKeptOverAReopen) {
  ServerScript script;
  ScriptedServer server(script);
  MappedPort mapped(server.portName());
  CComm port;
  port.m_portNo = kNetPort;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(port.open(), 0);
  const auto opening = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  const uint32_t first = port.m_port->receiveDelays().networkRoundTripUs;
  EXPECT_GT(first, 0u);
  // One answer of the open, not the whole open with its several exchanges.
  EXPECT_LT(first, opening.count());
  port.m_baudRate = 19200;
  ASSERT_EQ(port.open(), 0);
  const uint32_t again = port.m_port->receiveDelays().networkRoundTripUs;
  EXPECT_GT(again, 0u);
  EXPECT_LE(again, first);
  port.close();
}

TEST(NetworkPort, ProbeTellsFreeInUseAndAbsent) {
  ServerScript script;
  ScriptedServer server(script);
  // A loopback port that nobody listens on: bound and closed again.
  const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(closed);
  const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  EXPECT_EQ(probeSerialDevice(server.portName()), ProbeResult::Free);
  EXPECT_EQ(probeSerialDevice(refused), ProbeResult::Absent);
  EXPECT_EQ(probeSerialDevice("rfc2217://127.0.0.1"), ProbeResult::Absent);
  EXPECT_EQ(probeSerialDevice("rfc2217://no-such-host.invalid:2001"), ProbeResult::Absent);

  // While one client holds the port the server drops every other connection at once.
  Rfc2217Device holder(server.portName());
  ASSERT_TRUE(holder.open());
  EXPECT_EQ(probeSerialDevice(server.portName()), ProbeResult::InUse);
  Rfc2217Device second(server.portName());
  EXPECT_FALSE(second.open());
  holder.close();
}

// Each reason a network port cannot be used reaches the port class as its own cause: from
// the probe that precedes every open, and from the Telnet negotiation of an open.
TEST(NetworkPort, EachCauseOfAPortThatCannotBeUsedIsTold) {
  testing_support::HangUpServer hangUp;
  ScriptedServer holding{ServerScript{}};
  Rfc2217Device holder(holding.portName());
  ASSERT_TRUE(holder.open());
  ServerScript muteScript;
  muteScript.mute = true;
  ScriptedServer mute(muteScript);
  testing_support::FullBacklog full;
  const std::string loopback = "rfc2217://127.0.0.1:";
  struct Row {
    const char* what;
    std::string name;
    ProbeResult probe;
    PortFailure failure;
    // The open's own negotiation finds the cause too (a probe that lets the port through
    // is followed by an open).
    bool negotiated;
  };
  const Row rows[] = {
      {"nobody listens", loopback + std::to_string(testing_support::closedLoopbackPort()),
       ProbeResult::Absent, PortFailure::Refused, false},
      {"unknown name", "rfc2217://no-such-host.invalid:2001", ProbeResult::Absent,
       PortFailure::HostNotFound, false},
      {"a server that hangs up", loopback + std::to_string(hangUp.port()), ProbeResult::InUse,
       PortFailure::Busy, true},
      {"a server that holds another client", holding.portName(), ProbeResult::InUse,
       PortFailure::Busy, true},
      // The system drops the request: no refusal, no answer within the bound.
      {"a listener with a full queue", loopback + std::to_string(full.port()), ProbeResult::Absent,
       PortFailure::NoAnswer, false},
      // Accepts and says nothing: the probe lets it through, the negotiation runs out.
      {"a server that never answers", mute.portName(), ProbeResult::Free, PortFailure::NoAnswer,
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.name == loopback + std::to_string(full.port()) && !full.ok()) continue;
    PortFailure probed = PortFailure::Busy;
    EXPECT_EQ(probeSerialDevice(row.name, &probed), row.probe);
    EXPECT_EQ(probed, row.probe == ProbeResult::Free ? PortFailure::None : row.failure);
    if (row.probe != ProbeResult::Free) {
      // A run's open: the probe's cause, without an attempt to open.
      MappedPort mapped(row.name);
      CComm port;
      port.m_portNo = kNetPort;
      const int64_t start = realMs();
      EXPECT_NE(port.open(), 0);
      EXPECT_LT(realMs() - start, generousMs(1000));
      EXPECT_EQ(port.openFailure(), row.failure);
    }
    if (row.negotiated) {
      Rfc2217Device device(row.name);
      EXPECT_FALSE(device.open());
      EXPECT_EQ(device.openFailure(), row.failure);
    }
  }
  holder.close();
}

// The whole processor update of the simulated instrument through the server, on a clock
// ten times faster than real time.
TEST(NetworkPort, ProcessorUpdateThroughTheServer) {
  BridgeClock clock(10);
  platform::ScopedClock scopedClock(clock);
  sim::resetInstruments();
  resetRunState();
  testing_support::TempDir dir;
  ServerScript script;
  script.simPortName = "sim:hw=0x10000";
  ScriptedServer server(script, &clock);
  MappedPort mapped(server.portName());

  const std::string image(0x1000, '\0');
  std::string pattern = image;
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 7 + (i >> 8));
  dir.write("ROMWRITE.URL", std::string(200, '\x5a'));
  dir.write("ROMWRITE.TRA", std::string(0x800, '\x3c'));
  dir.write("NO_ATSC.bin", pattern);
  ASSERT_EQ(writeAutomaticConfiguration(0x10000, false, kNetPort), 0);

  CComm port;
  port.m_portNo = kNetPort;
  port.m_baudRate = 9600;
  port.m_parity = 0;
  port.m_handshake = 0;
  ASSERT_EQ(port.open(), 0);
  ASSERT_NE(port.writeStringToPort("SENSE:SWUP\r\n"), 0);
  platform::sleepMs(100);

  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", port, 1), kResultOk);
  port.close();
  server.stop();
  EXPECT_EQ(server.instrument->flashBytes(0x50000, static_cast<uint32_t>(pattern.size())),
            std::vector<uint8_t>(pattern.begin(), pattern.end()));
  EXPECT_EQ(server.instrument->counters.echoErrors, 0u);
  EXPECT_EQ(server.instrument->counters.boots, 1u);
  sim::resetInstruments();
  resetRunState();
}

}  // namespace
}  // namespace net_test
