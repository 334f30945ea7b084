// The simulated instrument served to a client in another program's place: through the
// terminal server (the network backend as client) and on a pseudo-terminal (the termios
// backend as client), in real time. Each exchange is a short text query, so that the real
// waits stay in the tens of milliseconds.
#include "sim/line_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "serial/rfc2217/rfc2217_device.h"
#include "serial/termios/termios_device.h"
#include "tests/support/timing.h"

namespace {

using serial::ReadResult;

constexpr const char* kIdentification = "QUORIX&VANTEL,ZEL,57,04.41 \r\n";

int64_t realMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// What the client reads until a line feed or until the time is up.
std::string readLine(serial::SerialDevice& device, int64_t waitMs) {
  std::string line;
  const int64_t deadline = realMs() + testing_support::generousMs(waitMs);
  while (realMs() < deadline) {
    uint8_t byte = 0;
    if (device.readByte(byte) != ReadResult::Byte) continue;
    line += static_cast<char>(byte);
    if (byte == '\n') break;
  }
  return line;
}

bool send(serial::SerialDevice& device, const std::string& text) {
  uint32_t written = 0;
  return device.write(reinterpret_cast<const uint8_t*>(text.data()),
                      static_cast<uint32_t>(text.size()), written) &&
         written == text.size() && device.drain();
}

// An instrument at the speed of its line, served on its own thread until the test ends.
struct Served {
  explicit Served(const std::string& options, bool pty = false) {
    sim::Options parsed;
    EXPECT_EQ(sim::parseOptions("sim:speed=real," + options, parsed), "");
    instrument = std::make_unique<sim::Instrument>(parsed);
    sim::ServeHooks hooks;
    hooks.stopAsked = [this] { return stop.load(); };
    std::string error;
    if (pty) {
      EXPECT_TRUE(terminal.open(error)) << error;
      name = terminal.farName();
      thread =
          std::thread([this, hooks] { sim::servePseudoTerminal(*instrument, terminal, hooks); });
    } else {
      listener = serial::rfc2217::Listener::listen("127.0.0.1", 0, error);
      EXPECT_TRUE(listener.isOpen()) << error;
      name = "rfc2217://127.0.0.1:" + std::to_string(listener.port());
      thread = std::thread([this, hooks] { sim::serveRfc2217(*instrument, listener, hooks); });
    }
  }
  ~Served() {
    stop = true;
    thread.join();
  }
  std::unique_ptr<sim::Instrument> instrument;
  serial::rfc2217::Listener listener;
  platform::PseudoTerminal terminal;
  std::string name;
  std::atomic<bool> stop{false};
  std::thread thread;
};

serial::LineSettings at(uint32_t baud) {
  serial::LineSettings settings;
  settings.baudRate = baud;
  return settings;
}

TEST(LineServer, ServesTheInstrumentAtItsSettingsOverEitherLink) {
  struct Row {
    const char* what;
    bool pty;
    const char* options;
    uint32_t clientBaud;
    bool understood;
  };
  const Row rows[] = {
      {"terminal server, same settings", false, "baud=19200", 19200, true},
      {"terminal server, another baud rate: garbage", false, "baud=19200", 9600, false},
      {"pseudo-terminal, same settings", true, "baud=38400", 38400, true},
      {"pseudo-terminal, another baud rate: garbage", true, "baud=38400", 19200, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Served served(row.options, row.pty);
    std::unique_ptr<serial::SerialDevice> client;
    if (row.pty) {
      client = std::make_unique<serial::TermiosDevice>(served.name);
    } else {
      client = std::make_unique<serial::Rfc2217Device>(served.name);
    }
    ASSERT_TRUE(client->open());
    ASSERT_TRUE(client->setSettings(at(row.clientBaud)));
    ASSERT_TRUE(client->purge(true, true));
    ASSERT_TRUE(send(*client, "*IDN?\n"));
    const std::string answer = readLine(*client, 200);
    if (row.understood) {
      EXPECT_EQ(answer, kIdentification);
    } else {
      EXPECT_NE(answer, kIdentification);
    }
    client->close();
  }
}

// The modem lines tell update mode over the terminal server, and the instrument stays the
// same across connections, while a second client meanwhile is turned away.
TEST(LineServer, KeepsOneInstrumentAcrossConnectionsAndLendsItToOneClient) {
  Served served("");
  serial::Rfc2217Device first(served.name);
  ASSERT_TRUE(first.open());
  bool cts = false;
  bool dsr = false;
  ASSERT_TRUE(first.modemStatus(cts, dsr));
  EXPECT_TRUE(cts && dsr) << "normal mode";
  EXPECT_EQ(serial::Rfc2217Device::probe(served.name), serial::ProbeResult::InUse);

  ASSERT_TRUE(send(first, "SENSE:SWUP\n"));
  const int64_t deadline = realMs() + testing_support::generousMs(100);
  while (realMs() < deadline && first.modemStatus(cts, dsr) && cts) {
    uint8_t byte = 0;
    first.readByte(byte);
  }
  EXPECT_FALSE(cts) << "update mode";
  first.close();

  serial::Rfc2217Device second(served.name);
  ASSERT_TRUE(second.open());
  ASSERT_TRUE(second.modemStatus(cts, dsr));
  EXPECT_FALSE(cts);
  EXPECT_TRUE(dsr);
}

}  // namespace
