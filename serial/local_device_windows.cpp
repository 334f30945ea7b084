// Local ports on Windows: COMn is the system's COM n ("\\.\COMn"), through the Win32 backend.
#include "serial/local_device.h"
#include "serial/win32/comm_api.h"
#include "serial/win32/win32_device.h"

namespace {

// The highest number Windows gives a COM port.
constexpr int kHighestComNumber = 255;

}  // namespace

std::unique_ptr<platform::SerialDevice> createLocalDevice(const std::string& name) {
  return std::make_unique<platform::Win32SerialDevice>(name, platform::createWindowsCommApi());
}

platform::ProbeResult probeLocalDevice(const std::string& name) {
  const std::unique_ptr<platform::CommApi> api = platform::createWindowsCommApi();
  return platform::Win32SerialDevice::probe(name, *api);
}

std::string explainLocalAccess(const std::string& name) {
  switch (probeLocalDevice(name)) {
    case platform::ProbeResult::InUse:
      return "in use by another program";
    case platform::ProbeResult::Absent:
      return "no such device";
    default:
      return std::string();
  }
}

std::string defaultComDevice(int portNo) {
  if (portNo < 1 || portNo > kHighestComNumber) return std::string();
  return "COM" + std::to_string(portNo);
}
