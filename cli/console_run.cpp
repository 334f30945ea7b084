#include "cli/console_run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "app/dialog_templates.h"
#include "app/port_access.h"
#include "app/run_record.h"
#include "app/update_dlg.h"
#include "cli/transcript.h"
#include "flash/read_back.h"
#include "flash/result_meaning.h"
#include "frontends/console/console_host.h"
#include "platform/profile.h"
#include "run/progress_lines.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/device_factory.h"
#include "serial/serial_device.h"
#include "sim/simulator_support.h"

namespace {

// The COM number of a --port text that is a number; 0 when it is a device name.
int comNumberOf(const std::string& port) {
  return serial::comNumberOfName(port, serial::ComNameForm::Digits);
}

// The number behind which a device given by name is reached for this run: one that already
// leads to it; else one of the port list's numbers that has no device on this machine, so
// that the port list shows it; else the first free number above them. 0 when all are taken.
int comNumberForDevice(const std::string& device) {
  for (int portNo = 1; portNo <= serial::kHighestComNumber; ++portNo) {
    if (serial::comPortDevice(portNo) == device) return portNo;
  }
  for (int portNo = 1; portNo <= serial::kHighestComNumber; ++portNo) {
    const std::string current = serial::comPortDevice(portNo);
    const bool unused =
        current.empty() || (portNo <= serial::kMaxComPort &&
                            probeSerialDevice(current) == serial::ProbeResult::Absent);
    if (unused) {
      serial::setComPortDevice(portNo, device);
      return portNo;
    }
  }
  return 0;
}

// The main dialog with the command line applied between its initialisation and the Run
// click, as a technician would set the window up.
class CConsoleUpdateDlg : public CUpdateDlg {
 public:
  CConsoleUpdateDlg(const std::string& programPath, const ConsoleRunRequest& request)
      : CUpdateDlg(programPath), m_request(request) {}

  void onInitDialog() override {
    CUpdateDlg::onInitDialog();
    ui::DialogWindow& w = *m_window;
    if (m_request.manual) {
      // Checked through the window, not clicked: the click would open the configuration
      // dialog, whose selections the command line already gives.
      w.checkRadioButton(kIdcAutomatic, kIdcManual, kIdcManual);
      w.enable(kIdcConfiguration, true);
      m_updateSettings = m_request.settings;
    }
    w.setCheck(kIdcVerify, m_request.verify);
    if (!m_request.port.empty()) {
      m_settingsPort = m_session.m_comm.m_portNo;
      int portNo = comNumberOf(m_request.port);
      m_mappedDevice = portNo == 0;
      if (m_mappedDevice) portNo = comNumberForDevice(m_request.port);
      if (portNo > 0) m_serialSettings.portNumber = portNo;
      if (m_mappedDevice) fillPortList();  // the device has its number in the list now
    }
    // The run's port is picked in the list, as the technician does it in the window: that
    // opens it, and an instrument behind it is there to follow the boxes' instructions. A
    // port that the list does not show stays closed; Run reports it.
    for (int i = 0; i < w.comboCount(kIdcPortList); ++i) {
      if (w.comboItemData(kIdcPortList, i) != m_serialSettings.portNumber) continue;
      w.comboSetSelection(kIdcPortList, i);
      onCommand(kIdcPortList, ui::Notification::SelectionChanged);
      break;
    }
  }

  // With progress lines, the identified model and serial are said once as a plain line
  // "instrument MODEL SERIAL", for the program that follows the run.
  void onTimer(int timerId) override {
    CUpdateDlg::onTimer(timerId);
    showRecordSoFar();
    if (!m_request.progressLines || m_identityShown || m_session.idnString.empty()) return;
    m_identityShown = true;
    std::vector<std::string> fields(1);
    for (char c : m_session.idnString) {
      if (c == ',') {
        fields.emplace_back();
      } else {
        fields.back() += c;
      }
    }
    if (fields.size() < 3) return;
    std::printf("%s\n", instrumentLine(fields[1], fields[2]).c_str());
    std::fflush(stdout);
  }

  void statusLineAdded(int index, const std::string& text) override {
    CUpdateDlg::statusLineAdded(index, text);
    showRecordSoFar();
  }

