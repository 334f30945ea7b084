// The TCP connection of the network serial backend on Winsock (Windows): the same bounds as
// on Linux, with select() for the waits (it takes microseconds, as the echo needs).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <utility>

#include "serial/rfc2217/rfc2217_bounded_call.h"
#include "serial/rfc2217/rfc2217_socket.h"

namespace platform::rfc2217 {
namespace {

int64_t monotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t remainingUs(int64_t deadlineMs) {
  const int64_t left = deadlineMs - monotonicMs();
  if (left <= 0) return 0;
  return (left > 60000 ? 60000 : left) * 1000;
}

// Winsock is started once, for the life of the program.
bool winsockStarted() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data{};
    started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

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
  ::closesocket(handleOf(m_handle));
  m_handle = kNoHandle;
}

// Non-blocking from the start, so that the connect itself is bounded by a wait.
Socket Socket::connect(const std::string& host, uint16_t port, int timeoutMs,
                       PortFailure* failure) {
  if (failure) *failure = PortFailure::NoAnswer;
  if (!winsockStarted()) return {};
  PortFailure why = PortFailure::None;
  const int64_t deadline = monotonicMs() + timeoutMs;
  const std::shared_ptr<const AddressList> addresses = lookUp(host, port, timeoutMs);
  SOCKET result = INVALID_SOCKET;
  if (!addresses->first) why = PortFailure::HostNotFound;
  for (addrinfo* address = addresses->first; address && result == INVALID_SOCKET;
       address = address->ai_next) {
    const SOCKET socket =
        ::WSASocketW(address->ai_family, address->ai_socktype, address->ai_protocol, nullptr, 0,
                     WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
    int error = ::connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0
                    ? 0
                    : ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      error = WSAETIMEDOUT;
      // A connect that ends, accepted or not, shows in one of the sets: its error then says
      // which.
      if (waitFor(socket, false, remainingUs(deadline)) || connectFailed(socket)) {
        int length = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
            0) {
          error = ::WSAGetLastError();
        }
      }
    }
    if (error == 0) {
      result = socket;
      why = PortFailure::None;
    } else {
      ::closesocket(socket);
      // One address that refused is the telling answer; the others may be unreachable.
      if (why != PortFailure::Refused) {
        why = error == WSAECONNREFUSED ? PortFailure::Refused : PortFailure::NoAnswer;
      }
    }
  }
  if (result == INVALID_SOCKET && why == PortFailure::None) why = PortFailure::NoAnswer;
  if (failure) *failure = why;
  return result == INVALID_SOCKET ? Socket() : Socket(static_cast<intptr_t>(result));
}

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
  ::closesocket(handleOf(m_handle));
  m_handle = Socket::kNoHandle;
}

Listener Listener::listen(const std::string& host, uint16_t port, std::string& error) {
  if (!winsockStarted()) {
    error = "the network is not available";
    return {};
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found) != 0 ||
      !found) {
    error = "unknown address";
    return {};
  }
  Listener listener;
  for (addrinfo* address = found; address && !listener.isOpen(); address = address->ai_next) {
    const SOCKET socket =
        ::WSASocketW(address->ai_family, address->ai_socktype, address->ai_protocol, nullptr, 0,
                     WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) continue;
    // Only this program may take the port while it listens.
    const BOOL one = TRUE;
    ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
                 sizeof one);
    if (::bind(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0 ||
        ::listen(socket, 4) != 0) {
      error = ::WSAGetLastError() == WSAEADDRINUSE ? "the port is in use"
                                                   : "the port cannot be listened on";
      ::closesocket(socket);
      continue;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
    sockaddr_storage bound{};
    int length = sizeof bound;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length);
    listener.m_port =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                                          : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    listener.m_handle = static_cast<intptr_t>(socket);
  }
  ::freeaddrinfo(found);
  return listener;
}

Socket Listener::accept(int64_t timeoutUs) {
  if (!isOpen() || !waitFor(handleOf(m_handle), true, timeoutUs)) return {};
  const SOCKET socket = ::accept(handleOf(m_handle), nullptr, nullptr);
  if (socket == INVALID_SOCKET) return {};
  u_long nonBlocking = 1;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  return Socket(static_cast<intptr_t>(socket));
}

}  // namespace platform::rfc2217
