// Requests to stop: counted per kind, waking the waits, and the second request to end.
#include "platform/requests.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "platform/terminal.h"

namespace {

using platform::Request;

TEST(Requests, signals_count_per_kind_and_wake_a_waiting_poll) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const struct {
    int signal;
    Request kind;
  } rows[] = {{SIGINT, Request::Interrupt},
              {SIGTERM, Request::Termination},
              {SIGHUP, Request::Termination}};
  for (const auto& row : rows) {
    platform::RequestCatcher catcher({});
    ASSERT_EQ(platform::pendingRequests(row.kind), 0) << row.signal;
    ::raise(row.signal);
    ::raise(row.signal);
    EXPECT_EQ(platform::pendingRequests(row.kind), 2) << row.signal;
    // The wait on input that never comes returns at once: the request woke it.
    EXPECT_EQ(platform::waitForInput(fds[0], 60000), platform::InputWait::Woken);
    EXPECT_TRUE(platform::takeRequest(row.kind));
    EXPECT_EQ(platform::takeAllRequests(row.kind), 1);
    EXPECT_FALSE(platform::takeRequest(row.kind));
  }
  // Presses pile up to a bound; a request of the program's own counts and wakes alike.
  platform::RequestCatcher catcher({});
  for (int i = 0; i < 20; ++i) ::raise(SIGINT);
  EXPECT_EQ(platform::takeAllRequests(Request::Interrupt), 16);
  platform::postRequest(Request::Termination);
  EXPECT_EQ(platform::waitForInput(fds[0], 60000), platform::InputWait::Woken);
  EXPECT_EQ(platform::pendingRequests(Request::Termination), 1);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(Requests, the_previous_handling_comes_back_and_the_counts_go) {
  ::signal(SIGHUP, SIG_IGN);
  platform::postRequest(Request::Interrupt);  // posted before catching: still counts
  {
    platform::RequestCatcher catcher({.interrupt = false});
    ::raise(SIGHUP);
    EXPECT_EQ(platform::pendingRequests(Request::Termination), 1);
    EXPECT_EQ(platform::pendingRequests(Request::Interrupt), 1);
  }
  EXPECT_EQ(platform::pendingRequests(Request::Termination), 0);
  EXPECT_EQ(platform::pendingRequests(Request::Interrupt), 0);
  struct sigaction now {};
  ::sigaction(SIGHUP, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  ::signal(SIGHUP, SIG_DFL);
}

TEST(Requests, a_second_request_to_end_ends_the_program_when_asked_to) {
  EXPECT_EXIT(
      {
        platform::RequestCatcher catcher({.secondTerminationEnds = true});
        ::raise(SIGTERM);
        platform::takeRequest(Request::Termination);  // the first is taken: still counts
        ::raise(SIGTERM);
        std::_Exit(0);
      },
      testing::KilledBySignal(SIGTERM), "");
  EXPECT_EXIT(
      {
        platform::RequestCatcher catcher({});
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        std::_Exit(platform::pendingRequests(Request::Termination));
      },
      testing::ExitedWithCode(2), "");
}

// With a grace time the second request leaves the program to end by itself (it writes what
// must not be lost first), as the request would have ended it; a third ends it at once.
TEST(Requests, a_second_request_with_grace_lets_the_program_end_itself_and_a_third_ends_it) {
  EXPECT_EXIT(
      {
        platform::RequestCatcher catcher(
            {.secondTerminationEnds = true, .secondTerminationGraceSeconds = 60});
        ::raise(SIGHUP);
        ::raise(SIGHUP);
        if (platform::takeAllRequests(Request::Termination) != 2) std::_Exit(3);
        platform::cancelEndGrace();
        platform::endAsRequested();
      },
      testing::KilledBySignal(SIGHUP), "");
  EXPECT_EXIT(
      {
        platform::RequestCatcher catcher(
            {.secondTerminationEnds = true, .secondTerminationGraceSeconds = 60});
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        std::_Exit(0);
      },
      testing::KilledBySignal(SIGTERM), "");
}

}  // namespace
