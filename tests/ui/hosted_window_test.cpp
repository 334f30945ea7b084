// What the desktop windows do alike, whatever draws them: which handler an event reaches,
// when a pump reports dispatched events, what a moved progress bar does to the numbers line,
// and a request to end reaching the innermost window.
#include "ui/hosted_window.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/requests.h"

namespace {

using ui::MessageBoxAnswer;
using ui::MessageBoxKind;
using ui::Notification;

constexpr int kBarId = 1030;
constexpr int kButtonId = 1037;

// Writes down the handlers the window reaches.
class RecordingDialog final : public ui::Dialog {
 public:
  const ui::DialogTemplate& dialogTemplate() const override { return m_template; }
  void onCommand(int id, Notification n) override {
    calls.push_back("command " + std::to_string(id) + " " + std::to_string(static_cast<int>(n)));
  }
  void onOk() override { calls.push_back("ok"); }
  void onCancel() override { calls.push_back("cancel"); }
  bool onSystemCommand(int command) override {
    calls.push_back("system " + std::to_string(command));
    return command == handledCommand;
  }
  void onTimer(int timerId) override { calls.push_back("timer " + std::to_string(timerId)); }

  std::vector<std::string> calls;
  int handledCommand = 0;

 private:
  ui::DialogTemplate m_template{};
};

// A window without a toolkit: its controls are texts and one progress bar of 0..100.
class BareWindow final : public ui::HostedWindow {
 public:
  BareWindow(ui::Dialog& dialog, ui::HostRuntime& runtime)
      : HostedWindow(dialog, runtime, ui::ProgressSource{kBarId, {}}) {}
  using HostedWindow::answerWithoutBox;
  using HostedWindow::beginRun;
  using HostedWindow::endRun;
  using HostedWindow::initialiseDialog;
  using HostedWindow::progressMoved;
  using HostedWindow::route;
  using HostedWindow::routeSystemCommand;

  void setText(int id, const std::string& text) override { texts[id] = text; }
  std::string text(int id) const override { return texts.count(id) ? texts.at(id) : ""; }
  void enable(int, bool) override {}
  bool isEnabled(int) const override { return true; }
  void show(int, bool) override {}
  bool isVisible(int) const override { return true; }
  void setCheck(int, bool) override {}
  bool isChecked(int) const override { return false; }
  void listReset(int) override {}
  int listAdd(int, const std::string&) override { return -1; }
  int listCount(int) const override { return 0; }
  std::string listText(int, int) const override { return {}; }
  void listDelete(int, int) override {}
  void listSetTopIndex(int, int) override {}
  int listTopIndex(int) const override { return 0; }
  void listSetSelection(int, int) override {}
  int listSelection(int) const override { return -1; }
  void comboReset(int) override {}
  int comboAdd(int, const std::string&) override { return -1; }
  int comboCount(int) const override { return 0; }
  std::string comboText(int, int) const override { return {}; }
  void comboSetItemData(int, int, int64_t) override {}
  int64_t comboItemData(int, int) const override { return 0; }
  void comboSetSelection(int, int) override {}
  int comboSelection(int) const override { return -1; }
  void progressSetRange(int, int, int) override {}
  void progressSetPos(int, int pos) override { barPos = pos; }
  int progressPos(int) const override { return barPos; }
  MessageBoxAnswer showMessageBox(const std::string&, const std::string&, MessageBoxKind) override {
    return MessageBoxAnswer::Ok;
  }
  int runModal(ui::Dialog&) override { return ui::kIdCancel; }
  void repaint() override {}
  bool pumpMessages() override { return false; }
  void removeSystemMenuClose() override {}

  std::map<int, std::string> texts;
  int barPos = 0;
  int helpOpened = 0;
  std::vector<int> painted;

