#include "app/port_access.h"

#include <cstdlib>

#include "serial/com_ports.h"
#include "serial/device_factory.h"
#include "serial/port_names.h"

bool everyPortDenied(const std::vector<PortListEntry>& entries) {
  static const std::string kDenied = " (access denied)";
  if (entries.empty()) return false;
  for (const PortListEntry& entry : entries) {
    const std::string& text = entry.text;
    if (text.size() < kDenied.size() ||
        text.compare(text.size() - kDenied.size(), kDenied.size(), kDenied) != 0) {
      return false;
    }
  }
  return true;
}

std::string portAccessProblem(const std::string& device) {
  return explainSerialAccess(device);
}

namespace {

struct FailureTexts {
  serial::PortFailure failure;
  const char* text;  // after the failing step of a run
  const char* mark;  // in the port list of `zelupdate ports`
};

constexpr FailureTexts kFailureTexts[] = {
    {serial::PortFailure::Refused, "connection refused", "refused"},
    {serial::PortFailure::HostNotFound, "host not found", "host not found"},
    {serial::PortFailure::Busy, "busy with another client", "busy"},
    {serial::PortFailure::NoAnswer, "no answer", "no answer"},
};

const FailureTexts* textsOf(serial::PortFailure failure) {
  for (const FailureTexts& texts : kFailureTexts) {
    if (texts.failure == failure) return &texts;
  }
  return nullptr;
}

}  // namespace

std::string portFailureText(serial::PortFailure failure) {
  const FailureTexts* texts = textsOf(failure);
  return texts ? texts->text : "";
}

std::string portFailureMark(serial::PortFailure failure) {
  const FailureTexts* texts = textsOf(failure);
  return texts ? texts->mark : "";
}

std::string portFailureLine(const std::string& device, serial::PortFailure failure) {
  const std::string text = portFailureText(failure);
  if (text.empty()) return text;
  return serial::printablePortName(device) + ": " + text;
}

serial::SerialInventoryRoots serialInventoryRoots() {
  serial::SerialInventoryRoots roots;
  if (const char* sys = std::getenv("ZEL_SYSFS_ROOT"); sys && *sys) roots.sys = sys;
  if (const char* dev = std::getenv("ZEL_DEV_ROOT"); dev && *dev) roots.dev = dev;
  return roots;
}

std::string latencyTimerWarning(const serial::SerialDeviceInfo& info) {
  if (info.latencyMs <= serial::kSlowLatencyMs) return std::string();
  std::string text = "latency timer " + std::to_string(info.latencyMs) +
                     " ms: the programming link runs several times slower than at 1 ms. ";
  if (!info.latencyFile.empty()) {
    if (info.latencyLoweredWhileOpen) text += "zelupdate sets 1 ms while it holds the port; ";
    return text + "to keep 1 ms: echo 1 | sudo tee " + info.latencyFile + " (or: setserial " +
           info.device + " low_latency)";
  }
  const std::string port = info.description.empty() ? info.device : info.description;
  return text + "Set 1 ms: Device Manager > Ports (COM & LPT) > " + port +
         " > Port Settings > Advanced > Latency Timer (msec) = 1";
}

std::string runLatencyWarning(const std::string& device) {
  if (device.empty() || serial::isSimulatedPortName(device) || serial::isNetworkPortName(device)) {
    return std::string();
  }
  const std::vector<serial::SerialDeviceInfo> devices =
      serial::listSerialDevices(serialInventoryRoots());
  const serial::SerialDeviceInfo* info = serial::findSerialDevice(devices, device);
  if (info == nullptr || info->latencyLoweredWhileOpen) return std::string();
  return latencyTimerWarning(*info);
}
