// A scripted terminal server on 127.0.0.1 for tests of the network serial backend: it
// speaks Telnet with the COM-PORT-OPTION from the server's side, answers (or, as scripted,
// does not answer) the settings and modem-line commands, sends modem-state notifications,
// lends its port to one client at a time, and carries the data to a simulated instrument
// behind it or keeps it for the test.
//
// The server runs on a thread of its own and is the only one that touches its instrument
// while it runs. Its instrument follows the program clock; BridgeClock lets the server's
// thread read that clock without ever sleeping on it, so that only the client's waits move
// the simulation.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "serial/serial_device.h"

namespace sim {
class Instrument;
}

namespace net_test {

// The steady clock `factor` times faster than real time; sleeps of the quiet thread return
// at once.
class BridgeClock : public platform::Clock {
 public:
  explicit BridgeClock(double factor) : m_steady(factor) {}
  uint64_t nowMicros() override { return m_steady.nowMicros(); }
  void sleepMicros(uint64_t micros) override;
  void setQuietThread(std::thread::id id) { m_quiet = id; }

 private:
  platform::SteadyClock m_steady;
  std::atomic<std::thread::id> m_quiet{};
};

struct ServerScript {
  // The simulated instrument behind the port ("sim:..."); empty: data from the client is
  // kept for received() and the test sends with sendData().
  std::string simPortName;
  // Answer DTR and RTS commands (a port with modem lines).
  bool answerModemLines = true;
  // Modem state without an instrument (CTS | DSR by default).
  uint8_t modemState = 0x30;
  // Answer every baud-rate setting with this rate instead (a port that cannot do the rate).
  uint32_t baudAnswer = 0;
  // Accept connections but never say a word.
  bool mute = false;
  // Send without end, faster than the client reads: Telnet NOP commands from the start, or
  // data once the client has sent data (after a good negotiation).
  enum class Flood { None, Nops, Data } flood = Flood::None;
};

struct ServerCommand {
  uint8_t code;
  std::vector<uint8_t> value;
};

class ScriptedServer {
 public:
  explicit ScriptedServer(ServerScript script, BridgeClock* clock = nullptr);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  uint16_t port() const { return m_port; }
  std::string portName() const;

  // Data bytes from the client (without an instrument) and the COM-PORT commands it sent.
  std::string received();
  std::vector<ServerCommand> commands();
  // Sends data to the client; returns once the bytes are in the socket.
  void sendData(const std::string& bytes);
  // Changes the modem state (without an instrument) and notifies the client.
  void setModemState(uint8_t state);
  // Hangs up on the current client, as a server that goes away.
  void dropClient();
  // Data bytes from the client that were still on the server's line (without an
  // instrument, at the line's speed) when a change of the framing came.
  uint32_t garbledBytes() const { return m_garbled; }
  // Connections accepted and served (refused second clients not counted).
  uint32_t connections() const { return m_connections; }
  // Stops the thread; afterwards the test may look at the instrument.
  void stop();

  std::shared_ptr<sim::Instrument> instrument;

 private:
  struct Request {
    enum class Kind { Send, ModemState, Drop } kind;
    std::string bytes;
    uint8_t state = 0;
  };
  void run();
  void serve(int client);
  void perform(const Request& request);

  ServerScript m_script;
  BridgeClock* m_clock;
  int m_listen = -1;
  uint16_t m_port = 0;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<uint32_t> m_connections{0};
  std::atomic<uint32_t> m_garbled{0};
  std::mutex m_mutex;
  std::string m_received;
  std::vector<ServerCommand> m_commands;
  std::vector<Request> m_requests;
  uint32_t m_requestsDone = 0;
  uint32_t m_requestsQueued = 0;
};

}  // namespace net_test
