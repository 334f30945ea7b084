// The termios backend on a pseudo-terminal: the slave is the port, the test drives the
// master as the far end of the line.
#include "serial/termios/termios_device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"
#include "tests/support/timing.h"

namespace {

using serial::LineSettings;
using serial::ProbeResult;
using serial::ReadResult;
using serial::TermiosDevice;
using testing_support::generousMicros;
using testing_support::generousMs;
using testing_support::PtyPair;
using Clock = std::chrono::steady_clock;

int64_t msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Reads what arrives within `timeoutMs`, up to `count` bytes.
std::string readBytes(TermiosDevice& device, size_t count, int timeoutMs = 1000) {
  std::string bytes;
  const auto start = Clock::now();
  while (bytes.size() < count && msSince(start) < timeoutMs) {
    uint8_t byte = 0;
    if (device.readByte(byte) == ReadResult::Byte) bytes.push_back(static_cast<char>(byte));
  }
  return bytes;
}

bool writeAll(TermiosDevice& device, const std::string& bytes) {
  uint32_t written = 0;
  return device.write(reinterpret_cast<const uint8_t*>(bytes.data()),
                      static_cast<uint32_t>(bytes.size()), written) &&
         written == bytes.size();
}

class TermiosOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok()) << "no pseudo-terminal available";
    ASSERT_TRUE(device.open()) << pty.slavePath();
  }
  // handshake as the port class maps its index: plain line by default
  bool apply(LineSettings settings) { return device.setSettings(settings); }

  PtyPair pty;
  TermiosDevice device{pty.slavePath()};
};

TEST_F(TermiosOnPty, BytesPassUnchangedBothWays) {
  ASSERT_TRUE(apply(LineSettings{}));
  const std::string toPort("A\r\n\x00\xff\x03\x7f z", 10);
  ASSERT_TRUE(pty.send(toPort));
  EXPECT_EQ(readBytes(device, toPort.size()), toPort);

  const std::string fromPort("*IDN?\r\n\x00\x80\x11\x13", 11);
  ASSERT_TRUE(writeAll(device, fromPort));
  EXPECT_TRUE(device.drain());
  EXPECT_EQ(pty.receive(fromPort.size()), fromPort);
}

TEST_F(TermiosOnPty, EmptyReadReturnsAfterAbout100ms) {
  uint8_t byte = 0;
  auto start = Clock::now();
  EXPECT_EQ(device.readByte(byte), ReadResult::Empty);
  const int64_t empty = msSince(start);
  EXPECT_GE(empty, 95);
  EXPECT_LT(empty, generousMs(100));
  std::printf("[ figure ] empty read took %lld ms\n", static_cast<long long>(empty));

  // A byte that arrives during the wait ends it, not the wait's 100 ms. A busy machine may
  // run the peer after the first wait has ended; the read that sees the byte counts.
  std::atomic<bool> sent{false};
  Clock::time_point sentAt{};
  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    sentAt = Clock::now();
    sent = pty.send("x");
  });
  ReadResult result = ReadResult::Empty;
  start = Clock::now();
  while (result != ReadResult::Byte && msSince(start) < generousMs(1000)) {
    result = device.readByte(byte);
  }
  peer.join();
  ASSERT_TRUE(sent);
  EXPECT_EQ(result, ReadResult::Byte);
  EXPECT_EQ(byte, 'x');
  EXPECT_LT(msSince(sentAt), generousMs(10));
}

TEST_F(TermiosOnPty, UnderTheVirtualClockAnEmptyReadCostsVirtualTime) {
  platform::VirtualClock virtualClock;
  platform::ScopedClock scope(virtualClock);
  uint8_t byte = 0;
  const auto start = Clock::now();
  for (int i = 0; i < 50; ++i) EXPECT_EQ(device.readByte(byte), ReadResult::Empty);
  EXPECT_EQ(platform::tickCount(), 5000u);
  EXPECT_LT(msSince(start), 2500);  // 50 reads, but not 5 s of real time

  pty.send("k");
  EXPECT_EQ(readBytes(device, 1), "k");
}

