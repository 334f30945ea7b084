// The TCP connection of the network serial backend on Winsock (Windows): the same bounds as
// on Linux, with select() for the waits (it takes microseconds, as the echo needs).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "serial/rfc2217/rfc2217_socket.h"
#include "serial/rfc2217/rfc2217_socket_system.h"

namespace serial::rfc2217 {
namespace {

SOCKET handleOf(intptr_t handle) {
  return static_cast<SOCKET>(handle);
}

// Waits up to timeoutUs until the socket is readable (read) or writable (!read).
bool waitFor(SOCKET socket, bool read, int64_t timeoutUs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(socket, &failed);
  if (timeoutUs < 0) timeoutUs = 0;
  timeval wait{static_cast<long>(timeoutUs / 1000000), static_cast<long>(timeoutUs % 1000000)};
  // A connect that fails shows in the exception set, not the write set.
  return ::select(0, read ? &set : nullptr, read ? nullptr : &set, read ? nullptr : &failed,
                  &wait) > 0 &&
         FD_ISSET(socket, &set);
}

// True when a connect under way has ended in failure (it shows in the exception set).
bool connectFailed(SOCKET socket) {
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(socket, &failed);
  timeval now{0, 0};
  return ::select(0, nullptr, nullptr, &failed, &now) > 0 && FD_ISSET(socket, &failed);
}

}  // namespace

namespace system {

// Winsock is started once, for the life of the program.
bool networkStarted() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data{};
    started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

void closeHandle(intptr_t handle) {
  ::closesocket(handleOf(handle));
}

// Non-blocking from the start, so that the connect itself is bounded by a wait.
ConnectResult connectTo(const addrinfo& address, int waitMs, intptr_t& handle) {
  const SOCKET socket = ::WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol,
                                     nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) return ConnectResult::NoSocket;
  u_long nonBlocking = 1;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  int error = ::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0
                  ? 0
                  : ::WSAGetLastError();
  if (error == WSAEWOULDBLOCK) {
    error = WSAETIMEDOUT;
    // A connect that ends, accepted or not, shows in one of the sets: its error then says
    // which.
    if (waitFor(socket, false, static_cast<int64_t>(waitMs) * 1000) || connectFailed(socket)) {
      int length = sizeof error;
      if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
          0) {
        error = ::WSAGetLastError();
      }
    }
  }
  if (error == 0) {
    handle = static_cast<intptr_t>(socket);
    return ConnectResult::Connected;
  }
  ::closesocket(socket);
  return error == WSAECONNREFUSED ? ConnectResult::Refused : ConnectResult::NoAnswer;
}

intptr_t listenOn(const addrinfo& address, uint16_t& port, std::string& error) {
  const SOCKET socket = ::WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol,
                                     nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) return -1;
  // Only this program may take the port while it listens.
  const BOOL one = TRUE;
  ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
               sizeof one);
  if (::bind(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0 ||
      ::listen(socket, 4) != 0) {
    error = ::WSAGetLastError() == WSAEADDRINUSE ? "the port is in use"
                                                 : "the port cannot be listened on";
    ::closesocket(socket);
    return -1;
  }
  u_long nonBlocking = 1;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  sockaddr_storage bound{};
  int length = sizeof bound;
  ::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length);
  port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                                           : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
  return static_cast<intptr_t>(socket);
}

std::string unknownAddressText(int) {
  return "unknown address";
}

}  // namespace system

void Socket::setNoDelay() {
  const BOOL one = TRUE;
  ::setsockopt(handleOf(m_handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof one);
}

void Socket::setKeepAlive() {
  const BOOL one = TRUE;
  ::setsockopt(handleOf(m_handle), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&one),
               sizeof one);
}

// Windows acknowledges at once on a connection that has TCP_NODELAY set both ways in
// practice; it has no per-receive switch.
void Socket::quickAck() {}

int64_t Socket::send(const uint8_t* data, size_t size) {
  const int chunk = static_cast<int>(size > (1u << 30) ? (1u << 30) : size);
  const int sent = ::send(handleOf(m_handle), reinterpret_cast<const char*>(data), chunk, 0);
  if (sent > 0) return sent;
  if (sent == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return -1;
}

int64_t Socket::receive(uint8_t* data, size_t size) {
  const int chunk = static_cast<int>(size > (1u << 30) ? (1u << 30) : size);
  const int got = ::recv(handleOf(m_handle), reinterpret_cast<char*>(data), chunk, 0);
  if (got > 0) return got;
  if (got == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return -1;
}

bool Socket::waitReadable(int64_t timeoutUs) {
  return waitFor(handleOf(m_handle), true, timeoutUs);
}

void Socket::waitWritable(int timeoutMs) {
  waitFor(handleOf(m_handle), false, static_cast<int64_t>(timeoutMs) * 1000);
}

// Winsock does not tell how much of what was handed over is still unsent.
int Socket::unsentBytes() const {
  return 0;
}

void Socket::shutdownSend() {
  ::shutdown(handleOf(m_handle), SD_SEND);
}

Socket Listener::accept(int64_t timeoutUs) {
  if (!isOpen() || !waitFor(handleOf(m_handle), true, timeoutUs)) return {};
  const SOCKET socket = ::accept(handleOf(m_handle), nullptr, nullptr);
  if (socket == INVALID_SOCKET) return {};
  u_long nonBlocking = 1;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  return Socket(static_cast<intptr_t>(socket));
}

}  // namespace serial::rfc2217
