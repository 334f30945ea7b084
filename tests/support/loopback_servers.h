// Loopback setups in which a network serial port cannot be used, one for each cause the
// network backend tells: a port that nobody listens on (refused), a server that hangs up on
// every client (busy), a listener whose queue of connections is full (no answer).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace testing_support {

// A loopback TCP port that nobody listens on: bound, then closed again.
uint16_t closedLoopbackPort();

// Accepts every connection on a loopback port and hangs up at once, as a terminal server
// whose serial port another client holds. Its thread ends with the object.
class HangUpServer {
 public:
  HangUpServer();
  ~HangUpServer();
  HangUpServer(const HangUpServer&) = delete;
  HangUpServer& operator=(const HangUpServer&) = delete;
  uint16_t port() const { return m_port; }

 private:
  int m_listen = -1;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// A loopback listener that never accepts, with its queue filled: the system drops a new
// client's connection request, so the client hears nothing until its own time-out. ok() is
// false where the queue could not be shown to be full.
class FullBacklog {
 public:
  FullBacklog();
  ~FullBacklog();
  FullBacklog(const FullBacklog&) = delete;
  FullBacklog& operator=(const FullBacklog&) = delete;
  bool ok() const { return m_ok; }
  uint16_t port() const { return m_port; }

 private:
  int m_listen = -1;
  uint16_t m_port = 0;
  bool m_ok = false;
  std::vector<int> m_clients;
};

}  // namespace testing_support
