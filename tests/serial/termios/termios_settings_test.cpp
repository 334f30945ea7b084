// The termios structure the backend builds for each set of line settings.
#include <termios.h>

#include <gtest/gtest.h>

#include "serial/termios/termios_device.h"

namespace {

using serial::LineSettings;
using serial::Parity;
using serial::StopBits;

LineSettings lineSettings(uint32_t baud, uint8_t bits, Parity parity, StopBits stop) {
  LineSettings settings;
  settings.baudRate = baud;
  settings.dataBits = bits;
  settings.parity = parity;
  settings.parityCheck = parity != Parity::None;
  settings.stopBits = stop;
  return settings;
}

// A terminal as a login shell leaves it: cooked, echoing, translating.
termios cookedBase() {
  termios tio{};
  tio.c_iflag = ICRNL | IXON | IXANY | IMAXBEL | BRKINT | INPCK | ISTRIP;
  tio.c_oflag = OPOST | ONLCR;
  tio.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
  tio.c_cflag = CS8 | HUPCL;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 5;
  return tio;
}

TEST(TermiosSettings, FramingAndSpeedFlagByFlag) {
  struct Row {
    LineSettings settings;
    speed_t speed;
    tcflag_t size;
    tcflag_t parity;  // PARENB / PARODD as expected
    bool twoStopBits;
  };
  const Row rows[] = {
      {lineSettings(9600, 8, Parity::None, StopBits::One), B9600, CS8, 0, false},
      {lineSettings(19200, 8, Parity::Even, StopBits::One), B19200, CS8, PARENB, false},
      {lineSettings(1200, 7, Parity::Odd, StopBits::Two), B1200, CS7, PARENB | PARODD, true},
      {lineSettings(115200, 8, Parity::Even, StopBits::One), B115200, CS8, PARENB, false},
      // One and a half stop bits do not exist in termios: two.
      {lineSettings(4800, 5, Parity::None, StopBits::OneAndHalf), B4800, CS5, 0, true},
      {lineSettings(57600, 6, Parity::Odd, StopBits::One), B57600, CS6, PARENB | PARODD, false},
  };
  for (const Row& row : rows) {
    const auto tio = serial::termiosFromLineSettings(row.settings, cookedBase());
    ASSERT_TRUE(tio.has_value()) << row.settings.baudRate;
    EXPECT_EQ(cfgetospeed(&*tio), row.speed);
    EXPECT_EQ(cfgetispeed(&*tio), row.speed);
    EXPECT_EQ(tio->c_cflag & CSIZE, row.size);
    EXPECT_EQ(tio->c_cflag & (PARENB | PARODD | CMSPAR), row.parity);
    EXPECT_EQ((tio->c_cflag & CSTOPB) != 0, row.twoStopBits);

    // And back: the framing survives the round trip.
    const LineSettings back = serial::lineSettingsFromTermios(*tio, LineSettings{});
    EXPECT_EQ(back.baudRate, row.settings.baudRate);
    EXPECT_EQ(back.dataBits, row.settings.dataBits);
    EXPECT_EQ(back.parity, row.settings.parity);
  }
}

TEST(TermiosSettings, RefusesWhatTheDriverCannotDo) {
  const LineSettings rows[] = {
      lineSettings(12345, 8, Parity::None, StopBits::One),  // not a rate of the table
      lineSettings(0, 8, Parity::None, StopBits::One),      // B0 would hang the line up
      lineSettings(9600, 9, Parity::None, StopBits::One),   // no such character size
      lineSettings(9600, 4, Parity::None, StopBits::One),
  };
  for (const LineSettings& row : rows) {
    EXPECT_FALSE(serial::termiosFromLineSettings(row, cookedBase()).has_value())
        << row.baudRate << " " << int(row.dataBits);
  }
}

TEST(TermiosSettings, RawModeWithTheBackendsOwnSoftwareFlowControl) {
  LineSettings settings = lineSettings(9600, 8, Parity::Even, StopBits::One);
  settings.outX = true;
  settings.inX = true;
  const auto tio = serial::termiosFromLineSettings(settings, cookedBase());
  ASSERT_TRUE(tio.has_value());
  // Bytes pass unchanged both ways.
  EXPECT_EQ(tio->c_iflag & (ICRNL | ISTRIP | INPCK | BRKINT | IXANY), 0u);
  EXPECT_EQ(tio->c_oflag & OPOST, 0u);
  EXPECT_EQ(tio->c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio->c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio->c_cc[VMIN], 1);
  EXPECT_EQ(tio->c_cc[VTIME], 0);
  // Received XON/XOFF are the backend's (so it knows when output is held); the kernel only
  // sends them for the input side.
  EXPECT_EQ(tio->c_iflag & IXON, 0u);
  EXPECT_NE(tio->c_iflag & IXOFF, 0u);
  EXPECT_EQ(tio->c_cc[VSTART], 0x11);
  EXPECT_EQ(tio->c_cc[VSTOP], 0x13);
  EXPECT_EQ(tio->c_cflag & CRTSCTS, 0u);
  // Untouched: what the port had and the settings do not speak of.
  EXPECT_NE(tio->c_cflag & HUPCL, 0u);
}

TEST(TermiosSettings, HandshakeModesOnlyRtsCtsReachesTheKernel) {
  struct Row {
    bool cts, dsr, outX, inX;
    tcflag_t crtscts;
    tcflag_t ixoff;
  };
  const Row rows[] = {
      {false, false, false, false, 0, 0},       // none
      {true, false, false, false, CRTSCTS, 0},  // RTS/CTS
      {false, false, true, true, 0, IXOFF},     // XON/XOFF
      {false, true, false, false, 0, 0},        // DTR/DSR: the backend gates on DSR
      {false, true, true, false, 0, 0},         // DTR/DSR with XON/XOFF on output only
  };
  for (const Row& row : rows) {
    LineSettings settings;
    settings.outxCtsFlow = row.cts;
    settings.outxDsrFlow = row.dsr;
    settings.outX = row.outX;
    settings.inX = row.inX;
    const auto tio = serial::termiosFromLineSettings(settings, termios{});
    ASSERT_TRUE(tio.has_value());
    EXPECT_EQ(tio->c_cflag & CRTSCTS, row.crtscts);
    EXPECT_EQ(tio->c_iflag & (IXOFF | IXON), row.ixoff);
  }
}

}  // namespace
