// The steps that the automatic update, the backup and the restore share, each with its
// status lines as the workflows have always written them: the identification, the job and
// its check before update mode, the switch into update mode, the reboot wait, and how a run
// stops (a refusal, a cancel) and says what to do next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/workflows/workflow_host.h"
#include "flash/config/config_writer.h"

// Finds the instrument, reads its settings and its identification (noted in the record).
// False after the failing step's lines (and its box when it was not found).
bool connectAndIdentify(RunContext& run);
// After a step whose port would not open: the line that names the cause the port's backend
// found, kept for the record; empty where it cannot tell. The caller adds the line.
std::string notePortFailure(RunContext& run);

// "Create configuration file": the job of an automatic update of the instrument with the
// hardware word hw, and its pre-flight check (for the option optionKind). Nothing to go on,
// or kAutomaticStopped.
std::optional<int> createAutomaticJob(RunContext& run, uint32_t hw, bool optionUpdate,
                                      int32_t optionKind);
// Before the instrument is switched into update mode: the job just written is read and
// checked as the processor update will, its images must fit the flash it erases when the
// processor firmware is updated, the backup's folder must take the areas, and the option
// image of the run must be a non-empty regular file. False after the failure's lines and
// its stop box.
bool preflightCheck(RunContext& run, bool processorUpdate, int32_t optionKind,
                    const char* configFile = kProgrammingConfigFile);
// The run stops before update mode: the reason kept for the record and shown in a stop box,
// the progress timer stopped, then the line of `after` added. Returns false.
bool refuse(RunContext& run, const std::string& reason, const StepsAfterLastBox& after = {});

// "Set %s in update mode". Nothing to go on, or kAutomaticStopped.
std::optional<int> setInUpdateMode(RunContext& run);
// The line at the instrument's power-on settings (9600 8N1, XON/XOFF) for its reboot.
void reopenAtBootSettings(CZel& session);
// The reboot that ends the transfer program: the line at the instrument's power-on settings,
// its answer awaited (710 without one, the cancel box on a cancel) and its version kept for
// the record. Nothing to go on, or the run's result.
std::optional<int> awaitReboot(RunContext& run);

// The run stops because the user cancelled it: timer stopped, the cancel box shown.
// Returns kAutomaticStopped.
int stopForCancel(RunContext& run);
// The next step after an update that ended with the instrument in update mode.
void sayNextStep(RunContext& run, int32_t code, int32_t earlierCode = 0);
// A question to the technician that a request to end answers No.
bool confirmed(RunContext& run, const std::string& question);

// The engine's read back and backup for the Run that starts (verifyChecked: the Verify box).
void prepareReadBack(RunContext& run, bool verifyChecked);
// The Run's verify, differences, backup and restore into its record.
void noteReadBack(RunContext& run);

// Bytes of a host file; 0 when it cannot be read.
uint32_t fileSizeOf(const std::string& name);
// The transfer bar's scale of a processor phase: the automatic update's from the hardware
// word, the manual one's from the selections; a read back and a backup move the processor
// flash's bytes once more each.
uint32_t automaticExpectedBytes(uint32_t hw, const RunContext& run);
uint32_t manualExpectedBytes(const UpdateSettings& settings, const RunContext& run);
// The option's phase: its DSP image and, when the target is `prepared` anew (after a boot),
// the loader and the transfer program of the job read for this run.
uint32_t optionPhaseBytes(int32_t optionKind, bool prepared);
// The option update is a phase of its own: the transfer bar starts again from 0 on the
// option's scale, the bytes so far counted into the record.
void beginOptionProgress(RunContext& run, bool prepared);
// Bytes that reading `bytes` of flash moves from the host: the echo of every byte the
// target sends, and the requests.
uint32_t readTrafficBytes(uint64_t bytes);
