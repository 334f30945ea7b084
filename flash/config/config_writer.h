// Writing the programming configuration file "ROMWRITE.CNF" for the instrument at hand:
// one flash bank chosen by the memory extension and the one firmware image that suits the
// board and its options.
#pragma once

#include <cstdint>
#include <string>

// Results of the generators.
inline constexpr int kConfigWritten = 0;
inline constexpr int kConfigNotCreated = 1;  // ROMWRITE.CNF cannot be created; nothing written

inline constexpr const char* kConfigFileName = "ROMWRITE.CNF";
// The name the update sequences read the file back by (host names match in any case).
inline constexpr const char* kConfigReadName = "romwrite.cnf";

// Bits of the hardware information word that choose the file's contents.
inline constexpr uint32_t kHwOptionB1 = 0x20;
inline constexpr uint32_t kHwNicamImage = 0x40;
inline constexpr uint32_t kHwOptionB10 = 0x400;
inline constexpr uint32_t kHwOptionB20 = 0x1000;
inline constexpr uint32_t kHwMemoryExtension = 0x30000;  // either bit

// The configuration dialog's selections that the manual file depends on. A selection is
// made when its value is 1 (optionUpdate: when it is not 0).
struct ManualSelections {
  int memoryExtension = 1;
  int mpegMode = 0;
  int optionB1 = 0;
  int optionB20 = 0;
  int optionB10 = 0;
  int optionUpdate = 0;
};

// True when the named file in the current directory can be opened for reading.
bool fileExists(const std::string& name);

// The firmware image that each generator programs. The automatic choice between
// NO_DVBT.bin and NO_ATSC.bin on a board with memory extension looks for the files in the
// current directory.
const char* automaticImageName(uint32_t hwInfo);
const char* manualImageName(const ManualSelections& selections);

// Writes ROMWRITE.CNF in the current directory (replacing a file of that name in any case)
// for the hardware word the instrument reported, as the automatic update needs it.
// Returns kConfigWritten, or kConfigNotCreated when the file cannot be created or a write
// to it fails.
// path: another file to write instead (a dry run's temporary job); empty for ROMWRITE.CNF.
int writeAutomaticConfiguration(uint32_t hwInfo, bool optionUpdate, int portNumber,
                                const std::string& path = std::string());

// Writes ROMWRITE.CNF for the selections of the configuration dialog (manual update).
int writeManualConfiguration(int portNumber, const ManualSelections& selections);
