// zelupdate fleet: automatic updates of many instruments at once, one child run per port.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "cli/fleet.h"
#include "platform/path_text.h"
#include "platform/program_path.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"
#include "sim/registry.h"

namespace {

constexpr const char* kFleetUsage =
    "usage: zelupdate fleet [--jobs N] [--ports-file FILE] [--report FILE] [--verify] PORT...\n"
    "  one automatic update per port, each in a child run of its own; the ports file holds\n"
    "  one port per line (# starts a comment)\n";
constexpr size_t kMaxPortsFile = 1 << 20;

int usageError(const std::string& detail) {
  std::fprintf(stderr, "zelupdate fleet: %s\n%s", detail.c_str(), kFleetUsage);
  return kExitUsage;
}

// The ports of a ports file: one a line, blanks around it and everything after # dropped.
bool readPortsFile(const std::string& path, std::vector<std::string>& ports, std::string& why) {
  std::string text;
  if (!platform::readRegularFile(path, kMaxPortsFile, text, &why)) return false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    const size_t last = line.find_last_not_of(" \t\r");
    ports.push_back(line.substr(first, last - first + 1));
  }
  return true;
}

// Every port checked before any child starts: each in a form that `run --port` takes, with
// valid options where it is a simulated instrument, and no two reaching one device (one line
// driven by two runs fails both). Empty when all are fine, else the usage error.
std::string checkPorts(const std::vector<std::string>& ports, const std::string& settingsFile) {
  platform::loadComPortMapping(settingsFile);
  std::vector<std::pair<std::string, std::string>> seen;  // device, the port that named it
  for (const std::string& port : ports) {
    const std::string shown = platform::printablePortName(port);
    const std::string given = platform::commandLinePort(port);
    if (given.empty()) {
      return "not a port: " + shown + " (" + platform::comNumberRule() + ")";
    }
    const int number = platform::comNumberOfName(given);
    const std::string device = number > 0 ? platform::comPortDevice(number) : given;
    if (device.starts_with("sim:")) {
      // Each child has an instrument of its own, whatever its name: no device is shared.
      if (const std::string why = sim::checkPortName(device); !why.empty()) {
        return shown + ": " + platform::printablePortName(why);
      }
      continue;
    }
    const std::string resolved = platform::resolvedPortDevice(given);
    for (const auto& [other, otherPort] : seen) {
      if (other != resolved) continue;
      return "one device given twice: " + platform::printablePortName(otherPort) + " and " + shown +
             " both reach " + platform::printablePortName(resolved);
    }
    seen.emplace_back(resolved, port);
  }
  return std::string();
}

// The report is written at the end into a folder that exists now: a mistyped folder is
// said before anything starts, and no folder is made for it.
std::string checkReportFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path file = fs::absolute(platform::pathFromUtf8(path), error);
  const fs::path folder = file.parent_path();
  const std::string shown = platform::printablePortName(path);
  if (!fs::is_directory(folder, error)) {
    return "cannot write the report " + shown + ": no folder " +
           platform::printablePortName(platform::utf8FromPath(folder));
  }
  if (fs::is_directory(file, error)) return "cannot write the report " + shown + ": a folder";
  return std::string();
}

// The program the children run: this one.
std::string ownProgram(const CommonOptions& common) {
  const std::string path = platform::programPath();
  return path.empty() ? common.programPath : path;
}

}  // namespace

int commandFleet(const std::vector<std::string>& args, const CommonOptions& common) {
  FleetOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size() && !args[i + 1].empty();
    if (arg == "--jobs") {
      char* end = nullptr;
      const long jobs = hasValue ? std::strtol(args[i + 1].c_str(), &end, 10) : 0;
      if (!hasValue || *end != '\0' || jobs < 1 || jobs > 1024) {
        return usageError("--jobs needs a number from 1 to 1024");
      }
      options.jobs = static_cast<int>(jobs);
      ++i;
    } else if (arg == "--ports-file") {
      if (!hasValue) return usageError("--ports-file needs a file name");
      std::string why;
      if (!readPortsFile(args[++i], options.ports, why)) {
        return usageError("cannot read ports file " + platform::printablePortName(args[i]) + ": " +
                          why);
      }
    } else if (arg == "--report") {
      if (!hasValue) return usageError("--report needs a file name");
      options.reportFile = args[++i];
    } else if (arg == "--verify") {
      options.verify = true;
    } else if (arg.starts_with("--")) {
      return usageError("unknown argument: " + platform::printablePortName(arg));
    } else {
      options.ports.push_back(arg);
    }
  }
  if (options.ports.empty()) return usageError("no port given");
  options.settingsFile = settingsFileFor(common);
  if (const std::string refusal = checkPorts(options.ports, options.settingsFile);
      !refusal.empty()) {
    return usageError(refusal);
  }
  if (!options.reportFile.empty()) {
    if (const std::string refusal = checkReportFile(options.reportFile); !refusal.empty()) {
      return usageError(refusal);
    }
  }
  std::error_code error;
  const std::string here = platform::utf8FromPath(std::filesystem::current_path(error));
  options.program = ownProgram(common);
  options.updateFolder = here;
  options.workFolder = here;
  // The children write into the history from folders of their own.
  options.historyFile = historyFileFor(common);
  if (!options.historyFile.empty()) {
    options.historyFile = platform::utf8FromPath(
        std::filesystem::absolute(platform::pathFromUtf8(options.historyFile), error));
  }
  if (!options.reportFile.empty()) {
    options.reportFile = platform::utf8FromPath(
        std::filesystem::absolute(platform::pathFromUtf8(options.reportFile), error));
  }
  return runFleet(options);
}
