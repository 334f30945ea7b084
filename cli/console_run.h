// One Run of the main dialog in the console front end, as `zelupdate run` and `zelupdate
// demo` perform it: the dialog starts as in the window, the command line's mode, port and
// selections are applied through its window, Run is clicked, and the dialog ends.
#pragma once

#include <string>

#include "app/service_record.h"
#include "app/update_settings.h"
#include "cli/command_line.h"

struct ConsoleRunRequest {
  // A COM number, a device path, "rfc2217://HOST:PORT" or "sim:..."; empty: the settings
  // file's port.
  std::string port;
  bool manual = false;
  UpdateSettings settings;  // used in manual mode, already accepted by the dialog's rules
  bool assumeYes = false;
  std::string transcriptFile;  // empty: none
  bool progressLines = false;  // plain progress lines where the output is not a terminal
  // A child of `zelupdate fleet`: the record names the fleet as its front end and is also
  // appended to this file of the child's folder, where the fleet reads it. Empty: a run
  // of its own.
  std::string fleetRecordFile;
  // Identify, check and plan the automatic update; the instrument is never switched into
  // update mode.
  bool dryRun = false;
  // Read every image back after its checksum (the "Verify (read back)" check box).
  bool verify = false;
  // Save the flash areas the update erases into this folder first; with backupOnly, only
  // that (zelupdate backup).
  std::string backupFolder;
  bool backupOnly = false;
  // zelupdate restore: program this backup back; restoreForce onto another instrument too.
  std::string restoreFolder;
  bool restoreForce = false;
};

// Runs it; the exit status (0 when the run ended with its success message, 1 when it did
// not, 2 when the transcript cannot be created or the port's options are not valid, before
// anything is sent).
int runInConsole(const ConsoleRunRequest& request, const CommonOptions& common);

// Appends the record to the history file (nothing for an empty name); a failure is said
// on standard error and changes nothing else. True when the record was written.
bool keepServiceRecord(const std::string& historyFile, const ServiceRecord& record);

// The record of a console run whose selections were refused before it started.
void recordRefusedRun(const ConsoleRunRequest& request, const CommonOptions& common);