  // With progress lines, the record as far as it is known ("record-so-far {JSON}"), each
  // time it grows: the fleet keeps the instrument and plan of a run that ends without a
  // record of its own.
  void showRecordSoFar() {
    if (!m_request.progressLines) return;
    std::string known = serviceRecordJson(m_recorder.m_record);
    if (known == m_recordShown) return;
    std::printf("%s\n", recordSoFarLine(known).c_str());
    std::fflush(stdout);
    m_recordShown = std::move(known);
  }

  void onDestroy() override {
    // A device given by name took a number of its own for this run only: the settings file
    // keeps the port it had.
    if (m_mappedDevice) m_session.m_comm.m_portNo = m_settingsPort;
    CUpdateDlg::onDestroy();
  }

 private:
  const ConsoleRunRequest& m_request;
  bool m_mappedDevice = false;
  bool m_identityShown = false;
  std::string m_recordShown;
  int m_settingsPort = 1;
};

// The device a run will open: the --port text, or the device of the settings file's port.
// portNo: its COM number, 0 for a device given by name.
std::string deviceOfRun(const ConsoleRunRequest& request, const std::string& settingsFile,
                        int& portNo) {
  serial::loadComPortMapping(settingsFile);
  portNo = comNumberOf(request.port);
  if (request.port.empty()) {
    portNo = std::max(platform::getPrivateProfileInt("DEVICE", "PORT_NO", 1, settingsFile), 1);
  }
  return portNo > 0 ? serial::comPortDevice(portNo) : request.port;
}

// After a run that did not succeed: what the code of its first failing step and each code
// of its ERROR lines mean, each code once.
void explainFailedSteps(const ServiceRecord& record) {
  std::vector<int32_t> codes;
  if (record.result.value_or(0) != 0) codes.push_back(*record.result);
  for (const std::string& line : record.steps) {
    int32_t code = 0;
    if (codeOfStatusLine(line, code)) codes.push_back(code);
  }
  std::vector<int32_t> explained;
  for (const int32_t code : codes) {
    if (std::find(explained.begin(), explained.end(), code) != explained.end()) continue;
    explained.push_back(code);
    const std::string meaning = resultMeaning(code);
    if (!meaning.empty()) std::printf("  %s: %s\n", resultHex(code).c_str(), meaning.c_str());
  }
}

// What the read back found and where the backup went, after the run.
void printReadBack(const ServiceRecord& record, const ReadBackReport& readBack) {
  if (record.verify && *record.verify == "differs") {
    std::string line = "read back differs at";
    for (uint32_t address : record.differences) {
      char text[16];
      std::snprintf(text, sizeof text, " %X", static_cast<unsigned>(address));
      line += text;
    }
    line += " (" + std::to_string(readBack.differingBytes) + " bytes differ)";
    std::printf("%s\n", line.c_str());
  } else if (record.verify && *record.verify == "ok") {
    std::printf("read back: every image equals its file\n");
  }
  if (!record.backup.empty()) std::printf("backup: %s\n", record.backup.c_str());
}

}  // namespace

bool keepServiceRecord(const std::string& historyFile, const ServiceRecord& record) {
  if (historyFile.empty()) return false;
  std::string why;
  if (appendRecord(historyFile, record, &why)) return true;
  std::fprintf(stderr, "zelupdate: cannot write the service record to %s: %s\n",
               serial::printablePortName(historyFile).c_str(), why.c_str());
  return false;
}

void recordRefusedRun(const ConsoleRunRequest& request, const CommonOptions& common) {
  ServiceRecord record;
  record.start = record.end = std::time(nullptr);
  record.durationSeconds = 0;
  record.host = hostName();
  record.user = userName();
  record.program = programNameAndVersion();
  record.frontEnd = "console";
  record.mode = request.manual ? "manual" : "automatic";
  int portNo = 0;
  record.device = deviceOfRun(request, settingsFileFor(common), portNo);
  record.port = portNo > 0 ? "COM" + std::to_string(portNo) : request.port;
  const UpdateSettings& s = request.settings;
  record.updated = ServiceRecordUpdated{s.processorFirmware != 0,
                                        s.optionUpdate != 0 ? optionKindName(s.optionKind) : ""};
  record.result = 0;
  record.outcome = runOutcomeText(RunOutcome::kRefused);
  keepServiceRecord(historyFileFor(common), record);
}

