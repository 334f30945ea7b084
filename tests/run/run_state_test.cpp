#include "run/run_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Replays the observed changes into a list of its own, as a window or a transcript does.
class MirrorList : public StatusListObserver {
 public:
  void statusLineAdded(int index, const std::string& text) override {
    EXPECT_EQ(index, static_cast<int>(lines.size()));
    lines.push_back(text);
  }
  void statusLineDeleted(int index) override { lines.erase(lines.begin() + index); }
  void statusListCleared() override { lines.clear(); }

  std::vector<std::string> lines;
};

class RunState : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    addStatusListObserver(&mirror);
  }
  void TearDown() override {
    removeStatusListObserver(&mirror);
    resetRunState();
  }
  MirrorList mirror;
};

TEST_F(RunState, observers_see_every_change_in_order) {
  EXPECT_EQ(addStatusLine("Autoconnect with device"), 0);
  EXPECT_EQ(addStatusLine("Read serial parameter"), 1);
  // The step status replaces the last line by deleting it and appending the new text.
  const std::string last = statusLineText(1);
  deleteStatusLine(1);
  addStatusLine("OK    " + last);
  EXPECT_EQ(mirror.lines, statusLines());
  EXPECT_EQ(statusLineText(1), "OK    Read serial parameter");
  clearStatusList();
  EXPECT_TRUE(mirror.lines.empty());
  EXPECT_EQ(statusLineCount(), 0);
}

TEST_F(RunState, replacing_the_only_line_leaves_one_line) {
  addStatusLine("Check device in update mode");
  deleteStatusLine(0);
  addStatusLine("ERROR Check device in update mode");
  ASSERT_EQ(statusLineCount(), 1);
  EXPECT_EQ(statusLineText(0), "ERROR Check device in update mode");
}

TEST_F(RunState, indexes_outside_the_list_are_harmless) {
  addStatusLine("one");
  deleteStatusLine(5);
  deleteStatusLine(-1);
  EXPECT_EQ(statusLineCount(), 1);
  EXPECT_EQ(statusLineText(3), "");
}

TEST_F(RunState, a_new_run_clears_counters_and_cancel_but_keeps_the_device_name) {
  bytesSent = 1000;
  packetCount = 3;
  packetErrors = 2;
  packetRetries = 1;
  cancelRequested = 1;
  deviceName = kDeviceNameZel;
  addStatusLine("x");
  resetRunState();
  EXPECT_EQ(bytesSent + packetCount + packetErrors + packetRetries, 0u);
  EXPECT_EQ(cancelRequested, 0);
  EXPECT_STREQ(deviceName, "ZEL");
  EXPECT_EQ(statusLineCount(), 0);
  deviceName = kDeviceNameUnknown;
}

}  // namespace
