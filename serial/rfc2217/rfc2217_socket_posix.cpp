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
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>

#include "serial/rfc2217/rfc2217_bounded_call.h"
#include "serial/rfc2217/rfc2217_socket.h"

namespace platform::rfc2217 {
namespace {

int64_t monotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int remainingMs(int64_t deadlineMs) {
  const int64_t left = deadlineMs - monotonicMs();
  if (left <= 0) return 0;
  return left > 60000 ? 60000 : static_cast<int>(left);
}

// The addresses of a name, freed with the list.
struct AddressList {
  addrinfo* first = nullptr;
  AddressList() = default;
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  ~AddressList() {
    if (first) ::freeaddrinfo(first);
  }
};

// The stream addresses of host:port; none when the name is unknown or its lookup takes
// longer than timeoutMs. An address written as one needs no lookup; a name is looked up on a
// helper thread (getaddrinfo waits out each name server's time-outs), which keeps the list
// shared until it ends.
std::shared_ptr<const AddressList> lookUp(const std::string& host, uint16_t port, int timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  const std::string service = std::to_string(port);
  auto numeric = std::make_shared<AddressList>();
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &numeric->first) == 0) return numeric;
  numeric->first = nullptr;
  hints.ai_flags = AI_NUMERICSERV;
  auto named = std::make_shared<AddressList>();
  const bool answered = callWithin(
      [named, host, service, hints] {
        if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &named->first) != 0) {
          named->first = nullptr;
        }
      },
      timeoutMs);
  return answered ? named : std::make_shared<AddressList>();
}

}  // namespace

Socket::~Socket() {
  close();
}

Socket::Socket(Socket&& other) noexcept : m_handle(std::exchange(other.m_handle, kNoHandle)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    close();
    m_handle = std::exchange(other.m_handle, kNoHandle);
  }
  return *this;
}

void Socket::close() {
  if (m_handle == kNoHandle) return;
  ::close(static_cast<int>(m_handle));
  m_handle = kNoHandle;
}

// Non-blocking from the start, so that the connect itself can be bounded by a poll.
Socket Socket::connect(const std::string& host, uint16_t port, int timeoutMs,
                       PortFailure* failure) {
  PortFailure why = PortFailure::None;
  const int64_t deadline = monotonicMs() + timeoutMs;
  const std::shared_ptr<const AddressList> addresses = lookUp(host, port, timeoutMs);
  int result = -1;
  if (!addresses->first) why = PortFailure::HostNotFound;
  for (addrinfo* address = addresses->first; address && result < 0; address = address->ai_next) {
    const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address->ai_protocol);
    if (fd < 0) continue;
    int error = ::connect(fd, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      pollfd entry{fd, POLLOUT, 0};
      error = ETIMEDOUT;
      if (::poll(&entry, 1, remainingMs(deadline)) == 1) {
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      }
    }
    if (error == 0) {
      result = fd;
      why = PortFailure::None;
    } else {
      ::close(fd);
      // One address that refused is the telling answer; the others may be unreachable.
      if (why != PortFailure::Refused) {
        why = error == ECONNREFUSED ? PortFailure::Refused : PortFailure::NoAnswer;
      }
    }
  }
  if (result < 0 && why == PortFailure::None) why = PortFailure::NoAnswer;
  if (failure) *failure = why;
  return result < 0 ? Socket() : Socket(result);
}

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

}  // namespace platform::rfc2217

namespace platform::rfc2217 {

Listener::~Listener() {
  close();
}

Listener::Listener(Listener&& other) noexcept
    : m_handle(std::exchange(other.m_handle, Socket::kNoHandle)), m_port(other.m_port) {}

Listener& Listener::operator=(Listener&& other) noexcept {
  if (this != &other) {
    close();
    m_handle = std::exchange(other.m_handle, Socket::kNoHandle);
    m_port = other.m_port;
  }
  return *this;
}

void Listener::close() {
  if (m_handle == Socket::kNoHandle) return;
  ::close(static_cast<int>(m_handle));
  m_handle = Socket::kNoHandle;
}

Listener Listener::listen(const std::string& host, uint16_t port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int lookup =
      ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
  if (lookup != 0 || !found) {
    error = std::string("unknown address: ") + ::gai_strerror(lookup);
    return {};
  }
  Listener listener;
  for (addrinfo* address = found; address && !listener.isOpen(); address = address->ai_next) {
    const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address->ai_protocol);
    if (fd < 0) continue;
    // A port left in TIME_WAIT by the previous run is taken again at once.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, address->ai_addr, address->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
      error = std::strerror(errno);
      ::close(fd);
      continue;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    listener.m_port =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                                          : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    listener.m_handle = fd;
  }
  ::freeaddrinfo(found);
  return listener;
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

}  // namespace platform::rfc2217
