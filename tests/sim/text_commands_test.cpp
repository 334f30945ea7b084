// Normal mode: the text commands and queries of the remote interface.
#include <gtest/gtest.h>

#include "tests/sim/sim_fixture.h"

namespace sim_testing {
namespace {

class TextCommandsTest : public SimTest {};

TEST_F(TextCommandsTest, QueriesAnswerFromTheOptions) {
  struct Row {
    const char* instrument;
    const char* query;
    const char* answer;
  };
  const Row rows[] = {
      {"sim:", "*IDN?\r\n", "QUORIX&VANTEL,ZEL,57,04.41 "},
      {"sim:model=LUM,serial=1234,version=04.9", "*IDN?\r\n", "QUORIX&VANTEL,LUM,1234,04.9 "},
      {"sim:maker=OTHER", "*IDN?\r\n", "OTHER,ZEL,57,04.41 "},
      {"sim:", "SYST:ERR?\r\n", "0,\"No error\""},
      {"sim:hw=0x11020", "READ:INFO:DATA?\r\n", "69664"},
      {"sim:hw=4096", "READ:INFO:DATA?\r\n", "4096"},
      {"sim:board=4", "SYSTEM:SERVICE:GET:BOARD:INFO?\r\n", "0xA0:1,0xC0:2,0xE0:4"},
      {"sim:", "SYSTEM:SERVICE:GET:BOARD:INFO?\r\n", "0xA0:1,0xC0:2"},  // no 0xE0 field
      {"sim:pace=XON", "SYST:COMM:SER:PACE?\r\n", "XON"},
      {"sim:baud=2400", "SYST:COMM:SER:BAUD?\r\n", "2400"},
      {"sim:stop=2", "SYST:COMM:SER:SBIT?\r\n", "2"},
      {"sim:bits=7", "SYST:COMM:SER:BITS?\r\n", "7"},
      {"sim:parity=ODD", "SYST:COMM:SER:PARITY?\r\n", "ODD"},
      // XON and an empty line ahead of the query are ignored, as the probes send them.
      {"sim:", "\x11\r\n\r\nSYST:ERR?\r\n", "0,\"No error\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.instrument << " " << row.query);
    auto instrument = attach(row.instrument);
    ASSERT_TRUE(openAt(static_cast<int>(instrument->serial.baud), instrument->serial.bits,
                       static_cast<int>(instrument->serial.parity),
                       instrument->serial.stopBits == 2 ? 2 : 0));
    EXPECT_EQ(query(row.query), row.answer);
    comm.close();
  }
}

TEST_F(TextCommandsTest, ErrorQueueReportsWrongCommandsInOrder) {
  attach("sim:");
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("FOO:BAR\r\nSYST:COMM:SER:BAUD 1234\r\n")));
  EXPECT_EQ(query("SYST:ERR?\r\n"), "-113,\"Undefined header\"");
  EXPECT_EQ(query("SYST:ERR?\r\n"), "-224,\"Illegal parameter value\"");
  EXPECT_EQ(query("SYST:ERR?\r\n"), "0,\"No error\"");
  EXPECT_EQ(query("SYST:COMM:SER:BAUD?\r\n"), "9600");  // the bad value changed nothing
}

// Only the forms the service program sends are understood; other spellings of the same
// commands are undefined headers and change nothing.
TEST_F(TextCommandsTest, OtherSpellingsAreUndefinedHeaders) {
  const char* const lines[] = {
      "*idn?\r\n",                 // lower case
      "SYSTEM:ERROR?\r\n",         // long form
      ":SYST:ERR?\r\n",            // leading colon
      "SYST:COMM:SER:SBITS?\r\n",  // the query is SBIT?
      "SYST:COMM:SER:SBIT 2\r\n",  // the setting is SBITS
      "SENS:SWUP\r\n",             // short form
      "sense:swup\r\n",
      "*CLS\r\n",
      "SYST:COMM:SER:pace?\r\n",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    auto instrument = attach(std::string("sim:serial=") + std::to_string(&line - lines));
    ASSERT_TRUE(openAt(9600));
    EXPECT_EQ(query(line, 300), "");
    EXPECT_EQ(query("SYST:ERR?\r\n"), "-113,\"Undefined header\"");
    EXPECT_EQ(query("SYST:ERR?\r\n"), "0,\"No error\"");
    EXPECT_EQ(instrument->mode(), sim::Mode::Normal);
    EXPECT_EQ(instrument->serial.stopBits, 1);
    comm.close();
  }
}

// Garbage stays in the command line until a line feed ends it: a command after it on the
// same line is lost with it, the next line is understood.
TEST_F(TextCommandsTest, GarbageSpoilsItsLineUntilTheLineFeed) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(openAt(4800));
  ASSERT_TRUE(send(std::string("SYST:COMM:SER:BAUD 2400")));  // garbage at 9600, no line end
  ASSERT_TRUE(openAt(9600));
  // A moment of idle line lets the receiver find the start bits again.
  clock.sleepMicros(10000);
  EXPECT_EQ(query("*IDN?\r\n", 300), "");  // joins the garbage
  EXPECT_EQ(query("SYST:ERR?\r\n"), "-113,\"Undefined header\"");
  EXPECT_EQ(query("SYST:ERR?\r\n"), "0,\"No error\"");
  EXPECT_EQ(instrument->serial.baud, 9600u);
  EXPECT_GT(instrument->counters.garbledBytes, 0u);
}

