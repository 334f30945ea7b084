// Feeds arbitrary target bytes to the programming link's packet receive and to the judges
// of the target and DSP commands, through a serial device that plays the input as what the
// target sends (then silence) on the virtual clock. The first byte picks the operation.
// fuzz-links: zel_dsp zel_flash zel_serial
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "dsp/dsp_programming.h"
#include "flash/programming_link.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "platform/clock.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/comm.h"
#include "serial/device_factory.h"
#include "serial/serial_device.h"

namespace {

constexpr int kFuzzPort = 15;

struct Input {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t next = 0;
};
Input g_input;

// The target: every read takes the next input byte; after the input, the line is silent.
class InputDevice : public serial::SerialDevice {
 public:
  bool isOpen() const override { return m_open; }

 protected:
  bool openImpl() override { return m_open = true; }
  void closeImpl() override { m_open = false; }
  bool setQueueSizesImpl(uint32_t, uint32_t) override { return true; }
  bool purgeImpl(bool, bool) override { return true; }
  bool getSettingsImpl(serial::LineSettings& settings) override {
    settings = m_settings;
    return true;
  }
  bool setSettingsImpl(const serial::LineSettings& settings) override {
    m_settings = settings;
    return true;
  }
  serial::ReadResult readByteImpl(uint8_t& byte) override {
    if (g_input.next >= g_input.size) {
      platform::clock().sleepMicros(100000);
      return serial::ReadResult::Empty;
    }
    byte = g_input.data[g_input.next++];
    return serial::ReadResult::Byte;
  }
  bool writeImpl(const uint8_t*, uint32_t size, uint32_t& written) override {
    written = size;
    return true;
  }
  bool drainImpl() override { return true; }
  bool outputHeldImpl(bool& held) override {
    held = false;
    return true;
  }
  bool modemStatusImpl(bool& cts, bool& dsr) override {
    cts = false;
    dsr = true;
    return true;
  }
  bool setRtsImpl() override { return true; }
  bool setDtrImpl() override { return true; }
  bool clearDtrImpl() override { return true; }

 private:
  bool m_open = false;
  serial::LineSettings m_settings{};
};

CComm& fuzzPort() {
  static CComm* port = [] {
    registerSerialDeviceFactory(
        "fuzz:", [](const std::string&) { return std::make_unique<InputDevice>(); },
        [](const std::string&) { return serial::ProbeResult::Free; });
    serial::setComPortDevice(kFuzzPort, "fuzz:");
    auto* comm = new CComm;
    comm->m_portNo = kFuzzPort;
    comm->m_parity = kLinkParityEven;
    comm->m_handshake = kLinkHandshakeNone;
    openProgrammingLink(115200, 200, *comm);
    return comm;
  }();
  return *port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  CComm& port = fuzzPort();
  port.m_readTimeout = 200;
  resetRunState();
  g_input = {data + 1, size - 1, 0};

  // Guard bytes behind the answer buffers' 255 usable bytes must stay as they are.
  std::memset(answerPacket, 0xA5, sizeof answerPacket);
  std::memset(extraAnswerPacket, 0xA5, sizeof extraAnswerPacket);

  uint8_t mfc[4];
  uint8_t dvc[4];
  uint32_t value = 0;
  uint32_t failAddress = 0;
  int32_t result = 0;
  switch (data[0] % 10) {
    case 0: {
      uint8_t buffer[kAnswerPacketSize];
      uint32_t length = 0;
      result = receivePacket(buffer, port, &length);
      if (length > kMaxPacketData) std::abort();
      break;
    }
    case 1: {
      const uint8_t request[1] = {kCmdProgrammingPowerOn};
      result = sendPacket(request, 1, port);
      break;
    }
    case 2:
      result = getEpromType(0, 2, 22, mfc, dvc, port);
      break;
    case 3:
      result = programmingPowerOn(port);
      break;
    case 4:
      result = endTransferProgram(port);
      break;
    case 5:
      result = eraseFlash(2, 22, 0, 0x20000, failAddress, port);
      if (result != kResultEraseFailedAt && failAddress != 0) std::abort();
      break;
    case 6:
      result = getTargetChecksum(2, 0, 0x1000, value, port);
      break;
    case 7:
      result = dspErase(10, port);
      break;
    case 8:
      result = dspGetChecksum(value, port);
      break;
    case 9: {
      const uint32_t words[3] = {1, 2, 3};
      result = dspWriteData(words, 3, port);
      break;
    }
  }
  (void)result;
  if (port.m_readTimeout != 200) std::abort();  // slow commands restore the time-out
  return 0;
}
