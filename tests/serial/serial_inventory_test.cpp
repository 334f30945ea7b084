#include "serial/serial_inventory.h"

#include <gtest/gtest.h>

namespace {

using serial::SerialDeviceInfo;
using serial::UsbIdentity;

// The ids Windows gives the ports of common adapters, and ids that must not pass for them.
TEST(WindowsDeviceIds, vendor_product_and_serial_from_hardware_and_instance_ids) {
  const struct {
    const char* hardwareId;
    const char* instanceId;
    bool usb;
    const char* vendor;
    const char* product;
    const char* serial;
  } rows[] = {
      // FTDI's bus driver: the port's own ids, the channel letter after the serial.
      {"FTDIBUS\\COMPORT&VID_0403&PID_6001", "FTDIBUS\\VID_0403+PID_6001+A10K7Q2BA\\0000", true,
       "0403", "6001", "A10K7Q2B"},
      {"FTDIBUS\\COMPORT&VID_0403&PID_6010", "FTDIBUS\\VID_0403+PID_6010+FT4ZQ1XYB\\0000", true,
       "0403", "6010", "FT4ZQ1XY"},
      // Without a serial number the bus driver makes one up from the location.
      {"FTDIBUS\\COMPORT&VID_0403&PID_6001", "FTDIBUS\\VID_0403+PID_6001+6&2D6F5B7&0&2A\\0000",
       true, "0403", "6001", ""},
      // The USB device is the port (CDC ACM, usbser), upper-case hex as Windows writes it.
      {"USB\\VID_2341&PID_0043&REV_0001", "USB\\VID_2341&PID_0043\\75735323030351F0B1A1", true,
       "2341", "0043", "75735323030351F0B1A1"},
      {"USB\\VID_10C4&PID_EA60&REV_0100", "USB\\VID_10C4&PID_EA60\\0001", true, "10c4", "ea60",
       "0001"},
      {"usb\\vid_067b&pid_2303&rev_0300", "USB\\VID_067B&PID_2303\\5&2A3B1C4&0&2", true, "067b",
       "2303", ""},
      // An interface of a composite device: its instance id is the system's.
      {"USB\\VID_1A86&PID_55D3&REV_0443&MI_00", "USB\\VID_1A86&PID_55D3&MI_00\\6&1F0A2B3C&0&0000",
       true, "1a86", "55d3", ""},
      // Built-in ports and malformed ids.
      {"ACPI\\PNP0501", "ACPI\\PNP0501\\1", false, "", "", ""},
      {"", "", false, "", "", ""},
      {"USB\\VID_0403", "USB\\VID_0403\\X", false, "", "", ""},  // no product
      {"USB\\VID_04&PID_6001", "", false, "", "", ""},           // too few digits
      {"USB\\VID_04031&PID_6001", "", false, "", "", ""},        // too many
      {"USB\\VID_04G3&PID_6001", "", false, "", "", ""},         // not hex
      {"USB\\XVID_0403&PID_6001", "", false, "", "", ""},        // not a field
      {"USB\\VID_0403&PID_6001", "USB\\VID_0403&PID_6001", true, "0403", "6001", ""},
  };
  for (const auto& row : rows) {
    UsbIdentity identity;
    identity.manufacturer = "kept";
    EXPECT_EQ(serial::parseWindowsDeviceIds(row.hardwareId, row.instanceId, identity), row.usb)
        << row.hardwareId;
    EXPECT_EQ(identity.vendorId, row.vendor) << row.hardwareId;
    EXPECT_EQ(identity.productId, row.product) << row.hardwareId;
    EXPECT_EQ(identity.serial, row.serial) << row.instanceId;
    EXPECT_EQ(identity.manufacturer, "kept");
  }
}

// COM ports by number (COM2 before COM10), paths in character order; a device is found by
// its name in any case, or by a path that leads to it.
TEST(SerialInventory, order_and_lookup) {
  std::vector<SerialDeviceInfo> devices(5);
  const char* names[] = {"/dev/ttyUSB0", "COM10", "/dev/ttyS0", "COM2", "COM23"};
  for (size_t i = 0; i < devices.size(); ++i) devices[i].device = names[i];
  serial::sortSerialDevices(devices);
  std::vector<std::string> order;
  for (const SerialDeviceInfo& d : devices) order.push_back(d.device);
  EXPECT_EQ(order,
            (std::vector<std::string>{"COM2", "COM10", "COM23", "/dev/ttyS0", "/dev/ttyUSB0"}));

  EXPECT_EQ(serial::findSerialDevice(devices, "com23"), &devices[2]);
  EXPECT_EQ(serial::findSerialDevice(devices, "/dev/../dev/ttyS0"), &devices[3]);
  EXPECT_EQ(serial::findSerialDevice(devices, "COM3"), nullptr);
  EXPECT_EQ(serial::findSerialDevice(devices, "/dev/ttyUSB1"), nullptr);
}

}  // namespace

// The latency that every echoed byte of the programming link waits for while the port is held.
TEST(SerialInventory, latency_while_held) {
  const struct {
    int latencyMs;
    bool lowered;
    int expected;
  } rows[] = {
      {16, true, 1},    // Linux' FTDI driver at its default: low-latency mode makes it 1 ms
      {16, false, 16},  // Windows' FTDI driver: the device's parameters stand
      {2, false, 2},   {0, true, 0},  // already below what low-latency mode sets
      {-1, false, 0},                 // no latency timer (a built-in UART, a CDC adapter)
  };
  for (const auto& row : rows) {
    SerialDeviceInfo info;
    info.latencyMs = row.latencyMs;
    info.latencyLoweredWhileOpen = row.lowered;
    EXPECT_EQ(serial::latencyWhileHeldMs(info), row.expected) << row.latencyMs << row.lowered;
  }
}
