// The Windows communications calls on one serial port, behind an interface with portable
// types: the Win32 backend's logic is plain C++ that builds and is tested on every system
// against a scripted implementation, and only comm_api_windows.cpp (built for Windows)
// includes <windows.h>.
//
// The structures mirror the fields of DCB, COMMTIMEOUTS and COMSTAT that the backend uses,
// with the same names and values; error codes are GetLastError() values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace serial {

// GetLastError() codes the backend tells apart.
namespace comm_error {
constexpr uint32_t kFileNotFound = 2;        // ERROR_FILE_NOT_FOUND: no such port
constexpr uint32_t kPathNotFound = 3;        // ERROR_PATH_NOT_FOUND
constexpr uint32_t kAccessDenied = 5;        // ERROR_ACCESS_DENIED: taken, or no rights
constexpr uint32_t kInvalidHandle = 6;       // ERROR_INVALID_HANDLE
constexpr uint32_t kBadCommand = 22;         // ERROR_BAD_COMMAND: adapter pulled
constexpr uint32_t kGenFailure = 31;         // ERROR_GEN_FAILURE: device not functioning
constexpr uint32_t kSharingViolation = 32;   // ERROR_SHARING_VIOLATION: taken
constexpr uint32_t kOperationAborted = 995;  // ERROR_OPERATION_ABORTED: line error, fAbortOnError
constexpr uint32_t kDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
constexpr uint32_t kDeviceRemoved = 1617;       // ERROR_DEVICE_REMOVED
}  // namespace comm_error

// DCB values.
constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4;
constexpr uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;
constexpr uint8_t kDtrControlDisable = 0, kDtrControlEnable = 1, kDtrControlHandshake = 2;
constexpr uint8_t kRtsControlDisable = 0, kRtsControlEnable = 1, kRtsControlHandshake = 2,
                  kRtsControlToggle = 3;
// PurgeComm flags.
constexpr uint32_t kPurgeTxAbort = 0x1, kPurgeRxAbort = 0x2, kPurgeTxClear = 0x4,
                   kPurgeRxClear = 0x8;
// EscapeCommFunction functions.
constexpr uint32_t kSetRts = 3, kClrRts = 4, kSetDtr = 5, kClrDtr = 6;
// GetCommModemStatus bits.
constexpr uint32_t kMsCtsOn = 0x10, kMsDsrOn = 0x20;
// COMMTIMEOUTS: MAXDWORD.
constexpr uint32_t kMaxDword = 0xFFFFFFFF;

// The DCB fields the backend reads and writes. setCommState changes only these fields of
// the driver's settings: every other field keeps the value the driver had.
struct CommDcb {
  uint32_t BaudRate = 0;
  bool fBinary = true;
  bool fParity = false;
  bool fOutxCtsFlow = false;
  bool fOutxDsrFlow = false;
  uint8_t fDtrControl = kDtrControlEnable;
  uint8_t fRtsControl = kRtsControlEnable;
  bool fOutX = false;
  bool fInX = false;
  bool fAbortOnError = false;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = kNoParity;
  uint8_t StopBits = kOneStopBit;
  uint8_t XonChar = 0x11;
  uint8_t XoffChar = 0x13;
};

struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

struct CommStat {
  bool fCtsHold = false;
  bool fDsrHold = false;
  bool fXoffHold = false;
  uint32_t cbInQue = 0;
  uint32_t cbOutQue = 0;
};

// One port. Each call returns the call's success flag; lastError() is GetLastError() right
// after the failed call.
class CommApi {
 public:
  enum class Access { None, ReadWrite };

  virtual ~CommApi() = default;

  // CreateFile(path, access, no sharing, OPEN_EXISTING, normal attributes, synchronous).
  // One handle at a time: a successful open replaces nothing (the caller closes first).
  virtual bool createFile(const std::string& path, Access access) = 0;
  virtual void closeHandle() = 0;
  virtual uint32_t lastError() = 0;

  virtual bool setupComm(uint32_t inQueue, uint32_t outQueue) = 0;
  virtual bool setCommMask(uint32_t mask) = 0;
  virtual bool setCommTimeouts(const CommTimeouts& timeouts) = 0;
  virtual bool purgeComm(uint32_t flags) = 0;
  virtual bool getCommState(CommDcb& dcb) = 0;
  virtual bool setCommState(const CommDcb& dcb) = 0;
  virtual bool readFile(uint8_t* data, uint32_t size, uint32_t& read) = 0;
  virtual bool writeFile(const uint8_t* data, uint32_t size, uint32_t& written) = 0;
  virtual bool flushFileBuffers() = 0;
  // Clears a pending line error (errors: CE_* bits) and reports the port's status.
  virtual bool clearCommError(uint32_t& errors, CommStat& stat) = 0;
  virtual bool getCommModemStatus(uint32_t& status) = 0;
  virtual bool escapeCommFunction(uint32_t function) = 0;

  // GetTickCount64 and Sleep: real time, for the backend's bounded waits.
  virtual uint64_t tickMs() = 0;
  virtual void sleepMs(uint32_t ms) = 0;
};

// The real calls (Windows builds only).
std::unique_ptr<CommApi> createWindowsCommApi();

}  // namespace serial
