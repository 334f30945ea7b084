#include "flash/processor_update.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "flash/config/config_check.h"
#include "flash/config/config_reader.h"
#include "flash/config/programming_job.h"
#include "flash/programming_link.h"
#include "flash/read_back.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "platform/clock.h"
#include "run/run_state.h"

namespace {

constexpr uint32_t kWaitStepMs = 500;

int32_t g_firstFailureCode = 0;

// Formats a status line with one printf-style argument; lines are short, longer ones are
// cut at the buffer's end.
template <typename... Args>
std::string formatLine(const char* format, Args... args) {
  char line[256];
  std::snprintf(line, sizeof line, format, args...);
  return line;
}

// A failing step without a line of its own: append its error line, hand the code up.
int32_t stopWith(const std::string& line, int32_t code) {
  addStatusLine(line);
  noteFailureCode(code);
  return code;
}

// A failing step with a line of its own: mark that line with the code, hand the code up.
int32_t stepFails(int32_t code) {
  setStepStatus(0, code);
  return code;
}

}  // namespace

void noteFailureCode(int32_t code) {
  if (g_firstFailureCode == 0) g_firstFailureCode = code;
}

int32_t firstFailureCode() {
  return g_firstFailureCode;
}

void clearFailureCode() {
  g_firstFailureCode = 0;
}

void setStepStatus(int32_t ok, int32_t code) {
  if (ok != 1) noteFailureCode(code);
  const int last = statusLineCount() - 1;
  const std::string line = statusLineText(last);
  deleteStatusLine(last);
  addStatusLine(stepStatusLine(line, ok, code));
}

std::string stepStatusLine(const std::string& line, int32_t ok, int32_t code) {
  if (ok == 1) return "OK    " + line;
  if (code == 0) return "ERROR " + line;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%lX", static_cast<unsigned long>(static_cast<uint32_t>(code)));
  return "ERROR " + line + " (" + hex + ")";
}

int32_t waitWithMessages(uint32_t milliseconds) {
  for (uint32_t round = 0; round < milliseconds / kWaitStepMs; ++round) {
    platform::sleepMs(kWaitStepMs);
    if (pumpMessages() != 0) return kResultCancelled;
  }
  return kResultOk;
}

int32_t waitForTargetReady(CComm& port) {
  for (int32_t test = 0; test < kReadyTests; ++test) {
    if (isTargetReady(port) == kResultOk) return kResultOk;
    platform::sleepMs(kReadyPollMs);
    if (pumpMessages() != 0) return kResultCancelled;
  }
  return kResultTargetNotReady;
}

int32_t loadUpdateJob(const char* configFileName, std::string& message) {
  ProgrammingJob& job = programmingJob;
  // The job: read and completed by the check, which also finds every host file.
  int32_t result = readProgrammingConfig(job, configFileName);
  if (result != 0) {
    message = "ERROR - check ROMWRITE.CNF:  update aborted";
    return stopWith(message, result);
  }
  result = checkProgrammingJob(job, message);
  if (result != 0) {
    addStatusLine("ERROR - check GENERAL:  update aborted");
    addStatusLine(message);
    noteFailureCode(result);
  }
  return result;
}

int32_t prepareUpdateTarget(const char* configFileName, CComm& port, int32_t readTimeoutMs) {
  ProgrammingJob& job = programmingJob;
  std::string message;
  int32_t result = loadUpdateJob(configFileName, message);
  if (result != 0) return result;

  // The target's boot ROM listens at 19200 bits/s, even parity.
  port.m_parity = kLinkParityEven;
  port.m_handshake = kLinkHandshakeNone;
  result = openProgrammingLink(kLinkStartBaud, readTimeoutMs, port);
  if (result != 0) return stopWith("ERROR - init RS232 from update PC: update aborted", result);

  addStatusLine(formatLine("Check %s in update mode", deviceName));
  result = waitForTargetReady(port);
  if (result != 0) return stepFails(result);
  setStepStatus(1, 0);

  // Loader, then the transfer program at the speed the loader has switched the target to.
  if (std::strcmp(job.bootstrapLoaderFile, kNoFile) != 0) {
    addStatusLine("Download bootloader");
    result = downloadBootstrapLoader(job.bootstrapLoaderFile, job.processor, job.baud, port);
    if (result != 0) return stepFails(result);
    setStepStatus(1, 0);
  } else {
    addStatusLine("No download of bootloader");
  }
  if (std::strcmp(job.transferFile, kNoFile) != 0) {
    addStatusLine("Download transfer program");
    port.m_parity = kLinkParityEven;
    port.m_handshake = kLinkHandshakeNone;
    // A port that fails to reopen makes the download itself fail.
    openProgrammingLink(static_cast<int32_t>(job.baud), readTimeoutMs, port);
    result =
        downloadFile(job.transferLoadAddress, job.transferStartAddress, job.transferFile, port);
    if (result != 0) return stepFails(result);
    setStepStatus(1, 0);
  } else {
    addStatusLine("No download of transfer program");
  }

  return kResultOk;
}

