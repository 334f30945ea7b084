#include "frontends/console/console_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/message_pump.h"
#include "tests/support/pty_pair.h"
#include "ui/message_box.h"

namespace {

using ui::MessageBoxAnswer;
using ui::MessageBoxKind;

constexpr int kList = 10, kBusy = 11, kTransfer = 12, kStats = 13, kCancel = 14;

const ui::DialogTemplate& testTemplate() {
  static const ui::DialogTemplate t = [] {
    ui::DialogTemplate d;
    d.caption = "Test";
    d.controls = {{kList, ui::ControlKind::ListBox, "", {}, 0},
                  {kBusy, ui::ControlKind::ProgressBar, "", {}, 0},
                  {kTransfer, ui::ControlKind::ProgressBar, "", {}, 0},
                  {kStats, ui::ControlKind::StaticText, "", {}, 0},
                  {kCancel, ui::ControlKind::PushButton, "Cancel", {}, 0}};
    return d;
  }();
  return t;
}

// A dialog whose work is a function run from the host's queue, and whose Cancel button asks
// the question as the main dialog does.
struct TestDialog : ui::Dialog {
  const ui::DialogTemplate& dialogTemplate() const override { return testTemplate(); }
  void onTimer(int) override {
    ++ticks;
    m_window->progressSetPos(kBusy, ticks % 100);
    m_window->progressSetPos(kTransfer, std::min(ticks * 5, 95));
    if (ticks >= 3) m_window->setText(kStats, "Pkt-Errors:\t    1");
  }
  void onCommand(int id, ui::Notification) override {
    if (id != kCancel) return;
    const MessageBoxAnswer answer = ui::messageBox(*m_window, "Cancel?", MessageBoxKind::Question);
    if (answer == MessageBoxAnswer::Yes) cancelled = true;
    answered = true;
  }
  int ticks = 0;
  std::atomic<bool> cancelled{false}, answered{false};
};

// The far end of a terminal: collects what the host writes and types when asked.
class Terminal {
 public:
  Terminal() {
    m_slave = ::open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    m_reader = std::thread([this] {
      while (!m_stop) {
        const std::string got = m_pty.receive(4096, 20);
        std::lock_guard lock(m_mutex);
        m_output += got;
      }
    });
  }
  ~Terminal() {
    m_stop = true;
    m_reader.join();
    ::close(m_slave);
  }
  int fd() const { return m_slave; }
  // What the terminal received, with the line discipline's "\r\n" for "\n" undone.
  std::string output() {
    std::lock_guard lock(m_mutex);
    std::string text;
    for (size_t i = 0; i < m_output.size(); ++i) {
      if (!(m_output[i] == '\r' && i + 1 < m_output.size() && m_output[i + 1] == '\n'))
        text += m_output[i];
    }
    return text;
  }
  // Waits (real time, bounded generously) until the output holds the text.
  bool waitFor(const std::string& text) {
    return waitUntil([&] { return output().find(text) != std::string::npos; });
  }
  // Waits until the output has grown beyond `size` characters (keys typed are echoed once
  // the terminal has taken them in).
  bool waitForMoreThan(size_t size) {
    return waitUntil([&] { return output().size() > size; });
  }
  void type(const std::string& keys) { m_pty.send(keys); }

 private:
  static bool waitUntil(const std::function<bool()>& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + kWaitLimit;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > giveUp) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  static constexpr std::chrono::seconds kWaitLimit{30};

  testing_support::PtyPair m_pty;
  int m_slave = -1;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::string m_output;
  std::thread m_reader;
};

ui::ConsoleOptions optionsFor(int in, int out) {
  ui::ConsoleOptions options;
  options.inputFd = in;
  options.outputFd = out;
  options.interruptControlId = kCancel;
  options.busyBarId = kBusy;
  options.transferBarId = kTransfer;
  options.statisticsIds = {kStats};
  return options;
}

// Everything written to a pipe while `work` runs inside the dialog.
std::string runOnPipe(ui::ConsoleOptions options, const std::function<void(TestDialog&)>& work) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  const int devNull = ::open("/dev/null", O_RDONLY);
  options.inputFd = devNull;
  options.outputFd = fds[1];
  {
    ui::ConsoleHost host(options);
    TestDialog dialog;
    host.post([&] { work(dialog); });
    host.runModal(dialog);
  }
  ::close(fds[1]);
  ::close(devNull);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  ::close(fds[0]);
  return out;
}

