#include "flash/target_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "flash/config/programming_job.h"
#include "flash/programming_link.h"
#include "flash/result_codes.h"
#include "platform/clock.h"
#include "platform/host_files.h"
#include "platform/path_text.h"
#include "platform/whole_file.h"
#include "run/run_state.h"

namespace {

constexpr uint32_t kLoaderBaseBaud = 115200;  // the loader's divisor counts from this speed
constexpr uint32_t kLoaderDivisorIndex = 510;
constexpr uint32_t kLoaderSumIndex = 511;
constexpr uint8_t kLoaderLengthByteI80x86 = 0xFF;
constexpr uint32_t kLoaderDivisorFromEndTms = 8;
constexpr uint8_t kStatusAccepted = 'T';
constexpr uint8_t kStatusRejected = 'C';
constexpr uint8_t kStatusLoaderGo = 'S';
constexpr uint8_t kStatusTransferP = 'P';
constexpr uint8_t kStatusTransferF = 'F';
constexpr uint8_t kStatusTransferO = 'O';
constexpr size_t kFileStreamBuffer = 16 * 1024;
// Memory set aside for an upload before its data comes; a longer one grows as it arrives.
constexpr uint32_t kUploadReserveMax = 4 * 1024 * 1024;

// An upload file can be written: its folder exists and takes new files (the file is
// replaced through a temporary beside it), and an existing file is a regular one that the
// user may write.
bool uploadFileWritable(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(platform::pathFromUtf8(path), error);
  if (std::filesystem::exists(status) &&
      (!std::filesystem::is_regular_file(status) || !platform::userMayWrite(path)))
    return false;
  // The folder as the system splits the path (on Windows at "\\" as well as "/").
  const std::string parent = platform::utf8FromPath(platform::pathFromUtf8(path).parent_path());
  const std::string folder = parent.empty() ? "." : parent;
  return std::filesystem::is_directory(platform::pathFromUtf8(folder), error) &&
         platform::userMayWrite(folder);
}

// Sizes of the answers' fixed parts (answer code included).
constexpr uint32_t kEpromTypeAnswerSize = 9;
constexpr uint32_t kChecksumAnswerSize = 5;
constexpr uint32_t kUploadHeaderSize = 10;
constexpr uint32_t kUploadCountOffset = 6;
constexpr uint32_t kProgramHeaderSize = 9;
constexpr uint32_t kProgramCountOffset = 7;

// receivePacket into one of the 512-byte answer buffers; the bytes behind the received
// ones are cleared, so a short answer is never judged by what an earlier one left there.
int32_t receiveAnswer(uint8_t* buffer, uint32_t& length, CComm& port) {
  const int32_t result = receivePacket(buffer, port, &length);
  std::memset(buffer + length, 0, kAnswerPacketSize - length);
  return result;
}

// Sends the request of length bytes in commandPacket, receives the answer into
// answerPacket and judges its code.
int32_t exchange(uint32_t requestLength, uint8_t positiveCode, uint32_t& answerLength,
                 CComm& port) {
  int32_t result = sendPacket(commandPacket, static_cast<int32_t>(requestLength), port);
  if (result != kResultOk) return result;
  result = receiveAnswer(answerPacket, answerLength, port);
  if (result != kResultOk) return result;
  return judgeAnswer(answerPacket, answerLength, positiveCode);
}

// A one-byte command whose positive answer carries nothing that is looked at.
int32_t simpleCommand(uint8_t command, uint8_t positiveCode, CComm& port) {
  commandPacket[0] = command;
  uint32_t answerLength = 0;
  return exchange(1, positiveCode, answerLength, port);
}

// Length of an open file by seeking; -1 when it cannot be positioned.
long fileLength(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long length = std::ftell(file);
  if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return length;
}

}  // namespace

int32_t mapErrorAnswer(uint8_t errorByte, bool programData) {
  switch (errorByte) {
    case 0xF0:
      return kResultTargetErrorF0;
    case 0xF1:
      return kResultTargetErrorF1;
    case 0xF3:
      return kResultTargetErrorF3;
    case 0xF4:
      return kResultTargetErrorF4;
    case 0xF5:
      return programData ? kResultTargetErrorF4 : kResultUnexpectedAnswer;
    default:
      return kResultUnexpectedAnswer;
  }
}

