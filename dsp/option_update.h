// The option update: programs the DSP option module through the transfer program and
// restarts the instrument. With prepare non-zero the job is read and checked and the
// target brought up first (ready signal, loader, transfer program); otherwise the link and
// transfer program left by a processor update without boot are used as they are.
#pragma once

#include <cstdint>

#include "serial/comm.h"

inline constexpr int32_t kOptionLinkTimeoutMs = 10000;

// 0, or the first failing step's code; a failed DSP programming returns its result (1 or
// 2) after the target has been asked to boot.
int32_t updateOption(const char* configFileName, CComm& port, int32_t optionKind, int32_t prepare);
