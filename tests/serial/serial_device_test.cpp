// The serial device's public layer, which every backend shares: each operation reaches its
// own implementation while the device is open, and none reaches the backend while it is not.
#include "serial/serial_device.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using serial::LineSettings;
using serial::ReadResult;
using serial::SerialDevice;

// Records which implementation was called; every one succeeds and sets its outputs.
class RecordingDevice : public SerialDevice {
 public:
  bool isOpen() const override { return opened; }

  bool opened = false;
  std::vector<std::string> calls;

 protected:
  bool openImpl() override { return note("open") && (opened = true); }
  void closeImpl() override {
    note("close");
    opened = false;
  }
  bool setQueueSizesImpl(uint32_t, uint32_t) override { return note("setQueueSizes"); }
  bool purgeImpl(bool, bool) override { return note("purge"); }
  bool getSettingsImpl(LineSettings&) override { return note("getSettings"); }
  bool setSettingsImpl(const LineSettings&) override { return note("setSettings"); }
  ReadResult readByteImpl(uint8_t& byte) override {
    note("readByte");
    byte = 0x55;
    return ReadResult::Byte;
  }
  bool writeImpl(const uint8_t*, uint32_t size, uint32_t& written) override {
    written = size;
    return note("write");
  }
  bool drainImpl() override { return note("drain"); }
  bool outputHeldImpl(bool& held) override { return note("outputHeld") && (held = true); }
  bool modemStatusImpl(bool& cts, bool& dsr) override {
    cts = dsr = true;
    return note("modemStatus");
  }
  bool setRtsImpl() override { return note("setRts"); }
  bool setDtrImpl() override { return note("setDtr"); }
  bool clearDtrImpl() override { return note("clearDtr"); }

 private:
  bool note(const char* call) {
    calls.push_back(call);
    return true;
  }
};

// One operation with outputs that start out wrong; `outputs` says what they hold afterwards.
struct Operation {
  const char* name;
  std::function<bool(SerialDevice&, std::string& outputs)> call;
};

const uint8_t kBytes[3] = {1, 2, 3};

const Operation kOperations[] = {
    {"setQueueSizes", [](SerialDevice& d, std::string&) { return d.setQueueSizes(64, 64); }},
    {"purge", [](SerialDevice& d, std::string&) { return d.purge(true, true); }},
    {"getSettings",
     [](SerialDevice& d, std::string&) {
       LineSettings settings;
       return d.getSettings(settings);
     }},
    {"setSettings", [](SerialDevice& d, std::string&) { return d.setSettings(LineSettings{}); }},
    {"readByte",
     [](SerialDevice& d, std::string& outputs) {
       uint8_t byte = 0;
       const ReadResult result = d.readByte(byte);
       outputs = std::to_string(byte);
       return result == ReadResult::Byte;
     }},
    {"write",
     [](SerialDevice& d, std::string& outputs) {
       uint32_t written = 99;
       const bool ok = d.write(kBytes, 3, written);
       outputs = std::to_string(written);
       return ok;
     }},
    {"drain", [](SerialDevice& d, std::string&) { return d.drain(); }},
    {"outputHeld",
     [](SerialDevice& d, std::string& outputs) {
       bool held = true;
       const bool ok = d.outputHeld(held);
       outputs = held ? "held" : "free";
       return ok;
     }},
    {"modemStatus",
     [](SerialDevice& d, std::string& outputs) {
       bool cts = true, dsr = true;
       const bool ok = d.modemStatus(cts, dsr);
       outputs = std::string(cts ? "cts" : "-") + (dsr ? "dsr" : "-");
       return ok;
     }},
    {"setRts", [](SerialDevice& d, std::string&) { return d.setRts(); }},
    {"setDtr", [](SerialDevice& d, std::string&) { return d.setDtr(); }},
    {"clearDtr", [](SerialDevice& d, std::string&) { return d.clearDtr(); }},
};

TEST(SerialDeviceLayer, a_closed_device_fails_every_operation_without_its_backend) {
  // Outputs a failed call leaves behind: no byte read, none written, nothing held, no lines.
  const std::vector<std::pair<std::string, std::string>> cleared = {
      {"readByte", "0"}, {"write", "0"}, {"outputHeld", "free"}, {"modemStatus", "--"}};
  for (const Operation& operation : kOperations) {
    RecordingDevice device;
    std::string outputs;
    EXPECT_FALSE(operation.call(device, outputs)) << operation.name;
    EXPECT_TRUE(device.calls.empty()) << operation.name;
    for (const auto& [name, value] : cleared) {
      if (name == operation.name) {
        EXPECT_EQ(outputs, value) << operation.name;
      }
    }
  }
}

TEST(SerialDeviceLayer, an_open_device_hands_each_operation_to_its_own_implementation) {
  for (const Operation& operation : kOperations) {
    RecordingDevice device;
    ASSERT_TRUE(device.open());
    device.calls.clear();
    std::string outputs;
    EXPECT_TRUE(operation.call(device, outputs)) << operation.name;
    EXPECT_EQ(device.calls, std::vector<std::string>{operation.name});
  }
}

TEST(SerialDeviceLayer, open_and_close_reach_the_backend_only_when_they_change_something) {
  RecordingDevice device;
  device.close();
  EXPECT_TRUE(device.open());
  EXPECT_TRUE(device.open());
  device.close();
  device.close();
  EXPECT_EQ(device.calls, (std::vector<std::string>{"open", "close"}));
}

}  // namespace
