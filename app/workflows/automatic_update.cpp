#include "app/workflows/automatic_update.h"

#include <cstdio>
#include <string>

#include "app/port_echo_delays.h"
#include "app/update_plan.h"
#include "app/workflows/run_steps.h"
#include "app/workflows/workflow_steps.h"
#include "flash/config/config_writer.h"
#include "flash/result_codes.h"
#include "platform/temp_files.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"

namespace {

// The oldest firmware that the automatic mode can update.
constexpr int32_t kMinAutomaticSwVersion = 308;
// Up to this version the instrument is booted between processor and option update.
constexpr int32_t kLastIntermediateBootVersion = 440;

// The backup's advice (%s: the device's name).
constexpr const char* kBackupBeforeUpdateFailedBox =
    "Backup before the update failed:\nthe flash is unchanged, nothing was erased.\nSwitch %s "
    "off and on, then retry.";

// Characters of the identification answer that hold the version ("04.40").
constexpr size_t kVersionTextLength = 5;

// An option that the hardware word lost, by its bit: the status line and the box.
struct LostOption {
  uint32_t bit;
  const char* line;
  const char* box;
};
constexpr LostOption kLostOptions[] = {
    {kHwOptionB1, "ERROR - B1 not detected",
     "Error - B1 not detected.\nProcessor Hardware update failed.\nPlease retry in Manual Mode."},
    {kHwOptionB10, "ERROR - B10 not detected",
     "Error - B10 not detected.\nProcessor Hardware update failed\nPlease retry in Manual Mode"},
    {kHwOptionB20, "ERROR - B20 not detected",
     "Error - B20 not detected.\nProcessor Hardware update failed.\nPlease retry in Manual Mode."},
};
constexpr const char* kLostUnknownOption =
    "ERROR - Bxx not detected.\nProcessor Hardware update failed.\nPlease retry in Manual Mode.";

// An empty file for the dry run's job: in the temporary folder (TMPDIR, else /tmp), else in
// the current folder. Its path, or empty with the reason in `why`.
std::string createTemporaryJobFile(std::string& why) {
  constexpr const char* kPrefix = "zelupdate-job-";
  std::string path;
  if (platform::createTemporaryFile(kPrefix, path, &why) ||
      platform::createTemporaryFileIn(".", kPrefix, path)) {
    return path;
  }
  why = "cannot create a temporary file for the job (" + why + ")";
  return std::string();
}

// Removes the dry run's job file; one that cannot be removed stays in the temporary folder.
void removeJobFile(const std::string& path) {
  platform::removeFile(path);
}

}  // namespace

// The automatic update, step by step as its status lines read. A step returns nothing to
// go on, or the run's result.
int AutomaticUpdate::run() {
  CZel& session = m_run.session;
  if (!connectAndIdentify(m_run)) return kAutomaticStopped;
  if (session.m_swVersion <= kLastIntermediateBootVersion) m_run.intermediateBoot = 1;
  const uint32_t hw = static_cast<uint32_t>(session.hwInfo);
  if (!checkMemoryExtension(hw)) return kAutomaticStopped;
  if (!checkSoftwareVersion()) return kAutomaticStopped;

  selectOptionKind(hw);
  m_run.record.noteUpdated(true, optionKindName(m_run.settings.optionKind));
  if (m_run.request.dryRun) return planDryRun(hw) ? kAutomaticDone : kAutomaticStopped;
  m_run.host.setExpectedBytes(automaticExpectedBytes(hw, m_run));
  m_run.host.startProgressTimer();
  m_run.host.countTimerRunning();

  const UpdateSettings& s = m_run.settings;
  if (auto stop = createAutomaticJob(m_run, hw, s.optionUpdate != 0, s.optionKind)) return *stop;
  if (auto stop = setInUpdateMode(m_run)) return *stop;
  if (auto stop = updateProcessorFirmware()) return *stop;
  if (m_run.intermediateBoot != 0) {
    if (auto stop = waitUntilBooted(hw)) return *stop;
  }
  return updateOption();
}

