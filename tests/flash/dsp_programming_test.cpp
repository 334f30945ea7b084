// DSP option programming against a scripted target: packet layout of the image, the
// attempts and their status lines, the checksum comparison.
#include "dsp/dsp_programming.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/result_codes.h"
#include "platform/message_pump.h"
#include "run/run_state.h"
#include "tests/flash/target_double.h"
#include "tests/support/temp_dir.h"

namespace flash_test {
namespace {

using std::string;
using testing_support::TempDir;

// An image of n bytes: byte i is i % 251.
Bytes image(size_t n) {
  Bytes bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

uint32_t wordSum(const Bytes& bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    sum += static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8) |
           (static_cast<uint8_t>(bytes[i + 2]) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 3])) << 24);
  }
  return sum;
}

// The replies of one successful attempt for an image of n bytes.
std::deque<Bytes> goodAttempt(const Bytes& img) {
  std::deque<Bytes> replies = {ackAnd("\xA8"), ackAnd("\xA9" + le32(0))};
  for (size_t words = img.size() / 4; words > 0; words -= std::min<size_t>(words, 60))
    replies.push_back(ackAnd("\xAA" + le32(0)));
  replies.push_back(ackAnd("\xAC" + le32(wordSum(img)) + le32(0)));
  return replies;
}

TEST(DspProgramming, ImageTravelsInPacketsOfSixtyWords) {
  TempDir dir;
  const Bytes img = image(1000);
  dir.write("QAM.BIN", img);
  LinkFixture f;
  f.line->replies = goodAttempt(img);
  EXPECT_EQ(programDspOption(f.port, kOptionB1), kResultOk);

  const std::vector<Bytes> packets = hostPackets(*f.line);
  ASSERT_EQ(packets.size(), 8u);
  EXPECT_EQ(packets[0], hostPacket("\x28"));
  EXPECT_EQ(packets[1], hostPacket("\x29" + le32(250)));
  EXPECT_EQ(packets[2], hostPacket("\x2A" + le32(60) + img.substr(0, 240)));
  EXPECT_EQ(packets[5], hostPacket("\x2A" + le32(60) + img.substr(720, 240)));
  // The last packet: 10 words, then 200 zero bytes.
  EXPECT_EQ(packets[6], hostPacket("\x2A" + le32(10) + img.substr(960, 40) + string(200, '\0')));
  EXPECT_EQ(packets[7], hostPacket("\x2C"));
  EXPECT_EQ(statusLines(), (std::vector<string>{
                               "OK    Erasing Flash ROMs on DSP module...",
                               "OK    Programming Flash ROMs on DSP module...",
                               "OK    Waiting for checksum from DSP module...",
                               "Update of DSP option successfully completed",
                           }));
}

TEST(DspProgramming, BytesAfterTheLastWholeWordAreNeitherSentNorSummed) {
  TempDir dir;
  const Bytes img("\x01\x00\x00\x00\xFF\xFF", 6);
  dir.write("OFDM.BIN", img);
  LinkFixture f;
  f.line->replies = goodAttempt(img);  // sum 1
  EXPECT_EQ(programDspOption(f.port, kOptionB10), kResultOk);
  const std::vector<Bytes> packets = hostPackets(*f.line);
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[1], hostPacket("\x29" + le32(1)));
  EXPECT_EQ(packets[2], hostPacket("\x2A" + le32(1) + le32(1) + string(236, '\0')));
}

// The option update's full scale is what one good attempt writes: every request with its
// frame and the echo of each answer byte, whatever is left of the last packet.
TEST(DspProgramming, HostBytesOfAnAttemptAreKnownBeforehand) {
  for (const size_t bytes : {size_t{0}, size_t{6}, size_t{240}, size_t{241}, size_t{1000}}) {
    TempDir dir;
    const Bytes img = image(bytes);
    dir.write("QAM.BIN", img);
    LinkFixture f;
    f.line->replies = goodAttempt(img);
    const uint32_t before = bytesSent;
    EXPECT_EQ(programDspOption(f.port, kOptionB1), kResultOk) << bytes;
    EXPECT_EQ(bytesSent - before, dspProgrammingHostBytes(bytes)) << bytes;
  }
}