int runInConsole(const ConsoleRunRequest& request, const CommonOptions& common) {
  int portNo = 0;
  const std::string device = deviceOfRun(request, settingsFileFor(common), portNo);
  // A port that will not open ends in the cable box; say first what stands in the way.
  if (const std::string problem = portAccessProblem(device); !problem.empty()) {
    const std::string shown = serial::printablePortName(device);
    if (portNo > 0) {
      std::fprintf(stderr, "zelupdate run: COM%d (%s): %s\n", portNo, shown.c_str(),
                   problem.c_str());
    } else {
      std::fprintf(stderr, "zelupdate run: %s: %s\n", shown.c_str(), problem.c_str());
    }
  }
  // A slow adapter works, only several times slower: said, and the run goes on.
  if (const std::string slow = runLatencyWarning(device); !slow.empty()) {
    const std::string name =
        portNo > 0 ? "COM" + std::to_string(portNo) + " (" + serial::printablePortName(device) + ")"
                   : serial::printablePortName(device);
    std::fprintf(stderr, "zelupdate run: %s: %s\n", name.c_str(),
                 serial::printablePortName(slow).c_str());
  }

  CTranscript transcript;
  std::string why;
  if (!request.transcriptFile.empty() && !transcript.open(request.transcriptFile, &why)) {
    std::fprintf(stderr, "zelupdate run: cannot create transcript file %s: %s\n",
                 serial::printablePortName(request.transcriptFile).c_str(), why.c_str());
    return kExitUsage;
  }
  const std::string clockError = installClockForDevice(device);
  if (!clockError.empty()) {
    std::fprintf(stderr, "zelupdate run: %s\n", serial::printablePortName(clockError).c_str());
    return kExitUsage;
  }

  ui::ConsoleOptions options;
  options.assumeYes = request.assumeYes;
  options.progressLines = request.progressLines;
  options.interruptControlId = kIdcCancel;
  options.busyBarId = kIdcBusyBar;
  options.transferBarId = kIdcTransferBar;
  options.statisticsIds = {kIdcPacketCount, kIdcPacketErrors, kIdcPacketRetries};
  options.transferredBytes = [] { return static_cast<uint64_t>(bytesSent); };
  ui::ConsoleHost host(options);

  CConsoleUpdateDlg dialog(common.programPath, request);
  dialog.m_runRequest.dryRun = request.dryRun;
  dialog.m_runRequest.backupFolder = request.backupFolder;
  dialog.m_runRequest.backupOnly = request.backupOnly;
  dialog.m_runRequest.restoreFolder = request.restoreFolder;
  dialog.m_runRequest.restoreForce = request.restoreForce;
  const std::string historyFile = historyFileFor(common);
  bool recorded = false;
  dialog.m_recorder.m_recordRun = [&](ServiceRecord& record) {
    record.frontEnd = request.fleetRecordFile.empty() ? "console" : "fleet";
    // A device given by name keeps its name; a COM number reads as the dialog names it.
    if (portNo == 0 && !request.port.empty()) record.port = request.port;
    recorded = keepServiceRecord(historyFile, record);
    // The fleet's history first: a child killed between the two leaves its record there.
    keepServiceRecord(request.fleetRecordFile, record);
  };
  host.postCommand(kIdcRun);
  host.postCommand(kIdcExit);
  host.runModal(dialog);
  for (const std::string& line : dialog.m_workflow.plan) std::printf("%s\n", line.c_str());
  if (!dialog.m_lastRunSucceeded) explainFailedSteps(dialog.m_recorder.m_record);
  printReadBack(dialog.m_recorder.m_record, dialog.m_workflow.readBack);
  if (recorded) std::printf("%s\n", recordKeptLine(historyFile).c_str());
  std::fflush(stdout);
  transcript.close();
  if (const std::string error = transcript.writeError(); !error.empty()) {
    std::fprintf(stderr, "zelupdate run: cannot write transcript file %s: %s\n",
                 request.transcriptFile.c_str(), error.c_str());
  }
  return dialog.m_lastRunSucceeded ? kExitOk : kExitFailed;
}
