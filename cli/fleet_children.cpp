#include "cli/fleet_children.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "app/update_dlg.h"
#include "platform/folder_files.h"
#include "platform/path_text.h"
#include "serial/com_ports.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxPartialLine = 16384;  // a record-so-far line included
constexpr size_t kReadBytes = 4096;

bool isUpdateFile(const fs::directory_entry& entry, const std::string& settingsName) {
  std::error_code error;
  if (!entry.is_regular_file(error)) return false;
  const std::string name = platform::utf8FromPath(entry.path().filename());
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // The job is written anew in the child's folder, whatever the case of its name here.
  if (lower == kConfigReadName || name == settingsName) return false;
  return !name.ends_with(".jsonl") && !name.ends_with(".ini");
}

}  // namespace

bool prepareChildFolder(const FleetOptions& options, const std::string& folder, std::string& why) {
  std::error_code error;
  const fs::path folderPath = platform::pathFromUtf8(folder);
  fs::create_directories(folderPath, error);
  if (error) {
    why = "cannot create " + folder + ": " + error.message();
    return false;
  }
  const std::string settingsName =
      platform::utf8FromPath(platform::pathFromUtf8(options.settingsFile).filename());
  for (const fs::directory_entry& entry :
       fs::directory_iterator(platform::pathFromUtf8(options.updateFolder), error)) {
    if (!isUpdateFile(entry, settingsName)) continue;
    // Hard links cost no room and keep the update folder's files as they are: a run writes
    // a file only whole, under a new name renamed over the old one, so it never writes
    // through a link into the file the other runs read.
    const std::string name = platform::utf8FromPath(entry.path().filename());
    std::string problem;
    if (platform::placeLinkOrCopy(platform::utf8FromPath(entry.path()),
                                  platform::utf8FromPath(folderPath / entry.path().filename()),
                                  &problem) == platform::PlacedFile::Failed) {
      why = "cannot put " + name + " into " + folder + ": " + problem;
      return false;
    }
  }
  if (!options.settingsFile.empty() &&
      fs::is_regular_file(platform::pathFromUtf8(options.settingsFile), error)) {
    fs::copy_file(platform::pathFromUtf8(options.settingsFile), folderPath / kChildSettingsFile,
                  fs::copy_options::overwrite_existing, error);
    if (error) {
      why = "cannot copy " + options.settingsFile + ": " + error.message();
      return false;
    }
  }
  return true;
}

std::vector<std::string> childRunArguments(const FleetOptions& options, const std::string& port,
                                           const std::string& folder) {
  // The child appends its record to the fleet's history itself, under the history's lock,
  // and keeps a copy in its folder for the report.
  std::vector<std::string> args = {
      options.program,  "run",
      "--assume-yes",   "--progress-lines",
      "--port",         port,
      "--settings",     platform::joinPath(folder, kChildSettingsFile),
      "--fleet-record", platform::joinPath(folder, kChildRecordFile),
      "--transcript",   platform::joinPath(folder, kChildTranscriptFile)};
  if (options.verify) args.push_back("--verify");
  if (options.historyFile.empty()) {
    args.push_back("--no-history");
  } else {
    args.insert(args.end(), {"--history", options.historyFile});
  }
  return args;
}

bool FleetChild::start(const std::vector<std::string>& argv, const std::string& folder,
                       std::string* why) {
  m_lastOutput = std::chrono::steady_clock::now();
  m_partialLine.clear();
  return m_process.start(argv, folder, why);
}

std::vector<std::string> FleetChild::takeLines() {
  std::vector<std::string> lines;
  char buffer[kReadBytes];
  for (;;) {
    const int n = m_process.readOutput(buffer, sizeof buffer);
    if (n <= 0) break;  // nothing more for now, or the end of the output
    m_lastOutput = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
      if (buffer[i] == '\n') {
        std::string line;
        line.swap(m_partialLine);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // The child's texts reach this terminal: no control character moves its cursor.
        lines.push_back(serial::printablePortName(line));
      } else if (m_partialLine.size() < kMaxPartialLine) {
        m_partialLine += buffer[i];
      }
    }
  }
  return lines;
}

bool FleetChild::killIfSilent(int64_t limitMs, std::string& why) {
  const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - m_lastOutput);
  if (!running() || silent.count() <= limitMs) return false;
  char bound[32];
  std::snprintf(bound, sizeof bound, "%g", static_cast<double>(limitMs) / 1000);
  why = std::string("no sign of life for ") + bound + " s: killed";
  m_process.kill();
  return true;
}

int64_t defaultSilenceLimitMs() {
  // The longest a run waits for one thing is its write timeout; a child silent for three of
  // those (its progress lines come every second of program time) is hung.
  return 3 * int64_t{kRunWriteTimeoutMs};
}
