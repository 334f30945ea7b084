// Target commands against a scripted target: request layouts, answer judging, raw
// downloads, the program-data attempts and statistics, slow-command polling.
#include "flash/target_commands.h"

#include <gtest/gtest.h>

#include <string>

#include "flash/config/programming_job.h"
#include "flash/programming_link.h"
#include "flash/result_codes.h"
#include "platform/message_pump.h"
#include "run/run_state.h"
#include "tests/flash/target_double.h"
#include "tests/support/temp_dir.h"

namespace flash_test {
namespace {

using std::string;
using testing_support::TempDir;

TEST(TargetCommands, ErrorMappingAndAnswerJudging) {
  struct Row {
    Bytes answer;
    bool programData;
    int32_t expected;
  } rows[] = {
      {string("\xA2", 1), false, kResultOk},
      {string("\x20\xF0", 2), false, kResultTargetErrorF0},
      {string("\x20\xF1", 2), false, kResultTargetErrorF1},
      {string("\x20\xF3", 2), false, kResultTargetErrorF3},
      {string("\x20\xF4", 2), false, kResultTargetErrorF4},
      // 0xF2 has no code of its own.
      {string("\x20\xF2", 2), false, kResultUnexpectedAnswer},
      // 0xF5 is a failure code of program data only.
      {string("\x20\xF5", 2), false, kResultUnexpectedAnswer},
      {string("\x20\xF5", 2), true, kResultTargetErrorF4},
      // An acknowledgement where the answer belongs.
      {string("\x20\x00", 2), false, kResultUnexpectedAnswer},
      // 0x20 without its error byte.
      {string("\x20", 1), false, kResultUnexpectedAnswer},
      {string("\xC9", 1), false, kResultUnexpectedAnswer},
      {"", false, kResultUnexpectedAnswer},
  };
  for (const Row& row : rows) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(row.answer.data());
    EXPECT_EQ(judgeAnswer(bytes, static_cast<uint32_t>(row.answer.size()), 0xA2, row.programData),
              row.expected)
        << testing::PrintToString(row.answer);
  }
}

TEST(TargetCommands, LoaderLayoutForI80x86) {
  uint8_t file[100];
  for (int i = 0; i < 100; ++i) file[i] = static_cast<uint8_t>(i + 1);
  uint8_t lengthByte = 0;
  uint8_t image[kLoaderImageSize];
  uint32_t size = 0;
  ASSERT_EQ(prepareBootstrapLoader(file, 100, I80X86, 19200, lengthByte, image, size), kResultOk);
  EXPECT_EQ(lengthByte, 0xFF);
  ASSERT_EQ(size, 512u);
  EXPECT_EQ(image[99], 100);
  EXPECT_EQ(image[100], 0);
  EXPECT_EQ(image[509], 0);
  EXPECT_EQ(image[510], 6);  // 115200 / 19200
  // 1 + ... + 100 = 5050, plus the divisor, modulo 256.
  EXPECT_EQ(image[511], (5050 + 6) % 256);
}

TEST(TargetCommands, LoaderLayoutForTms320c30) {
  uint8_t file[64];
  for (int i = 0; i < 64; ++i) file[i] = 0xAA;
  uint8_t lengthByte = 0;
  uint8_t image[kLoaderImageSize];
  uint32_t size = 0;
  ASSERT_EQ(prepareBootstrapLoader(file, 64, TMS320C30, 115200, lengthByte, image, size),
            kResultOk);
  EXPECT_EQ(lengthByte, 31);
  EXPECT_EQ(size, 64u);
  EXPECT_EQ(image[56], 1);
  EXPECT_EQ(image[55], 0xAA);
  EXPECT_EQ(image[57], 0xAA);
  // The largest loader still fits the length byte.
  uint8_t big[512] = {};
  ASSERT_EQ(prepareBootstrapLoader(big, 512, TMS320C30, 9600, lengthByte, image, size), kResultOk);
  EXPECT_EQ(lengthByte, 255);
  EXPECT_EQ(image[504], 12);
  // Under 8 bytes there is no place for the divisor.
  EXPECT_EQ(prepareBootstrapLoader(big, 7, TMS320C30, 9600, lengthByte, image, size),
            kResultLoaderTooShort);
}

TEST(TargetCommands, LoaderDownloadStatusLetters) {
  struct Row {
    const char* status;  // nullptr: the target stays silent
    int32_t expected;
    bool goAhead;
  } rows[] = {
      {"T", kResultOk, true},
      {"C", kResultLoaderRejected, false},
      {"X", kResultLoaderNotSent, false},
      {nullptr, kResultLoaderNoStatus, false},
  };
  for (const Row& row : rows) {
    TempDir dir;
    dir.write("romwrite.url", string(100, '\x11'));
    LinkFixture f;
    f.line->onWrite = [&](TargetLine& line, const Bytes& bytes) {
      if (bytes.size() == 512 && row.status) line.send(row.status, 10);
    };
    EXPECT_EQ(downloadBootstrapLoader("ROMWRITE.URL", I80X86, 115200, f.port), row.expected);
    ASSERT_GE(f.line->written.size(), 513u);
    EXPECT_EQ(f.line->written[0], '\xFF');
    EXPECT_EQ(f.line->written.size() == 514 && f.line->written.back() == 'S', row.goAhead);
  }
  TempDir empty;
  LinkFixture f;
  EXPECT_EQ(downloadBootstrapLoader("ROMWRITE.URL", I80X86, 115200, f.port),
            kResultLoaderFileNotOpened);
  EXPECT_TRUE(f.line->written.empty());
}

TEST(TargetCommands, LoaderGoAheadThatCannotBeWrittenStillSucceeds) {
  TempDir dir;
  dir.write("L.BIN", string(16, '\x01'));
  LinkFixture f;
  f.line->onWrite = [&](TargetLine& line, const Bytes& bytes) {
    if (bytes.size() == 16) {
      line.send("T", 5);
      line.writeFailures = 1 << 30;
    }
  };
  EXPECT_EQ(downloadBootstrapLoader("L.BIN", TMS320C30, 19200, f.port), kResultOk);
}

TEST(TargetCommands, FileDownloadLayoutAndStatusLetters) {
  struct Row {
    const char* status;
    int32_t expected;
  } rows[] = {
      {"T", kResultOk},
      {"C", kResultTransferStatusC},
      {"P", kResultTransferStatusP},
      {"F", kResultTransferStatusF},
      {"O", kResultTransferStatusO},
      {"?", kResultTransferNotSent},
      {nullptr, kResultTransferNoStatus},
  };
  for (const Row& row : rows) {
    TempDir dir;
    dir.write("ROMWRITE.TRA", string(600, '\x02'));
    LinkFixture f;
    f.line->onWrite = [&](TargetLine& line, const Bytes& bytes) {
      if (bytes.size() == 2 && row.status) line.send(row.status, 10);  // the checksum
    };
    EXPECT_EQ(downloadFile(0x1000, 0x2000, "romwrite.tra", f.port), row.expected);
    // Length, two addresses, three pieces of at most 256 bytes, the sum.
    EXPECT_EQ(f.line->writeSizes, (std::vector<uint32_t>{4, 4, 4, 256, 256, 88, 2}));
    const uint32_t sum = 0x10 + 0x20 + 600 * 2;
    EXPECT_EQ(f.line->written, le32(600) + le32(0x1000) + le32(0x2000) + string(600, '\x02') +
                                   le32(sum).substr(0, 2));
  }
}

TEST(TargetCommands, EmptyTransferProgramSendsHeaderAndSum) {
  TempDir dir;
  dir.write("T.BIN", "");
  LinkFixture f;
  f.line->onWrite = [](TargetLine& line, const Bytes& bytes) {
    if (bytes.size() == 2) line.send("T");
  };
  EXPECT_EQ(downloadFile(0x01020304, 0x0A0B0C0D, "T.BIN", f.port), kResultOk);
  const uint32_t sum = 1 + 2 + 3 + 4 + 10 + 11 + 12 + 13;
  EXPECT_EQ(f.line->written,
            le32(0) + le32(0x01020304) + le32(0x0A0B0C0D) + le32(sum).substr(0, 2));
  EXPECT_EQ(downloadFile(0, 0, "MISSING.BIN", f.port), kResultTransferFile);
}

TEST(TargetCommands, SimpleCommandsAndTheirAnswers) {
  struct Row {
    const char* name;
    int32_t (*command)(CComm&);
    Bytes request;
    Bytes answer;
    int32_t expected;
  } rows[] = {
      {"power on", programmingPowerOn, "\x22", "\xA2\x44", kResultOk},
      {"power on without D", programmingPowerOn, "\x22", string("\xA2\x00", 2),
       kResultPowerOnNotConfirmed},
      // A positive code alone: no confirmation byte.
      {"power on short", programmingPowerOn, "\x22", "\xA2", kResultPowerOnNotConfirmed},
      {"power off", programmingPowerOff, "\x23", "\xA3\x46", kResultOk},
      {"power off without F", programmingPowerOff, "\x23", "\xA3\x44", kResultPowerOffNotConfirmed},
      {"boot", bootTarget, "\x2E", "\xAE", kResultOk},
      {"cmos", deleteCmosRam, "\x2F", "\xAF", kResultOk},
      {"end", endTransferProgram, "\x49", "\x48", kResultOk},
      // The end of the transfer program answers 0x48, not command + 0x80.
      {"end with C9", endTransferProgram, "\x49", "\xC9", kResultUnexpectedAnswer},
      {"error F2", bootTarget, "\x2E", "\x20\xF2", kResultUnexpectedAnswer},
      {"error F5", deleteCmosRam, "\x2F", "\x20\xF5", kResultUnexpectedAnswer},
      {"error F0", programmingPowerOn, "\x22", "\x20\xF0", kResultTargetErrorF0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LinkFixture f;
    f.line->replies.push_back(ackAnd(row.answer));
    EXPECT_EQ(row.command(f.port), row.expected);
    EXPECT_EQ(hostPackets(*f.line), std::vector<Bytes>{hostPacket(row.request)});
  }
  // The answer never arrives.
  LinkFixture f;
  f.line->replies.push_back(kAck);
  EXPECT_EQ(bootTarget(f.port), kResultAnswerIncomplete);
}

TEST(TargetCommands, ProgramDataRetriesErrorAnswersAndCounts) {
  TempDir dir;
  dir.write("IMG.BIN", string(300, '\x01'));
  const Bytes nack = ackAnd(string("\x20\xF4", 2)) + targetPacket("x");  // plus the extra packet
  const Bytes good = ackAnd(string("\xA5\x00", 2));

  LinkFixture f;
  f.line->replies = {nack, nack, nack, good, good};
  uint32_t failAddress = 7;
  uint32_t sum = 0;
  ASSERT_EQ(programFile("img.bin", 0x50000, B16, I80X86, AM29F040, failAddress, sum, f.port),
            kResultOk);
  EXPECT_EQ(sum, 300u);
  EXPECT_EQ(failAddress, 0u);
  EXPECT_EQ(packetCount, 2u);
  EXPECT_EQ(packetErrors, 1u);
  EXPECT_EQ(packetRetries, 3u);
  const std::vector<Bytes> packets = hostPackets(*f.line);
  ASSERT_EQ(packets.size(), 5u);
  EXPECT_EQ(packets[0], packets[3]);
  EXPECT_EQ(packets[0], hostPacket(string("\x25\x02\x16", 3) + le32(0x50000) +
                                   string("\xF0\x00", 2) + string(240, '\x01')));
  EXPECT_EQ(packets[4], hostPacket(string("\x25\x02\x16", 3) + le32(0x50000 + 240) +
                                   string("\x3C\x00", 2) + string(60, '\x01')));
}

TEST(TargetCommands, ProgramDataOutcomes) {
  const Bytes f5 = ackAnd(string("\x20\xF5", 2)) + targetPacket("x");
  struct Row {
    const char* name;
    std::deque<Bytes> replies;
    int32_t expected;
    uint32_t failAddress;
  } rows[] = {
      {"four error answers", {f5, f5, f5, f5}, kResultTargetErrorF4, 0},
      {"failure at an address",
       {ackAnd(string("\xA5\x43", 2) + le32(0x50123))},
       kResultProgramFailedAt,
       0x50123},
      // Not positive, not an error answer: one extra packet, then 2309.
      {"wrong code", {ackAnd("\xA4") + targetPacket("x")}, kResultUnexpectedAnswer, 0},
      {"no acknowledgement", {"", "", "", "", ""}, 0x5101135 + kProgramSendFailed, 0},
      {"no answer", {kAck}, kResultAnswerIncomplete + kProgramReceiveFailed, 0},
      {"no extra packet",
       {ackAnd(string("\x20\xF4", 2))},
       kResultAnswerIncomplete + kProgramExtraReceiveFailed,
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    dir.write("IMG.BIN", string(10, '\x01'));
    LinkFixture f;
    f.line->replies = row.replies;
    uint32_t failAddress = 0;
    uint32_t sum = 99;
    EXPECT_EQ(programFile("IMG.BIN", 0x100, B8, I80X86, AM29F010, failAddress, sum, f.port),
              row.expected);
    EXPECT_EQ(failAddress, row.failAddress);
    EXPECT_EQ(sum, 99u);  // a failed file reports no sum
  }
}

TEST(TargetCommands, ProgramDataAddressesCountWordsForTms320c30) {
  TempDir dir;
  dir.write("DSP.BIN", string(480, '\x03'));
  LinkFixture f;
  f.line->replies = {ackAnd("\xA5"), ackAnd("\xA5")};
  uint32_t failAddress = 0;
  uint32_t sum = 0;
  ASSERT_EQ(programFile("DSP.BIN", 0x1000, B32, TMS320C30, AM28F020, failAddress, sum, f.port),
            kResultOk);
  const std::vector<Bytes> packets = hostPackets(*f.line);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[1].substr(4, 4), le32(0x1000 + 60));
  EXPECT_EQ(sum, 480u * 3);

  // An empty file sends nothing; a missing one has its own code.
  dir.write("EMPTY.BIN", "");
  LinkFixture g;
  EXPECT_EQ(programFile("EMPTY.BIN", 0, B8, I80X86, AM29F010, failAddress, sum, g.port), kResultOk);
  EXPECT_EQ(sum, 0u);
  EXPECT_TRUE(g.line->written.empty());
  EXPECT_EQ(programFile("NONE.BIN", 0, B8, I80X86, AM29F010, failAddress, sum, g.port),
            kResultProgramFileNotOpened);
}

TEST(TargetCommands, UploadWritesWhatTheTargetSends) {
  TempDir dir;
  LinkFixture f;
  const Bytes first(240, 'a');
  const Bytes second(60, 'b');
  f.line->replies = {ackAnd("\xA4" + string(5, '\0') + le32(240) + first),
                     ackAnd("\xA4" + string(5, '\0') + le32(60) + second)};
  ASSERT_EQ(uploadToFile(0x400, 300, B32, TMS320C30, "SAVE.BIN", f.port), kResultOk);
  EXPECT_EQ(dir.read("SAVE.BIN"), first + second);
  const std::vector<Bytes> packets = hostPackets(*f.line);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0], hostPacket(string("\x24\x03", 2) + le32(0x400) + le32(240)));
  EXPECT_EQ(packets[1], hostPacket(string("\x24\x03", 2) + le32(0x400 + 60) + le32(60)));

