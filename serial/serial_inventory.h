// Every serial device of the machine as sysfs lists it, with the stable names udev gives it
// (/dev/serial/by-id/..., /dev/serial/by-path/...) and, for USB adapters, the identity of the
// USB device: so that a rack's adapters can be named by paths that survive replugging.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct UsbIdentity {
  std::string vendorId;  // "0403" as sysfs writes it
  std::string productId;
  std::string manufacturer;  // empty when the device gives none
  std::string product;
  std::string serial;
};

struct SerialDeviceInfo {
  std::string device;               // "/dev/ttyUSB0"
  std::string driver;               // "ftdi_sio", "cdc_acm", "serial"; empty when unknown
  std::vector<std::string> byId;    // links under /dev/serial/by-id that lead to it
  std::vector<std::string> byPath;  // links under /dev/serial/by-path
  bool usb = false;                 // identity below is set
  UsbIdentity identity;
};

// Where the lists are read: the roots are parameters so that a fake tree can stand in.
struct SerialInventoryRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
};

// The devices of sysfs's tty class that sit on hardware (the placeholder ports of the
// legacy UART driver left out), sorted by device name. Device paths are written under the
// /dev root as given.
std::vector<SerialDeviceInfo> listSerialDevices(const SerialInventoryRoots& roots = {});

}  // namespace platform