TEST_F(TermiosOnPty, HangUpMakesReadsTimeOutAndWritesFail) {
  pty.closeMaster();
  uint8_t byte = 0;
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    EXPECT_EQ(device.readByte(byte), ReadResult::Empty);
    const int64_t took = msSince(start);
    EXPECT_GE(took, 90);  // a dead port still waits out the read, it does not spin
    EXPECT_LT(took, generousMs(100));
  }
  EXPECT_TRUE(device.disconnected());
  const auto start = Clock::now();
  EXPECT_FALSE(writeAll(device, "hello"));
  EXPECT_LT(msSince(start), generousMs(20));
  bool held = true;
  EXPECT_FALSE(device.outputHeld(held));
  EXPECT_FALSE(device.drain());
  EXPECT_FALSE(device.setSettings(LineSettings{}));
  device.close();
  EXPECT_FALSE(device.isOpen());
}

TEST_F(TermiosOnPty, WriteWithoutReaderIsBoundedByItsTimeOut) {
  // The peer never reads: the pseudo-terminal's buffer fills and the write gives up after
  // 20 ms per byte + 1000 ms, reporting what went out (blocks of 10 bytes: 1200 ms).
  const std::string block(10, 'x');
  uint32_t written = 0;
  const auto start = Clock::now();
  int64_t lastWriteMs = 0;
  for (int i = 0; i < 100000; ++i) {
    const auto writeStart = Clock::now();
    ASSERT_TRUE(device.write(reinterpret_cast<const uint8_t*>(block.data()),
                             static_cast<uint32_t>(block.size()), written));
    lastWriteMs = msSince(writeStart);
    if (written < block.size()) break;
  }
  EXPECT_LT(written, block.size());
  // At most 20 ms per byte + 1000 ms; with nothing moving the write stops at its bound.
  EXPECT_GE(lastWriteMs, 1150);
  EXPECT_LE(lastWriteMs, generousMs(1200));
  EXPECT_LT(msSince(start), generousMs(20 * 1000));
  std::printf("[ figure ] write into a full line gave up after %lld ms with %u bytes\n",
              static_cast<long long>(lastWriteMs), written);
}

TEST_F(TermiosOnPty, OpenIsExclusive) {
  TermiosDevice second(pty.slavePath());
  EXPECT_FALSE(second.open());
  device.close();
  EXPECT_TRUE(second.open());
  EXPECT_FALSE(device.open());
  second.close();
  EXPECT_TRUE(device.open());
}

TEST_F(TermiosOnPty, ProbeTellsFreeInUseAndAbsent) {
  EXPECT_EQ(TermiosDevice::probe(pty.slavePath()), ProbeResult::InUse);  // we hold it
  device.close();
  EXPECT_EQ(TermiosDevice::probe(pty.slavePath()), ProbeResult::Free);

  // A flock taken by another open of the node (another program) counts too.
  const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  EXPECT_EQ(TermiosDevice::probe(pty.slavePath()), ProbeResult::Free);  // open, no lock
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(TermiosDevice::probe(pty.slavePath()), ProbeResult::InUse);
  EXPECT_FALSE(device.open());
  ::close(other);
  EXPECT_EQ(TermiosDevice::probe(pty.slavePath()), ProbeResult::Free);

  testing_support::TempDir dir;
  dir.write("plain", "not a device");
  const struct {
    std::string path;
    ProbeResult expected;
  } rows[] = {
      {"", ProbeResult::Absent},
      {"/dev/ttyZEL-does-not-exist", ProbeResult::Absent},
      {dir.file("plain"), ProbeResult::Absent},  // no character device
      {dir.path(), ProbeResult::Absent},
      {"/dev/null", ProbeResult::Free},  // a character device nobody locks (and no tty)
  };
  for (const auto& row : rows) EXPECT_EQ(TermiosDevice::probe(row.path), row.expected) << row.path;
  TermiosDevice notATty("/dev/null");
  EXPECT_FALSE(notATty.open());
}

