// Target commands: the host's side of the dialogue with the bootstrap loader (raw loader
// download), the boot ROM's file download (transfer program) and the transfer program
// (packet commands). Each returns 0 or a code of flash/result_codes.h; outputs are written
// only on success unless said otherwise.
#pragma once

#include <cstdint>
#include <string>

#include "serial/comm.h"

// Command codes; the positive answer is the code + 0x80 (except 0x49 -> 0x48).
inline constexpr uint8_t kCmdGetEpromType = 0x21;
inline constexpr uint8_t kCmdProgrammingPowerOn = 0x22;
inline constexpr uint8_t kCmdProgrammingPowerOff = 0x23;
inline constexpr uint8_t kCmdUpload = 0x24;
inline constexpr uint8_t kCmdProgramData = 0x25;
inline constexpr uint8_t kCmdGetChecksum = 0x26;
inline constexpr uint8_t kCmdEraseFlash = 0x27;
inline constexpr uint8_t kCmdDspPrepare = 0x28;
inline constexpr uint8_t kCmdDspErase = 0x29;
inline constexpr uint8_t kCmdDspWriteData = 0x2A;
inline constexpr uint8_t kCmdDspGetChecksum = 0x2C;
inline constexpr uint8_t kCmdBootTarget = 0x2E;
inline constexpr uint8_t kCmdDeleteCmosRam = 0x2F;
inline constexpr uint8_t kCmdEndTransferProgram = 0x49;
inline constexpr uint8_t kAnswerEndTransferProgram = 0x48;
inline constexpr uint8_t kPositiveAnswerBit = 0x80;

// Numbers on the programming link are little-endian.
inline void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The answer code that confirms a command: the command code with the top bit set.
inline uint8_t positiveAnswer(uint8_t command) {
  return static_cast<uint8_t>(command | kPositiveAnswerBit);
}

inline constexpr uint8_t kConfirmPowerOn = 'D';
inline constexpr uint8_t kConfirmPowerOff = 'F';
inline constexpr uint8_t kProgramFailedMark = 'C';
inline constexpr uint8_t kEraseFailedMark = 'A';

inline constexpr uint32_t kLoaderImageSize = 512;
// The bytes the host writes to download the bootstrap loader (its length byte, the image and
// the go byte), and a file of `bytes` with downloadFile (its length, two addresses, the file
// and the checksum): what a target's preparation moves.
inline constexpr uint32_t kLoaderDownloadBytes = 1 + kLoaderImageSize + 1;
constexpr uint64_t fileDownloadBytes(uint64_t bytes) {
  return 3 * 4 + bytes + 2;
}
inline constexpr uint32_t kFileDownloadPiece = 256;
inline constexpr uint32_t kProgramChunkSize = 240;
inline constexpr uint32_t kUploadChunkSize = 240;
inline constexpr int kProgramChunkAttempts = 4;
inline constexpr uint32_t kChecksumReadTimeoutMs = 400;
inline constexpr uint32_t kEraseReadTimeoutMs = 200;
inline constexpr uint32_t kSlowCommandPollMs = 500;
inline constexpr int kSlowCommandPolls = 100;

// The error mapping of an error answer's second byte: F0..F4 -> 2305..2308, F5 -> 2308
// for program data only, anything else -> 2309.
int32_t mapErrorAnswer(uint8_t errorByte, bool programData = false);
// Judges an answer's code: 0 when it is positivCode, the error mapping for 0x20 xx, else
// 2309. length is the number of data bytes received (a 0x20 without its second byte is an
// unexpected answer).
int32_t judgeAnswer(const uint8_t* answer, uint32_t length, uint8_t positiveCode,
                    bool programData = false);

// Prepares the loader image as it goes on the line: file holds the n bytes read (at most
// 512). On success lengthByte and image[0..imageSize) are what is sent. 0 or
// kResultLoaderTooShort (TMS320C30 loader under 8 bytes).
int32_t prepareBootstrapLoader(const uint8_t* file, uint32_t n, uint8_t processor, uint32_t baud,
                               uint8_t& lengthByte, uint8_t (&image)[kLoaderImageSize],
                               uint32_t& imageSize);

int32_t downloadBootstrapLoader(const char* fileName, uint8_t processor, uint32_t baud,
                                CComm& port);
int32_t downloadFile(uint32_t firstAddress, uint32_t secondAddress, const char* fileName,
                     CComm& port);

int32_t getEpromType(uint32_t bankStart, uint8_t architecture, uint8_t chipType,
                     uint8_t (&manufacturerCodes)[4], uint8_t (&deviceCodes)[4], CComm& port);
int32_t programmingPowerOn(CComm& port);
int32_t programmingPowerOff(CComm& port);
int32_t bootTarget(CComm& port);
int32_t deleteCmosRam(CComm& port);
int32_t endTransferProgram(CComm& port);

int32_t uploadToFile(uint32_t start, uint32_t length, uint8_t architecture, uint8_t processor,
                     const char* fileName, CComm& port);
// The same into memory: contents holds exactly the length bytes read from start on (counted
// in target addresses, 4 bytes each for the TMS320C30); nothing usable on failure.
int32_t uploadToMemory(uint32_t start, uint32_t length, uint8_t architecture, uint8_t processor,
                       std::string& contents, CComm& port);
// failAddress is 0 unless the target reports a failure (kResultProgramFailedAt); hostSum
// is the 32-bit sum of all file bytes.
int32_t programFile(const char* fileName, uint32_t address, uint8_t architecture, uint8_t processor,
                    uint8_t chipType, uint32_t& failAddress, uint32_t& hostSum, CComm& port);
int32_t getTargetChecksum(uint8_t architecture, uint32_t address, uint32_t length,
                          uint32_t& checksum, CComm& port);
// failAddress is 0 unless the target reports a failure (kResultEraseFailedAt).
int32_t eraseFlash(uint8_t architecture, uint8_t chipType, uint32_t start, uint32_t length,
                   uint32_t& failAddress, CComm& port);
