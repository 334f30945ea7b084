// The Windows communications calls behind CommApi (built for Windows only).
#include <windows.h>

#include "serial/win32/comm_api.h"

namespace serial {
namespace {

class WindowsCommApi : public CommApi {
 public:
  ~WindowsCommApi() override { closeHandle(); }

  bool createFile(const std::string& path, Access access) override {
    const DWORD rights = access == Access::ReadWrite ? GENERIC_READ | GENERIC_WRITE : 0;
    // No sharing: the port is this program's alone while it is open. Synchronous calls.
    HANDLE handle = ::CreateFileA(path.c_str(), rights, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failed();
    closeHandle();
    m_handle = handle;
    return true;
  }

  void closeHandle() override {
    if (m_handle == INVALID_HANDLE_VALUE) return;
    ::CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
  }

  uint32_t lastError() override { return m_lastError; }

  bool setupComm(uint32_t inQueue, uint32_t outQueue) override {
    return ::SetupComm(m_handle, inQueue, outQueue) || failed();
  }

  bool setCommMask(uint32_t mask) override { return ::SetCommMask(m_handle, mask) || failed(); }

  bool setCommTimeouts(const CommTimeouts& timeouts) override {
    COMMTIMEOUTS real{};
    real.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    real.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    real.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    real.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    real.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(m_handle, &real) || failed();
  }

  bool purgeComm(uint32_t flags) override { return ::PurgeComm(m_handle, flags) || failed(); }

  bool getCommState(CommDcb& dcb) override {
    DCB real{};
    real.DCBlength = sizeof real;
    if (!::GetCommState(m_handle, &real)) return failed();
    dcb.BaudRate = real.BaudRate;
    dcb.fBinary = real.fBinary;
    dcb.fParity = real.fParity;
    dcb.fOutxCtsFlow = real.fOutxCtsFlow;
    dcb.fOutxDsrFlow = real.fOutxDsrFlow;
    dcb.fDtrControl = static_cast<uint8_t>(real.fDtrControl);
    dcb.fRtsControl = static_cast<uint8_t>(real.fRtsControl);
    dcb.fOutX = real.fOutX;
    dcb.fInX = real.fInX;
    dcb.fAbortOnError = real.fAbortOnError;
    dcb.XonLim = real.XonLim;
    dcb.XoffLim = real.XoffLim;
    dcb.ByteSize = real.ByteSize;
    dcb.Parity = real.Parity;
    dcb.StopBits = real.StopBits;
    dcb.XonChar = static_cast<uint8_t>(real.XonChar);
    dcb.XoffChar = static_cast<uint8_t>(real.XoffChar);
    return true;
  }

  bool setCommState(const CommDcb& dcb) override {
    // The driver's current DCB with the backend's fields changed: every other field (error
    // and end-of-file characters, DSR sensitivity, ...) stays as the driver has it.
    DCB real{};
    real.DCBlength = sizeof real;
    if (!::GetCommState(m_handle, &real)) return failed();
    real.BaudRate = dcb.BaudRate;
    real.fBinary = dcb.fBinary;
    real.fParity = dcb.fParity;
    real.fOutxCtsFlow = dcb.fOutxCtsFlow;
    real.fOutxDsrFlow = dcb.fOutxDsrFlow;
    real.fDtrControl = dcb.fDtrControl;
    real.fRtsControl = dcb.fRtsControl;
    real.fOutX = dcb.fOutX;
    real.fInX = dcb.fInX;
    real.fAbortOnError = dcb.fAbortOnError;
    real.XonLim = dcb.XonLim;
    real.XoffLim = dcb.XoffLim;
    real.ByteSize = dcb.ByteSize;
    real.Parity = dcb.Parity;
    real.StopBits = dcb.StopBits;
    real.XonChar = static_cast<char>(dcb.XonChar);
    real.XoffChar = static_cast<char>(dcb.XoffChar);
    return ::SetCommState(m_handle, &real) || failed();
  }

  bool readFile(uint8_t* data, uint32_t size, uint32_t& read) override {
    DWORD got = 0;
    const bool ok = ::ReadFile(m_handle, data, size, &got, nullptr);
    read = got;
    return ok || failed();
  }

  bool writeFile(const uint8_t* data, uint32_t size, uint32_t& written) override {
    DWORD sent = 0;
    const bool ok = ::WriteFile(m_handle, data, size, &sent, nullptr);
    written = sent;
    return ok || failed();
  }

  bool flushFileBuffers() override { return ::FlushFileBuffers(m_handle) || failed(); }

  bool clearCommError(uint32_t& errors, CommStat& stat) override {
    DWORD flags = 0;
    COMSTAT real{};
    if (!::ClearCommError(m_handle, &flags, &real)) return failed();
    errors = flags;
    stat.fCtsHold = real.fCtsHold;
    stat.fDsrHold = real.fDsrHold;
    stat.fXoffHold = real.fXoffHold;
    stat.cbInQue = real.cbInQue;
    stat.cbOutQue = real.cbOutQue;
    return true;
  }

  bool getCommModemStatus(uint32_t& status) override {
    DWORD lines = 0;
    if (!::GetCommModemStatus(m_handle, &lines)) return failed();
    status = lines;
    return true;
  }

  bool escapeCommFunction(uint32_t function) override {
    return ::EscapeCommFunction(m_handle, function) || failed();
  }

  uint64_t tickMs() override { return ::GetTickCount64(); }
  void sleepMs(uint32_t ms) override { ::Sleep(ms); }

 private:
  // Keeps the error code of the call that just failed; always false.
  bool failed() {
    m_lastError = ::GetLastError();
    return false;
  }

  HANDLE m_handle = INVALID_HANDLE_VALUE;
  uint32_t m_lastError = 0;
};

}  // namespace

std::unique_ptr<CommApi> createWindowsCommApi() {
  return std::make_unique<WindowsCommApi>();
}

}  // namespace serial
