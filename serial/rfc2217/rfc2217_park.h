// Connections that a close of a network port keeps for the next open of the same port.
//
// The port class closes and opens its port for every change of settings; a kept connection
// spares the new connection and the Telnet negotiation, and the server's port stays ours in
// between (no other client can take it). The device hands over the connection with what it
// negotiated, after it has dropped DTR and RTS as a close does.
//
// Contract:
//  - At most one connection per port name: a second one kept for the same name closes the
//    first.
//  - A connection not taken within its keeping time is closed by a thread of the park's
//    own (real time, whatever clock the program runs on), so that the server's port is
//    free again for others. The thread starts with the first connection kept.
//  - Safe to use from any thread. The destructor ends the thread and closes what is kept.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/rfc2217/rfc2217_codec.h"
#include "serial/rfc2217/rfc2217_socket.h"
#include "serial/serial_device.h"

namespace serial::rfc2217 {

// A kept connection and what was negotiated on it.
struct ParkedConnection {
  std::string name;  // the port name, "rfc2217://HOST:PORT"
  Socket socket;
  TelnetDecoder decoder;
  bool clientBinary = true;
  bool refusedOption[256] = {};
  bool modemLinesAbsent = false;
  bool modemLineAnswered = false;
  LineSettings settings{};
  uint32_t roundTripUs = 0;  // the smallest round trip seen on the connection; 0: none yet
};

class ConnectionPark {
 public:
  ConnectionPark() = default;
  ~ConnectionPark();
  ConnectionPark(const ConnectionPark&) = delete;
  ConnectionPark& operator=(const ConnectionPark&) = delete;

  // The park of the program, shared by every network port.
  static ConnectionPark& shared();

  // Keeps `connection` for keepMs.
  void put(ParkedConnection connection, int keepMs);
  // Takes the connection kept for `name`; false when there is none (never kept, taken
  // already, or closed at the end of its time).
  bool take(const std::string& name, ParkedConnection& connection);
  bool holds(const std::string& name);

 private:
  using Time = std::chrono::steady_clock::time_point;
  struct Entry {
    ParkedConnection connection;
    Time until;
  };

  // The thread's loop: closes each connection at the end of its time.
  void reap();

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::vector<Entry> m_parked;
  std::thread m_reaper;
  bool m_stopping = false;
};

}  // namespace serial::rfc2217
