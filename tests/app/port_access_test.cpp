#include "app/port_access.h"
#include "app/port_list.h"

#include <gtest/gtest.h>

namespace {

TEST(PortAccess, the_hint_comes_only_when_every_port_found_is_denied) {
  struct Row {
    const char* name;
    std::vector<const char*> texts;
    bool denied;
  };
  const Row rows[] = {
      {"no port at all: the no-port message says enough", {}, false},
      {"one denied", {"COM1 (access denied)"}, true},
      {"all denied", {"COM1 (access denied)", "COM10 (access denied)"}, true},
      {"one free among denied", {"COM1 (access denied)", "COM2"}, false},
      {"free only", {"COM5"}, false},
      // The marker must end the text, not merely appear in it.
      {"marker not at the end", {"COM1 (access denied) x"}, false},
  };
  for (const Row& row : rows) {
    std::vector<PortListEntry> entries;
    for (const char* text : row.texts) entries.push_back(PortListEntry{text, 1, "/dev/ttyS0"});
    EXPECT_EQ(everyPortDenied(entries), row.denied) << row.name;
  }
}

}  // namespace

namespace {

// The latency advice names the setting of the system the adapter is on, and only when the
// timer is above 2 ms.
TEST(PortAccess, latency_warning_says_how_to_set_1_ms_where_the_timer_is_slow) {
  const char* linuxAdvice =
      "latency timer 16 ms: the programming link runs several times slower than at 1 ms. "
      "zelupdate sets 1 ms while it holds the port; to keep 1 ms: echo 1 | sudo tee "
      "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer (or: setserial /dev/ttyUSB0 low_latency)";
  const char* windowsAdvice =
      "latency timer 16 ms: the programming link runs several times slower than at 1 ms. Set 1 ms: "
      "Device Manager > Ports (COM & LPT) > USB Serial Port (COM23) > Port Settings > Advanced > "
      "Latency Timer (msec) = 1";
  struct Row {
    const char* device;
    const char* description;
    int latencyMs;
    const char* file;
    bool lowered;
    std::string says;
  };
  const Row rows[] = {
      {"/dev/ttyUSB0", "", 16, "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer", true,
       linuxAdvice},
      {"/dev/ttyUSB0", "", 2, "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer", true, ""},
      {"/dev/ttyUSB1", "", 3, "/sys/x/latency_timer", false,
       "latency timer 3 ms: the programming link runs several times slower than at 1 ms. to "
       "keep 1 ms: echo 1 | sudo tee /sys/x/latency_timer (or: setserial /dev/ttyUSB1 "
       "low_latency)"},
      {"COM23", "USB Serial Port (COM23)", 16, "", false, windowsAdvice},
      {"COM23", "", 255, "", false, "Ports (COM & LPT) > COM23 > Port Settings"},
      {"COM23", "USB Serial Port (COM23)", 1, "", false, ""},
      {"COM3", "Communications Port (COM3)", -1, "", false, ""},  // no timer known
  };
  for (const Row& row : rows) {
    serial::SerialDeviceInfo info;
    info.device = row.device;
    info.description = row.description;
    info.latencyMs = row.latencyMs;
    info.latencyFile = row.file;
    info.latencyLoweredWhileOpen = row.lowered;
    const std::string text = latencyTimerWarning(info);
    if (row.says.empty() || row.says.starts_with("latency")) {
      EXPECT_EQ(text, row.says) << row.device << " " << row.latencyMs;
    } else {
      EXPECT_NE(text.find(row.says), std::string::npos) << text;
    }
  }
}

}  // namespace

namespace {

// `zelupdate ports` names a port once: where the device is the entry's own COM name (Windows,
// or a mapping to it) only the entry's text stands before the problem.
TEST(PortList, a_line_names_the_port_and_its_device_once) {
  struct Row {
    PortListEntry entry;
    const char* problem;
    const char* line;
  };
  const Row rows[] = {
      {{"COM7", 7, "/dev/ttyUSB2"}, "", "COM7  /dev/ttyUSB2"},
      {{"COM7", 7, "COM7"}, "", "COM7"},
      {{"COM7", 7, "com7"}, "", "COM7"},
      {{"COM7", 7, "\\\\.\\COM7"}, "", "COM7"},
      {{"COM7", 7, "COM7"}, "no such device", "COM7: no such device"},
      {{"COM7 (access denied)", 7, "COM7"},
       "in use by another program",
       "COM7 (access denied): in use by another program"},
      {{"COM7 (access denied)", 7, "/dev/pts/3"},
       "in use by process 9 (minicom)",
       "COM7 (access denied)  /dev/pts/3: in use by process 9 (minicom)"},
      // Another number's port, and other kinds of device, are named.
      {{"COM20", 20, "COM5"}, "", "COM20  COM5"},
      {{"COM15", 15, "sim:hw=0x11000"}, "", "COM15  sim:hw=0x11000"},
      // A process name is anyone's text: it cannot move the cursor.
      {{"COM7 (access denied)", 7, "/dev/pts/3"},
       "in use by process 9 (\x1b[2J)",
       "COM7 (access denied)  /dev/pts/3: in use by process 9 (\\x1b[2J)"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(portListLine(row.entry, row.problem), row.line) << row.entry.device;
  }
}

}  // namespace
