// The state folder of a simulated instrument: what it keeps from one instrument (one
// process) to the next, and a folder it cannot read.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "sim/registry.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(SimStateTest, flash_version_hardware_and_serial_settings_outlive_the_instrument) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  testing_support::TempDir dir(false);
  const std::string state = ",state=" + dir.file("st");
  sim::resetInstruments();
  {
    auto first = sim::instrumentFor("sim:hw=0x11000,version=04.40,baud=19200" + state);
    ASSERT_TRUE(first && first->stateError.empty()) << first->stateError;
    first->banks[0].bytes[10] = 0x12;
    first->serial.pace = sim::Pace::Xon;
    ASSERT_TRUE(first->hostOpen());
    first->hostClose();  // the instrument keeps what it holds when the host lets go
  }
  sim::resetInstruments();
  // The kept state wins over the options of the port name.
  auto second = sim::instrumentFor("sim:hw=0x10000,version=05.00" + state);
  ASSERT_TRUE(second->stateError.empty()) << second->stateError;
  EXPECT_EQ(second->hwInfo(), 0x11000u);
  EXPECT_EQ(second->version(), "04.40");
  EXPECT_EQ(second->serial.baud, 19200u);
  EXPECT_EQ(second->serial.pace, sim::Pace::Xon);
  ASSERT_EQ(second->banks.size(), 1u);
  EXPECT_EQ(second->banks[0].start, 0x50000u);
  EXPECT_EQ(second->banks[0].bytes[10], 0x12);

  // A damaged folder is reported and left alone: the instrument runs from its options.
  sim::resetInstruments();
  dir.write("st/bank-00050000.bin", "short");
  auto third = sim::instrumentFor("sim:hw=0x10000" + state);
  EXPECT_EQ(third->stateError, "bank 0x50000 has another size");
  EXPECT_EQ(third->hwInfo(), 0x10000u);
  third->hostOpen();
  third->hostClose();
  EXPECT_EQ(dir.read("st/bank-00050000.bin"), "short");
  sim::resetInstruments();
}

}  // namespace
