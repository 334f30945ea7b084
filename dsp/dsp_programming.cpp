#include "dsp/dsp_programming.h"

#include <cstdio>
#include <cstring>

#include "flash/processor_update.h"
#include "flash/programming_link.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "platform/clock.h"
#include "platform/host_files.h"
#include "run/run_state.h"

namespace {

constexpr uint32_t kDspReadBufferSize = (kDspWordsPerPacket + 1) * 4;  // 244 bytes
constexpr uint32_t kDspWriteRequestSize = 1 + 4 + kDspDataAreaSize;    // 245 bytes
constexpr uint32_t kDspStatusAnswerSize = 5;                           // code, status
constexpr uint32_t kDspChecksumAnswerSize = 9;                         // code, sum, status
constexpr uint32_t kDspPrepareRequestSize = 1;                         // command
constexpr uint32_t kDspPrepareAnswerSize = 1;                          // code
constexpr uint32_t kDspEraseRequestSize = 5;                           // command, word count
constexpr uint32_t kDspChecksumRequestSize = 1;                        // command
// Every packet's length byte and 16-bit sum; the acknowledgement's two data bytes.
constexpr uint32_t kPacketFrameSize = 3;
constexpr uint32_t kAcknowledgementSize = 2;

// The host's bytes of one DSP command: its request, then the echo of the acknowledgement and
// of the answer that follow it.
constexpr uint64_t exchangeHostBytes(uint32_t request, uint32_t answer) {
  return (request + kPacketFrameSize) + (kAcknowledgementSize + kPacketFrameSize) +
         (answer + kPacketFrameSize);
}

// Receives a DSP answer into answerPacket and judges its code; answers shorter than their
// fixed part are unexpected (their fields would be left-overs of an older answer).
int32_t receiveDspAnswer(uint8_t command, uint32_t minimumLength, CComm& port) {
  uint32_t length = 0;
  int32_t result = receivePacket(answerPacket, port, &length);
  if (result != kResultOk) return result;
  result = judgeAnswer(answerPacket, length, positiveAnswer(command));
  if (result != kResultOk) return result;
  return length < minimumLength ? kResultUnexpectedAnswer : kResultOk;
}

// Reads up to 60 whole words of the image into buffer (cleared first); the word count.
uint32_t readWords(std::FILE* file, uint8_t (&buffer)[kDspReadBufferSize]) {
  std::memset(buffer, 0, sizeof buffer);
  const size_t bytes = std::fread(buffer, 1, kDspDataAreaSize, file);
  return static_cast<uint32_t>(bytes / 4);
}

// Image sum: every whole word from the start, modulo 2^32.
uint32_t imageSum(std::FILE* file) {
  std::fseek(file, 0, SEEK_SET);
  uint8_t buffer[kDspReadBufferSize];
  uint32_t sum = 0;
  for (uint32_t words = readWords(file, buffer); words > 0; words = readWords(file, buffer)) {
    for (uint32_t i = 0; i < words; ++i) sum += get32(&buffer[i * 4]);
  }
  return sum;
}

// One erase-program-verify pass. 0 success, 2 checksum mismatch, else the attempt failed
// (its lines are marked).
int32_t dspAttempt(std::FILE* file, CComm& port) {
  std::fseek(file, 0, SEEK_SET);
  std::fseek(file, 0, SEEK_END);
  const long length = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  const uint32_t wordCount = length > 0 ? static_cast<uint32_t>(length / 4) : 0;

  dspPrepare(port);  // its answer tells nothing the next steps do not find out

  addStatusLine("Erasing Flash ROMs on DSP module...");
  int32_t result = dspErase(wordCount, port);
  if (result != 0) {
    setStepStatus(0, 0);
    addStatusLine("ERROR - Program algorithm could not be sent to DSP module!");
    // The module's status word is no code of ours: the option programming's own stands.
    noteFailureCode(kResultDspFailed);
    return kResultDspFailed;
  }
  setStepStatus(1, 0);

  addStatusLine("Programming Flash ROMs on DSP module...");
  uint8_t buffer[kDspReadBufferSize];
  uint32_t words[kDspWordsPerPacket];
  for (uint32_t count = readWords(file, buffer); count > 0; count = readWords(file, buffer)) {
    for (uint32_t i = 0; i < count; ++i) words[i] = get32(&buffer[i * 4]);
    result = dspWriteData(words, count, port);
    if (result != 0) {
      setStepStatus(0, result);
      return kResultDspFailed;
    }
  }
  setStepStatus(1, 0);

  addStatusLine("Waiting for checksum from DSP module...");
  uint32_t checksum = 0;
  result = dspGetChecksum(checksum, port);
  if (result != 0) {
    setStepStatus(0, result);
    addStatusLine("ERROR - no checksum received");
    return kResultDspFailed;
  }
  setStepStatus(1, 0);

  if (imageSum(file) != checksum) {
    addStatusLine("ERROR - wrong checksum");
    noteFailureCode(kResultDspChecksumMismatch);
    return kResultDspChecksumMismatch;
  }
  addStatusLine("Update of DSP option successfully completed");
  return kResultOk;
}

}  // namespace

