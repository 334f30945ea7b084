// The TCP connection of the network serial backend: the one place where the backend meets
// the operating system's sockets. This header is the same on every system; each system has
// its own calls beside it (rfc2217_socket_posix.cpp: BSD sockets; rfc2217_socket_windows.cpp:
// Winsock), the rest is shared (rfc2217_socket_common.cpp). The Telnet and COM-PORT-OPTION
// logic above it is portable.
//
// Contract:
//  - A connection is non-blocking and is closed with its object (moving hands it over).
//  - Nothing waits beyond the bound it is given: the connect (with its name lookup), and
//    each wait for room or for bytes. A transfer never waits; it hands over or takes what the
//    socket can now.
//  - Errors are folded into what the backend acts on: a transfer that cannot go on now is
//    0, one whose connection is gone (end of stream, reset, any other failure) is -1. Where
//    a call fails, the system's error number is left as the system set it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/serial_device.h"

namespace serial::rfc2217 {

class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // A connection to the first address of `host` (a name or an IPv4 or IPv6 address) that
  // accepts within timeoutMs, the name lookup included (a lookup still running then is left
  // to end on its own). A closed Socket when none does, with the reason in `failure`:
  // HostNotFound (unknown name, or no answer from the name service in time), Refused (an
  // address refused and none accepted), NoAnswer (no answer in time, or unreachable).
  static Socket connect(const std::string& host, uint16_t port, int timeoutMs,
                        PortFailure* failure = nullptr);

  bool isOpen() const { return m_handle != kNoHandle; }
  void close();

  // Every byte goes out at once, without waiting to gather more (the programming link
  // echoes byte by byte).
  void setNoDelay();
  // A peer that vanished without a word is found by keep-alive probes.
  void setKeepAlive();
  // Acknowledges received bytes at once, where the system can. Systems fall back to delayed
  // acknowledgements after a while, so this is asked again after each receive.
  void quickAck();

  // Hands over up to `size` bytes: the count taken, 0 when there is no room now, -1 when
  // the connection is gone.
  int64_t send(const uint8_t* data, size_t size);
  // Takes up to `size` bytes: the count, 0 when none wait, -1 at the end of the stream or
  // when the connection is gone.
  int64_t receive(uint8_t* data, size_t size);
  // Waits up to timeoutUs until bytes (or the end of the stream) wait to be received; true
  // when they do.
  bool waitReadable(int64_t timeoutUs);
  // Waits up to timeoutMs until there is room to send.
  void waitWritable(int timeoutMs);
  // Bytes handed over that the system has not sent yet; 0 where it cannot tell.
  int unsentBytes() const;
  // Ends our direction: the peer reads the end of the stream, and receiving goes on.
  void shutdownSend();

 private:
  // A descriptor or a socket handle; both systems use all bits set for none.
  static constexpr intptr_t kNoHandle = -1;
  explicit Socket(intptr_t handle) : m_handle(handle) {}

  intptr_t m_handle = kNoHandle;
  friend class Listener;
};

// The listening end of a server: one socket bound to an address, handing out the
// connections of clients as they come.
class Listener {
 public:
  Listener() = default;
  ~Listener();
  Listener(Listener&& other) noexcept;
  Listener& operator=(Listener&& other) noexcept;
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Listens on `host` (an IPv4 or IPv6 address or a name; empty: every address) and `port`
  // (0: one the system picks). A closed Listener when that fails, with the reason in `error`.
  static Listener listen(const std::string& host, uint16_t port, std::string& error);

  bool isOpen() const { return m_handle != Socket::kNoHandle; }
  void close();
  // The port it listens on (the one the system picked for 0).
  uint16_t port() const { return m_port; }
  // A client that connects within timeoutUs, as a non-blocking connection; a closed Socket
  // when none does.
  Socket accept(int64_t timeoutUs);

 private:
  intptr_t m_handle = Socket::kNoHandle;
  uint16_t m_port = 0;
};

}  // namespace serial::rfc2217