int32_t judgeAnswer(const uint8_t* answer, uint32_t length, uint8_t positiveCode,
                    bool programData) {
  if (length == 0) return kResultUnexpectedAnswer;
  if (answer[0] == positiveCode) return kResultOk;
  if (answer[0] == kAckCode && length >= 2) return mapErrorAnswer(answer[1], programData);
  return kResultUnexpectedAnswer;
}

int32_t prepareBootstrapLoader(const uint8_t* file, uint32_t n, uint8_t processor, uint32_t baud,
                               uint8_t& lengthByte, uint8_t (&image)[kLoaderImageSize],
                               uint32_t& imageSize) {
  if (n > kLoaderImageSize) n = kLoaderImageSize;
  std::memset(image, 0, sizeof image);
  if (n > 0) std::memcpy(image, file, n);
  // The loader switches the target to the job's speed with this divisor of 115200.
  const auto divisor = static_cast<uint8_t>(baud ? kLoaderBaseBaud / baud : 0);
  if (processor == TMS320C30) {
    if (n < kLoaderDivisorFromEndTms) return kResultLoaderTooShort;
    image[n - kLoaderDivisorFromEndTms] = divisor;
    lengthByte = static_cast<uint8_t>((n - 2) / 2);
    imageSize = n;
    return kResultOk;
  }
  // The I80X86 boot ROM always takes a full 512-byte sector whose last byte sums it.
  image[kLoaderDivisorIndex] = divisor;
  uint8_t sum = 0;
  for (uint32_t i = 0; i < kLoaderSumIndex; ++i) sum = static_cast<uint8_t>(sum + image[i]);
  image[kLoaderSumIndex] = sum;
  lengthByte = kLoaderLengthByteI80x86;
  imageSize = kLoaderImageSize;
  return kResultOk;
}

int32_t downloadBootstrapLoader(const char* fileName, uint8_t processor, uint32_t baud,
                                CComm& port) {
  std::FILE* file = platform::openHostFile(fileName, "rb");
  if (!file) return kResultLoaderFileNotOpened;
  uint8_t contents[kLoaderImageSize] = {};
  const auto n = static_cast<uint32_t>(std::fread(contents, 1, sizeof contents, file));
  std::fclose(file);

  uint8_t lengthByte = 0;
  uint8_t image[kLoaderImageSize];
  uint32_t imageSize = 0;
  const int32_t prepared =
      prepareBootstrapLoader(contents, n, processor, baud, lengthByte, image, imageSize);
  if (prepared != kResultOk) return prepared;

  if (sendBytes(&lengthByte, 1, port) != 1) return kResultLoaderNotSent;
  if (sendBytes(image, imageSize, port) != imageSize) return kResultLoaderNotSent;

  uint8_t status = 0;
  if (receiveBytes(&status, 1, false, port) != 1) return kResultLoaderNoStatus;
  if (status == kStatusRejected) return kResultLoaderRejected;
  if (status != kStatusAccepted) return kResultLoaderNotSent;
  // The go-ahead; the loader runs whether or not it arrives, so its result is not judged.
  sendBytes(&kStatusLoaderGo, 1, port);
  return kResultOk;
}