 private:
  void openHelp() override { ++helpOpened; }
  void wakeLoop() override {}
  bool progressRange(int id, int& low, int& high) const override {
    low = 0;
    high = 100;
    return id == kBarId;
  }
  bool hasControl(int id) const override { return id == ui::kIdProgressNumbers || id == kBarId; }
  void paintNow(int id) override { painted.push_back(id); }
  std::string progressNumbersText(bool, int percent) override {
    return std::to_string(percent) + " %";
  }
};

struct Running {
  ui::HostRuntime runtime;
  RecordingDialog dialog;
  BareWindow window{dialog, runtime};
  Running() {
    window.beginRun();
    window.initialiseDialog();
  }
  ~Running() { window.endRun(); }
};

TEST(HostedWindow, routes_each_notification_to_its_handler) {
  struct Row {
    int id;
    Notification notification;
    std::vector<std::string> calls;
    int helpOpened;
  };
  const Row rows[] = {
      {ui::kIdOk, Notification::Clicked, {"ok"}, 0},
      {ui::kIdCancel, Notification::Clicked, {"cancel"}, 0},
      // Help is the application's: the dialog does not hear of it.
      {ui::kIdHelp, Notification::Clicked, {}, 1},
      {kButtonId, Notification::Clicked, {"command 1037 0"}, 0},
      {kButtonId, Notification::SelectionChanged, {"command 1037 1"}, 0},
      {kButtonId, Notification::DropDown, {"command 1037 2"}, 0},
  };
  for (const Row& row : rows) {
    Running run;
    run.window.route(row.id, row.notification);
    EXPECT_EQ(run.dialog.calls, row.calls) << row.id;
    EXPECT_EQ(run.window.helpOpened, row.helpOpened) << row.id;
  }
}

TEST(HostedWindow, an_ended_window_hears_nothing_more_but_its_end) {
  Running run;
  run.window.endDialog(ui::kIdOk);
  run.window.route(kButtonId, Notification::Clicked);
  run.window.routeSystemCommand(ui::kSysCommandClose);
  run.window.deliverTimer(1);
  EXPECT_TRUE(run.dialog.calls.empty());
  run.window.deliverEnd();
  EXPECT_EQ(run.dialog.calls, std::vector<std::string>{"system 61616"});
}

TEST(HostedWindow, an_unhandled_close_cancels_and_other_commands_do_not) {
  struct Row {
    int command;
    int handled;
    std::vector<std::string> calls;
  };
  const Row rows[] = {
      {ui::kSysCommandClose, 0, {"system 61536", "cancel"}},
      {ui::kSysCommandClose, ui::kSysCommandClose, {"system 61536"}},
      {0x0E20, 0, {"system 3616"}},
  };
  for (const Row& row : rows) {
    Running run;
    run.dialog.handledCommand = row.handled;
    run.window.routeSystemCommand(row.command);
    EXPECT_EQ(run.dialog.calls, row.calls) << row.command;
  }
}

TEST(HostedWindow, a_pump_reports_dispatches_for_a_bounded_number_of_rounds) {
  Running run;
  // Nothing dispatched: false at once; input is held back only inside the pump.
  bool heldInside = false;
  EXPECT_FALSE(run.runtime.pump([&] { heldInside = run.window.inputHeldBack(); }));
  EXPECT_TRUE(heldInside);
  EXPECT_FALSE(run.window.inputHeldBack());
  // A handler runs at every pump: true for 16 rounds, then false, then true again.
  const auto click = [&] { run.window.route(kButtonId, Notification::Clicked); };
  int trueRounds = 0;
  while (run.runtime.pump(click) && trueRounds < 100) ++trueRounds;
  EXPECT_EQ(trueRounds, 16);
  EXPECT_TRUE(run.runtime.pump(click));
}

TEST(HostedWindow, a_moved_transfer_bar_clears_or_shows_the_numbers) {
  struct Row {
    int bar;
    int before;
    int value;
    std::string numbers;  // the numbers line after it; "old" when left alone
    bool paintedNow;
  };
  const Row rows[] = {
      {kBarId, 40, 0, "", false},         // a new transfer, or the run ended
      {kBarId, 40, 100, "100 %", true},   // the run succeeded: at once, without a tick
      {kBarId, 100, 100, "old", false},   // already full: a tick writes it
      {kBarId, 10, 40, "old", false},     // in between: the timer's ticks write it
      {kBarId + 1, 40, 0, "old", false},  // another bar
  };
  for (const Row& row : rows) {
    Running run;
    run.window.texts[ui::kIdProgressNumbers] = "old";
    run.window.barPos = row.value;
    run.window.progressMoved(row.bar, row.before, row.value, 0, 100);
    EXPECT_EQ(run.window.texts[ui::kIdProgressNumbers], row.numbers) << row.before << row.value;
    EXPECT_EQ(run.window.painted.size(), row.paintedNow ? 1u : 0u) << row.before << row.value;
  }
}

TEST(HostedWindow, a_timer_tick_reaches_the_dialog_and_writes_the_numbers) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  Running run;
  run.window.barPos = 25;
  run.window.setTimer(7, 100);
  EXPECT_FALSE(run.runtime.serveDueTimers());
  clock.sleepMicros(100'000);
  EXPECT_TRUE(run.runtime.serveDueTimers());
  EXPECT_EQ(run.dialog.calls, std::vector<std::string>{"timer 7"});
  EXPECT_EQ(run.window.texts[ui::kIdProgressNumbers], "25 %");
  run.window.killTimer(7);
  clock.sleepMicros(100'000);
  EXPECT_FALSE(run.runtime.serveDueTimers());
}

TEST(HostedWindow, a_request_to_end_cancels_the_innermost_window_and_answers_its_boxes) {
  Running outer;
  RecordingDialog innerDialog;
  BareWindow inner(innerDialog, outer.runtime);
  inner.beginRun();
  inner.initialiseDialog();
  EXPECT_FALSE(inner.answerWithoutBox(MessageBoxKind::Question).has_value());
  platform::postRequest(platform::Request::Termination);
  EXPECT_EQ(inner.answerWithoutBox(MessageBoxKind::Question), MessageBoxAnswer::Yes);
  EXPECT_EQ(inner.answerWithoutBox(MessageBoxKind::Stop), MessageBoxAnswer::Ok);
  outer.runtime.pump([] {});
  EXPECT_EQ(innerDialog.calls, (std::vector<std::string>{"system 61600", "cancel"}));
  EXPECT_TRUE(outer.dialog.calls.empty());
  inner.endRun();
}

}  // namespace
