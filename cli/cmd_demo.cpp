// zelupdate demo: the sample update set in a folder, then an automatic update of a
// simulated instrument there (processor firmware, reboot, option B20), in the console or,
// with --window, in the desktop window with the simulator on COM1; with --fleet N, N
// simulated instruments of different hardware updated at once by `zelupdate fleet`.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/command_options.h"
#include "cli/console_run.h"
#include "flash/config/config_writer.h"
#include "platform/path_text.h"
#include "platform/profile.h"
#include "platform/temp_files.h"
#include "platform/text_case.h"
#include "serial/com_ports.h"
#include "sim/sample_files.h"
#include "sim/simulator_support.h"

namespace {

// The simulated instrument: firmware 4.40 (booted between the two updates), memory
// extension and option B20, reporting the sample set's release after its update; 20 times
// real time by default, so that the progress can be watched.
const std::string kDemoInstrument = std::string("sim:version=04.40,version-after=") +
                                    sim::kSampleFirmwareVersion + ",hw=0x11000,speed=";
constexpr const char* kDefaultSpeed = "20";
constexpr const char* kDemoSettingsFile = "zelupdate.ini";
constexpr const char* kDemoHistoryFile = "history.jsonl";
constexpr int kDemoComPort = 1;
constexpr int kMaxFleet = 16;
constexpr int kDefaultFleet = 4;

// The fleet's instruments: firmware 4.40 on boards with memory extension and, in turn, no
// option, B1, B10 and B20. Every one of them is updated: a demo that ends in a failure would
// leave a technician wondering whether the tool or the PC is at fault.
std::vector<std::string> fleetPorts(int count, const std::string& speed) {
  constexpr const char* kHardware[] = {"0x10000", "0x10020", "0x10400", "0x11000"};
  std::vector<std::string> ports;
  for (int i = 0; i < count; ++i) {
    std::string port = "sim:serial=" + std::to_string(1001 + i) + ",hw=" + kHardware[i % 4] +
                       ",version=04.40,version-after=" + sim::kSampleFirmwareVersion +
                       ",speed=" + speed;
    ports.push_back(port);
  }
  return ports;
}

bool isSpeed(const std::string& text) {
  if (text == "virtual") return true;
  char* end = nullptr;
  const double factor = std::strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0' && factor > 0 && factor <= 1e6;
}

class DemoCommand final : public Command {
 public:
  void define(CLI::App& app) override {
    app.add_option("DIR", m_folder, "the sample set's folder (default: a new one)")
        ->type_name("")
        ->check(cli::nameValue("a folder"));
    app.add_flag("--window", m_window, "in the desktop window, the instrument on COM1");
    app.add_option("--speed", m_speed, "N times real time (20), or the virtual clock")
        ->type_name("N|virtual")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
              if (isSpeed(value)) return std::string();
              return "takes a factor above 0 or virtual, not '" + serial::printablePortName(value) +
                     "'";
            },
            ""));
    // --fleet alone means 4; a word after it that is no number is the folder.
    app.add_option("--fleet", m_fleetText, "N instruments at once (1 to 16, default 4)")
        ->type_name("[N]")
        ->expected(0, 1);
  }

  std::string check(const CommonOptions&) override {
    if (m_fleetText.has_value()) {
      m_fleet = kDefaultFleet;
      const std::string& text = *m_fleetText;
      if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
        const std::optional<long> count = cli::parseCount(text, 1, kMaxFleet);
        if (!count) return "--fleet takes 1 to " + std::to_string(kMaxFleet) + " instruments";
        m_fleet = static_cast<int>(*count);
      } else if (!text.empty()) {
        if (!m_folder.empty()) {
          return "unexpected argument '" + serial::printablePortName(text) + "'";
        }
        m_folder = text;
      }
    }
    if (m_fleet > 0 && m_window) return "--fleet runs in the console only";
    if (m_window) {
      if (std::string why = windowUnavailable(); !why.empty()) return why;
    }
    if (!m_folder.empty()) return folderProblem(m_folder);
    return std::string();
  }

  int run(const CommonOptions& common) override;

 private:
  // Why the folder cannot take the sample set: not a folder, or one that holds update files
  // of its own (a technician's set would be overwritten).
  static std::string folderProblem(const std::string& folder);

  std::string m_folder;
  std::string m_speed = kDefaultSpeed;
  bool m_window = false;
  std::optional<std::string> m_fleetText;
  int m_fleet = 0;
};