namespace {

// Areas to keep are saved before anything is erased.
int32_t uploadKeptAreas(const ProgrammingJob& job, CComm& port) {
  for (int i = 0; i < job.uploadCount; ++i) {
    const UploadArea& upload = job.uploads[i];
    const int32_t result = uploadToFile(upload.start, upload.length, job.architecture,
                                        job.processor, upload.fileName, port);
    if (result != 0) return stopWith("ERROR - upload: update aborted", result);
  }
  return kResultOk;
}

// Each bank's chip must be the one the job names, with the programming voltage on.
int32_t checkEpromTypes(const ProgrammingJob& job, CComm& port) {
  std::string message;
  for (int i = 0; i < job.bankCount; ++i) {
    const MemoryBank& bank = job.banks[i];
    uint8_t manufacturer[4] = {};
    uint8_t device[4] = {};
    int32_t result =
        getEpromType(bank.start, job.architecture, bank.chipType, manufacturer, device, port);
    if (result != 0) {
      addStatusLine(formatLine("Get manufactuer returnwert %d!!!", result));
      return stopWith("ERROR - get EPROM type, update aborted", result);
    }
    result = checkFlashIdentity(job, i, manufacturer, device, message);
    if (result != 0)
      return stopWith("ERROR - check EPROM, maybe too less memory, update aborted", result);
  }
  return kResultOk;
}

int32_t deleteFlash(const ProgrammingJob& job, CComm& port) {
  for (int i = 0; i < job.eraseCount; ++i) {
    const EraseArea& area = job.eraseAreas[i];
    addStatusLine("Delete flash");
    uint32_t failAddress = 0;
    const int32_t result =
        eraseFlash(job.architecture, area.bankChipType, area.start, area.length, failAddress, port);
    if (result != 0) return stepFails(result);
    setStepStatus(1, 0);
  }
  return kResultOk;
}

// Identification and erasing run with the programming voltage on.
int32_t identifyAndDeleteFlash(const ProgrammingJob& job, CComm& port) {
  const bool flashWork = job.bankCount + job.eraseCount > 0;
  int32_t result = kResultOk;
  if (flashWork) {
    result = programmingPowerOn(port);
    if (result != 0) return stopWith("ERROR - EPROM: programming power on, update aborted", result);
  }
  result = checkEpromTypes(job, port);
  if (result == kResultOk) result = deleteFlash(job, port);
  if (result != kResultOk) return result;
  if (flashWork) {
    result = programmingPowerOff(port);
    if (result != 0) return stopWith("ERROR - programming power off: update aborted", result);
  }
  return kResultOk;
}

// The image with the voltage switched on around it; the host's checksum of what it sent.
int32_t downloadProcessorFirmware(const ProgrammingJob& job, const ProgramFile& program,
                                  uint32_t& hostSum, CComm& port) {
  int32_t result = programmingPowerOn(port);
  if (result != 0) return stopWith("ERROR - programming power on: update aborted", result);
  addStatusLine("Download processor firmware");
  uint32_t failAddress = 0;
  result = programFile(program.fileName, program.address, job.architecture, job.processor,
                       program.bankChipType, failAddress, hostSum, port);
  if (result != 0) return stepFails(result);
  setStepStatus(1, 0);
  result = programmingPowerOff(port);
  if (result != 0) return stopWith("ERROR - programming power off: update aborted", result);
  return kResultOk;
}

int32_t getChecksumFromTarget(const ProgrammingJob& job, const ProgramFile& program,
                              uint32_t hostSum, CComm& port) {
  addStatusLine("Get checksum from target");
  uint32_t targetSum = 0;
  const int32_t result =
      getTargetChecksum(job.architecture, program.address, program.length, targetSum, port);
  if (result != 0) return stepFails(result);
  setStepStatus(1, 0);
  if (targetSum != hostSum)
    return stopWith("ERROR - test checksum: update aborted", kResultChecksumMismatch);
  return kResultOk;
}

// Two errors that cancel out in the sum are found only byte for byte.
int32_t readBackProcessorFirmware(const ProgrammingJob& job, const ProgramFile& program,
                                  ReadBackReport& report, CComm& port) {
  addStatusLine("Read back processor firmware");
  const size_t before = report.differences.size();
  const int32_t result =
      readBackImage(job, program, port, report.differences, report.differingBytes);
  if (result != 0) return stepFails(result);
  if (report.differences.size() > before) {
    setStepStatus(0, kResultReadBackDiffers);
    return stopWith(formatLine("ERROR - read back differs at %lX: update aborted",
                               static_cast<unsigned long>(report.differences[before])),
                    kResultReadBackDiffers);
  }
  setStepStatus(1, 0);
  return kResultOk;
}

// Each image programmed, its checksum compared and, when asked, read back.
int32_t programImages(const ProgrammingJob& job, bool verify, ReadBackReport& report, CComm& port) {
  for (int i = 0; i < job.programCount; ++i) {
    const ProgramFile& program = job.programs[i];
    uint32_t hostSum = 0;
    int32_t result = downloadProcessorFirmware(job, program, hostSum, port);
    if (result == kResultOk) result = getChecksumFromTarget(job, program, hostSum, port);
    if (result == kResultOk && verify)
      result = readBackProcessorFirmware(job, program, report, port);
    if (result != kResultOk) return result;
  }
  report.verified = verify;
  return kResultOk;
}

// The transfer program ends, CMOS RAM is cleared and, when asked, the target boots.
int32_t completeUpdate(const ProgrammingJob& job, int32_t bootAtEnd, CComm& port) {
  int32_t result = kResultOk;
  if (job.bankCount + job.eraseCount > 0) {
    result = endTransferProgram(port);
    if (result != 0) return stopWith("ERROR - transfer programm end: update aborted", result);
  }
  addStatusLine("OK    Update processor firmware completed");

  result = deleteCmosRam(port);
  if (result != 0)
    return stopWith(formatLine("ERROR - CMOS-RAM of %s could not be deleted", deviceName), result);
  if (bootAtEnd == 0) return kResultOk;
  result = bootTarget(port);
  if (result != 0)
    return stopWith(formatLine("ERROR - %s could not be booted", deviceName), result);
  return kResultOk;
}

}  // namespace

int32_t updateProcessorFirmware(const char* configFileName, CComm& port, int32_t bootAtEnd,
                                const ProcessorUpdateExtras& extras, ReadBackReport* report) {
  int32_t result = prepareUpdateTarget(configFileName, port, kProcessorLinkTimeoutMs);
  if (result != kResultOk) return result;
  // The report is this try's: a second try that gets this far starts it again.
  ReadBackReport unused;
  ReadBackReport& found = report != nullptr ? *report : unused;
  found = ReadBackReport{};
  const ProgrammingJob& job = programmingJob;
  result = uploadKeptAreas(job, port);
  if (result != kResultOk) return result;
  // A backup is taken whole before anything is erased, or the update does not start.
  if (extras.beforeErase) {
    result = extras.beforeErase(port);
    if (result != kResultOk) return result;
  }
  addStatusLine("Update processor firmware");
  result = identifyAndDeleteFlash(job, port);
  if (result == kResultOk) result = programImages(job, extras.verify, found, port);
  if (result == kResultOk) result = completeUpdate(job, bootAtEnd, port);
  return result;
}
