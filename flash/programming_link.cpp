#include "flash/programming_link.h"

#include <cstring>

#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "platform/clock.h"
#include "platform/message_pump.h"
#include "run/run_state.h"

uint8_t commandPacket[kCommandPacketSize];
uint8_t answerPacket[kAnswerPacketSize];
uint8_t extraAnswerPacket[kAnswerPacketSize];
uint32_t receivePhase = 0;

namespace {

constexpr uint32_t kRetryPauseMs = 50;
// A damaged length byte makes the target split the request in the wrong place: it answers
// the first part and keeps the rest as the start of another request, which swallows the
// next try. A target that answered twice in a row without acknowledging is therefore given
// this much silence, in which it drops a partial request and the answers it still holds,
// before the next try. After the last try there is no next one: the plain pause stands.
constexpr uint32_t kResyncPauseMs = 2500;

// Packet building area and acknowledgement buffer of sendPacket: length byte, up to 255
// data bytes and two checksum bytes.
constexpr uint32_t kFrameBufferSize = 1 + kMaxPacketData + 2 + 1;
uint8_t g_frame[kFrameBufferSize];

}  // namespace

uint16_t sum16(const uint8_t* data, uint32_t count, uint32_t start) {
  uint32_t sum = start;
  for (uint32_t i = 0; i < count; ++i) sum += data[i];
  return static_cast<uint16_t>(sum);
}

int32_t openProgrammingLink(int32_t speed, int32_t readTimeoutMs, CComm& port) {
  port.close();
  port.m_readTimeout = readTimeoutMs;
  port.m_baudRate = speed;
  const int openResult = port.open();
  // The target reads the raised lines as "host present", so they go up in any case.
  port.setRts();
  port.setDtr();
  return openResult == 0 ? kResultOk : kResultPortNotOpened;
}

int32_t isTargetReady(CComm& port) {
  int32_t cts = 1;
  int32_t dsr = 0;
  const int ctsRead = port.getCts(cts);
  const int dsrRead = port.getDsr(dsr);
  // A line that cannot be read (no modem lines) never counts as ready.
  if (ctsRead && dsrRead && cts == 0 && dsr != 0) return kResultOk;
  return kResultTargetNotReady;
}

int32_t pumpMessages() {
  if (cancelRequested) return 1;
  while (platform::dispatchOneMessage()) {
    if (cancelRequested) return 1;
  }
  return 0;
}

uint32_t sendBytes(const void* data, uint32_t count, CComm& port) {
  const int written = port.writeBufferToPort(data, count);
  if (pumpMessages() != 0) return 0;
  return written ? count : 0;
}

uint32_t receiveBytes(void* buffer, uint32_t count, bool echo, CComm& port) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  if (!echo) {
    uint32_t got = 0;
    if (port.readBufferFromPort(bytes, got, count) != 0) return count + 1;
    return got;
  }
  const uint32_t reads = count % 256;
  for (uint32_t i = 0; i < reads; ++i) {
    uint32_t got = 0;
    if (port.readBufferFromPort(&bytes[i], got, 1) != 0 || got != 1) return count + 1;
    // The target checks every echo before it sends its next byte; a failed echo shows up as
    // a missing next byte.
    port.writeBufferToPort(&bytes[i], 1);
  }
  return reads;
}

int32_t receivePacket(uint8_t* buffer, CComm& port, uint32_t* length) {
  if (length) *length = 0;
  receivePhase = 1;
  uint8_t dataLength = 0;
  if (receiveBytes(&dataLength, 1, true, port) != 1) return kResultAnswerIncomplete;
  if (length) *length = dataLength;

  receivePhase = 2;
  if (dataLength > 0 && receiveBytes(buffer, dataLength, true, port) != dataLength)
    return kResultAnswerIncomplete;

  receivePhase = 3;
  uint8_t sum[2];
  if (receiveBytes(sum, 2, true, port) != 2) return kResultAnswerIncomplete;

  receivePhase = 0;
  const uint16_t expected = static_cast<uint16_t>(sum[0] | (sum[1] << 8));
  if (sum16(buffer, dataLength) != expected) return kResultAnswerChecksum;
  return kResultOk;
}

int32_t sendPacket(const uint8_t* data, int32_t length, CComm& port) {
  if (length <= 0) return kResultOk;
  if (length > static_cast<int32_t>(kMaxPacketData)) return kResultPacketTooLong;
  const auto count = static_cast<uint32_t>(length);

  bool written = false;
  bool acknowledged = false;
  bool answeredBefore = false;
  int32_t receiveCode = kResultOk;
  uint32_t answerLength = 0;
  for (int32_t tries = 0; tries < kSendPacketTries; ++tries) {
    // Rebuilt on every try: the answer is received into the same buffer.
    g_frame[0] = static_cast<uint8_t>(count);
    std::memcpy(&g_frame[1], data, count);
    const uint16_t sum = sum16(&g_frame[1], count, count);
    g_frame[1 + count] = static_cast<uint8_t>(sum);
    g_frame[2 + count] = static_cast<uint8_t>(sum >> 8);

    // Whatever the target sent before (an old answer, line noise) must not be taken for
    // the acknowledgement of this packet.
    if (port.m_port) port.m_port->purge(true, false);
    written = port.writeBufferToPort(g_frame, count + 3) != 0;
    receiveCode = receivePacket(g_frame, port, &answerLength);
    acknowledged = receiveCode == kResultOk && answerLength >= 2 && g_frame[0] == kAckCode &&
                   g_frame[1] == kAckOk;
    if (acknowledged) break;
    // Something came back (not a plain time-out, which is silence enough).
    const bool answered = receiveCode == kResultOk || receivePhase != 1;
    const bool nextTry = tries + 1 < kSendPacketTries;
    platform::sleepMs(nextTry && answered && answeredBefore ? kResyncPauseMs : kRetryPauseMs);
    answeredBefore = answered;
  }

  if (pumpMessages() != 0) return kResultCancelled;
  if (!written) return kResultPacketNotWritten;
  if (acknowledged) return kResultOk;
  if (receiveCode != kResultOk)
    return compositeSendCode(kSendPacketTries, receivePhase, receiveCode);
  // A well-formed answer that is not the acknowledgement (an error answer such as 20 F0 for
  // a damaged request): reported by the error mapping rather than taken as acknowledged.
  if (answerLength >= 2 && g_frame[0] == kAckCode) return mapErrorAnswer(g_frame[1]);
  return kResultUnexpectedAnswer;
}