// What may sit in the lock folder (writable by everyone) under the port's lock-file name:
// only a regular file of a live process makes the port "in use", and nothing there makes a
// probe or an open wait (a named pipe would block a plain open until a writer came).
TEST_F(TermiosOnPty, UucpLockFilesAreReadWithoutEverWaiting) {
  device.close();
  testing_support::TempDir folder(false);
  serial::setUucpLockFolders({folder.path()});
  // /dev/pts/7 -> LCK..pts_7
  std::string name = pty.slavePath().substr(5);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const std::string lockFile = folder.file("LCK.." + name);
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  char live[16];
  std::snprintf(live, sizeof live, "%10d\n", static_cast<int>(::getpid()));
  const int32_t binaryPid = ::getpid();
  const std::string binaryLive(reinterpret_cast<const char*>(&binaryPid), sizeof binaryPid);
  folder.write("live", live);

  const struct {
    const char* what;
    std::function<void()> plant;
    ProbeResult expected;
  } rows[] = {
      {"live process, ASCII", [&] { folder.write("LCK.." + name, live); }, ProbeResult::InUse},
      {"live process, binary", [&] { folder.write("LCK.." + name, binaryLive); },
       ProbeResult::InUse},
      {"ended process", [&] { folder.write("LCK.." + name, std::to_string(dead) + "\n"); },
       ProbeResult::Free},
      {"empty file", [&] { folder.write("LCK.." + name, ""); }, ProbeResult::Free},
      {"named pipe", [&] { ASSERT_EQ(::mkfifo(lockFile.c_str(), 0666), 0); }, ProbeResult::Free},
      {"link to a live lock",
       [&] { ASSERT_EQ(::symlink(folder.file("live").c_str(), lockFile.c_str()), 0); },
       ProbeResult::Free},
      {"folder", [&] { ASSERT_EQ(::mkdir(lockFile.c_str(), 0777), 0); }, ProbeResult::Free},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    row.plant();
    auto start = Clock::now();
    EXPECT_EQ(TermiosDevice::probe(pty.slavePath()), row.expected);
    EXPECT_LT(msSince(start), generousMs(10));
    start = Clock::now();
    EXPECT_EQ(device.open(), row.expected == ProbeResult::Free);
    EXPECT_LT(msSince(start), generousMs(10));
    device.close();
    if (::remove(lockFile.c_str()) != 0) ::rmdir(lockFile.c_str());
  }
  serial::setUucpLockFolders({});
}

TEST(CharacterTime, BitsPerCharacterAtTheLineSpeed) {
  const struct {
    uint32_t baud;
    uint8_t dataBits;
    serial::Parity parity;
    serial::StopBits stopBits;
    uint32_t micros;
  } rows[] = {
      {115200, 8, serial::Parity::Even, serial::StopBits::One, 96},  // 11 bits: 95.5
      {115200, 8, serial::Parity::None, serial::StopBits::One, 87},  // 10 bits: 86.8
      {9600, 8, serial::Parity::None, serial::StopBits::One, 1042},  // 1041.7
      {19200, 7, serial::Parity::Odd, serial::StopBits::Two, 573},   // 11 bits
      // One and a half stop bits count as two: 8 bits.
      {2400, 5, serial::Parity::None, serial::StopBits::OneAndHalf, 3334},
      {4000000, 8, serial::Parity::None, serial::StopBits::One, 3},  // 2.5, rounded up
      {0, 8, serial::Parity::None, serial::StopBits::One, 1},        // no rate: no time
  };
  for (const auto& row : rows) {
    LineSettings settings;
    settings.baudRate = row.baud;
    settings.dataBits = row.dataBits;
    settings.parity = row.parity;
    settings.stopBits = row.stopBits;
    EXPECT_EQ(serial::characterMicros(settings), row.micros) << row.baud;
  }
}

