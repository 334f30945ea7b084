// The service record of one Run of the main dialog: the pieces the dialog fills in while
// it runs (who and what was updated, which files went where) and the summary at its end.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/service_record.h"
#include "flash/config/programming_job.h"
#include "platform/host_identity.h"

// The program as records name it: "zelupdate 0.2.0".
std::string programNameAndVersion();

// Host name and user name of this process, as the platform tells them; empty where unknown.
using platform::hostName;
using platform::userName;

// The fields of an identification answer "MAKER,MODEL,SERIAL,VERSION " (blanks and line
// ends around each field removed); empty texts for the fields it lacks.
ServiceRecordInstrument instrumentOfIdentification(const std::string& answer);

// The host files of an update, each with its size and SHA-256 where it can be read: the
// job's loader and transfer program, its program files with their start addresses when
// the processor firmware is updated, and the option's DSP image when one is named.
std::vector<ServiceRecordFile> updateFilesOf(const ProgrammingJob* job, bool processor,
                                             const char* optionImage);

// The code of the first step status line that carries one ("ERROR <text> (<hex>)"); 0
// when no line does.
int32_t firstResultCode(const std::vector<std::string>& steps);

// How a Run ended, as the dialog saw it: what the recorder's finish makes the record's
// outcome, result and statistics from.
struct RunEnd {
  bool succeeded = false;
  bool cancelled = false;
  // Stopped before update mode; `refusal` is its stop box's text.
  bool refused = false;
  std::string refusal;
  std::vector<std::string> steps;
  // The code of the first failing step that noted one; 0 for none.
  int32_t firstFailure = 0;
  // Why the port could not be used, as the run's status line says it; empty where unknown.
  // A failed run's result means this.
  std::string portFailure = std::string();
  // The job the run read (its files are listed), or nullptr.
  const ProgrammingJob* job = nullptr;
  uint64_t bytesSent = 0;
  int64_t packets = 0;
  int64_t packetErrors = 0;
  int64_t packetRetries = 0;
};

// Collects the service record of one Run: begun when Run is clicked, the instrument noted
// when it is identified, finished when the run ends and handed over once.
class CRunRecorder {
 public:
  // A new record: when, who, which program, the mode and the port.
  void begin(bool automatic, bool dryRun, int portNo);
  // The instrument as its identification answer, hardware word and board number tell it.
  void identified(const std::string& answer, uint32_t hw, int boardNumber);
  // Bytes sent in a phase whose counter is reset afterwards (the processor firmware before
  // the option's): counted into the record's statistics.
  void carryBytes(uint64_t bytes) { m_earlierBytesSent += bytes; }
  // The update's files as they are now, for a run whose files do not outlive it (the
  // restore's staged copies): the record lists these instead of what is left at its end.
  void noteFiles(std::vector<ServiceRecordFile> files) { m_notedFiles = std::move(files); }
  // What the Run updates: the processor firmware, and the option by its name ("": none).
  void noteUpdated(bool processor, const std::string& option) {
    m_record.updated = ServiceRecordUpdated{processor, option};
  }
  // The option that the processor update's new firmware reported.
  void noteOption(const std::string& option) {
    if (m_record.updated) m_record.updated->option = option;
  }
  // The version that the instrument's identification answer reports after its reboot.
  void noteVersionAfter(const std::string& answer) {
    m_record.versionAfter = instrumentOfIdentification(answer).version;
  }
  // A restore into an instrument that waited in update mode, unidentified, brought it back.
  void noteRecovered(bool recovered) { m_record.recovered = recovered; }
  // The read back's verdict ("ok", "differs" with the first differing addresses, "" when
  // not reached), the backup's folder and the restore's folder; empty folders: none.
  void noteVerify(const std::string& verdict, std::vector<uint32_t> differences = {});
  void noteBackupAndRestore(const std::string& backupFolder, const std::string& restoreFolder);
  // The identified instrument, or one with empty fields.
  ServiceRecordInstrument instrument() const {
    return m_record.instrument.value_or(ServiceRecordInstrument{});
  }
  // The end: outcome, result, steps, files and statistics; then handed over.
  void finish(const RunEnd& end);

  // Receives the record of every Run when it ends, whatever its outcome; the front end
  // says where it goes. Unset: no record is kept.
  std::function<void(ServiceRecord&)> m_recordRun;
  // The record of the Run in progress, or of the last one.
  ServiceRecord m_record;
  // The record of the current Run has been handed over.
  bool m_written = false;

 private:
  uint64_t m_earlierBytesSent = 0;
  std::optional<std::vector<ServiceRecordFile>> m_notedFiles;
  double m_startSeconds = 0;
};
