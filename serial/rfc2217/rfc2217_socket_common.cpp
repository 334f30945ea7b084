// The connection's logic that no system call differs in: owning and handing over the handle,
// the bounded name lookup, trying each address of a name in turn, and which failure to tell.
#include <chrono>
#include <memory>
#include <utility>

#include "serial/rfc2217/rfc2217_bounded_call.h"
#include "serial/rfc2217/rfc2217_socket.h"
#include "serial/rfc2217/rfc2217_socket_system.h"

namespace serial::rfc2217 {
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
  system::closeHandle(m_handle);
  m_handle = kNoHandle;
}

Socket Socket::connect(const std::string& host, uint16_t port, int timeoutMs,
                       PortFailure* failure) {
  if (failure) *failure = PortFailure::NoAnswer;
  if (!system::networkStarted()) return {};
  PortFailure why = PortFailure::None;
  const int64_t deadline = monotonicMs() + timeoutMs;
  const std::shared_ptr<const AddressList> addresses = lookUp(host, port, timeoutMs);
  intptr_t result = kNoHandle;
  if (!addresses->first) why = PortFailure::HostNotFound;
  for (addrinfo* address = addresses->first; address && result == kNoHandle;
       address = address->ai_next) {
    using system::ConnectResult;
    const ConnectResult answer = system::connectTo(*address, remainingMs(deadline), result);
    if (answer == ConnectResult::Connected) {
      why = PortFailure::None;
    } else if (answer != ConnectResult::NoSocket && why != PortFailure::Refused) {
      // One address that refused is the telling answer; the others may be unreachable.
      why = answer == ConnectResult::Refused ? PortFailure::Refused : PortFailure::NoAnswer;
    }
  }
  if (result == kNoHandle && why == PortFailure::None) why = PortFailure::NoAnswer;
  if (failure) *failure = why;
  return result == kNoHandle ? Socket() : Socket(result);
}

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
  system::closeHandle(m_handle);
  m_handle = Socket::kNoHandle;
}

Listener Listener::listen(const std::string& host, uint16_t port, std::string& error) {
  if (!system::networkStarted()) {
    error = "the network is not available";
    return {};
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int lookup =
      ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
  if (lookup != 0 || !found) {
    error = system::unknownAddressText(lookup);
    return {};
  }
  Listener listener;
  for (addrinfo* address = found; address && !listener.isOpen(); address = address->ai_next) {
    listener.m_handle = system::listenOn(*address, listener.m_port, error);
  }
  ::freeaddrinfo(found);
  return listener;
}

}  // namespace serial::rfc2217
