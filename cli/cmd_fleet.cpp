// zelupdate fleet: automatic updates of many instruments at once, one child run per port.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cli/command.h"
#include "cli/command_options.h"
#include "cli/fleet.h"
#include "platform/path_text.h"
#include "platform/program_path.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"
#include "serial/port_names.h"
#include "sim/registry.h"

namespace {

constexpr size_t kMaxPortsFile = 1 << 20;

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
  std::vector<std::pair<std::string, std::string>> seen;  // device, the port that named it
  for (const std::string& port : ports) {
    std::string given;
    if (std::string why = cli::takePort(port, settingsFile, given); !why.empty()) return why;
    const int number = serial::comNumberOfName(given);
    const std::string device = number > 0 ? serial::comPortDevice(number) : given;
    // Each simulated instrument is one of its own, whatever its name: no device is shared.
    if (serial::isSimulatedPortName(device)) continue;
    const std::string resolved = serial::resolvedPortDevice(given);
    for (const auto& [other, otherPort] : seen) {
      if (other != resolved) continue;
      return "one device given twice: " + serial::printablePortName(otherPort) + " and " +
             serial::printablePortName(port) + " both reach " + serial::printablePortName(resolved);
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
  const std::string shown = serial::printablePortName(path);
  if (!fs::is_directory(folder, error)) {
    return "cannot write the report " + shown + ": no folder " +
           serial::printablePortName(platform::utf8FromPath(folder));
  }
  if (fs::is_directory(file, error)) return "cannot write the report " + shown + ": a folder";
  return std::string();
}

// The program the children run: this one.
std::string ownProgram(const CommonOptions& common) {
  const std::string path = platform::programPath();
  return path.empty() ? common.programPath : path;
}

class FleetCommand final : public Command {
 public:
  void define(CLI::App& app) override {
    app.add_option("--jobs", m_jobs, "at most N updates at once (default: all)")
        ->type_name("N")
        ->check(cli::countValue(1, 1024));
    app.add_option("--ports-file", m_portsFile, "ports from FILE, one a line (# comment)")
        ->type_name("FILE")
        ->check(cli::nameValue("a file name"));
    app.add_option("--report", m_options.reportFile,
                   "every run's record as one JSON report in FILE")
        ->type_name("FILE")
        ->check(cli::nameValue("a file name"));
    app.add_flag("--verify", m_options.verify, "read every image back in every run");
    app.add_option("PORT", m_ports, "the instruments' ports, as run --port takes")
        ->type_name("")
        ->check(cli::nameValue("a port"));
    app.footer(
        "One automatic update per port, each a child run in a folder of its own under\n"
        "./fleet-YYYYMMDD-HHMMSS/. Exit status: 0 every update succeeded, 1 not, 2 usage\n"
        "error.");
  }

  std::string check(const CommonOptions& common) override {
    if (!m_jobs.empty())
      m_options.jobs = static_cast<int>(cli::parseCount(m_jobs, 1, 1024).value_or(0));
    if (!m_portsFile.empty()) {
      std::string why;
      if (!readPortsFile(m_portsFile, m_options.ports, why)) {
        return "cannot read ports file " + serial::printablePortName(m_portsFile) + ": " + why;
      }
    }
    m_options.ports.insert(m_options.ports.end(), m_ports.begin(), m_ports.end());
    if (m_options.ports.empty()) return "no port given";
    m_options.settingsFile = settingsFileFor(common);
    if (std::string refusal = checkPorts(m_options.ports, m_options.settingsFile);
        !refusal.empty()) {
      return refusal;
    }
    if (std::string why = cli::historyFileProblem(common); !why.empty()) return why;
    if (!m_options.reportFile.empty()) {
      if (std::string why = checkReportFile(m_options.reportFile); !why.empty()) return why;
      if (std::string why = cli::outputFileProblem(m_options.reportFile); !why.empty()) {
        return "cannot write the report: " + why;
      }
    }
    return std::string();
  }

  int run(const CommonOptions& common) override;

 private:
  FleetOptions m_options;
  std::string m_jobs;
  std::string m_portsFile;
  std::vector<std::string> m_ports;
};

int FleetCommand::run(const CommonOptions& common) {
  FleetOptions& options = m_options;
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

}  // namespace

std::unique_ptr<Command> makeFleetCommand() {
  return std::make_unique<FleetCommand>();
}
