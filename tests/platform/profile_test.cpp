#include "platform/profile.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

using platform::getPrivateProfileInt;
using platform::getPrivateProfileSection;
using platform::getPrivateProfileString;
using platform::writePrivateProfileString;
using testing_support::TempDir;

constexpr int kDefault = 42;

TEST(SettingsFile, ReadsIntegerKeysLikeTheProfileCalls) {
  struct Row {
    const char* contents;  // nullptr: no file at all
    int expected;
  };
  const Row rows[] = {
      {nullptr, kDefault},
      {"", kDefault},
      {"[OTHER]\nPORT_NO=3\n", kDefault},  // the key of another section does not count
      {"[DEVICE]\nPORT=3\n", kDefault},
      {"[DEVICE]\nPORT_NO=5\n", 5},
      {"  [device]  \r\n  port_no =  12  \r\n", 12},  // names without case, blanks trimmed
      {"[DEVICE]\nPORT_NO=-3\n", -3},
      {"[DEVICE]\nPORT_NO=+4\n", 4},
      {"[DEVICE]\nPORT_NO=0\n", 0},
      {"[DEVICE]\nPORT_NO=7abc\n", 7},        // leading digits count
      {"[DEVICE]\nPORT_NO=abc\n", kDefault},  // no digits: the default
      {"[DEVICE]\nPORT_NO=\n", kDefault},
      {"[DEVICE]\nPORT_NO=-\n", kDefault},
      {"[DEVICE]\nPORT_NO=\"8\"\n", 8},  // surrounding quotes go
      {"[DEVICE]\nPORT_NO=99999999999\n", INT_MAX},
      {"[DEVICE]\nPORT_NO=-99999999999\n", INT_MIN},
      {"[DEVICE]\n;PORT_NO=4\n", kDefault},  // a comment is no entry
      {"[DEVICE]\nPORT_NO=2\nPORT_NO=9\n", 2},
      {"[DEVICE]\nA=1\n[DEVICE]\nPORT_NO=9\n", kDefault},  // only the first section counts
      {"[DEVICE]\nPORT_NO=6", 6},                          // no line end at the end
      {"[DEVICE\nPORT_NO=6\n", 6},                         // "]" missing: name up to the end
  };
  TempDir dir;
  for (const Row& row : rows) {
    const std::string file = dir.file("zelupdate.ini");
    std::remove(file.c_str());
    if (row.contents) dir.write("zelupdate.ini", row.contents);
    EXPECT_EQ(getPrivateProfileInt("DEVICE", "PORT_NO", kDefault, file), row.expected)
        << (row.contents ? row.contents : "(no file)");
  }
}

TEST(SettingsFile, ReadsTextKeysAndSections) {
  TempDir dir;
  dir.write("s.ini",
            "[PORTS]\n COM7 = /dev/ttyUSB3 \ncom15=sim:hw=0x11000\n; COM2=/dev/x\nCOM7=/dev/later\n"
            "\n[DEVICE]\nNAME='quoted text'\n");
  const std::string file = dir.file("s.ini");
  EXPECT_EQ(getPrivateProfileString("ports", "com7", "-", file), "/dev/ttyUSB3");
  EXPECT_EQ(getPrivateProfileString("PORTS", "COM15", "-", file), "sim:hw=0x11000");
  EXPECT_EQ(getPrivateProfileString("DEVICE", "NAME", "-", file), "quoted text");
  EXPECT_EQ(getPrivateProfileString("DEVICE", "MISSING", "-", file), "-");
  EXPECT_EQ(getPrivateProfileString("DEVICE", "NAME", "-", dir.file("none.ini")), "-");

  const auto entries = getPrivateProfileSection("PORTS", file);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], (std::pair<std::string, std::string>{"COM7", "/dev/ttyUSB3"}));
  EXPECT_EQ(entries[1], (std::pair<std::string, std::string>{"com15", "sim:hw=0x11000"}));
  EXPECT_TRUE(getPrivateProfileSection("NONE", file).empty());
}

