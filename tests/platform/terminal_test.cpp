// The terminal service on a pseudo-terminal and on pipes.
#include "platform/terminal.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <fcntl.h>

#include "tests/support/pty_pair.h"

namespace {

constexpr int kBoundMs = 10000;  // a wait for what is already on its way

// A wait for input on its way; a request another test left behind wakes the first look.
platform::InputWait awaitInput(int fd) {
  const platform::InputWait first = platform::waitForInput(fd, 0);
  return first == platform::InputWait::Woken ? platform::waitForInput(fd, kBoundMs) : first;
}

class Pipe {
 public:
  Pipe() { EXPECT_EQ(::pipe(m_fds), 0); }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  int read() const { return m_fds[0]; }
  int write() const { return m_fds[1]; }
  void closeRead() { m_fds[0] = m_fds[0] >= 0 ? ::close(m_fds[0]) - 1 : -1; }
  void closeWrite() { m_fds[1] = m_fds[1] >= 0 ? ::close(m_fds[1]) - 1 : -1; }

 private:
  int m_fds[2] = {-1, -1};
};

TEST(Terminal, a_pseudo_terminal_is_one_and_tells_its_width_a_pipe_is_not) {
  testing_support::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const int slave = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  winsize size{};
  size.ws_col = 132;
  ASSERT_EQ(::ioctl(slave, TIOCSWINSZ, &size), 0);
  Pipe pipe;
  EXPECT_TRUE(platform::isTerminal(slave));
  EXPECT_EQ(platform::terminalColumns(slave), 132);
  EXPECT_FALSE(platform::isTerminal(pipe.write()));
  EXPECT_EQ(platform::terminalColumns(pipe.write()), 0);
  ::close(slave);
}

TEST(Terminal, raw_keys_come_one_by_one_and_the_terminal_is_put_back) {
  testing_support::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const int slave = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios before{};
  ASSERT_EQ(::tcgetattr(slave, &before), 0);
  // A line typed before the keys are raw is dropped (it has arrived once it can be read).
  ASSERT_TRUE(pty.send("typed ahead\n"));
  ASSERT_EQ(awaitInput(slave), platform::InputWait::Ready);
  {
    platform::RawKeys keys(slave);
    EXPECT_TRUE(keys.active());
    EXPECT_EQ(platform::waitForInput(slave, 0), platform::InputWait::Woken);
    char key = 0;
    EXPECT_EQ(platform::readInput(slave, &key, 1), -1);  // nothing there: no wait
    ASSERT_TRUE(pty.send("y"));                          // no Enter after it
    ASSERT_EQ(awaitInput(slave), platform::InputWait::Ready);
    EXPECT_EQ(platform::readInput(slave, &key, 1), 1);
    EXPECT_EQ(key, 'y');
    termios raw{};
    ::tcgetattr(slave, &raw);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_NE(raw.c_lflag & ISIG, 0u);  // Ctrl-C is still a request
  }
  termios after{};
  ::tcgetattr(slave, &after);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_FALSE(platform::RawKeys(Pipe().read()).active());  // no terminal: nothing to do
  ::close(slave);
}

TEST(Terminal, pipes_read_without_waiting_and_a_lost_reader_fails_the_write) {
  Pipe pipe;
  char buffer[8];
  EXPECT_EQ(platform::readInput(pipe.read(), buffer, sizeof buffer), -1);
  ASSERT_TRUE(platform::writeOutput(pipe.write(), "abc"));
  EXPECT_EQ(platform::readInput(pipe.read(), buffer, sizeof buffer), 3);
  pipe.closeWrite();
  EXPECT_EQ(awaitInput(pipe.read()), platform::InputWait::Ready);
  EXPECT_EQ(platform::readInput(pipe.read(), buffer, sizeof buffer), 0);  // the end

  Pipe gone;
  gone.closeRead();
  platform::ClosedOutputTolerated tolerated;  // else SIGPIPE would end the test
  EXPECT_FALSE(platform::writeOutput(gone.write(), "lost"));
}

}  // namespace