int32_t downloadFile(uint32_t firstAddress, uint32_t secondAddress, const char* fileName,
                     CComm& port) {
  std::FILE* file = platform::openHostFile(fileName, "rb");
  if (!file) return kResultTransferFile;
  const long length = fileLength(file);
  // The length travels in 4 bytes; a longer file could not be announced correctly.
  if (length < 0 || static_cast<unsigned long>(length) > UINT32_MAX) {
    std::fclose(file);
    return kResultTransferFile;
  }

  uint8_t header[12];
  put32(&header[0], static_cast<uint32_t>(length));
  put32(&header[4], firstAddress);
  put32(&header[8], secondAddress);
  for (int part = 0; part < 3; ++part) {
    if (sendBytes(&header[part * 4], 4, port) != 4) {
      std::fclose(file);
      return kResultTransferNotSent;
    }
  }

  // The length does not enter the sum; the two addresses and every file byte do.
  uint32_t sum = 0;
  for (int i = 4; i < 12; ++i) sum += header[i];
  uint8_t piece[kFileDownloadPiece];
  uint64_t total = 0;
  size_t n = 0;
  do {
    n = std::fread(piece, 1, sizeof piece, file);
    for (size_t i = 0; i < n; ++i) sum += piece[i];
    total += n;
    if (n > 0 && sendBytes(piece, static_cast<uint32_t>(n), port) != n) {
      std::fclose(file);
      return kResultTransferNotSent;
    }
  } while (n == sizeof piece);
  std::fclose(file);
  if (total != static_cast<uint64_t>(length)) return kResultTransferFile;

  const uint8_t trailer[2] = {static_cast<uint8_t>(sum), static_cast<uint8_t>(sum >> 8)};
  if (sendBytes(trailer, 2, port) != 2) return kResultTransferNotSent;

  uint8_t status = 0;
  if (receiveBytes(&status, 1, false, port) != 1) return kResultTransferNoStatus;
  switch (status) {
    case kStatusAccepted:
      return kResultOk;
    case kStatusRejected:
      return kResultTransferStatusC;
    case kStatusTransferP:
      return kResultTransferStatusP;
    case kStatusTransferF:
      return kResultTransferStatusF;
    case kStatusTransferO:
      return kResultTransferStatusO;
    default:
      return kResultTransferNotSent;
  }
}

int32_t getEpromType(uint32_t bankStart, uint8_t architecture, uint8_t chipType,
                     uint8_t (&manufacturerCodes)[4], uint8_t (&deviceCodes)[4], CComm& port) {
  commandPacket[0] = kCmdGetEpromType;
  commandPacket[1] = architecture;
  commandPacket[2] = chipType;
  put32(&commandPacket[3], bankStart);
  uint32_t answerLength = 0;
  const int32_t result = exchange(7, positiveAnswer(kCmdGetEpromType), answerLength, port);
  if (result != kResultOk) return result;
  // Codes the target did not send are not made up from an older answer.
  if (answerLength < kEpromTypeAnswerSize) return kResultUnexpectedAnswer;
  std::memcpy(manufacturerCodes, &answerPacket[1], 4);
  std::memcpy(deviceCodes, &answerPacket[5], 4);
  return kResultOk;
}

int32_t programmingPowerOn(CComm& port) {
  const int32_t result =
      simpleCommand(kCmdProgrammingPowerOn, positiveAnswer(kCmdProgrammingPowerOn), port);
  if (result != kResultOk) return result;
  return answerPacket[1] == kConfirmPowerOn ? kResultOk : kResultPowerOnNotConfirmed;
}

int32_t programmingPowerOff(CComm& port) {
  const int32_t result =
      simpleCommand(kCmdProgrammingPowerOff, positiveAnswer(kCmdProgrammingPowerOff), port);
  if (result != kResultOk) return result;
  return answerPacket[1] == kConfirmPowerOff ? kResultOk : kResultPowerOffNotConfirmed;
}

int32_t bootTarget(CComm& port) {
  return simpleCommand(kCmdBootTarget, positiveAnswer(kCmdBootTarget), port);
}

int32_t deleteCmosRam(CComm& port) {
  return simpleCommand(kCmdDeleteCmosRam, positiveAnswer(kCmdDeleteCmosRam), port);
}

int32_t endTransferProgram(CComm& port) {
  return simpleCommand(kCmdEndTransferProgram, kAnswerEndTransferProgram, port);
}

