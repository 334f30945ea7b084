// A simulated instrument behind a COM number, driven through CComm on the virtual clock,
// with hand-built byte sequences: text lines, the raw downloads of update mode and packets
// whose answers the test echoes byte by byte itself.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "serial/comm.h"
#include "sim/instrument.h"

namespace sim_testing {

using Bytes = std::vector<uint8_t>;

inline constexpr int kPort = 14;
inline constexpr int kParityNone = 0;
inline constexpr int kParityOdd = 1;
inline constexpr int kParityEven = 2;

// A request packet: length, data, 16-bit sum of length and data.
Bytes requestPacket(const Bytes& data);
// A loader in the 80x86 form: 0xFF, then 512 bytes with the divisor at 510 and the sum at 511.
Bytes loaderDownload(uint32_t baud, Bytes image = Bytes(100, 0x5A));
// A transfer program download: length, two addresses, the program, the 16-bit sum.
Bytes transferDownload(const Bytes& program, uint32_t loadAddress = 0x100,
                       uint32_t startAddress = 0x100, int sumError = 0);
void putLe32(Bytes& bytes, uint32_t value);
uint32_t le32(const Bytes& bytes, size_t at);

class SimTest : public ::testing::Test {
 protected:
  SimTest();
  ~SimTest() override;

  // Puts the instrument of this port name behind the test's COM number.
  std::shared_ptr<sim::Instrument> attach(const std::string& portName);
  // (Re)opens the port; handshake 0.
  bool openAt(int baud, int dataBits = 8, int parity = kParityNone, int stopBits = 0);
  // Writes a text command and reads one answer line (empty when none came).
  std::string query(const std::string& text, int readTimeoutMs = 500);
  bool send(const std::string& text);
  bool send(const Bytes& bytes);
  // Reads bytes without echo; fewer when the read times out.
  Bytes readRaw(uint32_t count, int readTimeoutMs = 1000);
  bool modemLines(int& cts, int& dsr);

  // Normal mode → SENSE:SWUP → loader → "S" → transfer program, ending with the packet
  // protocol at `baud`. False (with a test failure) when a step did not go as expected.
  bool enterTransferProgram(uint32_t baud = 115200);
  // Receives one answer packet, echoing every byte as it arrives; false on a time-out or a
  // wrong sum. `echoFilter` may change the echo of byte i (tests of echo errors).
  bool receivePacket(Bytes& data, int (*echoFilter)(size_t index, uint8_t byte) = nullptr);
  // Sends a request, expects the acknowledgement 20 00 and returns the answer's data
  // (empty when something went wrong).
  Bytes exchange(const Bytes& request);

  uint64_t nowMs() { return clock.nowMicros() / 1000; }

  platform::VirtualClock clock;
  platform::ScopedClock scopedClock{clock};
  CComm comm;
  std::string name;
};

}  // namespace sim_testing
