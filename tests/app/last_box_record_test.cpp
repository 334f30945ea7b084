// Every Run keeps one record, handed over when its outcome is known and before its last box
// is shown: a program closed or killed while that box waits has kept it. Against the
// simulated instrument on the virtual clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run/run_state.h"
#include "tests/app/app_fixture.h"

namespace app_test {
namespace {

using testing_support::ScriptedHost;
using testing_support::ScriptedWindow;

enum class Setup {
  Automatic,
  CancelWhileProgramming,
  MissingImage,
  DryRun,
  Backup,
  ManualProcessor,
  ManualOption,
  ManualBoth,
};

struct LastBoxCase {
  const char* name;
  const char* simOptions;
  Setup setup;
  const char* outcome;
  const char* lastBox;  // nullptr: no box ends the run, the record is kept when Run ends
};

const LastBoxCase kLastBoxCases[] = {
    {"automatic_success", "hw=0x11000", Setup::Automatic, "success",
     "Update successfully completed.\nEXIT update program."},
    {"old_version_refused", "version=03.07", Setup::Automatic, "refused",
     "Software version lower than 3.08.\nOnly Manual mode is possible"},
    {"no_memory_extension_without_a_box", "hw=0,version=03.07", Setup::Automatic, "refused",
     nullptr},
    // The box comes before the step's ERROR mark: the record has the mark all the same.
    {"silent_instrument", "fault=silent", Setup::Automatic, "failed",
     "ERROR -\ncheck RS232 cable,\ncheck device on,\ncheck COM port."},
    {"processor_fails_twice", "hw=0x10000,fault=erase-fail", Setup::Automatic, "failed",
     "Update processor firmware failed,\nplease retry in Manual Mode"},
    {"dsp_checksum_differs", "hw=0x10400,fault=dsp-checksum-off", Setup::Automatic, "failed",
     "Update option failed,\nplease retry in Manual mode"},
    // The option's programming failed without a box of its own.
    {"dsp_erase_fails_without_a_box", "hw=0x11000,fault=dsp-erase-fail", Setup::Automatic, "failed",
     nullptr},
    {"cancelled", "hw=0x10000", Setup::CancelWhileProgramming, "cancelled", kCancelledBox},
    {"missing_image_refused", "hw=0x11000", Setup::MissingImage, "refused",
     "Programfile NO_ATSC.BIN not accessible"},
    {"dry_run_without_a_box", "hw=0x11000", Setup::DryRun, "success", nullptr},
    {"backup", "hw=0x10000", Setup::Backup, "success", "Backup successfully completed."},
    {"manual_processor", "hw=0x10000", Setup::ManualProcessor, "success",
     "Update processor\nsuccessfully completed.\nEXIT update program."},
    {"manual_option", "hw=0x10400", Setup::ManualOption, "success",
     "Update of option\nsuccessfully completed."},
    // The line that the option is not begun follows the box: the record has it all the same.
    {"manual_processor_fails_before_the_option", "hw=0x10400,fault=no-ready", Setup::ManualBoth,
     "failed", "Update processor failed.\nPlease retry"},
};

class LastBoxRecord : public AppTest, public ::testing::WithParamInterface<LastBoxCase> {
 protected:
  // The configuration dialog's selections of a manual run, and Manual clicked.
  ScriptedHost::Step manual(int optionButton, bool processor, bool option) {
    host.atIdle(kIddConfig, [=](ScriptedWindow& w) {
      w.click(optionButton);
      if (w.isChecked(kIdcProcessorFirmware) != processor) w.click(kIdcProcessorFirmware);
      if (w.isChecked(kIdcOptionUpdate) != option) w.click(kIdcOptionUpdate);
      w.click(ui::kIdOk);
    });
    return [](ScriptedWindow& w) { w.click(kIdcManual); };
  }
};

TEST_P(LastBoxRecord, is_kept_once_before_the_last_box) {
  const LastBoxCase& c = GetParam();
  attach(c.simOptions);
  int handedOver = 0;
  size_t boxesBefore = 0;
  ServiceRecord kept;
  dialog->m_recorder.m_recordRun = [&](ServiceRecord& record) {
    ++handedOver;
    boxesBefore = host.boxes.size();
    kept = record;
  };
  ScriptedHost::Step before;
  switch (c.setup) {
    case Setup::Automatic:
      break;
    case Setup::CancelWhileProgramming:
      host.when(
          [] {
            for (const std::string& line : statusLines())
              if (line == "Download processor firmware") return true;
            return false;
          },
          [](ScriptedWindow& w) { w.click(kIdcCancel); });
      break;
    case Setup::MissingImage:
      std::remove("NO_ATSC.bin");
      std::remove("NO_DVBT.bin");
      break;
    case Setup::DryRun:
      dialog->m_runRequest.dryRun = true;
      break;
    case Setup::Backup:
      dialog->m_runRequest.backupOnly = true;
      dialog->m_runRequest.backupFolder = "bk";
      break;
    case Setup::ManualProcessor:
      before = manual(kIdcOptionNone, true, false);
      break;
    case Setup::ManualOption:
      before = manual(kIdcOptionB10, false, true);
      break;
    case Setup::ManualBoth:
      before = manual(kIdcOptionB10, true, true);
      break;
  }
  runOnce(before);

  ASSERT_EQ(handedOver, 1);
  EXPECT_EQ(kept.outcome, c.outcome);
  if (c.lastBox != nullptr) {
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ(host.boxes.back().text, c.lastBox);
    EXPECT_EQ(boxesBefore, host.boxes.size() - 1);
  } else {
    EXPECT_EQ(boxesBefore, host.boxes.size());
  }
  // Kept early, it is still the whole run: every line that the window ended with.
  EXPECT_EQ(kept.steps, statusLines());
  EXPECT_EQ(kept.outcome == "success", dialog->m_lastRunSucceeded);
  if (kept.outcome == "failed" || kept.outcome == "cancelled") {
    EXPECT_NE(kept.result.value_or(0), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Record, LastBoxRecord, ::testing::ValuesIn(kLastBoxCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace app_test