TEST_F(TextCommandsTest, SerialSettingsMoveTheInstrumentAtOnce) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(openAt(9600));
  // The default sequence of the host, each setting followed by the port.
  ASSERT_TRUE(send(std::string("SYST:COMM:SER:PACE XON\r\n")));
  ASSERT_TRUE(send(std::string("SYST:COMM:SER:PARITY EVEN\r\n")));
  ASSERT_TRUE(openAt(9600, 8, kParityEven));
  ASSERT_TRUE(send(std::string("SYST:COMM:SER:BAUD 19200\r\n")));
  ASSERT_TRUE(openAt(19200, 8, kParityEven));
  ASSERT_TRUE(send(std::string("SYST:COMM:SER:BITS 7\r\n")));
  ASSERT_TRUE(openAt(19200, 7, kParityEven));
  ASSERT_TRUE(send(std::string("SYST:COMM:SER:SBITS 2\r\n")));
  ASSERT_TRUE(openAt(19200, 7, kParityEven, 2));
  EXPECT_EQ(query("SYST:ERR?\r\n"), "0,\"No error\"");
  EXPECT_EQ(instrument->serial.baud, 19200u);
  EXPECT_EQ(instrument->serial.bits, 7);
  EXPECT_EQ(instrument->serial.parity, sim::SerialParity::Even);
  EXPECT_EQ(instrument->serial.stopBits, 2);
  EXPECT_EQ(instrument->serial.pace, sim::Pace::Xon);
  // At the old settings it no longer answers.
  ASSERT_TRUE(openAt(9600));
  EXPECT_EQ(query("SYST:ERR?\r\n"), "");
}

TEST_F(TextCommandsTest, SwupEndsTheTextInterface) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
  EXPECT_EQ(instrument->mode(), sim::Mode::BootRom);
  EXPECT_EQ(query("*IDN?\r\n"), "");  // neither at its old settings ...
  ASSERT_TRUE(openAt(19200, 8, kParityEven));
  EXPECT_EQ(query("*IDN?\r\n"), "");  // ... nor at the boot ROM's
}

TEST_F(TextCommandsTest, QamModePowersTheB1Module) {
  auto instrument = attach("sim:hw=0x10020");
  ASSERT_TRUE(openAt(9600));
  EXPECT_FALSE(instrument->dspAvailable());
  ASSERT_TRUE(send(std::string("\r\n\r\nSYST:MODE QAM\r\n")));
  instrument->advance();
  EXPECT_TRUE(instrument->qamMode);
  EXPECT_TRUE(instrument->dspAvailable());
  EXPECT_EQ(query("SYST:ERR?\r\n"), "0,\"No error\"");
}

}  // namespace
}  // namespace sim_testing