  // A zero-length area still asks once, for nothing.
  LinkFixture g;
  g.line->replies = {ackAnd("\xA4" + string(5, '\0') + le32(0))};
  ASSERT_EQ(uploadToFile(0x400, 0, B8, I80X86, "ZERO.BIN", g.port), kResultOk);
  EXPECT_EQ(hostPackets(*g.line)[0], hostPacket(string("\x24\x01", 2) + le32(0x400) + le32(0)));
  EXPECT_EQ(dir.read("ZERO.BIN"), "");
}

TEST(TargetCommands, UploadRefusesAnswersThatWouldLoseData) {
  struct Row {
    const char* name;
    Bytes answer;
    int32_t expected;
  } rows[] = {
      // Fewer bytes than asked for: the copy would be short.
      {"short count", "\xA4" + string(5, '\0') + le32(10) + string(10, 'a'),
       kResultUnexpectedAnswer},
      // A count beyond the packet: would read past the answer.
      {"count past packet", "\xA4" + string(5, '\0') + le32(0xFFFFFFFF) + string(20, 'a'),
       kResultUnexpectedAnswer},
      {"count 20 but 5 bytes", "\xA4" + string(5, '\0') + le32(20) + string(5, 'a'),
       kResultUnexpectedAnswer},
      {"error answer", string("\x20\xF3", 2), kResultTargetErrorF3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    LinkFixture f;
    f.line->replies = {ackAnd(row.answer)};
    EXPECT_EQ(uploadToFile(0, 20, B8, I80X86, "U.BIN", f.port), row.expected);
  }
  TempDir dir;
  LinkFixture f;
  EXPECT_EQ(uploadToFile(0, 20, B8, I80X86, "NO/SUCH/DIR/U.BIN", f.port), kResultUploadNotCreated);
  EXPECT_TRUE(f.line->written.empty());
}

TEST(TargetCommands, EraseOutcomes) {
  struct Row {
    const char* name;
    Bytes answer;  // after the acknowledgement; empty: silence
    int32_t expected;
    uint32_t failAddress;
    uint32_t minMs, maxMs;
  } rows[] = {
      {"failure at an address", "\xA7\x41" + le32(0x60000), kResultEraseFailedAt, 0x60000, 0, 800},
      // 100 polls of 500 ms + 200 ms.
      {"silent target", "", kResultAnswerIncomplete, 0, 70000, 71000},
      // A damaged answer ends the wait at once.
      {"damaged answer", string("\x01\xA7\x00\x00", 4), kResultAnswerChecksum, 0, 0, 800},
      {"error answer", string("\x20\xF4", 2), kResultTargetErrorF4, 0, 0, 800},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LinkFixture f;
    f.port.m_readTimeout = 5000;
    Bytes reply = kAck;
    if (!row.answer.empty())
      reply += row.answer[0] == '\x01' ? row.answer : targetPacket(row.answer);
    f.line->replies = {reply};
    uint32_t failAddress = 0;
    const uint32_t start = f.nowMs();
    EXPECT_EQ(eraseFlash(B8, AM29F010, 0, 0x20000, failAddress, f.port), row.expected);
    EXPECT_EQ(failAddress, row.failAddress);
    EXPECT_GE(f.nowMs() - start, row.minMs);
    EXPECT_LE(f.nowMs() - start, row.maxMs);
    EXPECT_EQ(f.port.m_readTimeout, 5000);
  }
}

TEST(TargetCommands, CancelDuringEraseRestoresTheTimeOut) {
  LinkFixture f;
  f.port.m_readTimeout = 5000;
  f.line->replies = {kAck};
  int polls = 0;
  platform::setMessagePumpHook([&] {
    if (++polls == 4) cancelRequested = 1;
    return false;
  });
  uint32_t failAddress = 0;
  EXPECT_EQ(eraseFlash(B8, AM29F010, 0, 0x20000, failAddress, f.port), kResultCancelled);
  EXPECT_EQ(f.port.m_readTimeout, 5000);
  platform::setMessagePumpHook(nullptr);
}

TEST(TargetCommands, ChecksumPollsAndReportsTheSum) {
  LinkFixture f;
  f.port.m_readTimeout = 5000;
  f.line->onWrite = [](TargetLine& line, const Bytes& bytes) {
    if (bytes.size() > 1) {
      line.send(kAck);
      line.send(targetPacket("\xA6" + le32(0x12345678)), 2000);
    }
  };
  uint32_t checksum = 0;
  EXPECT_EQ(getTargetChecksum(B16, 0x50000, 0xA0000, checksum, f.port), kResultOk);
  EXPECT_EQ(checksum, 0x12345678u);
  EXPECT_EQ(f.port.m_readTimeout, 5000);
  EXPECT_EQ(hostPackets(*f.line)[0],
            hostPacket(string("\x26\x02", 2) + le32(0x50000) + le32(0xA0000)));

  // Silence: 100 polls of 500 ms + 400 ms, then the receive's own code.
  LinkFixture g;
  g.line->replies = {kAck};
  const uint32_t start = g.nowMs();
  EXPECT_EQ(getTargetChecksum(B16, 0, 4, checksum, g.port), kResultAnswerIncomplete);
  EXPECT_GE(g.nowMs() - start, 90000u);
  EXPECT_LE(g.nowMs() - start, 91000u);
}

}  // namespace
}  // namespace flash_test
