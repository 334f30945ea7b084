// The programming link against a scripted target on the virtual clock: framing, echo,
// acknowledgement retries and their composite codes, modem lines, raw transfers, cancel.
#include "flash/programming_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/result_codes.h"
#include "platform/message_pump.h"
#include "run/run_state.h"
#include "tests/flash/target_double.h"

namespace flash_test {
namespace {

using std::string;

const uint8_t kPowerOn[] = {0x22};

TEST(ProgrammingLink, PacketGoesOutFramedAndTheAcknowledgementIsEchoed) {
  LinkFixture f;
  f.line->replies.push_back(kAck);
  EXPECT_EQ(sendPacket(kPowerOn, 1, f.port), kResultOk);
  EXPECT_EQ(f.line->written, string("\x01\x22\x23\x00"
                                    "\x02\x20\x00\x20\x00",
                                    9));
  // The packet in one write, the echo one byte at a time.
  EXPECT_EQ(f.line->writeSizes, (std::vector<uint32_t>{4, 1, 1, 1, 1, 1}));
  EXPECT_EQ(f.line->purges, 1);
  EXPECT_EQ(bytesSent, 9u);
}

TEST(ProgrammingLink, PacketLengthLimits) {
  LinkFixture f;
  uint8_t data[256] = {0x22};
  EXPECT_EQ(sendPacket(data, 0, f.port), kResultOk);
  EXPECT_EQ(sendPacket(data, -1, f.port), kResultOk);
  EXPECT_EQ(sendPacket(data, 256, f.port), kResultPacketTooLong);
  EXPECT_TRUE(f.line->written.empty());

  // 255 data bytes of 0xFF: sum 255 + 255 * 255 = 0xFF00.
  for (uint8_t& byte : data) byte = 0xFF;
  f.line->replies.push_back(kAck);
  EXPECT_EQ(sendPacket(data, 255, f.port), kResultOk);
  ASSERT_EQ(f.line->writeSizes.front(), 258u);
  EXPECT_EQ(f.line->written.substr(256, 2), string("\x00\xFF", 2));
}

struct AckRow {
  const char* name;
  Bytes reply;  // the target's reply to each of the five tries
  int32_t expected;
};

TEST(ProgrammingLink, FailedAcknowledgementGivesTheCodeOfTheLastTry) {
  const AckRow rows[] = {
      // Silence: no length byte (phase 1).
      {"silent", "", 0x5101135},
      // Length 2 but one data byte (phase 2).
      {"data short", string("\x02\x20", 2), 0x5201135},
      // Data complete, one checksum byte (phase 3).
      {"sum short", string("\x02\x20\x00\x20", 4), 0x5301135},
      // The sum counts the length byte, as a host packet's does: a checksum mismatch.
      {"host-style sum", string("\x02\x20\x00\x22\x00", 5), 0x5001155},
      // A well-formed error answer instead of the acknowledgement maps like a command's.
      {"error answer F0", targetPacket(string("\x20\xF0", 2)), kResultTargetErrorF0},
      {"error answer F2", targetPacket(string("\x20\xF2", 2)), kResultUnexpectedAnswer},
      // 0x20 alone is not an acknowledgement.
      {"short ack", targetPacket(string("\x20", 1)), kResultUnexpectedAnswer},
      {"other answer", targetPacket(string("\xA2\x44", 2)), kResultUnexpectedAnswer},
  };
  for (const AckRow& row : rows) {
    SCOPED_TRACE(row.name);
    LinkFixture f;
    for (int i = 0; i < kSendPacketTries; ++i) f.line->replies.push_back(row.reply);
    EXPECT_EQ(sendPacket(kPowerOn, 1, f.port), row.expected);
    EXPECT_EQ(f.line->purges, kSendPacketTries);
    EXPECT_TRUE(f.line->replies.empty());
  }
}

TEST(ProgrammingLink, SilentTargetCostsFiveTimeOutsAndFivePauses) {
  LinkFixture f;
  const uint32_t start = f.nowMs();
  EXPECT_EQ(sendPacket(kPowerOn, 1, f.port), 0x5101135);
  const uint32_t elapsed = f.nowMs() - start;
  EXPECT_GE(elapsed, 5u * 5000 + 250);
  EXPECT_LE(elapsed, 5u * 5000 + 250 + 5 * 200);
}

TEST(ProgrammingLink, LateAcknowledgementIsAccepted) {
  LinkFixture f;
  f.line->replies = {"", string("\x02\x20", 2), kAck};
  EXPECT_EQ(sendPacket(kPowerOn, 1, f.port), kResultOk);
  EXPECT_EQ(f.line->written.substr(0, 4), f.line->written.substr(4, 4));  // sent again unchanged
}

// Two error answers in a row: the target may be holding the tail of a request whose
// length byte was damaged, so it is given time to drop it before the third try.
TEST(ProgrammingLink, RepeatedErrorAnswersLeaveTheTargetTimeToResynchronise) {
  LinkFixture f;
  const Bytes nack = targetPacket(string("\x20\xF0", 2));
  f.line->replies = {nack, nack, kAck};
  const uint32_t start = f.nowMs();
  EXPECT_EQ(sendPacket(kPowerOn, 1, f.port), kResultOk);
  EXPECT_GE(f.nowMs() - start, 50u + 2500);
  EXPECT_LT(f.nowMs() - start, 50u + 2500 + 100);
  // A single error answer costs only the short pause.
  LinkFixture g;
  g.line->replies = {nack, kAck};
  const uint32_t gStart = g.nowMs();
  EXPECT_EQ(sendPacket(kPowerOn, 1, g.port), kResultOk);
  EXPECT_LT(g.nowMs() - gStart, 100u);
}

// A target that refuses every try: the long pause serves only the tries that follow it, so
// the failure is reported after 50 + 3 x 2500 + 50 ms, not after a fourth long pause.
TEST(ProgrammingLink, RefusingTargetIsReportedWithoutALongPauseAfterTheLastTry) {
  LinkFixture f;
  const Bytes nack = targetPacket(string("\x20\xF0", 2));
  for (int i = 0; i < kSendPacketTries; ++i) f.line->replies.push_back(nack);
  const uint32_t start = f.nowMs();
  EXPECT_EQ(sendPacket(kPowerOn, 1, f.port), kResultTargetErrorF0);
  EXPECT_GE(f.nowMs() - start, 50u + 3 * 2500 + 50);
  EXPECT_LT(f.nowMs() - start, 50u + 3 * 2500 + 50 + 100);
}

TEST(ProgrammingLink, PacketThatCannotBeWritten) {
  LinkFixture f;
  f.line->writeFailures = 1 << 30;  // the port gives up on every try
  EXPECT_EQ(sendPacket(kPowerOn, 1, f.port), kResultPacketNotWritten);
}

TEST(ProgrammingLink, CancelIsReportedAfterTheTries) {
  LinkFixture f;
  cancelRequested = 1;
  f.line->replies.push_back(kAck);
  EXPECT_EQ(sendPacket(kPowerOn, 1, f.port), kResultCancelled);
  EXPECT_EQ(f.line->written.substr(0, 4), string("\x01\x22\x23\x00", 4));
  // Raw bytes go out but the send reports failure.
  const uint8_t raw[3] = {1, 2, 3};
  EXPECT_EQ(sendBytes(raw, 3, f.port), 0u);
  EXPECT_EQ(f.line->written.substr(f.line->written.size() - 3), string("\x01\x02\x03", 3));
}

TEST(ProgrammingLink, MessagePumpDispatchesUntilEmptyOrCancel) {
  resetRunState();
  int pending = 3;
  int dispatched = 0;
  platform::setMessagePumpHook([&] {
    if (pending == 0) return false;
    --pending;
    ++dispatched;
    return true;
  });
  EXPECT_EQ(pumpMessages(), 0);
  EXPECT_EQ(dispatched, 3);

  // The second event is the Cancel button: the third stays in the queue.
  pending = 3;
  dispatched = 0;
  platform::setMessagePumpHook([&] {
    if (pending == 0) return false;
    --pending;
    if (++dispatched == 2) cancelRequested = 1;
    return true;
  });
  EXPECT_EQ(pumpMessages(), 1);
  EXPECT_EQ(dispatched, 2);
  // Once set, nothing more is dispatched.
  EXPECT_EQ(pumpMessages(), 1);
  EXPECT_EQ(dispatched, 2);
  platform::setMessagePumpHook(nullptr);
  resetRunState();
}

TEST(ProgrammingLink, ReadySignalIsCtsOffAndDsrOn) {
  struct Row {
    bool cts, dsr, linesFail;
    int32_t expected;
  } rows[] = {
      {false, true, false, kResultOk},
      {true, true, false, kResultTargetNotReady},    // normal mode
      {false, false, false, kResultTargetNotReady},  // nothing connected
      {true, false, false, kResultTargetNotReady},
      // No modem lines (a pseudo-terminal): never ready.
      {false, true, true, kResultTargetNotReady},
  };
  for (const Row& row : rows) {
    LinkFixture f;
    f.line->cts = row.cts;
    f.line->dsr = row.dsr;
    f.line->modemLinesFail = row.linesFail;
    EXPECT_EQ(isTargetReady(f.port), row.expected) << row.cts << row.dsr << row.linesFail;
  }
}

TEST(ProgrammingLink, OpenSetsSpeedTimeOutAndRaisesTheLines) {
  LinkFixture f;
  f.line->rts = f.line->dtr = false;
  EXPECT_EQ(openProgrammingLink(115200, 10000, f.port), kResultOk);
  EXPECT_EQ(f.port.m_baudRate, 115200);
  EXPECT_EQ(f.port.m_readTimeout, 10000);
  EXPECT_EQ(f.line->baudRate, 115200u);
  EXPECT_TRUE(f.line->rts);
  EXPECT_TRUE(f.line->dtr);

  f.line->openFails = true;
  EXPECT_EQ(openProgrammingLink(19200, 5000, f.port), kResultPortNotOpened);
  EXPECT_FALSE(f.port.isOpen());
}

TEST(ProgrammingLink, ReceiveBytesReportsShortReadsAsCountPlusOne) {
  LinkFixture f;
  uint8_t buffer[8] = {};
  f.line->send("AB");
  EXPECT_EQ(receiveBytes(buffer, 3, false, f.port), 4u);
  f.line->send("XYZ");
  EXPECT_EQ(receiveBytes(buffer, 3, true, f.port), 3u);
  EXPECT_EQ(f.line->written, "XYZ");
  f.line->send("Q");
  EXPECT_EQ(receiveBytes(buffer, 2, true, f.port), 3u);
  EXPECT_EQ(f.line->written, "XYZQ");  // the byte that came is still echoed
}

TEST(ProgrammingLink, ReceivePacketPhasesAndLengths) {
  LinkFixture f;
  uint8_t buffer[kAnswerPacketSize] = {};
  uint32_t length = 99;

  f.line->send(targetPacket(""));
  EXPECT_EQ(receivePacket(buffer, f.port, &length), kResultOk);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(receivePhase, 0u);

  const Bytes full(255, '\xEE');
  f.line->send(targetPacket(full));
  EXPECT_EQ(receivePacket(buffer, f.port, &length), kResultOk);
  EXPECT_EQ(length, 255u);
  EXPECT_EQ(buffer[254], 0xEE);
  EXPECT_EQ(buffer[255], 0x00);  // nothing beyond the packet is touched

  f.line->send(string("\x03\x01\x02", 3));
  EXPECT_EQ(receivePacket(buffer, f.port, &length), kResultAnswerIncomplete);
  EXPECT_EQ(receivePhase, 2u);
  EXPECT_EQ(length, 3u);
}

}  // namespace
}  // namespace flash_test