// The wait for the output queue against a queue that empties in real time at the row's
// pace: it returns once the queue is empty, looks at most about once per character time
// (it does not spin), and gives up at twice the line time of what was queued plus 50 ms.
TEST(DrainWait, LooksEveryCharacterTimeAndIsBounded) {
  const struct {
    const char* what;
    int queued;             // bytes at the first look; negative: the queue cannot be read
    int64_t microsPerByte;  // how fast the queue empties; 0: it does not (held by CTS)
    uint32_t characterMicros;
    bool emptied;
    int64_t minMicros, expectedMicros;  // the upper bound is generous (timing.h)
  } rows[] = {
      {"empty at once", 0, 96, 96, true, 0, 0},
      // Seen within a few character times, not after a tick of milliseconds.
      {"one echo leaves", 1, 96, 96, true, 96, 96},
      {"a packet leaves", 258, 96, 96, true, 258 * 96, 258 * 96},
      // An adapter half as fast as the line still ends within the bound.
      {"slow adapter", 100, 190, 96, true, 100 * 190, 100 * 190},
      {"9600 bit/s", 20, 1042, 1042, true, 20 * 1042, 20 * 1042},
      // Nothing leaves: 10 x 96 us x 2 + 50 ms.
      {"held", 10, 0, 96, false, 10 * 96 * 2 + 50000, 10 * 96 * 2 + 50000},
      {"cannot be read", -1, 0, 96, false, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    int looks = 0;
    const auto start = Clock::now();
    const auto queued = [&] {
      ++looks;
      if (row.queued <= 0 || row.microsPerByte == 0) return row.queued;
      const auto gone =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() /
          row.microsPerByte;
      return gone >= row.queued ? 0 : row.queued - static_cast<int>(gone);
    };
    EXPECT_EQ(serial::waitForEmptyOutputQueue(queued, row.characterMicros), row.emptied);
    const int64_t took =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    EXPECT_GE(took, row.minMicros);
    EXPECT_LE(took, generousMicros(row.expectedMicros));
    // One look at the start, then one per character time at most.
    EXPECT_LE(looks, 2 + took / row.characterMicros);
    if (row.emptied && row.queued > 0) {
      EXPECT_GE(looks, 2);
    }
  }
}

// An echo of one byte with the flush after it, as the programming link writes 27 000 of
// them per update: on a pseudo-terminal the flush adds nothing measurable.
TEST_F(TermiosOnPty, WriteAndDrainOfOneByteCostsMicroseconds) {
  LineSettings settings;
  settings.baudRate = 115200;
  ASSERT_TRUE(apply(settings));
  constexpr int kEchoes = 2000;
  const uint8_t byte = 0x5A;
  const auto start = Clock::now();
  for (int i = 0; i < kEchoes; ++i) {
    uint32_t written = 0;
    ASSERT_TRUE(device.write(&byte, 1, written));
    ASSERT_TRUE(device.drain());
  }
  const double perEcho =
      std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kEchoes;
  std::printf("[ figure ] write + drain of one byte: %.1f us\n", perEcho);
  EXPECT_LT(perEcho, 200.0 * testing_support::kBusyMachineFactor);
  EXPECT_EQ(pty.receive(kEchoes).size(), static_cast<size_t>(kEchoes));
}

TEST_F(TermiosOnPty, XoffHoldsOutputUntilXon) {
  LineSettings settings;
  settings.outX = true;
  settings.inX = true;
  ASSERT_TRUE(apply(settings));
  bool held = false;
  ASSERT_TRUE(device.outputHeld(held));
  EXPECT_FALSE(held);

  pty.send("\x13");
  const auto start = Clock::now();
  while (!held && msSince(start) < 1000) ASSERT_TRUE(device.outputHeld(held));
  EXPECT_TRUE(held);

  // A write while held waits for the XON and sends nothing before it.
  std::string early;
  std::thread peer([&] {
    early = pty.receive(1, 150);
    pty.send("\x11");
  });
  const auto writeStart = Clock::now();
  EXPECT_TRUE(writeAll(device, "xyz"));
  const int64_t writeTook = msSince(writeStart);
  peer.join();
  EXPECT_EQ(early, "");
  EXPECT_GE(writeTook, 140);
  EXPECT_EQ(pty.receive(3), "xyz");
  ASSERT_TRUE(device.outputHeld(held));
  EXPECT_FALSE(held);

  // XON and XOFF are taken out of the input; other bytes pass.
  pty.send(
      "A\x13"
      "B\x11"
      "C");
  EXPECT_EQ(readBytes(device, 3), "ABC");
  ASSERT_TRUE(device.outputHeld(held));
  EXPECT_FALSE(held);

  // Without outX they are data.
  ASSERT_TRUE(apply(LineSettings{}));
  pty.send("\x13\x11");
  EXPECT_EQ(readBytes(device, 2), "\x13\x11");
  ASSERT_TRUE(device.outputHeld(held));
  EXPECT_FALSE(held);
}

TEST_F(TermiosOnPty, HeldWriteWithFullInputWaitsWithoutSpinning) {
  LineSettings settings;
  settings.outX = true;
  ASSERT_TRUE(apply(settings));
  ASSERT_TRUE(pty.send("\x13"));
  bool held = false;
  const auto start = Clock::now();
  while (!held && msSince(start) < 1000) ASSERT_TRUE(device.outputHeld(held));
  ASSERT_TRUE(held);
  // More unread input than the backend buffers: the driver stays readable all the time.
  const std::string flood(100, 'a');
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(pty.send(flood));

  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  const auto writeStart = Clock::now();
  uint32_t written = 0;
  EXPECT_TRUE(device.write(reinterpret_cast<const uint8_t*>("x"), 1, written));
  const int64_t wallMs = msSince(writeStart);
  ::getrusage(RUSAGE_SELF, &after);
  const auto cpuMicros = [](const rusage& usage) {
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
  };
  EXPECT_EQ(written, 0u);
  EXPECT_GE(wallMs, 1000);                                              // 20 ms per byte + 1000 ms
  EXPECT_LT(cpuMicros(after) - cpuMicros(before), wallMs * 1000 / 20);  // under 5 %
}

TEST_F(TermiosOnPty, WithoutModemLinesCleanFailureAndNoHold) {
  LineSettings settings;
  settings.outxCtsFlow = true;
  settings.outxDsrFlow = true;
  settings.rtsControl = serial::LineControl::Handshake;
  settings.dtrControl = serial::LineControl::Handshake;
  ASSERT_TRUE(apply(settings));
  bool cts = true, dsr = true;
  EXPECT_FALSE(device.modemStatus(cts, dsr));
  EXPECT_FALSE(device.setRts());
  EXPECT_FALSE(device.setDtr());
  EXPECT_FALSE(device.clearDtr());
  bool held = true;
  ASSERT_TRUE(device.outputHeld(held));
  EXPECT_FALSE(held);
  ASSERT_TRUE(writeAll(device, "ok"));
  EXPECT_EQ(pty.receive(2), "ok");
}

TEST_F(TermiosOnPty, SettingsKeptPurgeAndRefusedRates) {
  LineSettings settings;
  settings.baudRate = 19200;
  settings.dataBits = 7;
  settings.parity = serial::Parity::Even;
  settings.parityCheck = true;
  ASSERT_TRUE(apply(settings));
  LineSettings back;
  ASSERT_TRUE(device.getSettings(back));
  EXPECT_EQ(back.baudRate, 19200u);
  EXPECT_EQ(back.dataBits, 7);
  EXPECT_EQ(back.parity, serial::Parity::Even);

  // Rates without a termios constant are set by number.
  settings.baudRate = 14400;
  ASSERT_TRUE(apply(settings));
  ASSERT_TRUE(device.getSettings(back));
  EXPECT_EQ(back.baudRate, 14400u);

  settings.baudRate = 0;  // no line at all
  EXPECT_FALSE(apply(settings));
  settings.baudRate = 19200;
  settings.dataBits = 9;
  EXPECT_FALSE(apply(settings));
  ASSERT_TRUE(device.getSettings(back));
  EXPECT_EQ(back.baudRate, 14400u);  // the refused settings changed nothing
  EXPECT_EQ(back.dataBits, 7);

  pty.send("stale");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(device.purge(true, true));
  uint8_t byte = 0;
  EXPECT_EQ(device.readByte(byte), ReadResult::Empty);
}

TEST_F(TermiosOnPty, IdleReadsCostNoCpu) {
  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  const auto start = Clock::now();
  uint8_t byte = 0;
  for (int i = 0; i < 50; ++i) EXPECT_EQ(device.readByte(byte), ReadResult::Empty);
  const int64_t wallMs = msSince(start);
  ::getrusage(RUSAGE_SELF, &after);
  const auto cpuMicros = [](const rusage& usage) {
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
  };
  const double cpuMs = static_cast<double>(cpuMicros(after) - cpuMicros(before)) / 1000.0;
  const double percent = 100.0 * cpuMs / static_cast<double>(wallMs);
  std::printf("[ figure ] idle read loop: %lld ms wall, %.2f ms CPU, %.3f%% CPU\n",
              static_cast<long long>(wallMs), cpuMs, percent);
  RecordProperty("idle_cpu_percent", std::to_string(percent));
  EXPECT_GE(wallMs, 4900);
  EXPECT_LT(percent, 5.0);
}

}  // namespace
