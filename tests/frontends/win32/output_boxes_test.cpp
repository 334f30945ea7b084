// zelupdatew.exe has no console: what it prints comes up in message boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "frontends/win32/win32_host.h"

namespace {

using Shown = std::vector<std::pair<std::string, bool>>;  // text, from standard error

class OutputBoxes : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::win32::setOutputBoxShower([this](const std::string& text, bool error) {
      const std::lock_guard<std::mutex> lock(m_mutex);
      m_shown.emplace_back(text, error);
    });
  }
  void TearDown() override { ui::win32::setOutputBoxShower({}); }
  Shown shown() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    Shown sorted = m_shown;
    std::sort(sorted.begin(), sorted.end());
    return sorted;
  }

 private:
  std::mutex m_mutex;
  Shown m_shown;
};

// One box per message, whole even when it was written in parts; standard error's with the
// stop sign. Every box is up before the program ends.
TEST_F(OutputBoxes, each_message_in_a_box_of_its_own_before_the_program_ends) {
  ASSERT_TRUE(ui::win32::showOutputInMessageBoxes());
  std::fprintf(stderr, "zelupdate: settings file Prüfstand.ini ");
  std::fprintf(stderr, "left untouched: access denied\n");
  std::printf("zelupdate 0.2.0\n");
  ui::win32::finishOutputMessageBoxes();
  EXPECT_EQ(
      shown(),
      (Shown{{"zelupdate 0.2.0", false},
             {"zelupdate: settings file Prüfstand.ini left untouched: access denied", true}}));
}

TEST_F(OutputBoxes, a_command_to_the_window_program_is_refused_in_a_box) {
  std::vector<std::string> args = {"zelupdatew", "run", "--port", "COM5"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ASSERT_TRUE(ui::win32::showOutputInMessageBoxes());
  EXPECT_EQ(runWindowCommandLine(static_cast<int>(args.size()), argv.data()), kExitUsage);
  ui::win32::finishOutputMessageBoxes();
  const Shown boxes = shown();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].second);
  EXPECT_EQ(boxes[0].first.rfind("zelupdatew.exe opens the window only. 'run' belongs", 0), 0u)
      << boxes[0].first;
}

}  // namespace
