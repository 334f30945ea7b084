// Local ports on Windows: COMn is the system's COM n ("\\.\COMn"), through the Win32 backend.
#include <windows.h>

#include <algorithm>

#include "serial/com_ports.h"
#include "serial/local_device.h"
#include "serial/win32/comm_api.h"
#include "serial/win32/win32_device.h"

namespace {

using serial::kHighestComNumber;

// The number of a port name "COMn" (any case, 1 to 255); 0 for any other name.
int comNumberOf(const wchar_t* name, size_t length) {
  std::string ascii;
  for (size_t i = 0; i < length; ++i) {
    if (name[i] > 0x7F) return 0;
    ascii += static_cast<char>(name[i]);
  }
  return serial::comNumberOfName(ascii, serial::ComNameForm::Prefixed);
}

// The ports of the registry's map of serial devices (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM):
// each value's data is a port name, put there by the port's driver while the port is present.
void addRegisteredPorts(std::vector<int>& numbers) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  for (DWORD index = 0; index < 1024; ++index) {
    wchar_t name[256];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    wchar_t data[32] = {};
    DWORD dataBytes = sizeof data - sizeof(wchar_t);  // room for the terminator
    DWORD type = 0;
    const LONG status = ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataBytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    size_t length = dataBytes / sizeof(wchar_t);
    while (length > 0 && data[length - 1] == L'\0') --length;
    if (const int number = comNumberOf(data, length); number > 0) numbers.push_back(number);
  }
  ::RegCloseKey(key);
}

// The ports that have a DOS device name: every present COM port of Windows has one. Asks by
// name, so that no port is opened.
void addDosDevicePorts(std::vector<int>& numbers) {
  for (int number = 1; number <= kHighestComNumber; ++number) {
    const std::wstring name = L"COM" + std::to_wstring(number);
    wchar_t target[512];
    if (::QueryDosDeviceW(name.c_str(), target, static_cast<DWORD>(std::size(target))) != 0) {
      numbers.push_back(number);
    }
  }
}

}  // namespace

std::unique_ptr<serial::SerialDevice> createLocalDevice(const std::string& name) {
  return std::make_unique<serial::Win32SerialDevice>(name, serial::createWindowsCommApi());
}

serial::ProbeResult probeLocalDevice(const std::string& name) {
  const std::unique_ptr<serial::CommApi> api = serial::createWindowsCommApi();
  return serial::Win32SerialDevice::probe(name, *api);
}

std::string explainLocalAccess(const std::string& name) {
  const std::unique_ptr<serial::CommApi> api = serial::createWindowsCommApi();
  return serial::Win32SerialDevice::explainAccess(name, *api);
}

std::string defaultComDevice(int portNo) {
  if (portNo < 1 || portNo > kHighestComNumber) return std::string();
  return "COM" + std::to_string(portNo);
}

std::vector<int> systemComNumbers() {
  std::vector<int> numbers;
  addRegisteredPorts(numbers);
  addDosDevicePorts(numbers);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  // A port reachable by its name without a DOS device of its own (Wine's links to host
  // devices): the probe finds it. A number without a port fails at once, without opening
  // anything.
  std::vector<int> probed;
  for (int number = 1; number <= kHighestComNumber; ++number) {
    if (std::binary_search(numbers.begin(), numbers.end(), number)) continue;
    if (probeLocalDevice(defaultComDevice(number)) != serial::ProbeResult::Absent) {
      probed.push_back(number);
    }
  }
  numbers.insert(numbers.end(), probed.begin(), probed.end());
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}