TEST(DspProgramming, FailingEraseIsTriedFourTimes) {
  TempDir dir;
  dir.write("QAM.BIN", image(8));
  LinkFixture f;
  for (int i = 0; i < 4; ++i) {
    f.line->replies.push_back(ackAnd("\xA8"));
    f.line->replies.push_back(ackAnd("\xA9" + le32(3)));
  }
  EXPECT_EQ(programDspOption(f.port, kOptionB1), kResultDspFailed);
  std::vector<string> expected;
  for (int i = 0; i < 4; ++i) {
    expected.push_back("ERROR Erasing Flash ROMs on DSP module...");
    expected.push_back("ERROR - Program algorithm could not be sent to DSP module!");
  }
  EXPECT_EQ(statusLines(), expected);
  EXPECT_TRUE(f.line->replies.empty());
}

TEST(DspProgramming, FailedAttemptsAreFollowedByAFreshOne) {
  TempDir dir;
  const Bytes img = image(300);
  dir.write("QAM.BIN", img);
  LinkFixture f;
  // First attempt: the second data packet is refused with status 5. Second attempt: the
  // checksum answer is an error answer. Third: success.
  f.line->replies = {ackAnd("\xA8"), ackAnd("\xA9" + le32(0)), ackAnd("\xAA" + le32(0)),
                     ackAnd("\xAA" + le32(5))};
  f.line->replies.push_back(ackAnd("\xA8"));
  f.line->replies.push_back(ackAnd("\xA9" + le32(0)));
  f.line->replies.push_back(ackAnd("\xAA" + le32(0)));
  f.line->replies.push_back(ackAnd("\xAA" + le32(0)));
  f.line->replies.push_back(ackAnd(string("\x20\xF1", 2)));
  for (const Bytes& reply : goodAttempt(img)) f.line->replies.push_back(reply);
  EXPECT_EQ(programDspOption(f.port, kOptionB1), kResultOk);
  EXPECT_EQ(statusLines(), (std::vector<string>{
                               "OK    Erasing Flash ROMs on DSP module...",
                               "ERROR Programming Flash ROMs on DSP module... (5)",
                               "OK    Erasing Flash ROMs on DSP module...",
                               "OK    Programming Flash ROMs on DSP module...",
                               "ERROR Waiting for checksum from DSP module... (902)",
                               "ERROR - no checksum received",
                               "OK    Erasing Flash ROMs on DSP module...",
                               "OK    Programming Flash ROMs on DSP module...",
                               "OK    Waiting for checksum from DSP module...",
                               "Update of DSP option successfully completed",
                           }));
}

TEST(DspProgramming, ChecksumMismatchStopsAtOnce) {
  TempDir dir;
  const Bytes img = image(40);
  dir.write("QAM.BIN", img);
  LinkFixture f;
  f.line->replies = goodAttempt(img);
  f.line->replies.back() = ackAnd("\xAC" + le32(wordSum(img) + 1) + le32(0));
  EXPECT_EQ(programDspOption(f.port, kOptionB1), kResultDspChecksumMismatch);
  EXPECT_EQ(statusLines().back(), "ERROR - wrong checksum");
  EXPECT_EQ(statusLineCount(), 4);
}

TEST(DspProgramming, NoImageOrUnreadableImage) {
  TempDir dir;
  for (int32_t kind : {kOptionNone, 4, -1}) {
    LinkFixture f;
    EXPECT_EQ(programDspOption(f.port, kind), kResultDspFailed);
    EXPECT_EQ(statusLines(), std::vector<string>{"ERROR -  no DSP file chosen"});
    EXPECT_TRUE(f.line->written.empty());
  }
  LinkFixture f;
  EXPECT_EQ(programDspOption(f.port, kOptionB20), kResultDspFailed);
  EXPECT_EQ(statusLines(), std::vector<string>{"ERROR - DSP file could not be opened"});
}

TEST(DspProgramming, CancelEndsBetweenAttempts) {
  TempDir dir;
  dir.write("QAM.BIN", image(8));
  LinkFixture f;
  f.line->replies = {ackAnd("\xA8"), ackAnd("\xA9" + le32(1))};
  platform::setMessagePumpHook([] {
    cancelRequested = 1;
    return true;
  });
  // The erase's own packets report the cancel; then the attempt loop stops.
  EXPECT_EQ(programDspOption(f.port, kOptionB1), kResultDspFailed);
  EXPECT_EQ(statusLineCount(), 2);
  platform::setMessagePumpHook(nullptr);
}

}  // namespace
}  // namespace flash_test
