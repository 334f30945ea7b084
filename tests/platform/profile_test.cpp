#include "platform/profile.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
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

// What a write through --settings does to each kind of file: a link is written through and
// stays a link; a device, a FIFO, a folder or a read-only file is left exactly as it was,
// and nothing blocks. Returns the rows that went wrong.
std::string settingsFileKindFaults(const TempDir& dir) {
  struct Row {
    const char* name;
    bool written;
    mode_t kind;
  };
  const Row rows[] = {{"link", true, S_IFREG},        {"readonly", false, S_IFREG},
                      {"nulldevice", false, S_IFCHR}, {"zerodevice", false, S_IFCHR},
                      {"fifo", false, S_IFIFO},       {"folder", false, S_IFDIR}};
  const std::string original = "[DEVICE]\nPORT_NO=1\n";
  std::string faults;
  for (const Row& row : rows) {
    const std::string path = dir.file(row.name);
    const auto start = std::chrono::steady_clock::now();
    const bool written = writePrivateProfileString("DEVICE", "PORT_NO", "3", path);
    const int value = getPrivateProfileInt("DEVICE", "PORT_NO", kDefault, path);
    struct stat info {};
    ::stat(path.c_str(), &info);
    const bool kept = row.written ? value == 3 : (value == kDefault || value == 1);
    if (written != row.written || (info.st_mode & S_IFMT) != row.kind || !kept ||
        std::chrono::steady_clock::now() - start > std::chrono::seconds(1)) {
      faults += std::string(row.name) + " ";
    }
  }
  struct stat link {};
  if (dir.read("readonly") != original || dir.read("target") != "[DEVICE]\nPORT_NO=3\n" ||
      ::lstat(dir.file("link").c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
    faults += "bytes ";
  }
  return faults;
}

TEST(SettingsFile, OnlyRegularWritableFilesAreWrittenForRootAndOthers) {
  TempDir dir(false);
  dir.write("readonly", "[DEVICE]\nPORT_NO=1\n");
  dir.write("target", "[DEVICE]\nPORT_NO=1\n");
  ::chmod(dir.file("readonly").c_str(), 0444);
  ::chmod(dir.file("target").c_str(), 0666);
  ::chmod(dir.path().c_str(), 0777);  // the unprivileged user writes beside the link's target
  ::symlink(dir.file("target").c_str(), dir.file("link").c_str());
  ::mkfifo(dir.file("fifo").c_str(), 0666);
  ::mkdir(dir.file("folder").c_str(), 0777);
  const bool root = ::geteuid() == 0;
  if (root) {
    ::mknod(dir.file("nulldevice").c_str(), S_IFCHR | 0666, ::makedev(1, 3));
    ::mknod(dir.file("zerodevice").c_str(), S_IFCHR | 0666, ::makedev(1, 5));
  } else {
    ::symlink("/dev/null", dir.file("nulldevice").c_str());
    ::symlink("/dev/zero", dir.file("zerodevice").c_str());
  }
  EXPECT_EQ(settingsFileKindFaults(dir), "");
  if (!root) return;
  // Again as an unprivileged user (nobody), in a child process.
  dir.write("target", "[DEVICE]\nPORT_NO=1\n");
  ::chmod(dir.file("target").c_str(), 0666);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    const std::string faults = settingsFileKindFaults(dir);
    std::fprintf(stderr, "%s", faults.c_str());
    ::_exit(faults.empty() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot become nobody";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
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
    std::string program;
    const char* xdg;  // nullptr: unset
    std::string expected;
  };
  testing_support::TempDir programFolder;
  const Row rows[] = {
      {programFolder.file("TOOL.EXE"), "/cfg", programFolder.file("TOOL.ini")},
      // A program folder that may not be written (Program Files): the user's folder.
      {"/nonexistent/tool/TOOL.EXE", "/cfg", "/cfg/zelupdate/zelupdate.ini"},
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
  EXPECT_EQ(platform::settingsFilePath(programFolder.file("TOOL.EXE")),
            programFolder.file("TOOL.ini"));
}

}  // namespace
