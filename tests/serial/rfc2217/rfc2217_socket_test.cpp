// The socket of the network backend and the park of kept connections, against plain
// sockets on loopback: a connect ends within its bound and says why it failed, bytes and the
// end of the stream pass both ways, and a kept connection that nobody takes is closed in
// time.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "serial/rfc2217/rfc2217_bounded_call.h"
#include "serial/rfc2217/rfc2217_park.h"
#include "serial/rfc2217/rfc2217_socket.h"
#include "tests/support/loopback_servers.h"

namespace net_test {
namespace {

using serial::PortFailure;
using serial::rfc2217::callWithin;
using serial::rfc2217::ConnectionPark;
using serial::rfc2217::ParkedConnection;
using serial::rfc2217::Socket;

constexpr int kEventWaitMs = 5000;

int64_t realMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A listening socket on a free loopback port.
struct Listener {
  Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~Listener() { ::close(fd); }
  // The far end of the next connection.
  int accept() const { return ::accept(fd, nullptr, nullptr); }
  int fd = -1;
  uint16_t port = 0;
};

// True once `fd` reads the end of the stream within the wait.
bool readsEnd(int fd) {
  pollfd entry{fd, POLLIN, 0};
  char byte = 0;
  return ::poll(&entry, 1, kEventWaitMs) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

TEST(NetworkSocket, ConnectEndsWithinItsBoundAndSaysWhy) {
  Listener listening;
  uint16_t unused = 0;
  {
    Listener closed;
    unused = closed.port;
  }
  testing_support::FullBacklog full;
  struct Row {
    const char* what;
    const char* host;
    uint16_t port;
    int timeoutMs;
    bool opens;
    // Its cause; None with `opens` false: whichever the network on the way gives.
    PortFailure failure;
  };
  const Row rows[] = {
      {"listening", "127.0.0.1", listening.port, 1000, true, PortFailure::None},
      {"listening, by name", "localhost", listening.port, 1000, true, PortFailure::None},
      {"nobody listens: refused", "127.0.0.1", unused, 1000, false, PortFailure::Refused},
      // Never routed: no answer (or unreachable, or refused by a firewall, at once), so the
      // bound ends the wait.
      {"not routed", "192.0.2.1", 2001, 100, false, PortFailure::None},
      // The listener's queue is full: the request is dropped, never refused.
      {"full queue", "127.0.0.1", full.port(), 300, false, PortFailure::NoAnswer},
      // The reserved top-level domain that no name service resolves.
      {"unknown name", "no-such-host.invalid", 2001, 1000, false, PortFailure::HostNotFound},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.port == full.port() && !full.ok()) continue;
    const int64_t start = realMs();
    PortFailure failure = PortFailure::Busy;  // overwritten by every connect
    const Socket socket = Socket::connect(row.host, row.port, row.timeoutMs, &failure);
    EXPECT_EQ(socket.isOpen(), row.opens);
    if (row.opens || row.failure != PortFailure::None) {
      EXPECT_EQ(failure, row.failure);
    } else {
      EXPECT_NE(failure, PortFailure::None);
    }
    // Far above the bound: a connect that ignored it would wait for the system's own
    // time-out, minutes.
    EXPECT_LT(realMs() - start, row.timeoutMs + 3000);
  }
}

// The name lookup runs on a helper thread so that a name service that does not answer
// cannot hold the connect past its bound.
TEST(NetworkSocket, CallWithinReturnsAtItsBoundAndLeavesTheCallToFinish) {
  struct Row {
    const char* what;
    bool blocks;
    int timeoutMs;
  };
  const Row rows[] = {
      {"returns at once", false, 1000},
      {"blocks past the bound", true, 50},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    const auto result = std::make_shared<std::atomic<int>>(0);
    const auto ended = std::make_shared<std::promise<void>>();
    std::future<void> callEnded = ended->get_future();
    const bool blocks = row.blocks;
    const int64_t start = realMs();
    const bool returned = callWithin(
        [released, result, ended, blocks] {
          if (blocks) released.wait();
          *result = 42;
          ended->set_value();
        },
        row.timeoutMs);
    EXPECT_EQ(returned, !row.blocks);
    EXPECT_LT(realMs() - start, row.timeoutMs + 1000);
    // A call that returned in time has written its result; one left behind goes on
    // with its shares once it can.
    if (!row.blocks) {
      EXPECT_EQ(result->load(), 42);
    }
    release.set_value();
    EXPECT_EQ(callEnded.wait_for(std::chrono::milliseconds(kEventWaitMs)),
              std::future_status::ready);
    EXPECT_EQ(result->load(), 42);
  }
}

TEST(NetworkSocket, BytesAndTheEndOfTheStreamPassBothWays) {
  Listener listening;
  Socket socket = Socket::connect("127.0.0.1", listening.port, 1000);
  ASSERT_TRUE(socket.isOpen());
  const int peer = listening.accept();
  ASSERT_GE(peer, 0);
  uint8_t byte = 'p';
  EXPECT_EQ(socket.send(&byte, 1), 1);
  EXPECT_EQ(socket.receive(&byte, 1), 0);  // nothing waits: no wait either
  ASSERT_EQ(::send(peer, "q", 1, 0), 1);
  ASSERT_TRUE(socket.waitReadable(kEventWaitMs * 1000));
  EXPECT_EQ(socket.receive(&byte, 1), 1);
  EXPECT_EQ(byte, 'q');

  socket.shutdownSend();
  char got = 0;
  EXPECT_EQ(::recv(peer, &got, 1, 0), 1);
  EXPECT_EQ(got, 'p');
  EXPECT_TRUE(readsEnd(peer));
  ::close(peer);
  ASSERT_TRUE(socket.waitReadable(kEventWaitMs * 1000));
  EXPECT_EQ(socket.receive(&byte, 1), -1);
}

TEST(ConnectionPark, KeepsOneConnectionPerPortUntilTakenOrItsTimeIsUp) {
  Listener listening;
  ConnectionPark park;
  ParkedConnection first;
  first.name = "rfc2217://rack-4:2001";
  first.socket = Socket::connect("127.0.0.1", listening.port, 1000);
  const int firstPeer = listening.accept();
  park.put(std::move(first), 60000);
  ParkedConnection second;
  second.name = "rfc2217://rack-4:2001";
  second.settings.baudRate = 19200;
  park.put(std::move(second), 60000);
  // The second one kept for the port closed the first.
  EXPECT_TRUE(readsEnd(firstPeer));
  ::close(firstPeer);
  EXPECT_TRUE(park.holds("rfc2217://rack-4:2001"));
  EXPECT_FALSE(park.holds("rfc2217://rack-4:2002"));
  ParkedConnection taken;
  ASSERT_TRUE(park.take("rfc2217://rack-4:2001", taken));
  EXPECT_EQ(taken.settings.baudRate, 19200u);
  EXPECT_FALSE(park.take("rfc2217://rack-4:2001", taken));

  // Nobody takes it: the park's thread closes it, so the server's port is free again.
  ParkedConnection brief;
  brief.name = "rfc2217://rack-4:2002";
  brief.socket = Socket::connect("127.0.0.1", listening.port, 1000);
  const int briefPeer = listening.accept();
  park.put(std::move(brief), 1);
  EXPECT_TRUE(readsEnd(briefPeer));
  ::close(briefPeer);
  EXPECT_FALSE(park.holds("rfc2217://rack-4:2002"));
}

}  // namespace
}  // namespace net_test