TEST(ProgressLineTest, parts_and_width) {
  struct Row {
    ui::ProgressLine line;
    size_t width;
    std::string expected;
  };
  const Row rows[] = {
      {{0, -1, -1, -1, ""}, 80, "[#         ]"},
      {{99, 0, -1, -1, ""}, 80, "[##########] [                    ]   0 %"},
      {{50, 37, 950, 65, ""}, 80, "[######    ] [=======>            ]  37 %  950 B/s  1:05 left"},
      {{-1, 95, 11520, -1, "Pkt-Errors: 1"},
       80,
       "[===================>]  95 %  11.5 kB/s  Pkt-Errors: 1"},
      {{-1, 100, -1, 3725, ""}, 80, "[====================] 100 %  1:02:05 left"},
      // Out-of-range parts are held to their scales instead of running past the bar.
      {{250, 140, -1, -1, ""}, 80, "[##########] [====================] 100 %"},
      // A narrow terminal cuts the line rather than wrapping it, which would break the
      // redraw in place.
      {{10, 37, -1, -1, ""}, 16, "[##        ] [=="},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ui::formatProgressLine(row.line, row.width), row.expected) << row.expected;
  }
}

TEST(ConsoleHostTest, without_a_terminal_lines_stream_boxes_answer_at_once_and_no_progress) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  MessageBoxAnswer stop{}, question{};
  const std::string out = runOnPipe(optionsFor(0, 1), [&](TestDialog& d) {
    ui::DialogWindow& w = *d.m_window;
    w.setTimer(1, 100);
    w.listAdd(kList, "Connect");
    for (int i = 0; i < 5; ++i) {
      clock.sleepMicros(100'000);
      platform::dispatchOneMessage();
    }
    w.listDelete(kList, 0);
    w.listAdd(kList, "OK    Connect");
    stop = ui::messageBox(w, "Switch off\nthe instrument", MessageBoxKind::Stop);
    question = ui::messageBox(w, "Go on?", MessageBoxKind::Question);
    w.killTimer(1);
  });
  EXPECT_EQ(out,
            "Connect\n"
            "OK    Connect\n"
            "[stop] Switch off\n"
            "       the instrument\n"
            "       -> OK\n"
            "[question] Go on?\n"
            "           -> No (no terminal to answer; --assume-yes answers Yes)\n");
  EXPECT_EQ(stop, MessageBoxAnswer::Ok);
  // Nobody confirmed: a question without a terminal is answered No.
  EXPECT_EQ(question, MessageBoxAnswer::No);
}

TEST(ConsoleHostTest, on_a_terminal_the_progress_line_moves_and_a_rewritten_line_is_redrawn) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  Terminal terminal;
  {
    ui::ConsoleOptions options = optionsFor(terminal.fd(), terminal.fd());
    uint64_t bytes = 0;
    options.transferredBytes = [&] { return bytes; };
    ui::ConsoleHost host(options);
    ASSERT_TRUE(host.outputIsTerminal());
    TestDialog dialog;
    host.post([&] {
      ui::DialogWindow& w = *dialog.m_window;
      w.listAdd(kList, "Erase flash");
      w.setTimer(1, 100);
      for (int i = 0; i < 40; ++i) {  // 4 s at 1000 bytes/s
        clock.sleepMicros(100'000);
        bytes += 100;
        platform::dispatchOneMessage();
      }
      w.listDelete(kList, 0);
      w.listAdd(kList, "OK    Erase flash");
      w.killTimer(1);
    });
    host.runModal(dialog);
  }
  ASSERT_TRUE(terminal.waitFor("OK    Erase flash\n"));
  const std::string out = terminal.output();
  // The bar advances tick by tick, with rate, time left and statistics once they exist.
  const size_t first = out.find("\r[#         ] [=>                  ]   5 %");
  const size_t later = out.find("\r[#         ] [==>                 ]  10 %");
  ASSERT_NE(first, std::string::npos) << out;
  ASSERT_NE(later, std::string::npos) << out;
  EXPECT_LT(first, later);
  EXPECT_NE(out.find("  1.0 kB/s  "), std::string::npos) << out;
  EXPECT_NE(out.find("left  Pkt-Errors: 1"), std::string::npos) << out;
  // The step's line is taken off the screen (progress line cleared, one row up) and its
  // replacement printed in its place; at the end the progress line is gone.
  EXPECT_NE(out.find("\r\x1b[K\x1b[1A\r\x1b[2KOK    Erase flash\n\r["), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 4), "\r\x1b[K");
}

