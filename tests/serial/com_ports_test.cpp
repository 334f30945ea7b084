#include "serial/com_ports.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

class ComPorts : public ::testing::Test {
 protected:
  void TearDown() override { platform::resetComPortMapping(); }
};

TEST_F(ComPorts, DefaultDevices) {
  struct Row {
    int portNo;
    const char* device;
  };
  const Row rows[] = {
      {1, "/dev/ttyS0"},
      {4, "/dev/ttyS3"},
      {5, "/dev/ttyUSB0"},
      {12, "/dev/ttyUSB7"},
      {13, "/dev/ttyACM0"},
      {15, "/dev/ttyACM2"},
      {0, ""},
      {16, ""},
      {-1, ""},  // no default outside 1..15
  };
  for (const Row& row : rows)
    EXPECT_EQ(platform::comPortDevice(row.portNo), row.device) << row.portNo;
}

TEST_F(ComPorts, ProgramAndSettingsFileMapNumbers) {
  platform::setComPortDevice(2, "/dev/ttyUSB9");
  platform::setComPortDevice(4, "");
  EXPECT_EQ(platform::comPortDevice(2), "/dev/ttyUSB9");
  EXPECT_EQ(platform::comPortDevice(4), "");  // hidden, not back to its default

  testing_support::TempDir dir;
  dir.write("z.ini",
            "[DEVICE]\nPORT_NO=3\nCOM1=/dev/not-here\n"
            "[PORTS]\nCOM7=/dev/ttyUSB3\ncom15 = sim:hw=0x11000\nCOM3=\n"
            "COMX=/dev/a\nCOM0=/dev/b\nCOM256=/dev/c\nCOM20=/dev/ttyS9\n");
  platform::loadComPortMapping(dir.file("z.ini"));
  EXPECT_EQ(platform::comPortDevice(7), "/dev/ttyUSB3");
  EXPECT_EQ(platform::comPortDevice(15), "sim:hw=0x11000");
  EXPECT_EQ(platform::comPortDevice(3), "");
  EXPECT_EQ(platform::comPortDevice(20), "/dev/ttyS9");
  EXPECT_EQ(platform::comPortDevice(1), "/dev/ttyS0");  // other sections do not map
  EXPECT_EQ(platform::comPortDevice(0), "");
  EXPECT_EQ(platform::comPortDevice(2), "/dev/ttyUSB9");  // not in the file: kept

  platform::resetComPortMapping();
  EXPECT_EQ(platform::comPortDevice(7), "/dev/ttyUSB2");
  EXPECT_EQ(platform::comPortDevice(3), "/dev/ttyS2");
}

}  // namespace
