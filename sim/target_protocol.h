// The transfer program's packet commands as the simulated target speaks them: command and
// answer codes, and the little-endian words of requests and answers. Shared by the target's
// files (sim/instrument_target.cpp, sim/instrument_flash.cpp, sim/instrument_dsp.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// Commands and answers of the transfer program.
inline constexpr uint8_t kAnswerError = 0x20;
inline constexpr uint8_t kAcknowledge = 0x00;
inline constexpr uint8_t kAnswerOffset = 0x80;
inline constexpr uint8_t kCmdEpromType = 0x21;
inline constexpr uint8_t kCmdPowerOn = 0x22;
inline constexpr uint8_t kCmdPowerOff = 0x23;
inline constexpr uint8_t kCmdUpload = 0x24;
inline constexpr uint8_t kCmdProgram = 0x25;
inline constexpr uint8_t kCmdChecksum = 0x26;
inline constexpr uint8_t kCmdErase = 0x27;
inline constexpr uint8_t kCmdDspPrepare = 0x28;
inline constexpr uint8_t kCmdDspErase = 0x29;
inline constexpr uint8_t kCmdDspWrite = 0x2A;
inline constexpr uint8_t kCmdDspChecksum = 0x2C;
inline constexpr uint8_t kCmdBoot = 0x2E;
inline constexpr uint8_t kCmdDeleteCmosRam = 0x2F;
inline constexpr uint8_t kCmdEndTransfer = 0x49;
inline constexpr uint8_t kAnswerEndTransfer = 0x48;

inline uint32_t le32(const std::vector<uint8_t>& data, size_t at) {
  return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
         static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

inline void putLe32(std::vector<uint8_t>& data, uint32_t value) {
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace sim
