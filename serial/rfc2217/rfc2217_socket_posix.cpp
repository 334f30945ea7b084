// The TCP connection of the network serial backend on BSD sockets (Linux).
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/rfc2217/rfc2217_socket.h"
#include "serial/rfc2217/rfc2217_socket_system.h"

namespace serial::rfc2217 {

namespace system {

bool networkStarted() {
  return true;
}

void closeHandle(intptr_t handle) {
  ::close(static_cast<int>(handle));
}

// Non-blocking from the start, so that the connect itself can be bounded by a poll.
ConnectResult connectTo(const addrinfo& address, int waitMs, intptr_t& handle) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address.ai_protocol);
  if (fd < 0) return ConnectResult::NoSocket;
  int error = ::connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    pollfd entry{fd, POLLOUT, 0};
    error = ETIMEDOUT;
    if (::poll(&entry, 1, waitMs) == 1) {
      socklen_t length = sizeof error;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    }
  }
  if (error == 0) {
    handle = fd;
    return ConnectResult::Connected;
  }
  ::close(fd);
  return error == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::NoAnswer;
}

intptr_t listenOn(const addrinfo& address, uint16_t& port, std::string& error) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address.ai_protocol);
  if (fd < 0) return -1;
  // A port left in TIME_WAIT by the previous run is taken again at once.
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, address.ai_addr, address.ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                                           : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
  return fd;
}

std::string unknownAddressText(int code) {
  return std::string("unknown address: ") + ::gai_strerror(code);
}

}  // namespace system

void Socket::setNoDelay() {
  const int one = 1;
  ::setsockopt(static_cast<int>(m_handle), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void Socket::setKeepAlive() {
  const int one = 1;
  ::setsockopt(static_cast<int>(m_handle), SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
}

void Socket::quickAck() {
#ifdef TCP_QUICKACK
  // Our acknowledgement must never hold back a server that waits for it before it sends on.
  const int one = 1;
  ::setsockopt(static_cast<int>(m_handle), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
}

int64_t Socket::send(const uint8_t* data, size_t size) {
  for (;;) {
    // MSG_NOSIGNAL: a connection the peer has closed gives an error, not SIGPIPE.
    const ssize_t sent =
        ::send(static_cast<int>(m_handle), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) return sent;
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return -1;
  }
}

int64_t Socket::receive(uint8_t* data, size_t size) {
  for (;;) {
    const ssize_t got = ::recv(static_cast<int>(m_handle), data, size, MSG_DONTWAIT);
    if (got > 0) return got;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return -1;
  }
}

bool Socket::waitReadable(int64_t timeoutUs) {
  pollfd entry{static_cast<int>(m_handle), POLLIN, 0};
  if (timeoutUs < 0) timeoutUs = 0;
  const timespec wait{static_cast<time_t>(timeoutUs / 1000000),
                      static_cast<long>(timeoutUs % 1000000) * 1000};
  return ::ppoll(&entry, 1, &wait, nullptr) > 0;
}

void Socket::waitWritable(int timeoutMs) {
  pollfd entry{static_cast<int>(m_handle), POLLOUT, 0};
  ::poll(&entry, 1, timeoutMs);
}

int Socket::unsentBytes() const {
  int unsent = 0;
  if (::ioctl(static_cast<int>(m_handle), SIOCOUTQNSD, &unsent) != 0 || unsent < 0) return 0;
  return unsent;
}

void Socket::shutdownSend() {
  ::shutdown(static_cast<int>(m_handle), SHUT_WR);
}

Socket Listener::accept(int64_t timeoutUs) {
  if (!isOpen()) return {};
  pollfd entry{static_cast<int>(m_handle), POLLIN, 0};
  if (timeoutUs < 0) timeoutUs = 0;
  const timespec wait{static_cast<time_t>(timeoutUs / 1000000),
                      static_cast<long>(timeoutUs % 1000000) * 1000};
  if (::ppoll(&entry, 1, &wait, nullptr) <= 0) return {};
  const int fd =
      ::accept4(static_cast<int>(m_handle), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  return fd < 0 ? Socket() : Socket(fd);
}

}  // namespace serial::rfc2217
