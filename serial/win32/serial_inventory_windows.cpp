// The serial inventory on Windows: the present COM ports as the setup API lists them (the
// Ports class and the COM port interface), each with its name, driver, the USB identity in
// its hardware and instance ids, and the latency timer that the FTDI driver keeps among the
// device's parameters; then the ports of the registry's serial map that the setup API did
// not list (a port of a driver without a device node of that class).
#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/utf8_text.h"
#include "serial/com_ports.h"
#include "serial/local_device.h"
#include "serial/serial_inventory.h"

namespace serial {
namespace {

// The class of COM and LPT ports, and the interface of COM ports.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
// The longest instance id (the configuration manager's MAX_DEVICE_ID_LEN).
constexpr DWORD kLongestInstanceId = 200;
// The longest property read; a longer one is left out.
constexpr DWORD kLongestProperty = 16384;

std::string narrow(const wchar_t* text, size_t length) {
  return platform::utf8(std::u16string(text, text + length));
}

// A string of a UTF-16 buffer up to its first terminator (within `bytes`).
std::string firstString(const std::vector<BYTE>& buffer, DWORD bytes) {
  const size_t units = std::min<size_t>(bytes, buffer.size()) / sizeof(wchar_t);
  std::wstring text(units, L'\0');
  std::memcpy(text.data(), buffer.data(), units * sizeof(wchar_t));
  const size_t end = text.find(L'\0');
  if (end != std::wstring::npos) text.resize(end);
  return narrow(text.data(), text.size());
}

// A text property of a device (the first of a list); empty when it has none.
std::string deviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  DWORD needed = 0;
  DWORD type = 0;
  ::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, nullptr, 0, &needed);
  if (needed == 0 || needed > kLongestProperty) return std::string();
  std::vector<BYTE> buffer(needed + sizeof(wchar_t), 0);
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, buffer.data(), needed,
                                           &needed)) {
    return std::string();
  }
  if (type != REG_SZ && type != REG_MULTI_SZ) return std::string();
  return firstString(buffer, needed);
}

std::string instanceIdOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
  wchar_t id[kLongestInstanceId + 1] = {};
  if (!::SetupDiGetDeviceInstanceIdW(set, &device, id, kLongestInstanceId, nullptr)) {
    return std::string();
  }
  return narrow(id, wcsnlen(id, kLongestInstanceId));
}

// What the device's parameters key holds for the port: its name, and the FTDI driver's
// latency timer (-1 without one).
struct PortParameters {
  std::string portName;
  int latencyMs = -1;
};

PortParameters portParameters(HDEVINFO set, SP_DEVINFO_DATA& device) {
  PortParameters parameters;
  HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return parameters;
  std::vector<BYTE> name(64 * sizeof(wchar_t), 0);
  DWORD bytes = static_cast<DWORD>(name.size() - sizeof(wchar_t));
  DWORD type = 0;
  if (::RegQueryValueExW(key, L"PortName", nullptr, &type, name.data(), &bytes) == ERROR_SUCCESS &&
      type == REG_SZ) {
    parameters.portName = firstString(name, bytes);
  }
  DWORD latency = 0;
  bytes = sizeof latency;
  if (::RegQueryValueExW(key, L"LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency),
                         &bytes) == ERROR_SUCCESS &&
      type == REG_DWORD && latency <= 255) {
    parameters.latencyMs = static_cast<int>(latency);
  }
  ::RegCloseKey(key);
  return parameters;
}

bool listed(const std::vector<SerialDeviceInfo>& devices, const std::string& name) {
  return std::any_of(devices.begin(), devices.end(),
                     [&](const SerialDeviceInfo& d) { return d.device == name; });
}

// The present COM ports of one set of the setup API.
void addDevices(const GUID& guid, DWORD flags, std::vector<SerialDeviceInfo>& out) {
  HDEVINFO set = ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | flags);
  if (set == INVALID_HANDLE_VALUE) return;
  for (DWORD index = 0; index < 1024; ++index) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!::SetupDiEnumDeviceInfo(set, index, &device)) break;
    const PortParameters parameters = portParameters(set, device);
    const int number = comNumberOfName(parameters.portName);
    if (number <= 0 || parameters.portName.size() < 4) continue;  // LPT ports and the like
    SerialDeviceInfo info;
    info.device = "COM" + std::to_string(number);
    if (listed(out, info.device)) continue;
    info.driver = deviceProperty(set, device, SPDRP_SERVICE);
    info.description = deviceProperty(set, device, SPDRP_FRIENDLYNAME);
    if (info.description.empty()) info.description = deviceProperty(set, device, SPDRP_DEVICEDESC);
    info.usb = parseWindowsDeviceIds(deviceProperty(set, device, SPDRP_HARDWAREID),
                                     instanceIdOf(set, device), info.identity);
    if (info.usb) info.identity.manufacturer = deviceProperty(set, device, SPDRP_MFG);
    info.latencyMs = parameters.latencyMs;
    out.push_back(std::move(info));
  }
  ::SetupDiDestroyDeviceInfoList(set);
}

// The device a DOS name leads to ("\Device\Serial0"); empty when none.
std::string dosDeviceTarget(int number) {
  const std::wstring name = L"COM" + std::to_wstring(number);
  wchar_t target[512] = {};
  const DWORD length =
      ::QueryDosDeviceW(name.c_str(), target, static_cast<DWORD>(std::size(target)));
  if (length == 0) return std::string();
  return narrow(target, wcsnlen(target, std::size(target)));
}

}  // namespace

std::vector<SerialDeviceInfo> listSerialDevices(const SerialInventoryRoots&) {
  std::vector<SerialDeviceInfo> out;
  addDevices(kPortsClass, 0, out);
  addDevices(kComPortInterface, DIGCF_DEVICEINTERFACE, out);
  for (int number : systemComNumbers()) {
    SerialDeviceInfo info;
    info.device = "COM" + std::to_string(number);
    if (listed(out, info.device)) continue;
    info.description = dosDeviceTarget(number);
    out.push_back(std::move(info));
  }
  sortSerialDevices(out);
  return out;
}

}  // namespace serial
