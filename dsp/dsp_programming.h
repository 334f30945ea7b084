// DSP option programming: erases, writes and verifies the flash of the fitted DSP option
// module through the four DSP commands that the transfer program relays, in up to four
// attempts. The image is a sequence of 32-bit little-endian words.
#pragma once

#include <cstdint>

#include "dsp/option_kinds.h"
#include "serial/comm.h"

inline constexpr uint32_t kDspWordsPerPacket = 60;
inline constexpr uint32_t kDspDataAreaSize = kDspWordsPerPacket * 4;  // 240 bytes
inline constexpr int32_t kDspAttempts = 4;
inline constexpr uint32_t kDspEraseWaitMs = 5000;

// The bytes the host writes while one attempt programs an image of `imageBytes`: each
// request with its frame, and its echo of every byte the module answers. The full scale of
// the option update's transfer bar.
uint64_t dspProgrammingHostBytes(uint64_t imageBytes);

// 0 success; kResultDspFailed (no image chosen, not readable, four failed attempts, cancel
// between attempts); kResultDspChecksumMismatch.
int32_t programDspOption(CComm& port, int32_t optionKind);

// The four DSP commands; each returns a link code, the error mapping, or the status word of
// the answer (0 = success).
int32_t dspPrepare(CComm& port);
int32_t dspErase(uint32_t wordCount, CComm& port);
// count 1 to 60 words; the packet always carries a 240-byte data area.
int32_t dspWriteData(const uint32_t* words, uint32_t count, CComm& port);
int32_t dspGetChecksum(uint32_t& checksum, CComm& port);
