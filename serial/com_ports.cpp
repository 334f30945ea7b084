#include "serial/com_ports.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string_view>

#include "platform/profile.h"
#include "serial/local_device.h"

namespace platform {
namespace {

// Section of the settings file that maps COM numbers to devices.
constexpr const char* kPortsSection = "PORTS";
// Highest number a mapping may name (the highest COM number Windows knows).
constexpr int kMaxMappedPort = 255;
// The prefix of Windows' device name space: "\\.\COM12".
constexpr std::string_view kWin32DeviceSpace = "\\\\.\\";

// Numbers mapped by the settings file or the program; an empty device hides the number.
std::map<int, std::string>& overrides() {
  static std::map<int, std::string> table;
  return table;
}

// The number of a key "COMn" (any case); 0 for other keys.
int comKeyNumber(const std::string& key) {
  if (key.size() < 4 || key.size() > 6) return 0;
  if ((key[0] | 0x20) != 'c' || (key[1] | 0x20) != 'o' || (key[2] | 0x20) != 'm') return 0;
  int number = 0;
  for (size_t i = 3; i < key.size(); ++i) {
    if (key[i] < '0' || key[i] > '9') return 0;
    number = number * 10 + (key[i] - '0');
  }
  return number >= 1 && number <= kMaxMappedPort ? number : 0;
}

// The length of the valid UTF-8 sequence at text[at] (1 to 4) with its code point; 0 for a
// byte that begins no valid sequence (overlong forms and surrogates included).
size_t utf8Sequence(const std::string& text, size_t at, uint32_t& codePoint) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = 0;
  uint32_t least = 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, codePoint = lead & 0x1Fu, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, codePoint = lead & 0x0Fu, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, codePoint = lead & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (next & 0x3Fu);
  }
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  return codePoint < least || codePoint > 0x10FFFF || surrogate ? 0 : length;
}

bool unsafeOnTerminal(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string comPortDevice(int portNo) {
  const auto found = overrides().find(portNo);
  if (found != overrides().end()) return found->second;
  return defaultComDevice(portNo);
}

void setComPortDevice(int portNo, const std::string& device) {
  if (portNo < 1 || portNo > kMaxMappedPort) return;
  overrides()[portNo] = device;
}

void resetComPortMapping() {
  overrides().clear();
}

void loadComPortMapping(const std::string& settingsFile) {
  for (const auto& [key, device] : getPrivateProfileSection(kPortsSection, settingsFile)) {
    const int number = comKeyNumber(key);
    if (number != 0) setComPortDevice(number, device);
  }
}

int comNumberOfName(const std::string& text) {
  // Windows' device name space "\\.\COM7" (what CreateFile opens; needed there above COM9)
  // is COM7 on both systems, so that a ports file or a setting written on Windows reads the
  // same on Linux, where COM7 is the program's own number. Only with "COM" after it: "\\.\7"
  // is no name Windows has.
  const bool deviceSpace = text.starts_with(kWin32DeviceSpace);
  const std::string name = deviceSpace ? text.substr(kWin32DeviceSpace.size()) : text;
  const bool prefixed = name.size() > 3 && (name[0] | 0x20) == 'c' && (name[1] | 0x20) == 'o' &&
                        (name[2] | 0x20) == 'm';
  if (deviceSpace && !prefixed) return 0;
  const std::string digits = prefixed ? name.substr(3) : name;
  if (digits.empty() || digits.size() > 3 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const int number = std::atoi(digits.c_str());
  return number <= kMaxMappedPort ? number : 0;
}

std::string commandLinePort(const std::string& text) {
  if (text.starts_with("/") || text.starts_with("rfc2217://") || text.starts_with("sim:")) {
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
  numbers.erase(
      std::remove_if(numbers.begin(), numbers.end(),
                     [](int number) { return number <= kMaxComPort || number > kMaxMappedPort; }),
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

std::string terminalText(const std::string& text, TerminalEscape style) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t codePoint = 0;
    const size_t length = utf8Sequence(text, i, codePoint);
    if (length > 0 && !unsafeOnTerminal(codePoint)) {
      shown.append(text, i, length);
      i += length;
      continue;
    }
    char escaped[16];
    if (style == TerminalEscape::Question) {
      shown += '?';
    } else if (style == TerminalEscape::Json) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", length > 0 ? codePoint : 0xFFFDu);
      shown += escaped;
    } else if (length == 1 || length == 0) {
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i]));
      shown += escaped;
    } else {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", codePoint);
      shown += escaped;
    }
    i += length > 0 ? length : 1;
  }
  return shown;
}

std::string printablePortName(const std::string& name) {
  return terminalText(name, TerminalEscape::Hex);
}

}  // namespace platform