TEST(SettingsFile, WritingPortNoChangesOnlyItsOwnLine) {
  struct Row {
    const char* name;
    const char* before;  // nullptr: no file
    const char* after;
  };
  const Row rows[] = {
      {"no file", nullptr, "[DEVICE]\nPORT_NO=7\n"},
      {"empty file", "", "[DEVICE]\nPORT_NO=7\n"},
      {"other section, no final line end", "[A]\nx=1", "[A]\nx=1\n[DEVICE]\nPORT_NO=7\n"},
      {"section without the key", "[DEVICE]\nOTHER=1\n\n[B]\ny=2\n",
       "[DEVICE]\nOTHER=1\nPORT_NO=7\n\n[B]\ny=2\n"},
      {"key present, comments and other keys stay",
       "; settings\r\n[Other]\r\nPORT_NO=1\r\n\r\n [device] \r\n; note\r\n port_no = 3 \r\nZ=9\r\n",
       "; settings\r\n[Other]\r\nPORT_NO=1\r\n\r\n [device] \r\n; note\r\nport_no=7\r\nZ=9\r\n"},
      {"CRLF file gets CRLF lines", "[A]\r\nx=1\r\n", "[A]\r\nx=1\r\n[DEVICE]\r\nPORT_NO=7\r\n"},
      {"first of two sections", "[DEVICE]\nPORT_NO=1\n[DEVICE]\nPORT_NO=2\n",
       "[DEVICE]\nPORT_NO=7\n[DEVICE]\nPORT_NO=2\n"},
      {"same value: untouched", "[DEVICE]\n  PORT_NO = 7\n", "[DEVICE]\n  PORT_NO = 7\n"},
      {"odd bytes elsewhere stay", "\xEF\xBB\xBF# \xB0\t x\n[DEVICE]\nPORT_NO=2\n\n\n",
       "\xEF\xBB\xBF# \xB0\t x\n[DEVICE]\nPORT_NO=7\n\n\n"},
  };
  TempDir dir;
  for (const Row& row : rows) {
    const std::string file = dir.file("zelupdate.ini");
    std::remove(file.c_str());
    if (row.before) dir.write("zelupdate.ini", row.before);
    EXPECT_TRUE(writePrivateProfileString("DEVICE", "PORT_NO", "7", file)) << row.name;
    EXPECT_EQ(dir.read("zelupdate.ini"), row.after) << row.name;
    EXPECT_EQ(getPrivateProfileInt("DEVICE", "PORT_NO", 0, file), 7) << row.name;
  }
}

TEST(SettingsFile, WriteCreatesFoldersAndRefusesWhatCannotBeWritten) {
  TempDir dir;
  const std::string nested = dir.file("a/b/zelupdate.ini");
  EXPECT_TRUE(writePrivateProfileString("DEVICE", "PORT_NO", "3", nested));
  EXPECT_EQ(getPrivateProfileInt("DEVICE", "PORT_NO", 0, nested), 3);

  dir.write("plain", "x");
  EXPECT_FALSE(writePrivateProfileString("DEVICE", "PORT_NO", "3", dir.file("plain/x.ini")));
  EXPECT_FALSE(writePrivateProfileString("DEVICE", "PORT_NO", "3", ""));
  // A line break would add lines that nobody asked for.
  EXPECT_FALSE(writePrivateProfileString("DEVICE", "PORT_NO", "3\n[X]", dir.file("s.ini")));
  EXPECT_EQ(dir.read("s.ini"), "");
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (m_old) {
      ::setenv(m_name, m_old->c_str(), 1);
    } else {
      ::unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

TEST(SettingsFile, PathFollowsTheProgramFileOrTheConfigFolder) {
  struct Row {
    const char* program;
    const char* xdg;  // nullptr: unset
    const char* expected;
  };
  const Row rows[] = {
      {"/opt/tool/TOOL.EXE", "/cfg", "/opt/tool/TOOL.ini"},
      {"tool.Exe", nullptr, "tool.ini"},
      {"/usr/bin/zelupdate", "/cfg", "/cfg/zelupdate/zelupdate.ini"},
      {"/usr/bin/zelupdate", nullptr, "/home/tech/.config/zelupdate/zelupdate.ini"},
      {"/usr/bin/zelupdate", "", "/home/tech/.config/zelupdate/zelupdate.ini"},
      // A relative XDG_CONFIG_HOME is to be ignored.
      {"/usr/bin/zelupdate", "cfg", "/home/tech/.config/zelupdate/zelupdate.ini"},
      {"/opt/tool.exe.old", "/cfg", "/cfg/zelupdate/zelupdate.ini"},
      {"", "/cfg", "/cfg/zelupdate/zelupdate.ini"},
  };
  ScopedEnv home("HOME", "/home/tech");
  for (const Row& row : rows) {
    ScopedEnv xdg("XDG_CONFIG_HOME", row.xdg);
    EXPECT_EQ(platform::settingsFilePath(row.program), row.expected) << row.program;
  }

  platform::setSettingsFileOverride("/tmp/my.ini");
  EXPECT_EQ(platform::settingsFilePath("/opt/tool/TOOL.EXE"), "/tmp/my.ini");
  platform::setSettingsFileOverride("");
  EXPECT_EQ(platform::settingsFilePath("/opt/tool/TOOL.EXE"), "/opt/tool/TOOL.ini");
}

}  // namespace