uint64_t dspProgrammingHostBytes(uint64_t imageBytes) {
  const uint64_t words = imageBytes / 4;
  const uint64_t packets = (words + kDspWordsPerPacket - 1) / kDspWordsPerPacket;
  return exchangeHostBytes(kDspPrepareRequestSize, kDspPrepareAnswerSize) +
         exchangeHostBytes(kDspEraseRequestSize, kDspStatusAnswerSize) +
         packets * exchangeHostBytes(kDspWriteRequestSize, kDspStatusAnswerSize) +
         exchangeHostBytes(kDspChecksumRequestSize, kDspChecksumAnswerSize);
}

int32_t dspPrepare(CComm& port) {
  commandPacket[0] = kCmdDspPrepare;
  const int32_t result =
      sendPacket(commandPacket, static_cast<int32_t>(kDspPrepareRequestSize), port);
  if (result != kResultOk) return result;
  return receiveDspAnswer(kCmdDspPrepare, kDspPrepareAnswerSize, port);
}

int32_t dspErase(uint32_t wordCount, CComm& port) {
  commandPacket[0] = kCmdDspErase;
  put32(&commandPacket[1], wordCount);
  int32_t result = sendPacket(commandPacket, static_cast<int32_t>(kDspEraseRequestSize), port);
  if (result != kResultOk) return result;
  // The module erases before it answers; the answer waits in the port meanwhile. The wait
  // serves the window; a cancel only shortens it, the next packet operation reports it.
  waitWithMessages(kDspEraseWaitMs);
  result = receiveDspAnswer(kCmdDspErase, kDspStatusAnswerSize, port);
  if (result != kResultOk) return result;
  return static_cast<int32_t>(get32(&answerPacket[1]));
}

int32_t dspWriteData(const uint32_t* words, uint32_t count, CComm& port) {
  // More words than the data area holds would not fit the packet.
  if (count > kDspWordsPerPacket) return kResultPacketTooLong;
  commandPacket[0] = kCmdDspWriteData;
  put32(&commandPacket[1], count);
  // The data area always has its full size; unused words are zero.
  std::memset(&commandPacket[5], 0, kDspDataAreaSize);
  for (uint32_t i = 0; i < count; ++i) put32(&commandPacket[5 + i * 4], words[i]);
  int32_t result = sendPacket(commandPacket, static_cast<int32_t>(kDspWriteRequestSize), port);
  if (result != kResultOk) return result;
  result = receiveDspAnswer(kCmdDspWriteData, kDspStatusAnswerSize, port);
  if (result != kResultOk) return result;
  return static_cast<int32_t>(get32(&answerPacket[1]));
}

int32_t dspGetChecksum(uint32_t& checksum, CComm& port) {
  commandPacket[0] = kCmdDspGetChecksum;
  int32_t result = sendPacket(commandPacket, static_cast<int32_t>(kDspChecksumRequestSize), port);
  if (result != kResultOk) return result;
  result = receiveDspAnswer(kCmdDspGetChecksum, kDspChecksumAnswerSize, port);
  if (result != kResultOk) return result;
  checksum = get32(&answerPacket[1]);
  return static_cast<int32_t>(get32(&answerPacket[5]));
}

int32_t programDspOption(CComm& port, int32_t optionKind) {
  const char* imageName = optionImageFile(optionKind);
  if (!imageName) {
    addStatusLine("ERROR -  no DSP file chosen");
    noteFailureCode(kResultDspFailed);
    return kResultDspFailed;
  }
  std::FILE* file = platform::openHostFile(imageName, "rb");
  if (!file) {
    addStatusLine("ERROR - DSP file could not be opened");
    noteFailureCode(kResultDspFailed);
    return kResultDspFailed;
  }

  // Each attempt starts with a fresh erase; a checksum mismatch is not retried, since
  // writing the same image again would give the same sum.
  for (int32_t attempt = 0;; ++attempt) {
    const int32_t result = dspAttempt(file, port);
    if (result == kResultOk || result == kResultDspChecksumMismatch) {
      std::fclose(file);
      return result;
    }
    if (attempt + 1 >= kDspAttempts || pumpMessages() != 0) {
      std::fclose(file);
      noteFailureCode(kResultDspFailed);
      return kResultDspFailed;
    }
  }
}
