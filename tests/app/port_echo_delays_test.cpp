// The delays of the port a dry run plans with: a local adapter's latency timer from a fake
// sysfs tree (Linux), and what an open device tells.
#include "app/port_echo_delays.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/fake_serial_device.h"
#include "tests/support/temp_dir.h"

namespace {

// An open device that knows its delays, as a network port or a simulated adapter does.
class KnowingDevice : public testing_support::FakeSerialDevice {
 public:
  explicit KnowingDevice(serial::ReceiveDelays delays)
      : FakeSerialDevice(std::make_shared<testing_support::FakeSerialLine>()), m_delays(delays) {}
  serial::ReceiveDelays receiveDelays() const override { return m_delays; }

 private:
  serial::ReceiveDelays m_delays;
};

TEST(PortEchoDelays, adapter_latency_from_the_inventory_and_the_rest_from_the_device) {
  testing_support::TempDir dir;
  namespace fs = std::filesystem;
  const fs::path root = dir.path();
  // An FTDI adapter at its default 16 ms, which the termios backend lowers to 1 ms, and a
  // built-in UART without a latency timer.
  const fs::path ftdi = root / "sys/devices/usb1/1-2/1-2:1.0/ttyUSB0";
  fs::create_directories(ftdi);
  std::ofstream(ftdi / "latency_timer") << "16\n";
  fs::create_directories(root / "sys/devices/pnp0/00:05");
  for (const char* tty : {"ttyUSB0", "ttyS0"}) {
    fs::create_directories(root / "sys/class/tty" / tty);
    fs::create_directories(root / "dev");
    std::ofstream(root / "dev" / tty).flush();
  }
  fs::create_directory_symlink(ftdi, root / "sys/class/tty/ttyUSB0/device");
  fs::create_directory_symlink(root / "sys/devices/pnp0/00:05",
                               root / "sys/class/tty/ttyS0/device");
  ::setenv("ZEL_SYSFS_ROOT", (root / "sys").c_str(), 1);
  ::setenv("ZEL_DEV_ROOT", (root / "dev").c_str(), 1);

  const struct {
    std::string device;
    serial::ReceiveDelays known;  // what the open device tells
    double adapterMs, networkMs;
  } rows[] = {
      {(root / "dev/ttyUSB0").string(), {}, 1, 0},
      {(root / "dev/ttyS0").string(), {}, 0, 0},
      {"rfc2217://127.0.0.1:2001", {0, 250}, 0, 0.25},
      {"sim:latency=16", {16000, 0}, 16, 0},
  };
  for (const auto& row : rows) {
    const KnowingDevice device(row.known);
    const EchoDelays delays = portEchoDelays(row.device, &device);
    EXPECT_DOUBLE_EQ(delays.adapterLatencyMs, row.adapterMs) << row.device;
    EXPECT_DOUBLE_EQ(delays.networkRoundTripMs, row.networkMs) << row.device;
  }
  ::unsetenv("ZEL_SYSFS_ROOT");
  ::unsetenv("ZEL_DEV_ROOT");
}

}  // namespace