TEST(ConsoleHostTest, a_box_on_a_terminal_takes_its_answer_from_the_keys) {
  struct Row {
    MessageBoxKind kind;
    std::string typedBefore;  // typed while the run went on, before the box was shown
    std::string keys;         // typed once the prompt is shown
    bool interrupt;           // Ctrl-C instead of keys
    MessageBoxAnswer expected;
    std::string echo;
  };
  const Row rows[] = {
      {MessageBoxKind::Information, "", "\r", false, MessageBoxAnswer::Ok, "Press Enter OK\n"},
      {MessageBoxKind::Stop, "", "x\n", false, MessageBoxAnswer::Ok, "Press Enter OK\n"},
      {MessageBoxKind::Question, "", "y", false, MessageBoxAnswer::Yes, "[y/n] yes\n"},
      {MessageBoxKind::Question, "", "qN", false, MessageBoxAnswer::No, "[y/n] no\n"},
      // Enter takes the default, No.
      {MessageBoxKind::Question, "", "\r", false, MessageBoxAnswer::No, "[y/n] no\n"},
      // Keys typed before the box must not answer it unread.
      {MessageBoxKind::Question, "y", "n", false, MessageBoxAnswer::No, "[y/n] no\n"},
      {MessageBoxKind::Stop, "\r", "\r", false, MessageBoxAnswer::Ok, "Press Enter OK\n"},
      // Ctrl-C at a question confirms it.
      {MessageBoxKind::Question, "", "", true, MessageBoxAnswer::Yes, "[y/n] yes\n"},
  };
  for (const Row& row : rows) {
    Terminal terminal;
    ui::ConsoleHost host(optionsFor(terminal.fd(), terminal.fd()));
    ASSERT_TRUE(host.interactive());
    TestDialog dialog;
    MessageBoxAnswer answer{};
    const size_t shown = terminal.output().size();
    terminal.type(row.typedBefore);
    // Typed before the box: the terminal has taken the keys in once it echoes them.
    if (!row.typedBefore.empty()) {
      ASSERT_TRUE(terminal.waitForMoreThan(shown));
    }
    std::thread user([&] {
      const std::string prompt = row.kind == MessageBoxKind::Question ? "[y/n] " : "Enter ";
      ASSERT_TRUE(terminal.waitFor(prompt));
      if (row.interrupt) {
        ui::ConsoleHost::requestInterrupt();
      } else {
        terminal.type(row.keys);
      }
    });
    host.post([&] { answer = ui::messageBox(*dialog.m_window, "Text", row.kind); });
    host.runModal(dialog);
    user.join();
    EXPECT_EQ(answer, row.expected) << row.keys;
    EXPECT_TRUE(terminal.waitFor(row.echo)) << terminal.output();
  }
}

TEST(ConsoleHostTest, ctrl_c_clicks_cancel_and_the_question_decides) {
  struct Row {
    const char* name;
    std::string answerKeys;  // empty: a second Ctrl-C
    bool cancelled;
  };
  const Row rows[] = {
      {"yes", "y", true},
      {"no", "n", false},
      {"second Ctrl-C", "", true},
  };
  for (const Row& row : rows) {
    platform::VirtualClock clock;
    platform::ScopedClock scoped(clock);
    Terminal terminal;
    ui::ConsoleHost host(optionsFor(terminal.fd(), terminal.fd()));
    TestDialog dialog;
    std::thread user([&] {
      ASSERT_TRUE(terminal.waitFor("%"));  // the run is under way
      ::kill(::getpid(), SIGINT);
      ASSERT_TRUE(terminal.waitFor("Cancel?"));
      ASSERT_TRUE(terminal.waitFor("[y/n] "));
      if (row.answerKeys.empty()) {
        ::kill(::getpid(), SIGINT);
      } else {
        terminal.type(row.answerKeys);
      }
    });
    host.post([&] {
      ui::DialogWindow& w = *dialog.m_window;
      w.setTimer(1, 100);
      // The long operation: it pumps until cancelled, or (real time, bounded) until the
      // question has been answered otherwise.
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!dialog.cancelled && !dialog.answered && std::chrono::steady_clock::now() < giveUp) {
        clock.sleepMicros(10'000);
        platform::dispatchOneMessage();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      w.killTimer(1);
    });
    host.runModal(dialog);
    user.join();
    EXPECT_TRUE(dialog.answered) << row.name;
    EXPECT_EQ(dialog.cancelled, row.cancelled) << row.name;
  }
  // The handler is gone with the dialog: SIGINT is back to what it was.
  struct sigaction now {};
  ::sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(ConsoleHostTest, queued_work_runs_after_initialisation_and_an_empty_queue_ends_the_dialog) {
  struct Recorder : TestDialog {
    void onInitDialog() override { events += "init "; }
    void onCancel() override {
      events += "cancel ";
      m_window->endDialog(7);
    }
    void onDestroy() override { events += "destroy"; }
    std::string events;
  };
  struct Nested : ui::Dialog {
    const ui::DialogTemplate& dialogTemplate() const override { return testTemplate(); }
  };
  const int devNull = ::open("/dev/null", O_RDWR);
  ui::ConsoleHost host(optionsFor(devNull, devNull));
  Recorder dialog;
  int nestedResult = 0;
  host.post([&] {
    dialog.events += "work ";
    Nested nested;  // nobody can answer it in a console: it ends with its cancel
    nestedResult = dialog.m_window->runModal(nested);
  });
  EXPECT_EQ(host.runModal(dialog), 7);
  EXPECT_EQ(dialog.events, "init work cancel destroy");
  EXPECT_EQ(nestedResult, ui::kIdCancel);
  EXPECT_EQ(dialog.m_window, nullptr);
  EXPECT_FALSE(platform::dispatchOneMessage());  // the pump hook is removed
  ::close(devNull);
}

}  // namespace
