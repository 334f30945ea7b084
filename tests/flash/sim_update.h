// A simulated instrument in update mode on a COM number, with the files of an update in a
// temporary current directory, on the virtual clock: the stage for whole update runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "serial/comm.h"
#include "sim/registry.h"
#include "tests/support/temp_dir.h"

namespace flash_test {

inline constexpr int kSimPort = 13;
// Sizes of the files of a memory-extension update.
inline constexpr uint32_t kLoaderBytes = 200;
inline constexpr uint32_t kTransferBytes = 0x1800;
inline constexpr uint32_t kImageBytes = 0xA0000;
inline constexpr uint32_t kDspImageBytes = 0x40000;

// Deterministic contents: a pattern from a seed.
std::string patternBytes(size_t size, uint32_t seed);

class SimUpdate {
 public:
  // options: the simulator's options after "sim:" (hw, faults, seed, ...).
  explicit SimUpdate(const std::string& options, bool enterUpdateMode = true);
  ~SimUpdate();

  // Loader, transfer program, the memory-extension image NO_ATSC.bin and ATSC.BIN.
  void writeUpdateFiles();
  // ROMWRITE.CNF as the automatic workflow writes it for this hardware word.
  void writeAutomaticJob(uint32_t hwInfo, bool optionUpdate);
  // Switches the instrument into update mode by its text command, as the session does.
  void switchToUpdateMode();
  uint32_t nowMs() { return static_cast<uint32_t>(clock.nowMicros() / 1000); }

  platform::VirtualClock clock;
  testing_support::TempDir dir;
  std::string portName;
  std::shared_ptr<sim::Instrument> instrument;
  CComm port;

 private:
  platform::ScopedClock m_scopedClock{clock};
};

std::vector<uint8_t> fileBytes(const std::string& path);

}  // namespace flash_test
