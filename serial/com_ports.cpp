#include "serial/com_ports.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string_view>

#include "platform/profile.h"
#include "platform/terminal_text.h"
#include "serial/local_device.h"
#include "serial/port_names.h"

namespace serial {
namespace {

// Section of the settings file that maps COM numbers to devices.
constexpr const char* kPortsSection = "PORTS";
// The prefix of Windows' device name space: "\\.\COM12".
constexpr std::string_view kWin32DeviceSpace = "\\\\.\\";

// Numbers mapped by the settings file or the program; an empty device hides the number.
std::map<int, std::string>& overrides() {
  static std::map<int, std::string> table;
  return table;
}

}  // namespace

std::string comPortDevice(int portNo) {
  const auto found = overrides().find(portNo);
  if (found != overrides().end()) return found->second;
  return defaultComDevice(portNo);
}

void setComPortDevice(int portNo, const std::string& device) {
  if (portNo < 1 || portNo > kHighestComNumber) return;
  overrides()[portNo] = device;
}

void resetComPortMapping() {
  overrides().clear();
}

void loadComPortMapping(const std::string& settingsFile) {
  for (const auto& [key, device] :
       platform::getPrivateProfileSection(kPortsSection, settingsFile)) {
    const int number = comNumberOfName(key, ComNameForm::Prefixed);
    if (number != 0) setComPortDevice(number, device);
  }
}

int comNumberOfName(std::string_view name, ComNameForm form) {
  // Windows' device name space "\\.\COM7" (what CreateFile opens; needed there above COM9)
  // is COM7 on both systems, so that a ports file or a setting written on Windows reads the
  // same on Linux, where COM7 is the program's own number. Only with "COM" after it: "\\.\7"
  // is no name Windows has.
  const bool deviceSpace = form == ComNameForm::Any && name.starts_with(kWin32DeviceSpace);
  if (deviceSpace) name.remove_prefix(kWin32DeviceSpace.size());
  const bool prefixed = name.size() > 3 && (name[0] | 0x20) == 'c' && (name[1] | 0x20) == 'o' &&
                        (name[2] | 0x20) == 'm';
  const bool wanted = form == ComNameForm::Any ? prefixed || !deviceSpace
                                               : prefixed == (form == ComNameForm::Prefixed);
  if (!wanted) return 0;
  const std::string_view digits = prefixed ? name.substr(3) : name;
  if (digits.empty() || digits.size() > 3 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return 0;
  }
  int number = 0;
  for (char digit : digits) number = number * 10 + (digit - '0');
  return number >= 1 && number <= kHighestComNumber ? number : 0;
}

std::string commandLinePort(const std::string& text) {
  if (text.starts_with("/") || serial::isNetworkPortName(text) ||
      serial::isSimulatedPortName(text)) {
    return text;
  }
  const int number = comNumberOfName(text);
  if (number < 1) return std::string();
  if (number > kMaxComPort) {
    // A higher number needs a device that the mapping gives it, or a port the system has.
    const auto found = overrides().find(number);
    if (found != overrides().end()) {
      if (found->second.empty()) return std::string();
    } else {
      const std::vector<int> present = presentHighComNumbers();
      if (comPortDevice(number).empty() ||
          std::find(present.begin(), present.end(), number) == present.end()) {
        return std::string();
      }
    }
  }
  return std::to_string(number);
}

std::string comNumberRule() {
  std::string rule = "COM numbers are 1 to " + std::to_string(kMaxComPort);
  const std::vector<int> present = presentHighComNumbers();
  if (!present.empty()) {
    rule += " and the ports present above them (";
    for (size_t i = 0; i < present.size(); ++i) {
      rule += (i == 0 ? "COM" : ", COM") + std::to_string(present[i]);
    }
    rule += "),";
  }
  return rule + " unless [PORTS] of the settings file maps a higher one";
}

std::vector<int> presentHighComNumbers() {
  std::vector<int> numbers = systemComNumbers();
  numbers.erase(std::remove_if(
                    numbers.begin(), numbers.end(),
                    [](int number) { return number <= kMaxComPort || number > kHighestComNumber; }),
                numbers.end());
  return numbers;
}

std::string resolvedPortDevice(const std::string& name) {
  const int number = comNumberOfName(name);
  const std::string device = number > 0 ? comPortDevice(number) : name;
  if (!device.starts_with("/")) return device;
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(device, error);
  return error ? device : resolved.string();
}

std::string printablePortName(const std::string& name) {
  return platform::terminalText(name, platform::TerminalEscape::Hex);
}

}  // namespace serial
