// The parts of the serial inventory that are the same on every system: looking a device up
// in the list, its order, and reading Windows' device ids (plain text, tested everywhere).
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "serial/com_ports.h"
#include "serial/serial_inventory.h"

namespace serial {
namespace {

bool equalNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The COM number of a name "COMn"; 0 for paths and other names.
int comNumberOfDevice(const std::string& name) {
  return comNumberOfName(name, ComNameForm::Prefixed);
}

// The four hexadecimal digits after `key` ("VID_") where it begins a field of `id` (after
// '\', '&' or '+'), in lower case; empty when there are none.
std::string hexField(const std::string& id, const std::string& key) {
  std::string upper(id);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  });
  for (size_t at = upper.find(key); at != std::string::npos; at = upper.find(key, at + 1)) {
    if (at > 0 && upper[at - 1] != '\\' && upper[at - 1] != '&' && upper[at - 1] != '+') continue;
    const size_t begin = at + key.size();
    if (begin + 4 > id.size()) break;
    std::string digits = id.substr(begin, 4);
    const bool hex = std::all_of(digits.begin(), digits.end(), [](char c) {
      return std::isxdigit(static_cast<unsigned char>(c));
    });
    const bool ends =
        begin + 4 == id.size() || !std::isalnum(static_cast<unsigned char>(id[begin + 4]));
    if (!hex || !ends) continue;
    std::transform(digits.begin(), digits.end(), digits.begin(), [](char c) {
      return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return digits;
  }
  return std::string();
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// The serial number in an instance id; empty where Windows made the id up.
std::string serialOfInstanceId(const std::string& instanceId) {
  const std::vector<std::string> parts = split(instanceId, '\\');
  if (parts.size() < 2) return std::string();
  std::string serial;
  if (equalNoCase(parts[0], "FTDIBUS")) {
    // VID_0403+PID_6001+<serial><channel letter>
    const std::vector<std::string> fields = split(parts[1], '+');
    if (fields.size() != 3 || fields[2].size() < 2) return std::string();
    serial = fields[2];
    const char channel = serial.back();
    if (channel >= 'A' && channel <= 'D') serial.pop_back();
  } else if (equalNoCase(parts[0], "USB") && parts.size() == 3) {
    serial = parts[2];
  }
  if (serial.find('&') != std::string::npos) return std::string();
  constexpr size_t kLongestSerial = 128;
  if (serial.size() > kLongestSerial) serial.resize(kLongestSerial);
  return serial;
}

}  // namespace

const SerialDeviceInfo* findSerialDevice(const std::vector<SerialDeviceInfo>& devices,
                                         const std::string& device) {
  namespace fs = std::filesystem;
  std::error_code error;
  const bool path = device.starts_with("/");
  const fs::path resolved = path ? fs::weakly_canonical(device, error) : fs::path();
  for (const SerialDeviceInfo& info : devices) {
    if (info.device == device) return &info;
    if (!path) {
      if (equalNoCase(info.device, device)) return &info;
      continue;
    }
    std::error_code infoError;
    const fs::path candidate = fs::weakly_canonical(info.device, infoError);
    if (!error && !infoError && candidate == resolved) return &info;
  }
  return nullptr;
}

int latencyWhileHeldMs(const SerialDeviceInfo& info) {
  if (info.latencyMs < 0) return 0;
  return info.latencyLoweredWhileOpen ? std::min(info.latencyMs, kLowLatencyMs) : info.latencyMs;
}

void sortSerialDevices(std::vector<SerialDeviceInfo>& devices) {
  std::sort(devices.begin(), devices.end(),
            [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) {
              const int left = comNumberOfDevice(a.device);
              const int right = comNumberOfDevice(b.device);
              if ((left > 0) != (right > 0)) return left > 0;
              if (left != right) return left < right;
              return a.device < b.device;
            });
}

bool parseWindowsDeviceIds(const std::string& hardwareId, const std::string& instanceId,
                           UsbIdentity& identity) {
  const std::string vendor = hexField(hardwareId, "VID_");
  const std::string product = hexField(hardwareId, "PID_");
  if (vendor.empty() || product.empty()) return false;
  identity.vendorId = vendor;
  identity.productId = product;
  identity.serial = serialOfInstanceId(instanceId);
  return true;
}

}  // namespace serial
