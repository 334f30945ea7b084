// The serial inventory on Linux: sysfs's tty class, the links of /dev/serial, and the USB
// device above each adapter.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "serial/serial_inventory.h"

namespace serial {

namespace fs = std::filesystem;

namespace {

// A sysfs attribute's first line; empty when absent.
std::string readAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return std::string();
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.size() > 256) line.resize(256);
  return line;
}

// The links of one folder under /dev/serial that lead to `target`, sorted.
std::vector<std::string> linksTo(const fs::path& folder, const fs::path& target) {
  std::vector<std::string> out;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    std::error_code linkError;
    if (!entry.is_symlink(linkError)) continue;
    const fs::path resolved = fs::weakly_canonical(entry.path(), linkError);
    if (!linkError && resolved == target) out.push_back(entry.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The USB device above an interface: the first folder upwards that has an idVendor.
bool findUsbIdentity(fs::path folder, const fs::path& stop, UsbIdentity& identity) {
  for (int depth = 0; depth < 16 && !folder.empty() && folder != stop; ++depth) {
    std::error_code error;
    if (fs::exists(folder / "idVendor", error)) {
      identity.vendorId = readAttribute(folder / "idVendor");
      identity.productId = readAttribute(folder / "idProduct");
      identity.manufacturer = readAttribute(folder / "manufacturer");
      identity.product = readAttribute(folder / "product");
      identity.serial = readAttribute(folder / "serial");
      return true;
    }
    if (folder == folder.parent_path()) break;
    folder = folder.parent_path();
  }
  return false;
}

// The latency timer of a USB serial port (FTDI adapters have one): its value, and the file
// that sets it (under /sys/bus/usb-serial/devices where that exists).
void readLatencyTimer(const fs::path& hardware, const fs::path& sysRoot, const std::string& name,
                      SerialDeviceInfo& info) {
  const std::string text = readAttribute(hardware / "latency_timer");
  if (text.empty() || text.size() > 3 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return;
  }
  info.latencyMs = std::stoi(text);
  const fs::path busFile = sysRoot / "bus/usb-serial/devices" / name / "latency_timer";
  std::error_code error;
  info.latencyFile =
      fs::exists(busFile, error) ? busFile.string() : (hardware / "latency_timer").string();
  // The termios backend asks for low-latency mode at open, which these drivers carry out with
  // a 1 ms timer for as long as the port is held.
  info.latencyLoweredWhileOpen = true;
}

}  // namespace

std::vector<SerialDeviceInfo> listSerialDevices(const SerialInventoryRoots& roots) {
  std::vector<SerialDeviceInfo> out;
  const fs::path sysRoot = fs::weakly_canonical(fs::path(roots.sys));
  const fs::path sysGiven(roots.sys);
  const fs::path devRoot(roots.dev);
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(sysRoot / "class/tty", error)) {
    const std::string name = entry.path().filename().string();
    std::error_code linkError;
    const fs::path deviceLink = entry.path() / "device";
    if (!fs::exists(deviceLink, linkError)) continue;  // virtual terminals, ptys
    const fs::path hardware = fs::canonical(deviceLink, linkError);
    if (linkError) continue;
    SerialDeviceInfo info;
    const fs::path driver = fs::canonical(deviceLink / "driver", linkError);
    if (!linkError) info.driver = driver.filename().string();
    // The legacy UART driver registers placeholder ports on its own platform device.
    if (hardware.filename() == "serial8250") continue;
    info.device = (devRoot / name).string();
    const fs::path target = fs::weakly_canonical(devRoot / name, linkError);
    info.byId = linksTo(devRoot / "serial/by-id", target);
    info.byPath = linksTo(devRoot / "serial/by-path", target);
    info.usb = findUsbIdentity(hardware, sysRoot, info.identity);
    readLatencyTimer(hardware, sysGiven, name, info);
    out.push_back(std::move(info));
  }
  sortSerialDevices(out);
  return out;
}

}  // namespace serial