std::string DemoCommand::folderProblem(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path path = platform::pathFromUtf8(folder);
  const std::string shown = serial::printablePortName(folder);
  if (!fs::exists(path, error)) return std::string();
  if (!fs::is_directory(path, error)) return shown + " is not a folder";
  // A folder of an earlier demo is the demo's to write again; the technician's update set
  // is not.
  if (fs::exists(path / kDemoSettingsFile, error)) return std::string();
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
    const std::string name = platform::utf8FromPath(entry.path().filename());
    bool ours = platform::equalNoCase(name, kConfigFileName);
    for (const sim::SampleFile& file : sim::kSampleFiles)
      ours = ours || platform::equalNoCase(name, file.name);
    if (ours) {
      return shown + " holds update files that the demo would replace (" +
             serial::printablePortName(name) + "): give a new or empty folder";
    }
  }
  return std::string();
}

int DemoCommand::run(const CommonOptions& common) {
  std::string folder = m_folder;
  const std::string& speed = m_speed;
  const bool window = m_window;
  const int fleet = m_fleet;
  std::error_code error;
  if (folder.empty()) {
    if (!platform::createTemporaryFolder("zelupdate-demo-", folder)) {
      std::fprintf(stderr, "zelupdate demo: cannot create a temporary folder\n");
      return kExitFailed;
    }
  } else {
    std::filesystem::create_directories(platform::pathFromUtf8(folder), error);
    if (error) {
      std::fprintf(stderr, "zelupdate demo: cannot create folder %s: %s\n",
                   serial::printablePortName(folder).c_str(), error.message().c_str());
      return kExitUsage;
    }
  }
  folder = platform::utf8FromPath(std::filesystem::absolute(platform::pathFromUtf8(folder), error));
  if (writeSampleUpdateSet(folder) != 0) {
    std::fprintf(stderr, "zelupdate demo: cannot write the sample update set into %s\n",
                 folder.c_str());
    return kExitFailed;
  }
  std::filesystem::current_path(platform::pathFromUtf8(folder), error);
  if (error) {
    std::fprintf(stderr, "zelupdate demo: cannot change to %s\n", folder.c_str());
    return kExitFailed;
  }

  // The demo keeps its settings in its folder: the technician's own file stays as it is.
  const std::string port = kDemoInstrument + speed;
  CommonOptions demoCommon = common;
  demoCommon.settingsFile = platform::joinPath(folder, kDemoSettingsFile);
  // Simulated instruments stay out of the technician's history unless it is named.
  if (common.historyFile.empty())
    demoCommon.historyFile = platform::joinPath(folder, kDemoHistoryFile);
  platform::setSettingsFileOverride(demoCommon.settingsFile);

  if (fleet > 0) {
    std::printf("Sample update set in %s\nAutomatic updates of %d simulated instruments\n",
                folder.c_str(), fleet);
    std::fflush(stdout);
    std::vector<std::string> fleetArgs = fleetPorts(fleet, speed);
    return commandFleet(fleetArgs, demoCommon);
  }

  if (window) {
    const std::string com = "COM" + std::to_string(kDemoComPort);
    if (!platform::writePrivateProfileString("PORTS", com, port, demoCommon.settingsFile) ||
        !platform::writePrivateProfileString("DEVICE", "PORT_NO", std::to_string(kDemoComPort),
                                             demoCommon.settingsFile)) {
      std::fprintf(stderr, "zelupdate demo: cannot write %s\n", demoCommon.settingsFile.c_str());
      return kExitFailed;
    }
    std::printf("Sample update set in %s; %s is the simulated instrument %s\n", folder.c_str(),
                com.c_str(), port.c_str());
    std::fflush(stdout);
    return commandWindow({}, demoCommon);
  }

  std::printf("Sample update set in %s\nAutomatic update of the simulated instrument %s\n",
              folder.c_str(), port.c_str());
  std::fflush(stdout);
  ConsoleRunRequest request;
  request.port = port;
  return runInConsole(request, demoCommon);
}

}  // namespace

std::unique_ptr<Command> makeDemoCommand() {
  return std::make_unique<DemoCommand>();
}
