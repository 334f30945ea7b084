// The window's read back check box, and backups that stop half way, against the simulated
// instrument on the virtual clock.
#include <gtest/gtest.h>

#include <cstdio>

#include "run/run_state.h"
#include "sim/registry.h"
#include "tests/app/app_fixture.h"

namespace {

using app_test::AppTest;
using testing_support::ScriptedWindow;

bool hasLine(const std::string& prefix) {
  for (const std::string& line : statusLines())
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

bool fileThere(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file) std::fclose(file);
  return file != nullptr;
}

TEST_F(AppTest, verify_box_is_off_by_default_and_ticked_reads_every_image_back) {
  attach("hw=0x10000,fault=flash-corrupt");
  bool checkedAtStart = true;
  runOnce([&](ScriptedWindow& w) { checkedAtStart = w.isChecked(kIdcVerify); });
  EXPECT_FALSE(checkedAtStart);
  EXPECT_TRUE(dialog->m_lastRunSucceeded);
  EXPECT_FALSE(hasLine("Read back"));

  sim::resetInstruments();
  resetRunState();
  dialog = std::make_unique<CUpdateDlg>("zelupdate");
  runOnce([](ScriptedWindow& w) { w.setCheck(kIdcVerify, true); });
  EXPECT_FALSE(dialog->m_lastRunSucceeded);
  EXPECT_TRUE(hasLine("ERROR Read back processor firmware (420)"));
  EXPECT_TRUE(hasLine("ERROR - read back differs at "));
  EXPECT_EQ(dialog->m_recorder.m_record.verify, "differs");
}

struct StopCase {
  const char* name;
  const char* simOptions;
  bool cancel;  // else the line goes dead
  const char* line;
};

const StopCase kStopCases[] = {
    {"cancelled", "hw=0x10000", true, "ERROR Back up processor flash (FFFF)"},
    {"line_dead", "hw=0x10000,fault=unplug=400000", false, "ERROR Back up processor flash ("},
};

class BackupStopped : public AppTest, public ::testing::WithParamInterface<StopCase> {};

// A backup is whole or absent: one that stops half way through its reads leaves neither an
// area file nor a manifest, and the update erases nothing.
TEST_P(BackupStopped, half_way_leaves_no_backup_and_nothing_erased) {
  const StopCase& c = GetParam();
  attach(c.simOptions);
  const std::vector<uint8_t> flash = instrument().flashBytes(0x50000, 0xA0000);
  dialog->m_runRequest.backupFolder = "bk";
  host.answers = {ui::MessageBoxAnswer::Yes};
  uint32_t cancelledAt = 0;
  if (c.cancel) {
    // About half of the area's 0xA0000 bytes have come (each is echoed) when Cancel is hit.
    host.when([] { return hasLine("Back up processor flash") && bytesSent > 0x50000; },
              [&](ScriptedWindow& w) {
                cancelledAt = bytesSent;
                w.click(kIdcCancel);
              });
  }
  runOnce();
  EXPECT_TRUE(hasLine(c.line)) << testing::PrintToString(statusLines());
  if (c.cancel) {
    EXPECT_LT(cancelledAt, 0xA0000u);
  }
  EXPECT_FALSE(hasLine("Delete flash"));
  EXPECT_FALSE(fileThere(dir->file("bk/manifest.json")));
  EXPECT_FALSE(fileThere(dir->file("bk/flash-00050000.bin")));
  EXPECT_EQ(dialog->m_recorder.m_record.backup, "");
  EXPECT_FALSE(dialog->m_lastRunSucceeded);
  EXPECT_EQ(instrument().flashBytes(0x50000, 0xA0000), flash);
}

INSTANTIATE_TEST_SUITE_P(Backup, BackupStopped, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
