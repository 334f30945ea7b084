// zelupdate fleet: automatic updates of many instruments at once, one child run per port.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/fleet.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"

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

// The program the children run: this one.
std::string ownProgram(const CommonOptions& common) {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) return std::string(path, static_cast<size_t>(n));
  return common.programPath;
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
  // Two names of one device (a stable link and the node it leads to) would be one line
  // driven by two runs.
  std::vector<std::string> devices;
  for (const std::string& port : options.ports) {
    std::error_code error;
    std::string device = port;
    if (port.starts_with("/")) device = std::filesystem::weakly_canonical(port, error).string();
    if (!port.starts_with("sim:") &&
        std::find(devices.begin(), devices.end(), device) != devices.end()) {
      return usageError("port given twice: " + platform::printablePortName(port));
    }
    devices.push_back(device);
  }
  std::error_code error;
  const std::string here = std::filesystem::current_path(error).string();
  options.program = ownProgram(common);
  options.updateFolder = here;
  options.workFolder = here;
  options.settingsFile = settingsFileFor(common);
  options.historyFile = historyFileFor(common);
  if (!options.reportFile.empty()) {
    options.reportFile = std::filesystem::absolute(options.reportFile, error).string();
  }
  return runFleet(options);
}
