// Every serial device of the machine with what identifies it: on Linux as sysfs lists it,
// with the stable names udev gives it (/dev/serial/by-id/..., /dev/serial/by-path/...); on
// Windows the COM ports present, as the device manager knows them. For USB adapters the
// identity of the USB device, so that a rack's adapters can be told apart, and the adapter's
// latency timer, which decides how fast the echoed programming link runs. The listing is each
// system's own (serial/termios/serial_inventory_posix.cpp, serial/win32/
// serial_inventory_windows.cpp); the rest is portable (serial_inventory.cpp).
#pragma once

#include <string>
#include <vector>

namespace serial {

struct UsbIdentity {
  std::string vendorId;  // "0403" as sysfs writes it (hexadecimal, lower case)
  std::string productId;
  std::string manufacturer;  // empty when the device gives none
  std::string product;
  std::string serial;
};

// Above this many milliseconds a USB adapter's latency timer slows the programming link:
// every echoed byte waits for it.
inline constexpr int kSlowLatencyMs = 2;

struct SerialDeviceInfo {
  std::string device;               // "/dev/ttyUSB0"; "COM23" on Windows
  std::string driver;               // "ftdi_sio", "cdc_acm", "serial"; empty when unknown
  std::string description;          // Windows' name of the port, "USB Serial Port (COM23)"
  std::vector<std::string> byId;    // links under /dev/serial/by-id that lead to it
  std::vector<std::string> byPath;  // links under /dev/serial/by-path
  bool usb = false;                 // identity below is set
  UsbIdentity identity;
  // The adapter's latency timer in ms (FTDI adapters); -1 where there is none or it is unknown.
  int latencyMs = -1;
  // Where it is set: the sysfs file on Linux; empty on Windows, where the port's advanced
  // settings in the device manager hold it.
  std::string latencyFile;
  // This program's own backend asks the driver for 1 ms while it holds the port (low-latency
  // mode of Linux' USB serial drivers), whatever latencyMs says.
  bool latencyLoweredWhileOpen = false;
};

// What low-latency mode sets an adapter's latency timer to.
inline constexpr int kLowLatencyMs = 1;

// The latency timer in effect while this program holds the port, in ms: at most
// kLowLatencyMs where the backend's low-latency mode lowers it, else latencyMs; 0 where the
// port has none or it is unknown.
int latencyWhileHeldMs(const SerialDeviceInfo& info);

// Where the lists are read: the roots are parameters so that a fake tree can stand in
// (Linux only; Windows asks the system).
struct SerialInventoryRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
};

// The serial devices that sit on hardware, in order: on Linux the devices of sysfs's tty
// class (the placeholder ports of the legacy UART driver left out), by device name, with
// device paths written under the /dev root as given; on Windows the present COM ports by
// number.
std::vector<SerialDeviceInfo> listSerialDevices(const SerialInventoryRoots& roots = {});

// The entry of a list for one device: the same name (COM names in any case), or a path that
// leads to the same node; null when there is none.
const SerialDeviceInfo* findSerialDevice(const std::vector<SerialDeviceInfo>& devices,
                                         const std::string& device);

// Sorts a list as listSerialDevices returns it: COM names by number, before paths, which go
// by plain character order.
void sortSerialDevices(std::vector<SerialDeviceInfo>& devices);

// The USB identity in Windows' ids of a port: vendor and product from its hardware id
// ("USB\VID_0403&PID_6001&REV_0600", "FTDIBUS\COMPORT&VID_0403&PID_6001"), the serial number
// from its instance id where the device gave one ("USB\VID_0403&PID_6001\A10K7Q2B"; the FTDI
// bus driver's "FTDIBUS\VID_0403+PID_6001+A10K7Q2BA\0000" adds the channel letter A to D,
// which is not part of it). Windows makes up instance ids with '&' for devices without a
// serial number: those give none. False, with `identity` untouched, when the hardware id
// names no USB vendor and product.
bool parseWindowsDeviceIds(const std::string& hardwareId, const std::string& instanceId,
                           UsbIdentity& identity);

}  // namespace serial
