// The dry run's estimate: each byte the target sends waits for the host's echo, so the delays
// on that way (the adapter's latency, the network's round trip) count once per such byte.
#include "app/update_plan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "run/run_state.h"
#include "sim/registry.h"
#include "tests/app/app_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

// A job of one 24000-byte image (100 program packets of 240 bytes) at 115200 bits/s, with a
// 4800-byte erase area (20 upload packets when it is backed up).
TEST(UpdatePlan, each_byte_the_target_sends_waits_for_the_echo_delays) {
  testing_support::TempDir dir;
  dir.writeSized("IMAGE.BIN", 24000);
  dir.writeSized("OPTION.BIN", 2400);  // 10 DSP packets
  ProgrammingJob job{};
  job.baud = 115200;
  job.programCount = 1;
  std::strcpy(job.programs[0].fileName, "IMAGE.BIN");
  job.eraseCount = 1;
  job.eraseAreas[0].length = 4800;

  // Bytes the target sends: 10 per program packet (acknowledgement and answer), 13 per DSP
  // packet, and a read back or backup's data with 18 per upload packet.
  const struct {
    const char* name;
    EchoDelays delays;
    bool verify, option, backup;
    double grows;  // seconds
  } rows[] = {
      {"adapter at 1 ms", {1, 0}, false, false, false, 1000 * 0.001},
      {"network at 0.5 ms, read back", {0, 0.5}, true, false, false, (1000 + 25800) * 0.0005},
      {"adapter at 16 ms, option", {16, 0}, false, true, false, (1000 + 130) * 0.016},
      {"both, backup", {1, 0.25}, false, false, true, (1000 + 5160) * 0.00125},
  };
  for (const auto& row : rows) {
    UpdatePlanInput input;
    input.job = &job;
    input.verify = row.verify;
    input.optionImage = row.option ? "OPTION.BIN" : nullptr;
    input.backupFolder = row.backup ? "saved" : "";
    const double plain = estimatedUpdateSeconds(input);
    input.echo = row.delays;
    EXPECT_NEAR(estimatedUpdateSeconds(input) - plain, row.grows, 1e-9) << row.name;
  }
}

// "  estimate  1 min 05 s" or "  estimate  42 s" in seconds; -1 when absent.
int estimateOf(const std::vector<std::string>& plan) {
  for (const std::string& line : plan) {
    int minutes = 0, seconds = 0;
    if (std::sscanf(line.c_str(), "  estimate  %d min %d s", &minutes, &seconds) == 2)
      return minutes * 60 + seconds;
    if (std::sscanf(line.c_str(), "  estimate  %d s", &seconds) == 1) return seconds;
  }
  return -1;
}

using app_test::AppTest;

// The dry run asks the open port for its delays: the simulated adapter's latency here. The
// sample set's B20 update sends 2731 program packets and 86 DSP packets: 28428 bytes from the
// target.
TEST_F(AppTest, dry_run_counts_the_adapter_latency_of_the_port) {
  const auto planned = [this](const std::string& latency) {
    sim::resetInstruments();
    resetRunState();
    dialog = std::make_unique<CUpdateDlg>("zelupdate");
    dialog->m_runRequest.dryRun = true;
    attach("hw=0x11000,latency=" + latency);
    runOnce();
    return estimateOf(dialog->m_workflow.plan);
  };
  const int plain = planned("0");
  ASSERT_GT(plain, 0);
  const struct {
    const char* latency;
    double grows;  // seconds
  } rows[] = {{"1", 28.428}, {"16", 16 * 28.428}};
  for (const auto& row : rows) {
    // The plan shows whole seconds.
    EXPECT_NEAR(planned(row.latency) - plain, row.grows, 1.0) << row.latency;
  }
}

}  // namespace
