// Requests the program posts itself, on every system: counted per kind, waking the wait for
// children, and gone with the last catcher.
#include <gtest/gtest.h>

#include "platform/child_process.h"
#include "platform/requests.h"

namespace {

using platform::Request;

TEST(PostedRequests, count_per_kind_wake_the_wait_and_go_with_the_last_catcher) {
  const Request kinds[] = {Request::Interrupt, Request::Termination};
  for (const Request kind : kinds) {
    {
      platform::RequestCatcher outer({});
      {
        platform::RequestCatcher inner({.interrupt = false});
        platform::postRequest(kind);
        platform::postRequest(kind);
        // A wait with nothing else to wait for returns at once: the request woke it.
        EXPECT_TRUE(platform::waitForChildren({}, -1, 60000));
      }
      EXPECT_EQ(platform::pendingRequests(kind), 2);  // the outer catcher still lives
      EXPECT_TRUE(platform::takeRequest(kind));
      EXPECT_EQ(platform::takeAllRequests(kind), 1);
      EXPECT_FALSE(platform::takeRequest(kind));
      platform::postRequest(kind);
    }
    EXPECT_EQ(platform::pendingRequests(kind), 0);
  }
}

}  // namespace