void AutomaticUpdate::selectOptionKind(uint32_t hw) {
  int32_t kind = kOptionNone;
  if (hw & kHwOptionB1) {
    kind = kOptionB1;
  } else if (hw & kHwOptionB10) {
    kind = kOptionB10;
  } else if (hw & kHwOptionB20) {
    kind = kOptionB20;
  }
  m_run.settings.optionKind = kind;
}

bool AutomaticUpdate::checkMemoryExtension(uint32_t hw) {
  if (hw & kHwMemoryExtension) {
    addStatusLine("Processor board with memory extension");
    return true;
  }
  addStatusLine("ERROR - No memory extension installed!");
  char text[256];
  std::snprintf(text, sizeof text,
                "For %s without memory extension please load %s FW release V04.48!", deviceName,
                deviceName);
  addStatusLine(text);
  m_run.state.refused = true;
  m_run.state.refusal = std::string("No memory extension installed!\n") + text;
  return false;
}

bool AutomaticUpdate::checkSoftwareVersion() {
  std::string idn;
  m_run.session.getIdnString(idn);
  if (!idn.empty()) idn.pop_back();
  const std::string version =
      idn.size() > kVersionTextLength ? idn.substr(idn.size() - kVersionTextLength) : idn;
  if (m_run.session.m_swVersion < kMinAutomaticSwVersion) {
    m_run.state.refused = true;
    // Kept before the box: the box ends the run's record.
    m_run.state.refusal = "Software version lower than 3.08.\nOnly Manual mode is possible";
    m_run.host.showLastBox(m_run.state.refusal, ui::MessageBoxKind::Stop);
    return false;
  }
  char text[256];
  std::snprintf(text, sizeof text, "Current software version %s: %s", deviceName, version.c_str());
  addStatusLine(text);
  return true;
}

bool AutomaticUpdate::planDryRun(uint32_t hw) {
  CZel& session = m_run.session;
  const UpdateSettings& s = m_run.settings;
  // The job goes to a file of its own: ROMWRITE.CNF stays as the last real run left it.
  addStatusLine("Create configuration file (temporary, dry run)");
  std::string why;
  const std::string path = createTemporaryJobFile(why);
  if (path.empty() || writeAutomaticConfiguration(hw, s.optionUpdate != 0, session.m_comm.m_portNo,
                                                  path) == kConfigNotCreated) {
    if (!path.empty()) {
      why = "cannot write " + path;
      removeJobFile(path);
    }
    setStepStatus(0, 0);
    noteFailureCode(kResultConfigNotWritten);
    addStatusLine("ERROR - " + why);
    return false;
  }
  markOk();
  const bool checked = preflightCheck(m_run, true, s.optionKind, path.c_str());
  removeJobFile(path);
  if (!checked) return false;

  UpdatePlanInput input;
  input.job = &programmingJob;
  input.optionImage = optionImageFile(s.optionKind);
  if (s.optionKind == kOptionB1) input.dspPowerOnWaitMs = kDspPowerOnWaitMs;
  input.intermediateBoot = m_run.intermediateBoot != 0;
  input.verify = m_run.state.verify;
  input.backupFolder = m_run.request.backupFolder;
  // The port is still open from the identification.
  input.echo =
      portEchoDelays(serial::comPortDevice(session.m_comm.m_portNo), session.m_comm.m_port.get());
  m_run.state.plan = updatePlanLines(input);
  return true;
}

std::optional<int> AutomaticUpdate::updateProcessorFirmware() {
  WorkflowState& state = m_run.state;
  const auto update = [this, &state] {
    return m_run.session.startFlashUpdate(m_run.intermediateBoot, state.updateExtras,
                                          &state.readBack);
  };
  // The one step that is tried twice, unless the user cancelled the first: the target
  // still runs its transfer program then.
  const int32_t first = update();
  if (first == 0) return std::nullopt;
  noteFailureCode(first);
  if (m_run.host.cancelConfirmedAfterFailure()) return stopForCancel(m_run);
  const int32_t second = update();
  if (second == 0) return std::nullopt;
  if (cancelRequested != 0) return stopForCancel(m_run);
  m_run.host.stopProgressTimer();
  if (!m_run.request.backupFolder.empty() && !state.backupWritten) {
    // The backup comes before the first erase: the flash holds the old firmware still.
    m_run.host.showLastBox(withDevice(kBackupBeforeUpdateFailedBox), ui::MessageBoxKind::Stop);
    return kAutomaticStopped;
  }
  // A line that went dead in the first try fails the second at once, with another code.
  sayNextStep(m_run, second, first);
  m_run.host.showLastBox("Update processor firmware failed,\nplease retry in Manual Mode",
                         ui::MessageBoxKind::Stop);
  return kAutomaticStopped;
}

