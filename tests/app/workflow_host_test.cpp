// The workflows driven by a stand-in host instead of the main dialog: everything they show
// goes through WorkflowHost, and what they find goes into the request's state and record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/workflows/automatic_update.h"
#include "app/workflows/backup_run.h"
#include "app/workflows/restore_run.h"
#include "run/run_state.h"
#include "tests/app/app_fixture.h"

namespace {

using app_test::AppTest;

class TestHost : public WorkflowHost {
 public:
  void startProgressTimer() override { timerRunning = true; }
  void stopProgressTimer() override { timerRunning = false; }
  void countTimerRunning() override { timerCounted = true; }
  void setExpectedBytes(uint32_t bytes) override { expectedBytes.push_back(bytes); }
  void restartTransferBar() override { ++transferBarRestarts; }
  ui::MessageBoxAnswer showBox(const std::string& text, ui::MessageBoxKind) override {
    boxes.push_back(text);
    return ui::MessageBoxAnswer::Ok;
  }
  using WorkflowHost::showLastBox;
  ui::MessageBoxAnswer showLastBox(const std::string& text, ui::MessageBoxKind kind, bool succeeded,
                                   const StepsAfterLastBox&) override {
    lastBoxSucceeded = succeeded;
    return showBox(text, kind);
  }
  bool cancelConfirmedAfterFailure() override { return cancelRequested != 0; }

  bool timerRunning = false;
  bool timerCounted = false;
  std::vector<uint32_t> expectedBytes;
  int transferBarRestarts = 0;
  std::vector<std::string> boxes;
  bool lastBoxSucceeded = false;
};

class WorkflowWithoutDialog : public AppTest {
 protected:
  RunContext context() {
    session.m_comm.m_portNo = app_test::kSimPort;
    session.m_comm.m_writeTimeout = kRunWriteTimeoutMs;
    record.begin(true, false, app_test::kSimPort);
    return RunContext{host, session, settings, intermediateBoot, request, state, record};
  }

  TestHost host;
  CZel session;
  UpdateSettings settings;
  int intermediateBoot = 0;
  RunRequest request;
  WorkflowState state;
  CRunRecorder record;
};

TEST_F(WorkflowWithoutDialog, automatic_update_reports_through_the_host_and_the_record) {
  attach("hw=0x10400");  // B10 fitted, firmware after the intermediate-boot versions
  RunContext run = context();
  EXPECT_EQ(AutomaticUpdate(run).run(), kAutomaticDone);
  // The success box is the dialog's; the workflow's bars: the processor's phase, then the
  // option's from 0.
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_TRUE(host.timerRunning && host.timerCounted);
  ASSERT_EQ(host.expectedBytes.size(), 2u);
  EXPECT_EQ(host.expectedBytes[0], kExpectedBytesWithExtension);
  EXPECT_EQ(host.transferBarRestarts, 1);
  ASSERT_TRUE(record.m_record.updated.has_value());
  EXPECT_EQ(record.m_record.updated->option, "B10");
  EXPECT_FALSE(state.refused);
}

TEST_F(WorkflowWithoutDialog, backup_and_restore_refuse_a_folder_through_the_host) {
  attach("hw=0x10000");
  dir->write("not-a-folder", "x");
  request.backupFolder = dir->file("not-a-folder");
  RunContext run = context();
  EXPECT_EQ(BackupRun(run).run(), kAutomaticStopped);
  // The reason kept for the record is the box's text.
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(state.refusal, host.boxes[0]);
  request.restoreFolder = dir->file("missing");
  EXPECT_EQ(RestoreRun(run).run(), kAutomaticStopped);
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[0].rfind("Backup refused:\n", 0), 0u) << host.boxes[0];
  EXPECT_EQ(host.boxes[1].rfind("Restore refused:\n", 0), 0u) << host.boxes[1];
  EXPECT_TRUE(state.refused);
  EXPECT_EQ(state.refusal, host.boxes[1]);
  EXPECT_FALSE(host.timerRunning);
  // Neither touched the instrument.
  EXPECT_TRUE(record.m_record.instrument == std::nullopt);
}

}  // namespace
