#include "app/run_record.h"

#include <algorithm>
#include <ctime>

#include "dsp/option_kinds.h"
#include "flash/result_codes.h"
#include "flash/result_meaning.h"
#include "platform/clock.h"
#include "platform/host_files.h"
#include "platform/sha256.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"

namespace {

// A box's text on one line: its line breaks become blanks.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// One host file as it is on disk now, named as the job or the update names it.
ServiceRecordFile hostFile(const char* role, const std::string& name) {
  ServiceRecordFile file;
  file.role = role;
  file.name = name;
  const std::string path = platform::resolveHostFile(name);
  uint64_t bytes = 0;
  if (!platform::regularFileSize(path, bytes)) return file;
  file.bytes = static_cast<int64_t>(bytes);
  std::string digest;
  if (platform::sha256OfFile(path, digest)) file.sha256 = digest;
  return file;
}

}  // namespace

std::string programNameAndVersion() {
  return std::string("zelupdate ") + ZEL_VERSION;
}

ServiceRecordInstrument instrumentOfIdentification(const std::string& answer) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = answer.find(',', start);
    fields.push_back(trimmed(answer.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  fields.resize(std::max<size_t>(fields.size(), 4));
  ServiceRecordInstrument instrument;
  instrument.maker = fields[0];
  instrument.model = fields[1];
  instrument.serial = fields[2];
  instrument.version = fields[3];
  return instrument;
}

std::vector<ServiceRecordFile> updateFilesOf(const ProgrammingJob* job, bool processor,
                                             const char* optionImage) {
  std::vector<ServiceRecordFile> files;
  if (job != nullptr) {
    const std::string loader = job->bootstrapLoaderFile;
    const std::string transfer = job->transferFile;
    if (!loader.empty() && loader != kNoFile) files.push_back(hostFile("loader", loader));
    if (!transfer.empty() && transfer != kNoFile) files.push_back(hostFile("transfer", transfer));
    for (int i = 0; processor && i < job->programCount && i < kMaxJobEntries; ++i) {
      ServiceRecordFile file = hostFile("program", job->programs[i].fileName);
      file.target = job->programs[i].address;
      files.push_back(file);
    }
  }
  if (optionImage != nullptr) files.push_back(hostFile("option", optionImage));
  return files;
}

int32_t firstResultCode(const std::vector<std::string>& steps) {
  for (const std::string& line : steps) {
    int32_t code = 0;
    if (codeOfStatusLine(line, code)) return code;
  }
  return 0;
}

void CRunRecorder::begin(bool automatic, bool dryRun, int portNo) {
  m_record = ServiceRecord{};
  m_notedFiles.reset();
  m_record.start = std::time(nullptr);
  m_startSeconds = platform::wallSeconds();
  m_record.host = hostName();
  m_record.user = userName();
  m_record.program = programNameAndVersion();
  m_record.mode = automatic ? "automatic" : "manual";
  m_record.dryRun = dryRun && automatic;
  m_record.port = "COM" + std::to_string(portNo);
  m_record.device = serial::comPortDevice(portNo);
  m_earlierBytesSent = 0;
  m_written = false;
}

void CRunRecorder::identified(const std::string& answer, uint32_t hw, int boardNumber) {
  ServiceRecordInstrument instrument = instrumentOfIdentification(answer);
  instrument.hw = hw;
  if (boardNumber >= 0) instrument.board = std::to_string(boardNumber);
  m_record.instrument = instrument;
}

void CRunRecorder::noteVerify(const std::string& verdict, std::vector<uint32_t> differences) {
  m_record.verify = verdict;
  m_record.differences = std::move(differences);
}

void CRunRecorder::noteBackupAndRestore(const std::string& backupFolder,
                                        const std::string& restoreFolder) {
  if (!backupFolder.empty()) m_record.backup = backupFolder;
  if (!restoreFolder.empty()) m_record.restore = restoreFolder;
}

void CRunRecorder::finish(const RunEnd& end) {
  m_record.end = std::time(nullptr);
  m_record.durationSeconds = platform::wallSeconds() - m_startSeconds;
  m_record.steps = end.steps;
  // The code of the first failing step; a refusal by policy (no memory extension, an old
  // version) has none.
  int32_t code = end.firstFailure;
  if (code == 0) code = firstResultCode(m_record.steps);
  if (end.succeeded) {
    m_record.outcome = runOutcomeText(RunOutcome::kSuccess);
    code = 0;
  } else if (end.cancelled) {
    m_record.outcome = runOutcomeText(RunOutcome::kCancelled);
    code = kResultCancelled;
  } else if (end.refused) {
    m_record.outcome = runOutcomeText(RunOutcome::kRefused);
    // The stop box's text names what stopped it (the file that is missing or too long).
    if (code != 0 && !end.refusal.empty()) m_record.resultMeaning = oneLine(end.refusal);
  } else {
    m_record.outcome = runOutcomeText(RunOutcome::kFailed);
    // The code says that the instrument was not reached; the port's cause says why.
    if (code != 0 && !end.portFailure.empty()) m_record.resultMeaning = end.portFailure;
  }
  m_record.result = code;
  const bool processor = m_record.updated && m_record.updated->processor;
  const char* option =
      m_record.updated
          ? optionImageFile(optionKindOfName(m_record.updated->option).value_or(kOptionNone))
          : nullptr;
  m_record.files = m_notedFiles ? *m_notedFiles : updateFilesOf(end.job, processor, option);
  m_record.statistics =
      ServiceRecordStatistics{static_cast<int64_t>(m_earlierBytesSent + end.bytesSent), end.packets,
                              end.packetErrors, end.packetRetries};
  m_written = true;
  if (m_recordRun) m_recordRun(m_record);
}
