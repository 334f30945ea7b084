// zelupdate demo: the sample update set in a folder, then an automatic update of a
// simulated instrument there (processor firmware, reboot, option B20), in the console or,
// with --window, in the desktop window with the simulator on COM1; with --fleet N, N
// simulated instruments of different hardware updated at once by `zelupdate fleet`.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console_run.h"
#include "platform/path_text.h"
#include "platform/profile.h"
#include "platform/temp_files.h"
#include "sim/sample_files.h"
#include "sim/simulator_support.h"

namespace {

constexpr const char* kDemoUsage =
    "usage: zelupdate demo [DIR] [--window] [--speed N|virtual]\n"
    "       zelupdate demo --fleet N [DIR] [--speed N|virtual]   (N from 1 to 16, default 4)\n";
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
// option, B1, B10 and B20; the last one fails to program, so that a failure is shown.
std::vector<std::string> fleetPorts(int count, const std::string& speed) {
  constexpr const char* kHardware[] = {"0x10000", "0x10020", "0x10400", "0x11000"};
  std::vector<std::string> ports;
  for (int i = 0; i < count; ++i) {
    std::string port = "sim:serial=" + std::to_string(1001 + i) + ",hw=" + kHardware[i % 4] +
                       ",version=04.40,version-after=" + sim::kSampleFirmwareVersion +
                       ",speed=" + speed;
    if (i == count - 1 && count > 1) port += ",fault=program-fail";
    ports.push_back(port);
  }
  return ports;
}

int usageError(const std::string& detail) {
  std::fprintf(stderr, "zelupdate demo: %s\n%s", detail.c_str(), kDemoUsage);
  return kExitUsage;
}

bool isSpeed(const std::string& text) {
  if (text == "virtual") return true;
  char* end = nullptr;
  const double factor = std::strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0' && factor > 0 && factor <= 1e6;
}

}  // namespace

int commandDemo(const std::vector<std::string>& args, const CommonOptions& common) {
  std::string folder;
  std::string speed = kDefaultSpeed;
  bool window = false;
  int fleet = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--window") {
      window = true;
    } else if (arg == "--fleet") {
      fleet = kDefaultFleet;
      if (i + 1 < args.size() && !args[i + 1].empty() &&
          args[i + 1].find_first_not_of("0123456789") == std::string::npos) {
        fleet = std::atoi(args[++i].c_str());
        if (fleet < 1 || fleet > kMaxFleet) {
          return usageError("--fleet takes 1 to " + std::to_string(kMaxFleet) + " instruments");
        }
      }
    } else if (arg == "--speed") {
      if (i + 1 >= args.size() || !isSpeed(args[i + 1])) {
        return usageError("--speed needs a factor above 0 or virtual");
      }
      speed = args[++i];
    } else if (arg.rfind("-", 0) != 0 && folder.empty()) {
      folder = arg;
    } else {
      return usageError("unknown argument: " + arg);
    }
  }
  if (fleet > 0 && window) return usageError("--fleet runs in the console only");

  std::error_code error;
  if (folder.empty()) {
    if (!platform::createTemporaryFolder("zelupdate-demo-", folder)) {
      std::fprintf(stderr, "zelupdate demo: cannot create a temporary folder\n");
      return kExitFailed;
    }
  } else {
    std::filesystem::create_directories(platform::pathFromUtf8(folder), error);
    if (error) {
      std::fprintf(stderr, "zelupdate demo: cannot create folder %s\n", folder.c_str());
      return kExitFailed;
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
  demoCommon.settingsFile = folder + "/" + kDemoSettingsFile;
  // Simulated instruments stay out of the technician's history unless it is named.
  if (common.historyFile.empty()) demoCommon.historyFile = folder + "/" + kDemoHistoryFile;
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