int32_t uploadToMemory(uint32_t start, uint32_t length, uint8_t architecture, uint8_t processor,
                       std::string& contents, CComm& port) {
  contents.clear();
  contents.reserve(std::min<uint32_t>(length, kUploadReserveMax));
  uint32_t offset = 0;
  do {
    const uint32_t remaining = length - offset;
    const uint32_t count = remaining < kUploadChunkSize ? remaining : kUploadChunkSize;
    const uint32_t address = start + (processor == TMS320C30 ? offset / 4 : offset);
    commandPacket[0] = kCmdUpload;
    commandPacket[1] = architecture;
    put32(&commandPacket[2], address);
    put32(&commandPacket[6], count);
    offset += count;

    uint32_t answerLength = 0;
    int32_t result = exchange(10, positiveAnswer(kCmdUpload), answerLength, port);
    // The copy must be exactly what was asked for: an answer that carries another amount
    // (or claims more than it holds) would leave a shifted or short copy behind.
    if (result == kResultOk) {
      const uint32_t answered = get32(&answerPacket[kUploadCountOffset]);
      if (answered != count || answerLength < kUploadHeaderSize + count)
        result = kResultUnexpectedAnswer;
    }
    if (result != kResultOk) return result;
    contents.append(reinterpret_cast<const char*>(&answerPacket[kUploadHeaderSize]), count);
  } while (offset < length);
  return kResultOk;
}

int32_t uploadToFile(uint32_t start, uint32_t length, uint8_t architecture, uint8_t processor,
                     const char* fileName, CComm& port) {
  // The file is written whole at the end (an earlier copy stays until then); whether it can
  // be written at all is known before the target is asked for anything.
  const std::string path = platform::resolveHostFile(fileName);
  if (!uploadFileWritable(path)) return kResultUploadNotCreated;
  std::string contents;
  // The saved area is erased next: a short or failed read leaves nothing behind.
  const int32_t result = uploadToMemory(start, length, architecture, processor, contents, port);
  if (result != kResultOk) return result;

  // A full disk leaves the old file as it was.
  if (!platform::writeFileWhole(path, contents)) return kResultUploadWrite;
  return kResultOk;
}

int32_t programFile(const char* fileName, uint32_t address, uint8_t architecture, uint8_t processor,
                    uint8_t chipType, uint32_t& failAddress, uint32_t& hostSum, CComm& port) {
  failAddress = 0;
  std::FILE* file = platform::openHostFile(fileName, "rb");
  if (!file) return kResultProgramFileNotOpened;
  std::setvbuf(file, nullptr, _IOFBF, kFileStreamBuffer);

  commandPacket[0] = kCmdProgramData;
  commandPacket[1] = architecture;
  commandPacket[2] = chipType;
  put32(&commandPacket[3], address);
  const uint8_t positive = positiveAnswer(kCmdProgramData);

  uint32_t sum = 0;
  for (;;) {
    const auto n = static_cast<uint32_t>(
        std::fread(&commandPacket[kProgramHeaderSize], 1, kProgramChunkSize, file));
    if (n == 0) break;
    for (uint32_t i = 0; i < n; ++i) sum += commandPacket[kProgramHeaderSize + i];
    commandPacket[kProgramCountOffset] = static_cast<uint8_t>(n);
    commandPacket[kProgramCountOffset + 1] = static_cast<uint8_t>(n >> 8);
    ++packetCount;

    uint32_t answerLength = 0;
    for (int attempt = 0; attempt < kProgramChunkAttempts; ++attempt) {
      if (attempt == 1) ++packetErrors;
      if (attempt >= 1) ++packetRetries;

      int32_t result =
          sendPacket(commandPacket, static_cast<int32_t>(kProgramHeaderSize + n), port);
      if (result != kResultOk) {
        std::fclose(file);
        // A cancel keeps its own code so that every caller recognises it.
        return result == kResultCancelled ? result : result + kProgramSendFailed;
      }
      result = receiveAnswer(answerPacket, answerLength, port);
      if (result != kResultOk) {
        std::fclose(file);
        return result + kProgramReceiveFailed;
      }
      if (answerPacket[0] != positive) {
        // After a negative answer the target sends one more packet; it is taken off the
        // line and not looked at.
        uint32_t extraLength = 0;
        result = receiveAnswer(extraAnswerPacket, extraLength, port);
        if (result != kResultOk) {
          std::fclose(file);
          return result + kProgramExtraReceiveFailed;
        }
      }
      if (answerLength >= 1 && answerPacket[0] == kAckCode) {
        if (attempt < kProgramChunkAttempts - 1) continue;
        std::fclose(file);
        return judgeAnswer(answerPacket, answerLength, positive, true);
      }
      break;
    }

    if (answerLength < 1 || answerPacket[0] != positive) {
      std::fclose(file);
      return kResultUnexpectedAnswer;
    }
    if (answerPacket[1] == kProgramFailedMark) {
      std::fclose(file);
      failAddress = get32(&answerPacket[2]);
      return kResultProgramFailedAt;
    }
    address += processor == TMS320C30 ? n / 4 : n;
    put32(&commandPacket[3], address);
    if (n < kProgramChunkSize) break;
  }
  std::fclose(file);
  hostSum = sum;
  return kResultOk;
}

