// A consistent set of update files for the simulated instrument (the demo, tests and
// rehearsals): bootstrap loader, transfer program, the firmware images of every board
// variant and the three DSP images.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// The firmware release that the sample images stand for: what an instrument reports once it
// has booted them.
inline constexpr const char* kSampleFirmwareVersion = "04.50";

struct SampleFile {
  const char* name;
  uint32_t size;
};

// The files and their sizes. Images for a board with memory extension (QAM_B1.bin,
// NO_ATSC.bin, NO_DVBT.bin) are 0xA0000 bytes, the erase area of that bank; the images
// for a board without it fit its bank of 0x80000 bytes; DSP images are whole words.
inline constexpr SampleFile kSampleFiles[] = {
    {"ROMWRITE.URL", 384},     {"ROMWRITE.TRA", 6144},   {"NO_MPEG.bin", 0x70000},
    {"NO_NICAM.bin", 0x70000}, {"NO_NICA.bin", 0x70000}, {"NO_ATSC.bin", 0xA0000},
    {"NO_DVBT.bin", 0xA0000},  {"QAM_B1.bin", 0xA0000},  {"QAM.BIN", 0x6000},
    {"ATSC.BIN", 0x5000},      {"OFDM.BIN", 0x7000},
};

// Writes the set into an existing folder, replacing files of the same names (whatever
// their case). Returns 0 when every file was written, 1 when one could not be (the files
// before it stay written).
int writeSampleUpdateFiles(const std::string& folder);

}  // namespace sim
