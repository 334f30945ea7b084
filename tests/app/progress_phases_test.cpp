// The bars of a run on the virtual clock: the option update moves the transfer bar on a scale
// of its own, and a run that succeeded shows both bars at their end while its box is up.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "run/run_state.h"
#include "tests/app/app_fixture.h"
#include "ui/message_box.h"

namespace app_test {
namespace {

using testing_support::ScriptedHost;
using testing_support::ScriptedWindow;

// The bars as each box of the run finds them.
class BarsAtBoxes : public ui::MessageBoxObserver {
 public:
  explicit BarsAtBoxes(testing_support::ScriptedHost& host) : m_host(host) {
    ui::addMessageBoxObserver(this);
  }
  ~BarsAtBoxes() override { ui::removeMessageBoxObserver(this); }
  void messageBoxShown(ui::MessageBoxKind, const std::string&) override {
    ScriptedWindow& w = *m_host.windows.back();
    busy.push_back(w.progressPos(kIdcBusyBar));
    transfer.push_back(w.progressPos(kIdcTransferBar));
  }
  void messageBoxAnswered(ui::MessageBoxKind, const std::string&, ui::MessageBoxAnswer) override {}
  std::vector<int> busy, transfer;

 private:
  testing_support::ScriptedHost& m_host;
};

struct PhaseCase {
  const char* name;
  const char* simOptions;
  bool manual;  // the processor firmware and the B10 option, selected by hand
  bool optionPhase;
  bool succeeded;
};

const PhaseCase kPhaseCases[] = {
    {"option_without_a_boot", "hw=0x11000", false, true, true},
    {"option_after_a_boot", "hw=0x11000,version=04.40", false, true, true},
    {"manual_processor_and_option", "hw=0x10400", true, true, true},
    {"processor_alone", "hw=0x10000", false, false, true},
    // A failure leaves the bars where the run stopped.
    {"dsp_checksum_differs", "hw=0x10400,fault=dsp-checksum-off", false, true, false},
};

class ProgressPhases : public AppTest, public ::testing::WithParamInterface<PhaseCase> {};

TEST_P(ProgressPhases, option_on_its_own_scale_and_the_end_at_the_box) {
  const PhaseCase& c = GetParam();
  attach(c.simOptions);
  BarsAtBoxes atBoxes(host);
  // The transfer bar from the option update's first status line to the next box.
  std::vector<int> option;
  size_t boxesAtOption = 0;
  host.when(
      [&] {
        const std::vector<std::string>& all = statusLines();
        const bool begun = std::any_of(all.begin(), all.end(), [](const std::string& line) {
          return line.rfind("Update Option(", 0) == 0;
        });
        if (begun && option.empty()) boxesAtOption = host.boxes.size();
        if (begun && host.boxes.size() == boxesAtOption) {
          option.push_back(host.windows.front()->progressPos(kIdcTransferBar));
        }
        return false;
      },
      {});
  ScriptedHost::Step before;
  if (c.manual) {
    host.atIdle(kIddConfig, [](ScriptedWindow& w) {
      w.click(kIdcOptionB10);
      if (!w.isChecked(kIdcOptionUpdate)) w.click(kIdcOptionUpdate);
      w.click(ui::kIdOk);
    });
    before = [](ScriptedWindow& w) { w.click(kIdcManual); };
  }
  runOnce(before);

  EXPECT_EQ(dialog->m_lastRunSucceeded, c.succeeded);
  ASSERT_FALSE(atBoxes.transfer.empty());
  EXPECT_EQ(atBoxes.transfer.back() == kTransferBarEnd, c.succeeded) << atBoxes.transfer.back();
  EXPECT_EQ(atBoxes.busy.back() == kBusyPositions, c.succeeded) << atBoxes.busy.back();
  ASSERT_EQ(option.empty(), !c.optionPhase);
  if (!c.optionPhase) return;
  // It starts again near 0 and rises through the option's packets nearly to the cap.
  EXPECT_LE(option.front(), 10);
  EXPECT_GE(*std::max_element(option.begin(), option.end()), 80);
  EXPECT_TRUE(std::is_sorted(option.begin(), option.end()));
  EXPECT_LE(option.back(), kPercentCap);
}

INSTANTIATE_TEST_SUITE_P(Progress, ProgressPhases, ::testing::ValuesIn(kPhaseCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace app_test
