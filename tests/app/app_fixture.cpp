#include "tests/app/app_fixture.h"

#include <fstream>
#include <iterator>

#include "platform/profile.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "sim/registry.h"
#include "sim/sample_files.h"

namespace app_test {

void AppTest::SetUp() {
  scopedClock = std::make_unique<platform::ScopedClock>(clock);
  dir = std::make_unique<testing_support::TempDir>();
  sim::resetInstruments();
  resetRunState();
  deviceName = kDeviceNameUnknown;
  for (int port = 1; port <= serial::kMaxComPort; ++port) serial::setComPortDevice(port, "");
  platform::setSettingsFileOverride(dir->file("zelupdate.ini"));
  dir->write("zelupdate.ini", "[DEVICE]\nPORT_NO=" + std::to_string(kSimPort) + "\n");
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir->path()), 0);
  dialog = std::make_unique<CUpdateDlg>("zelupdate");
}

void AppTest::TearDown() {
  dialog.reset();
  serial::resetComPortMapping();
  platform::setSettingsFileOverride("");
  sim::resetInstruments();
  resetRunState();
  deviceName = kDeviceNameUnknown;
  dir.reset();
  scopedClock.reset();
}

void AppTest::attach(const std::string& options) {
  portName = "sim:" + options;
  serial::setComPortDevice(kSimPort, portName);
}

sim::Instrument& AppTest::instrument() {
  return *sim::instrumentFor(portName);
}

void AppTest::runDialog() {
  host.atIdle(kIddUpdate, [this](testing_support::ScriptedWindow& w) {
    const testing_support::ControlState* list = w.control(kIdcStatusList);
    listBoxAtEnd = list->items;
    w.click(kIdcExit);
  });
  host.runModal(*dialog);
}

void AppTest::runOnce(const testing_support::ScriptedHost::Step& before) {
  if (before) host.atIdle(kIddUpdate, before);
  host.atIdle(kIddUpdate, [](testing_support::ScriptedWindow& w) { w.click(kIdcRun); });
  runDialog();
}

std::vector<std::string> AppTest::lines() const {
  return statusLines();
}

void AppTest::expectProgrammed(const std::string& firmwareImage, uint32_t address,
                               const std::string& dspImage) {
  const std::string image = dir->read(firmwareImage);
  ASSERT_FALSE(image.empty()) << firmwareImage;
  const std::vector<uint8_t> flash =
      instrument().flashBytes(address, static_cast<uint32_t>(image.size()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin(), flash.end(),
                         [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }))
      << firmwareImage << " not in flash at " << address;
  if (dspImage.empty()) return;
  const std::string dsp = dir->read(dspImage);
  const std::vector<uint32_t> words = instrument().dspImage();
  std::string dspBytes;
  for (uint32_t word : words) {
    for (int i = 0; i < 4; ++i) dspBytes.push_back(static_cast<char>(word >> (8 * i)));
  }
  EXPECT_EQ(dspBytes.size(), dsp.size()) << dspImage;
  EXPECT_TRUE(dspBytes == dsp) << dspImage << " not in the DSP module";
}

}  // namespace app_test
