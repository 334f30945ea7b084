#include "tests/support/loopback_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {
namespace {

// How long a filler connection of the full queue may take on loopback before the queue
// counts as full, and how many fillers are tried at most.
constexpr int kFillerConnectMs = 200;
constexpr int kMaxFillers = 16;
// The hang-up server looks at its stop flag this often.
constexpr int kStopPollMs = 20;

// A listening socket on a loopback port the system picks; its port in `port`.
int listenOnLoopback(int backlog, uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    port = 0;
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

uint16_t closedLoopbackPort() {
  uint16_t port = 0;
  const int fd = listenOnLoopback(1, port);
  if (fd >= 0) ::close(fd);
  return port;
}

HangUpServer::HangUpServer() {
  m_listen = listenOnLoopback(8, m_port);
  if (m_listen < 0) return;
  m_thread = std::thread([this] {
    while (!m_stop) {
      pollfd entry{m_listen, POLLIN, 0};
      if (::poll(&entry, 1, kStopPollMs) != 1) continue;
      const int client = ::accept(m_listen, nullptr, nullptr);
      if (client >= 0) ::close(client);
    }
  });
}

HangUpServer::~HangUpServer() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_listen >= 0) ::close(m_listen);
}

FullBacklog::FullBacklog() {
  // A queue of length 0 holds one connection that nobody has accepted yet.
  m_listen = listenOnLoopback(0, m_port);
  if (m_listen < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(m_port);
  for (int i = 0; i < kMaxFillers && !m_ok; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    m_clients.push_back(fd);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) continue;
    pollfd entry{fd, POLLOUT, 0};
    // A request that the listener leaves unanswered shows that the queue is full. It stays
    // open, unanswered, with the others.
    if (::poll(&entry, 1, kFillerConnectMs) == 0) m_ok = true;
  }
}

FullBacklog::~FullBacklog() {
  for (const int fd : m_clients) ::close(fd);
  if (m_listen >= 0) ::close(m_listen);
}

}  // namespace testing_support