std::optional<int> AutomaticUpdate::waitUntilBooted(uint32_t hw) {
  CZel& session = m_run.session;
  // The processor update has booted the instrument into its new firmware. A cancel in the
  // wait ends the run there: the processor firmware is in, the option is not begun.
  if (auto stop = awaitReboot(m_run)) return *stop;
  // The hardware word as the new firmware reports it, read without a status line of its
  // own: an option that it no longer finds is not updated. A word that only gained bits is
  // no loss (an option found only now is looked for below), and an unread one stands.
  const int32_t before = session.hwInfo;
  if (session.readHwInfo() == 0 && (hw & ~static_cast<uint32_t>(session.hwInfo)) == 0) {
    session.hwInfo = before;
  }
  if (!checkHardwareAfterUpdate(hw)) return kAutomaticStopped;
  addStatusLine("Update processor firmware successfully completed");
  if (m_run.settings.optionKind == kOptionNone) return findOptionAfterUpdate();
  return std::nullopt;
}

bool AutomaticUpdate::checkHardwareAfterUpdate(uint32_t expected) {
  const uint32_t current = static_cast<uint32_t>(m_run.session.hwInfo);
  if (current == expected) return true;
  noteFailureCode(kResultHardwareChanged);
  m_run.host.stopProgressTimer();
  const char* box = kLostUnknownOption;
  for (const LostOption& lost : kLostOptions) {
    if (current < expected && expected - current == lost.bit) {
      addStatusLine(lost.line);
      box = lost.box;
      break;
    }
  }
  m_run.host.showLastBox(box, ui::MessageBoxKind::Stop);
  return false;
}

std::optional<int> AutomaticUpdate::findOptionAfterUpdate() {
  CZel& session = m_run.session;
  // The new firmware may report an option that the old one did not.
  addStatusLine("Get HW info after processor update");
  if (session.read_SwVersion() == 1) {
    markFailed(kResultInstrumentNotReached);
    return kAutomaticStopped;
  }
  markOk();
  const uint32_t hwAfter = static_cast<uint32_t>(session.hwInfo);
  selectOptionKind(hwAfter);
  m_run.record.noteOption(optionKindName(m_run.settings.optionKind));
  beginOptionProgress(m_run, true);
  addStatusLine("Create configuration file after download processor firmware");
  if (writeAutomaticConfiguration(hwAfter, m_run.settings.optionUpdate != 0,
                                  session.m_comm.m_portNo) == kConfigNotCreated) {
    markFailed(kResultConfigNotWritten);
    return kAutomaticStopped;
  }
  markOk();
  return std::nullopt;
}

int AutomaticUpdate::updateOption() {
  const int32_t kind = m_run.settings.optionKind;
  if (kind == kOptionNone) return kAutomaticDone;
  if (cancelRequested != 0) return stopForCancel(m_run);
  beginOptionProgress(m_run, m_run.intermediateBoot != 0);
  if (m_run.intermediateBoot != 0) {
    // The instrument runs its firmware again and is prepared once more.
    if (kind == kOptionB1) m_run.session.powerOnDspB1();
    if (auto stop = setInUpdateMode(m_run)) return *stop;
  }
  const int result = m_run.session.startFlashUpdate(kind, m_run.intermediateBoot);
  noteFailureCode(result);
  if (result != 0 && m_run.host.cancelConfirmedAfterFailure()) return stopForCancel(m_run);
  return result;
}
