// The processor firmware update: one flash programming job from "romwrite.cnf" from start
// to end, each step reported in the program-wide status list (run/run_state.h). Also the
// step status line and the cancellable wait that the engine and its callers share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/comm.h"

inline constexpr int32_t kReadyTests = 7;
inline constexpr uint32_t kReadyPollMs = 500;
inline constexpr int32_t kProcessorLinkTimeoutMs = 5000;

// What a processor update does besides erasing and programming, as its caller asks for it.
struct ProcessorUpdateExtras {
  // Each image is read back after its checksum and compared byte for byte.
  bool verify = false;
  // Called once the transfer program runs, before the first erase; a non-zero code ends the
  // update before anything is erased (its status lines are the callee's).
  std::function<int32_t(CComm&)> beforeErase;
};

// What the read back of a processor update found.
struct ReadBackReport {
  bool verified = false;              // every image was read back and compared
  std::vector<uint32_t> differences;  // first differing target addresses, ascending
  uint64_t differingBytes = 0;
};

// Reads and checks the job, opens the link, waits for the target, downloads loader and
// transfer program, uploads, calls extras.beforeErase, identifies, erases, programs and
// verifies (read back when extras.verify, found into *report when given), ends the transfer
// program, clears CMOS RAM and, when bootAtEnd is non-zero, boots the target. 0 or the
// code of the first failing step.
int32_t updateProcessorFirmware(const char* configFileName, CComm& port, int32_t bootAtEnd,
                                const ProcessorUpdateExtras& extras = {},
                                ReadBackReport* report = nullptr);

// Rewrites the last status line as stepStatusLine marks it.
void setStepStatus(int32_t ok, int32_t code);
// A step's line with its outcome: ok -> "OK    " + line; else code 0 -> "ERROR " + line;
// else "ERROR <line> (<code in hex>)".
std::string stepStatusLine(const std::string& line, int32_t ok, int32_t code);

// The code of a run's first failing step, for its record. A failing step notes its code
// here; only the first non-zero code of a run is kept, so a retry that fails otherwise does
// not hide the cause. setStepStatus with a code and the engine's error lines note their
// codes themselves; a step whose line carries no code notes one of its own.
// clearFailureCode starts a run.
void noteFailureCode(int32_t code);
int32_t firstFailureCode();
void clearFailureCode();

// milliseconds / 500 rounds of a 500 ms pause and a message pump. 0, or kResultCancelled
// as soon as a cancel is reported.
int32_t waitWithMessages(uint32_t milliseconds);

// The first steps of an update, shared with the option update: reads and checks the job
// into programmingJob, opens the link at 19200 bits/s, waits for the ready signal and
// downloads loader and transfer program (the latter at the job's speed), each with its
// status line. 0 or the failing step's code.
int32_t prepareUpdateTarget(const char* configFileName, CComm& port, int32_t readTimeoutMs);

// Reads the job from the configuration file into programmingJob and checks it, as the first
// step of every update does. On failure adds the step's error lines and returns its code
// with the text that tells the user what is wrong (the check's message, or the error line
// when the file itself cannot be read).
int32_t loadUpdateJob(const char* configFileName, std::string& message);

// Waits for the target's update-mode signal: up to kReadyTests samples, 500 ms apart
// (also after the last failing one). 0 or kResultTargetNotReady.
int32_t waitForTargetReady(CComm& port);