int32_t getTargetChecksum(uint8_t architecture, uint32_t address, uint32_t length,
                          uint32_t& checksum, CComm& port) {
  commandPacket[0] = kCmdGetChecksum;
  commandPacket[1] = architecture;
  put32(&commandPacket[2], address);
  put32(&commandPacket[6], length);
  int32_t result = sendPacket(commandPacket, 10, port);
  if (result != kResultOk) return result;

  // The target sums the whole area before it answers: poll with a short read time-out so
  // that the user interface stays alive and a cancel is seen.
  const int32_t savedTimeout = port.m_readTimeout;
  port.m_readTimeout = kChecksumReadTimeoutMs;
  uint32_t answerLength = 0;
  for (int poll = 0; poll < kSlowCommandPolls; ++poll) {
    platform::sleepMs(kSlowCommandPollMs);
    result = receiveAnswer(answerPacket, answerLength, port);
    if (result == kResultOk) break;
    if (pumpMessages() != 0) {
      port.m_readTimeout = savedTimeout;
      return kResultCancelled;
    }
  }
  port.m_readTimeout = savedTimeout;
  if (result != kResultOk) return result;

  result = judgeAnswer(answerPacket, answerLength, positiveAnswer(kCmdGetChecksum));
  if (result != kResultOk) return result;
  // A positive code without the four checksum bytes carries no checksum to compare.
  if (answerLength < kChecksumAnswerSize) return kResultUnexpectedAnswer;
  checksum = get32(&answerPacket[1]);
  return kResultOk;
}

int32_t eraseFlash(uint8_t architecture, uint8_t chipType, uint32_t start, uint32_t length,
                   uint32_t& failAddress, CComm& port) {
  failAddress = 0;
  commandPacket[0] = kCmdEraseFlash;
  commandPacket[1] = architecture;
  commandPacket[2] = chipType;
  put32(&commandPacket[3], start);
  put32(&commandPacket[7], length);
  int32_t result = sendPacket(commandPacket, 11, port);
  if (result != kResultOk) return result;

  // Erasing takes seconds; poll for the answer with a short read time-out. Only silence is
  // waited out: a damaged answer ends the wait at once.
  const int32_t savedTimeout = port.m_readTimeout;
  port.m_readTimeout = kEraseReadTimeoutMs;
  uint32_t answerLength = 0;
  for (int poll = 0; poll < kSlowCommandPolls; ++poll) {
    platform::sleepMs(kSlowCommandPollMs);
    if (pumpMessages() != 0) {
      port.m_readTimeout = savedTimeout;
      return kResultCancelled;
    }
    result = receiveAnswer(answerPacket, answerLength, port);
    if (result != kResultAnswerIncomplete) break;
  }
  port.m_readTimeout = savedTimeout;
  if (result != kResultOk) return result;

  result = judgeAnswer(answerPacket, answerLength, positiveAnswer(kCmdEraseFlash));
  if (result != kResultOk) return result;
  if (answerPacket[1] == kEraseFailedMark) {
    failAddress = get32(&answerPacket[2]);
    return kResultEraseFailedAt;
  }
  return kResultOk;
}
