// The options of a "sim:" port name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/options.h"
#include "sim/registry.h"

namespace {

TEST(SimOptionsTest, DefaultsWithoutOptions) {
  for (const char* name : {"sim:", "sim:,", ""}) {
    sim::Options options;
    options.hw = 1;
    EXPECT_EQ(sim::parseOptions(name, options), "") << name;
    EXPECT_EQ(options.model, "ZEL");
    EXPECT_EQ(options.maker, "QUORIX&VANTEL");
    EXPECT_EQ(options.serial, "57");
    EXPECT_EQ(options.version, "04.41");
    EXPECT_EQ(options.hw, 0x10000u);
    EXPECT_FALSE(options.board);
    EXPECT_EQ(options.baud, 9600u);
    EXPECT_EQ(options.bits, 8);
    EXPECT_EQ(options.parity, sim::SerialParity::None);
    EXPECT_EQ(options.stopBits, 1);
    EXPECT_EQ(options.pace, sim::Pace::None);
    EXPECT_EQ(options.bootTimeSeconds, 20);
    EXPECT_FALSE(options.resident);
    EXPECT_EQ(options.speed, sim::SpeedMode::Virtual);
    EXPECT_EQ(options.seed, 1u);
  }
}

TEST(SimOptionsTest, EveryKeyIsRead) {
  sim::Options options;
  ASSERT_EQ(
      sim::parseOptions(
          "sim:model=LUM,maker=M&N,serial=9,version=04.9,hw=69632,board=4,"
          "hw-after=0x11020,version-after=05.00,baud=19200,bits=7,parity=even,stop=2,"
          "pace=XON,chips=89/bd,flash=any,latency=16,boot-time=2.5,resident=yes,speed=10,seed=0x20,"
          "state=/tmp/kept",
          options),
      "");
  EXPECT_EQ(options.model, "LUM");
  EXPECT_EQ(options.maker, "M&N");
  EXPECT_EQ(options.serial, "9");
  EXPECT_EQ(options.version, "04.9");
  EXPECT_EQ(options.hw, 0x11000u);
  EXPECT_EQ(options.board, 4);
  EXPECT_EQ(options.hwAfter, 0x11020u);
  EXPECT_EQ(options.versionAfter, "05.00");
  EXPECT_EQ(options.baud, 19200u);
  EXPECT_EQ(options.bits, 7);
  EXPECT_EQ(options.parity, sim::SerialParity::Even);
  EXPECT_EQ(options.stopBits, 2);
  EXPECT_EQ(options.pace, sim::Pace::Xon);
  EXPECT_EQ(options.chipManufacturer, 0x89);
  EXPECT_EQ(options.chipDevice, 0xBD);
  EXPECT_EQ(options.flash, sim::FlashLayout::Any);
  EXPECT_EQ(options.latencyMs, 16u);
  EXPECT_EQ(options.bootTimeSeconds, 2.5);
  EXPECT_TRUE(options.resident);
  EXPECT_EQ(options.speed, sim::SpeedMode::Factor);
  EXPECT_EQ(options.speedFactor, 10);
  EXPECT_EQ(options.seed, 0x20u);
  EXPECT_EQ(options.stateFolder, "/tmp/kept");
}

TEST(SimOptionsTest, FaultsJoinedByPlus) {
  sim::Options options;
  ASSERT_EQ(sim::parseOptions(
                "sim:fault=silent+no-ready+loader-reject+erase-fail+program-fail+"
                "checksum-off+dsp-erase-fail+dsp-checksum-off+flash-corrupt+nack=3+noise=0.25+"
                "noise-back=1+drop=0+unplug=1000",
                options),
            "");
  const sim::Faults& f = options.faults;
  EXPECT_TRUE(f.silent && f.noReady && f.loaderReject && f.eraseFail && f.programFail &&
              f.checksumOff && f.dspEraseFail && f.dspChecksumOff && f.flashCorrupt);
  EXPECT_EQ(f.nack, 3u);
  EXPECT_EQ(f.noise, 0.25);
  EXPECT_EQ(f.noiseBack, 1.0);
  EXPECT_EQ(f.drop, 0.0);
  EXPECT_EQ(f.unplug, 1000u);
}

// The message about an unknown key or fault names every one that is read (it once left out
// "state"), each in the form it is written.
TEST(SimOptionsTest, UnknownNamesAreAnsweredWithEveryKnownOne) {
  const struct {
    const char* unknown;
    const char* every;  // an item of each name, joined by `separator`
    char separator;
    const char* prefix;  // before a name, to read it alone
  } rows[] = {
      {"sim:colour=red",
       "model=1,maker=1,serial=1,version=1,hw=1,board=1,hw-after=1,version-after=1,baud=9600,"
       "bits=8,parity=odd,stop=1,pace=ack,chips=1/2,flash=any,latency=1,boot-time=1,"
       "resident=no,speed=2,fault=silent,seed=1,state=/tmp/kept",
       ',', "sim:"},
      {"sim:fault=explode",
       "silent+no-ready+loader-reject+erase-fail+program-fail+checksum-off+dsp-erase-fail+"
       "dsp-checksum-off+flash-corrupt+nack=3+noise=0.25+noise-back=1+drop=0+unplug=1000",
       '+', "sim:fault="},
  };
  const auto namesOf = [](const std::string& list, const std::string& separator) {
    std::vector<std::string> names;
    for (size_t at = 0; at <= list.size();) {
      const size_t end = std::min(list.find(separator, at), list.size());
      const std::string item = list.substr(at, end - at);
      names.push_back(item.substr(0, item.find('=')));
      at = end + separator.size();
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.unknown);
    sim::Options options;
    ASSERT_EQ(sim::parseOptions(row.prefix + std::string(row.every), options), "");
    const std::string message = sim::parseOptions(row.unknown, options);
    const size_t open = message.find("(known: ");
    ASSERT_NE(open, std::string::npos) << message;
    const std::string listed = message.substr(open + 8, message.size() - open - 9);
    EXPECT_EQ(namesOf(listed, ", "), namesOf(row.every, std::string(1, row.separator)));
    // Each name listed is one that is read (its value may be wrong, its name is not).
    for (const std::string& name : namesOf(listed, ", ")) {
      EXPECT_EQ(
          sim::parseOptions(row.prefix + name + "=x", options).find("\"" + name + "\" (known"),
          std::string::npos)
          << name;
    }
  }
}

TEST(SimOptionsTest, BadItemsAreNamed) {
  struct Row {
    const char* name;
    const char* messagePart;  // the message must name what is wrong
  };
  const Row rows[] = {
      {"sim:colour=red", "unknown option \"colour\""},
      {"sim:hw", "\"hw\" needs a value"},
      {"sim:hw=0x1G", "bad value \"0x1G\" for hw"},
      {"sim:hw=0x100000000", "bad value \"0x100000000\" for hw"},  // above 32 bits
      {"sim:baud=1000", "bad value \"1000\" for baud"},            // no such rate
      {"sim:bits=9", "for bits"},
      {"sim:parity=MARK", "for parity"},
      {"sim:stop=1.5", "for stop"},
      {"sim:pace=RTS", "for pace"},
      {"sim:chips=89", "for chips"},
      {"sim:chips=189/BD", "for chips"},
      {"sim:flash=anywhere", "for flash"},
      {"sim:latency=1001", "for latency"},  // longer than any adapter's timer
      {"sim:latency=1.5", "for latency"},
      {"sim:boot-time=-1", "for boot-time"},
      {"sim:speed=fast", "for speed"},
      {"sim:speed=0", "for speed"},
      {"sim:resident=maybe", "for resident"},
      {"sim:model=", "for model"},
      {"sim:seed=x", "for seed"},
      {"sim:fault=explode", "unknown fault \"explode\""},
      {"sim:fault=silent+", "unknown fault \"\""},
      {"sim:fault=noise=2", "for fault noise"},  // a probability above 1
      {"sim:fault=nack", "for fault nack"},
      {"sim:fault=silent=1", "takes no value"},
      {"sim:hw=1,hw=2", "\"hw\" given twice"},
  };
  for (const Row& row : rows) {
    sim::Options options;
    const std::string message = sim::parseOptions(row.name, options);
    EXPECT_NE(message.find(row.messagePart), std::string::npos) << row.name << " gave: " << message;
    EXPECT_EQ(sim::checkPortName(row.name), message);
  }
  EXPECT_NE(sim::checkPortName("/dev/ttyS0"), "");
}

}  // namespace
