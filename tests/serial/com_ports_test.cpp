#include "serial/com_ports.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

class ComPorts : public ::testing::Test {
 protected:
  void TearDown() override { serial::resetComPortMapping(); }
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
    EXPECT_EQ(serial::comPortDevice(row.portNo), row.device) << row.portNo;
}

TEST_F(ComPorts, ProgramAndSettingsFileMapNumbers) {
  serial::setComPortDevice(2, "/dev/ttyUSB9");
  serial::setComPortDevice(4, "");
  EXPECT_EQ(serial::comPortDevice(2), "/dev/ttyUSB9");
  EXPECT_EQ(serial::comPortDevice(4), "");  // hidden, not back to its default

  testing_support::TempDir dir;
  dir.write("z.ini",
            "[DEVICE]\nPORT_NO=3\nCOM1=/dev/not-here\n"
            "[PORTS]\nCOM7=/dev/ttyUSB3\ncom15 = sim:hw=0x11000\nCOM3=\n"
            "COMX=/dev/a\nCOM0=/dev/b\nCOM256=/dev/c\nCOM20=/dev/ttyS9\n");
  serial::loadComPortMapping(dir.file("z.ini"));
  EXPECT_EQ(serial::comPortDevice(7), "/dev/ttyUSB3");
  EXPECT_EQ(serial::comPortDevice(15), "sim:hw=0x11000");
  EXPECT_EQ(serial::comPortDevice(3), "");
  EXPECT_EQ(serial::comPortDevice(20), "/dev/ttyS9");
  EXPECT_EQ(serial::comPortDevice(1), "/dev/ttyS0");  // other sections do not map
  EXPECT_EQ(serial::comPortDevice(0), "");
  EXPECT_EQ(serial::comPortDevice(2), "/dev/ttyUSB9");  // not in the file: kept

  serial::resetComPortMapping();
  EXPECT_EQ(serial::comPortDevice(7), "/dev/ttyUSB2");
  EXPECT_EQ(serial::comPortDevice(3), "/dev/ttyS2");
}

// Windows' own form "\\\\.\\COMn" is COM n on both systems (a ports file written there reads
// the same here); the command line takes every form of a number as its digits.
TEST_F(ComPorts, NamesOfComNumbersAndCommandLinePorts) {
  serial::setComPortDevice(20, "/dev/ttyS9");
  struct Row {
    const char* text;
    int number;
    const char* port;  // as the command line takes it; empty: refused
  };
  const Row rows[] = {
      {"5", 5, "5"},
      {"com5", 5, "5"},
      {"COM15", 15, "15"},
      {"\\\\.\\COM7", 7, "7"},
      {"\\\\.\\com12", 12, "12"},
      {"\\\\.\\COM20", 20, "20"},  // above 15: mapped
      {"\\\\.\\COM16", 16, ""},    // above 15, neither mapped nor present
      {"\\\\.\\7", 0, ""},         // Windows has no device named by digits alone
      {"\\\\.\\COM", 0, ""},
      {"\\\\.\\COM7x", 0, ""},
      {"\\\\?\\COM7", 0, ""},  // another name space
      {"\\\\.\\pipe\\zel", 0, ""},
      {"COM256", 0, ""},
      {"COM 5", 0, ""},
      {"/dev/ttyUSB0", 0, "/dev/ttyUSB0"},
      {"rfc2217://rack-4:2001", 0, "rfc2217://rack-4:2001"},
      {"sim:hw=0x11000", 0, "sim:hw=0x11000"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(serial::comNumberOfName(row.text), row.number);
    EXPECT_EQ(serial::commandLinePort(row.text), row.port);
  }
  // The narrower forms: keys of [PORTS] and the system's port names; the command line's digits.
  using serial::ComNameForm;
  const struct {
    const char* text;
    ComNameForm form;
    int number;
  } forms[] = {
      {"COM5", ComNameForm::Prefixed, 5}, {"com255", ComNameForm::Prefixed, 255},
      {"5", ComNameForm::Prefixed, 0},    {"\\\\.\\COM5", ComNameForm::Prefixed, 0},
      {"COM0", ComNameForm::Prefixed, 0}, {"COM256", ComNameForm::Prefixed, 0},
      {"255", ComNameForm::Digits, 255},  {"256", ComNameForm::Digits, 0},
      {"COM5", ComNameForm::Digits, 0},   {"0", ComNameForm::Digits, 0},
      {"", ComNameForm::Digits, 0},       {"\\\\.\\7", ComNameForm::Digits, 0},
  };
  for (const auto& row : forms) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(serial::comNumberOfName(row.text, row.form), row.number);
  }
  // Two names of one port reach one device (a fleet refuses them together).
  EXPECT_EQ(serial::resolvedPortDevice("\\\\.\\COM7"), serial::resolvedPortDevice("COM7"));
}

}  // namespace
