// The main dialog's controls and display, the port list and the configuration dialog.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/config_dlg.h"
#include "app/port_list.h"
#include "app/update_app.h"
#include "app/workflows/automatic_update.h"
#include "app/workflows/run_steps.h"
#include "flash/config/programming_job.h"
#include "platform/profile.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/device_factory.h"
#include "sim/registry.h"
#include "tests/app/app_fixture.h"

namespace app_test {
namespace {

using testing_support::ControlState;
using testing_support::ScriptedWindow;

// --- port list ------------------------------------------------------------------------

class PortListTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    registerSerialDeviceFactory(
        "busy:", [](const std::string&) { return std::unique_ptr<serial::SerialDevice>(); },
        [](const std::string&) { return serial::ProbeResult::InUse; });
  }
  void TearDown() override {
    registerSerialDeviceFactory("busy:", {}, {});
    AppTest::TearDown();
  }
};

struct PortListCase {
  const char* name;
  std::vector<std::pair<int, const char*>> devices;
  int sessionPort;
  bool sessionOpen;
  std::vector<std::string> texts;
  // What `zelupdate ports` lists instead, where it differs.
  std::vector<std::string> report = {};
};

const PortListCase kPortListCases[] = {
    {"sorted_by_text",
     {{1, "sim:seed=1"}, {2, "sim:seed=2"}, {10, "sim:seed=3"}},
     1,
     false,
     {"COM1", "COM10", "COM2"}},
    {"port_in_use_is_marked",
     {{3, "busy:x"}, {5, "sim:"}},
     1,
     false,
     {"COM3 (access denied)", "COM5"}},
    {"own_open_port_is_not_marked", {{3, "busy:x"}}, 3, true, {"COM3"}},
    {"own_port_closed_is_marked", {{3, "busy:x"}}, 3, false, {"COM3 (access denied)"}},
    // Numbers above 15 never appear, and a hidden number has no entry.
    {"only_numbers_up_to_15", {{15, "sim:"}, {16, "sim:"}}, 1, false, {"COM15"}},
    // The dialog keeps its texts; the report names the cause of a network port.
    {"network_port_that_cannot_be_used",
     {{3, "busy:x"}, {9, "rfc2217://no-such-host.invalid:2001"}},
     1,
     false,
     {"COM3 (access denied)"},
     {"COM3 (access denied)", "COM9 (host not found)"}},
};

class PortListCases : public PortListTest, public ::testing::WithParamInterface<PortListCase> {};

TEST_P(PortListCases, texts) {
  const PortListCase& c = GetParam();
  for (const auto& [port, device] : c.devices) serial::setComPortDevice(port, device);
  std::vector<std::string> texts;
  for (const PortListEntry& entry : buildPortList(c.sessionPort, c.sessionOpen)) {
    texts.push_back(entry.text);
    EXPECT_EQ(entry.device, serial::comPortDevice(entry.portNumber));
  }
  EXPECT_EQ(texts, c.texts);
  if (!c.report.empty()) {
    texts.clear();
    for (const PortListEntry& entry : buildPortReport()) texts.push_back(entry.text);
    EXPECT_EQ(texts, c.report);
  }
  serial::setComPortDevice(16, "");
}

INSTANTIATE_TEST_SUITE_P(Ports, PortListCases, ::testing::ValuesIn(kPortListCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortListTest, dialog_lists_com10_before_com2_selects_the_stored_port_and_opens_a_pick) {
  for (int port : {1, 2, 10}) serial::setComPortDevice(port, "sim:seed=" + std::to_string(port));
  dir->write("zelupdate.ini", "[DEVICE]\nPORT_NO=10\n");
  std::vector<std::string> texts;
  std::vector<int64_t> data;
  int selected = -1;
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    const ControlState* list = w.control(kIdcPortList);
    texts = list->items;
    data = list->itemData;
    selected = list->selection;
    w.select(kIdcPortList, 2);  // COM2
  });
  runDialog();
  EXPECT_EQ(texts, (std::vector<std::string>{"COM1", "COM10", "COM2"}));
  EXPECT_EQ(data, (std::vector<int64_t>{1, 10, 2}));
  EXPECT_EQ(selected, 1);
  EXPECT_EQ(dialog->m_serialSettings.portNumber, 2);
  EXPECT_FALSE(sim::instrumentFor("sim:seed=2")->hostIsOpen());  // closed at destroy
  EXPECT_EQ(sim::lastOpenedInstrument(), sim::instrumentFor("sim:seed=2"));
  // The destroyed window wrote the port back.
  EXPECT_EQ(platform::getPrivateProfileInt("DEVICE", "PORT_NO", 0, dir->file("zelupdate.ini")), 2);
}

// The list follows the ports: each step changes the ports (an empty device: the port is
// gone), then opens the list (or, as Windows does, tells the window that a device came or
// went) and sees what it offers and which entry is selected.
struct PortChangeStep {
  std::vector<std::pair<int, const char*>> changes;
  std::vector<std::string> texts;
  std::string selected;
  bool deviceChange = false;  // the window is told, the list is not opened
};

struct PortChangeCase {
  const char* name;
  std::vector<int> ports;  // present when the window opens
  int storedPort;
  std::vector<PortChangeStep> steps;
  int portAtEnd;  // the session's port, written back at the end
};

const PortChangeCase kPortChangeCases[] = {
    {"plugged_in_port_appears_and_the_selection_stays",
     {1, 10},
     10,
     {{{{2, "sim:seed=2"}}, {"COM1", "COM10", "COM2"}, "COM10"}},
     10},
    {"removed_port_goes", {1, 2, 10}, 1, {{{{10, ""}}, {"COM1", "COM2"}, "COM1"}}, 1},
    {"port_taken_by_another_program_is_marked",
     {1},
     1,
     {{{{3, "busy:x"}}, {"COM1", "COM3 (access denied)"}, "COM1"}},
     1},
    // The session keeps a port that went away, as it keeps one absent at the start: the list
    // shows its first entry, and the port is selected again once it is back.
    {"selected_port_removed_and_plugged_in_again",
     {1, 2},
     2,
     {{{{2, ""}}, {"COM1"}, "COM1"}, {{{2, "sim:seed=2"}}, {"COM1", "COM2"}, "COM2"}},
     2},
    {"every_port_removed_leaves_no_selection", {5}, 5, {{{{5, ""}}, {}, ""}}, 5},
    {"windows_device_change_fills_the_closed_list",
     {1},
     1,
     {{{{12, "sim:seed=12"}}, {"COM1", "COM12"}, "COM1", true}},
     1},
};

class PortChangeCases : public PortListTest,
                        public ::testing::WithParamInterface<PortChangeCase> {};

TEST_P(PortChangeCases, list_follows_the_ports) {
  const PortChangeCase& c = GetParam();
  for (int port : c.ports) serial::setComPortDevice(port, "sim:seed=" + std::to_string(port));
  dir->write("zelupdate.ini", "[DEVICE]\nPORT_NO=" + std::to_string(c.storedPort) + "\n");
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    for (const PortChangeStep& step : c.steps) {
      for (const auto& [port, device] : step.changes) serial::setComPortDevice(port, device);
      if (step.deviceChange) {
        dialog->onDevicesChanged();
      } else {
        w.dropDown(kIdcPortList);
      }
      const ControlState* list = w.control(kIdcPortList);
      EXPECT_EQ(list->items, step.texts);
      EXPECT_EQ(list->selection < 0 ? "" : list->items.at(list->selection), step.selected);
    }
  });
  runDialog();
  EXPECT_EQ(platform::getPrivateProfileInt("DEVICE", "PORT_NO", 0, dir->file("zelupdate.ini")),
            c.portAtEnd);
}

INSTANTIATE_TEST_SUITE_P(Ports, PortChangeCases, ::testing::ValuesIn(kPortChangeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortListTest, list_is_not_probed_again_during_a_run) {
  serial::setComPortDevice(1, "sim:seed=1");
  dir->write("zelupdate.ini", "[DEVICE]\nPORT_NO=1\n");
  std::vector<std::string> texts;
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    serial::setComPortDevice(2, "sim:seed=2");
    dialog->m_running = 1;  // as between Run and the run's end
    w.dropDown(kIdcPortList);
    dialog->onDevicesChanged();
    texts = w.control(kIdcPortList)->items;
    dialog->m_running = 0;
  });
  runDialog();
  EXPECT_EQ(texts, (std::vector<std::string>{"COM1"}));
}

// --- main dialog ----------------------------------------------------------------------

TEST_F(AppTest, start_state_system_menu_and_close) {
  dir->write("zelupdate.ini", "[OTHER]\nx=1\n");  // no DEVICE section: COM1
  bool closeEnded = true;
  std::vector<std::pair<int, std::string>> menu;
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    EXPECT_TRUE(w.isChecked(kIdcAutomatic));
    EXPECT_FALSE(w.isChecked(kIdcManual));
    EXPECT_FALSE(w.isEnabled(kIdcConfiguration));
    EXPECT_FALSE(w.isEnabled(kIdcCancel));
    EXPECT_TRUE(w.closeRemoved());
    menu = w.systemMenu();
    w.systemCommand(ui::kSysCommandClose);
    closeEnded = w.ended();
    w.systemCommand(kIdmAboutBox | 0x3);  // low bits do not matter
  });
  host.atIdle(kIddAbout, [](ScriptedWindow& w) { w.click(ui::kIdOk); });
  host.atIdle(kIddUpdate, [](ScriptedWindow& w) { w.escape(); });  // no run: Escape ends
  const int result = host.runModal(*dialog);
  EXPECT_EQ(menu, (std::vector<std::pair<int, std::string>>{{16, "Inf&o über Update..."}}));
  EXPECT_FALSE(closeEnded);
  EXPECT_EQ(result, ui::kIdCancel);
  EXPECT_EQ(dialog->m_serialSettings.portNumber, 1);
  const SerialSettings s = dialog->m_serialSettings;
  EXPECT_EQ((std::vector<int>{s.baudIndex, s.dataBitsIndex, s.parityIndex, s.stopBitsIndex,
                              s.handshakeIndex}),
            (std::vector<int>{3, 1, 2, 0, 0}));
  EXPECT_NE(std::find(host.operations.begin(), host.operations.end(), "runModal 100"),
            host.operations.end());
  EXPECT_EQ(platform::getPrivateProfileInt("DEVICE", "PORT_NO", 0, dir->file("zelupdate.ini")), 1);
  EXPECT_EQ(platform::getPrivateProfileInt("OTHER", "x", 0, dir->file("zelupdate.ini")), 1);
}

TEST_F(AppTest, application_switches_leave_the_start_state) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"/Service"}, {"/OhneZwischenbooten", "/Service"}}) {
    int serviceMode = -1;
    int intermediateBoot = -1;
    host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
      const auto& main = static_cast<CUpdateDlg&>(w.dialog());
      serviceMode = main.m_serviceMode;
      intermediateBoot = main.m_intermediateBoot;
      w.click(kIdcExit);
    });
    CUpdateApp app;
    EXPECT_EQ(app.run(host, args, "zelupdate"), 0);
    EXPECT_EQ(app.m_dialogResult, ui::kIdCancel);
    EXPECT_EQ(serviceMode, 1);
    EXPECT_EQ(intermediateBoot, 0);
  }
}

TEST_F(AppTest, status_list_display_rule) {
  struct Row {
    int lines;
    int top;
  };
  const Row rows[] = {{1, 0}, {6, 0}, {7, 1}, {12, 6}};
  std::vector<Row> seen;
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    for (const Row& row : rows) {
      clearStatusList();
      const int repaints = w.repaints;
      for (int i = 0; i < row.lines; ++i) addStatusLine("line " + std::to_string(i));
      EXPECT_EQ(w.repaints - repaints, row.lines);
      EXPECT_EQ(w.listSelection(kIdcStatusList), row.lines - 1);
      EXPECT_EQ(w.listCount(kIdcStatusList), row.lines);
      seen.push_back({row.lines, w.listTopIndex(kIdcStatusList)});
    }
    // The step status rewrite replaces the last line in the box as well.
    addStatusLine("Step");
    deleteStatusLine(statusLineCount() - 1);
    addStatusLine("OK    Step");
    EXPECT_EQ(w.listText(kIdcStatusList, w.listCount(kIdcStatusList) - 1), "OK    Step");
    EXPECT_EQ(w.listCount(kIdcStatusList), 13);
  });
  runDialog();
  ASSERT_EQ(seen.size(), 4u);
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].top, rows[i].top) << rows[i].lines;
}

TEST_F(AppTest, timer_tick_moves_the_bars_with_the_cap) {
  struct Tick {
    uint32_t expected;
    uint32_t sent;
    int16_t busyBefore;
    int transferBefore;
    int busyAfter;
    int transferAfter;
  };
  const Tick ticks[] = {
      {1000, 500, 0, 0, 1, 50},      {1000, 999, 5, 0, 6, 95},  // capped
      {1000, 5000, 98, 0, 99, 95},   {1000, 10, 99, 0, 0, 1},   // the busy bar starts again
      {0, 700, 3, 42, 4, 42},  // nothing expected: the transfer bar stays
      {0x7000, 0x3800, 0, 0, 1, 50},
  };
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    for (const Tick& t : ticks) {
      dialog->expectedBytes = t.expected;
      bytesSent = t.sent;
      dialog->m_busyPosition = t.busyBefore;
      dialog->m_transferPercent = static_cast<int16_t>(t.transferBefore);
      dialog->onTimer(kProgressTimerId);
      EXPECT_EQ(w.progressPos(kIdcBusyBar), t.busyAfter);
      EXPECT_EQ(w.progressPos(kIdcTransferBar), t.transferAfter);
    }
  });
  runDialog();
}

TEST_F(AppTest, statistics_texts_appear_with_the_first_packet_error) {
  attach("hw=0x10000,fault=nack=2");
  std::vector<std::string> beforeRun;
  std::vector<std::string> afterRun;
  auto texts = [](ScriptedWindow& w) {
    return std::vector<std::string>{w.text(kIdcPacketCount), w.text(kIdcPacketErrors),
                                    w.text(kIdcPacketRetries)};
  };
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    dialog->onTimer(kProgressTimerId);
    beforeRun = texts(w);
    w.click(kIdcRun);
    dialog->onTimer(kProgressTimerId);
    afterRun = texts(w);
  });
  runDialog();
  EXPECT_EQ(beforeRun, (std::vector<std::string>{"", "", ""}));
  ASSERT_GT(packetErrors, 0u);
  char count[64], errors[64], retries[64];
  std::snprintf(count, sizeof count, "Pkt-Count:\t %5i", static_cast<int>(packetCount));
  std::snprintf(errors, sizeof errors, "Pkt-Errors:\t%5i", static_cast<int>(packetErrors));
  std::snprintf(retries, sizeof retries, "Pkt-Retrys:\t%5i", static_cast<int>(packetRetries));
  EXPECT_EQ(afterRun, (std::vector<std::string>{count, errors, retries}));
  EXPECT_TRUE(dialog->m_lastRunSucceeded);
  expectProgrammed("NO_ATSC.bin", 0x50000);
}

TEST_F(AppTest, hardware_word_changed_by_the_update_is_reported) {
  struct Row {
    uint32_t expected;
    uint32_t current;
    int result;
    std::vector<std::string> lines;
    std::vector<std::string> boxes;
  };
  const Row rows[] = {
      {0x11000, 0x11000, 0, {}, {}},
      {0x10020,
       0x10000,
       1,
       {"ERROR - B1 not detected"},
       {"Error - B1 not detected.\nProcessor Hardware update failed.\nPlease retry in Manual "
        "Mode."}},
      {0x10400,
       0x10000,
       1,
       {"ERROR - B10 not detected"},
       {"Error - B10 not detected.\nProcessor Hardware update failed\nPlease retry in Manual "
        "Mode"}},
      {0x11000,
       0x10000,
       1,
       {"ERROR - B20 not detected"},
       {"Error - B20 not detected.\nProcessor Hardware update failed.\nPlease retry in Manual "
        "Mode."}},
      // More than one option gone, or a word that grew: no option named.
      {0x11420,
       0x10000,
       1,
       {},
       {"ERROR - Bxx not detected.\nProcessor Hardware update failed.\nPlease retry in Manual "
        "Mode."}},
      {0x10000,
       0x10020,
       1,
       {},
       {"ERROR - Bxx not detected.\nProcessor Hardware update failed.\nPlease retry in Manual "
        "Mode."}},
  };
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    for (const Row& row : rows) {
      clearStatusList();
      host.boxes.clear();
      w.setTimer(kProgressTimerId, kProgressTimerPeriodMs);
      dialog->m_session.hwInfo = static_cast<int32_t>(row.current);
      RunContext run = dialog->runContext();
      EXPECT_EQ(AutomaticUpdate(run).checkHardwareAfterUpdate(row.expected), row.result == 0);
      EXPECT_EQ(statusLines(), row.lines);
      EXPECT_EQ(boxes(), row.boxes);
      EXPECT_EQ(w.timerRunning(kProgressTimerId), row.result == 0);
    }
  });
  runDialog();
}

TEST_F(AppTest, option_kind_from_the_hardware_word) {
  // B1 wins over B10, B10 over B20.
  const std::pair<uint32_t, int> rows[] = {{0x0, 0},    {0x10000, 0}, {0x20, 1},   {0x1420, 1},
                                           {0x1400, 3}, {0x400, 3},   {0x1000, 2}, {0x40, 0}};
  host.atIdle(kIddUpdate, [&](ScriptedWindow&) {
    RunContext run = dialog->runContext();
    for (const auto& [hw, kind] : rows) {
      AutomaticUpdate(run).selectOptionKind(hw);
      EXPECT_EQ(dialog->m_updateSettings.optionKind, kind) << hw;
    }
  });
  runDialog();
}

TEST_F(AppTest, expected_bytes_by_mode_and_selections) {
  struct Row {
    bool automatic;
    uint32_t hw;
    int memoryExtension;
    int processorFirmware;
    int optionKind;
    uint32_t bytes;
  };
  // The processor's phase alone: the option's image (ATSC.BIN, QAM.BIN, OFDM.BIN) has a scale
  // of its own.
  const Row rows[] = {
      {true, 0x10000, 1, 1, 0, 0xB0000},  {true, 0x0, 1, 1, 2, 0x80000},
      {true, 0x20000, 0, 0, 1, 0xB0000},  {false, 0x0, 1, 1, 3, 0xB0000},
      {false, 0x30000, 0, 1, 0, 0x80000}, {false, 0x30000, 1, 0, 2, 0},
  };
  std::snprintf(programmingJob.bootstrapLoaderFile, kFileNameSize, "ROMWRITE.URL");
  std::snprintf(programmingJob.transferFile, kFileNameSize, "ROMWRITE.TRA");
  host.atIdle(kIddUpdate, [&](ScriptedWindow&) {
    const RunContext run = dialog->runContext();
    for (const Row& row : rows) {
      dialog->m_updateSettings.memoryExtension = row.memoryExtension;
      dialog->m_updateSettings.processorFirmware = row.processorFirmware;
      dialog->m_updateSettings.optionKind = row.optionKind;
      const uint32_t bytes = row.automatic ? automaticExpectedBytes(row.hw, run)
                                           : manualExpectedBytes(dialog->m_updateSettings, run);
      EXPECT_EQ(bytes, row.bytes) << row.hw << " " << row.optionKind;
      // The option's phase: the packets of its image, after a boot also the loader (514
      // bytes written) and the transfer program (6144 bytes and 14 around them).
      const uint32_t image = row.optionKind == 0 ? 0 : fileSizeOf(optionImageFile(row.optionKind));
      const uint32_t packets = (image / 4 + 59) / 60;
      const uint32_t option = row.optionKind == 0 ? 0 : 13 + 21 + packets * 261 + 21;
      EXPECT_EQ(optionPhaseBytes(row.optionKind, false), option);
      EXPECT_EQ(optionPhaseBytes(row.optionKind, true), option == 0 ? 0 : option + 514 + 6144 + 14);
    }
    // A missing image adds nothing.
    std::remove("OFDM.BIN");
    EXPECT_EQ(fileSizeOf("OFDM.BIN"), 0u);
  });
  runDialog();
}

// --- configuration dialog ---------------------------------------------------------------

struct ConfigState {
  bool memoryExtension, memoryExtensionEnabled, none, b1, b10, b20, processor, optionUpdate,
      optionUpdateEnabled;
  bool operator==(const ConfigState&) const = default;
};

ConfigState stateOf(const ScriptedWindow& w) {
  return {w.isChecked(kIdcMemoryExtension),   w.isEnabled(kIdcMemoryExtension),
          w.isChecked(kIdcOptionNone),        w.isChecked(kIdcOptionB1),
          w.isChecked(kIdcOptionB10),         w.isChecked(kIdcOptionB20),
          w.isChecked(kIdcProcessorFirmware), w.isChecked(kIdcOptionUpdate),
          w.isEnabled(kIdcOptionUpdate)};
}

struct ClickCase {
  const char* name;
  std::vector<int> clicks;
  ConfigState state;
  int optionKind;
  int optionUpdate;
  int processorFirmware;
};

const ClickCase kClickCases[] = {
    {"start_values", {}, {true, false, true, false, false, false, true, false, false}, 0, 0, 1},
    {"b1_offers_its_update",
     {kIdcOptionB1},
     {true, false, false, true, false, false, true, true, true},
     1,
     1,
     1},
    {"none_again_withdraws_it",
     {kIdcOptionB1, kIdcOptionNone},
     {true, false, true, false, false, false, true, false, false},
     0,
     0,
     1},
    {"b20", {kIdcOptionB20}, {true, false, false, false, false, true, true, true, true}, 2, 1, 1},
    {"b10_after_b20",
     {kIdcOptionB20, kIdcOptionB10},
     {true, false, false, false, true, false, true, true, true},
     3,
     1,
     1},
    {"both_updates_unticked",
     {kIdcOptionB10, kIdcOptionUpdate, kIdcProcessorFirmware},
     {true, false, false, false, true, false, false, false, true},
     3,
     0,
     0},
};

class ConfigClicks : public AppTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(ConfigClicks, buttons_and_records) {
  const ClickCase& c = GetParam();
  CConfigDlg config(SerialSettings{7, 4, 0, 1, 1, 2}, UpdateSettings{}, 1);
  ConfigState state{};
  host.atIdle(kIddConfig, [&](ScriptedWindow& w) {
    for (int id : c.clicks) w.click(id);
    state = stateOf(w);
    w.click(ui::kIdOk);
  });
  EXPECT_EQ(host.runModal(config), ui::kIdOk);
  EXPECT_TRUE(state == c.state);
  EXPECT_EQ(config.m_updateSettings.optionKind, c.optionKind);
  EXPECT_EQ(config.m_updateSettings.optionUpdate, c.optionUpdate);
  EXPECT_EQ(config.m_updateSettings.processorFirmware, c.processorFirmware);
  EXPECT_EQ(config.m_updateSettings.noOption, c.optionKind == 0 ? 1 : 0);
  // The hidden RS-232 section returns what it was given.
  const SerialSettings& s = config.m_serialSettings;
  EXPECT_EQ((std::vector<int>{s.portNumber, s.baudIndex, s.dataBitsIndex, s.parityIndex,
                              s.stopBitsIndex, s.handshakeIndex}),
            (std::vector<int>{7, 4, 0, 1, 1, 2}));
}

INSTANTIATE_TEST_SUITE_P(Config, ConfigClicks, ::testing::ValuesIn(kClickCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, config_rs232_section_hidden_and_filled_update_boxes_follow_service_mode) {
  UpdateSettings withOption;
  chooseOption(withOption, kOptionB20);
  withOption.optionUpdate = 0;  // unticked when last closed
  for (int serviceMode : {1, 0}) {
    CConfigDlg config(SerialSettings{}, withOption, serviceMode);
    host.atIdle(kIddConfig, [&](ScriptedWindow& w) {
      for (int id : {kIdcRs232Group, kIdcBaudCombo, kIdcHandshakeCombo, kIdcStopBitsLabel})
        EXPECT_FALSE(w.isVisible(id)) << id;
      EXPECT_EQ(w.control(kIdcBaudCombo)->items,
                (std::vector<std::string>{"1200", "2400", "4800", "9600", "19200"}));
      EXPECT_EQ(w.control(kIdcHandshakeCombo)->itemData, (std::vector<int64_t>{0, 2, 1}));
      EXPECT_EQ(w.control(kIdcStopBitsCombo)->itemData, (std::vector<int64_t>{1, 2}));
      EXPECT_EQ(w.comboSelection(kIdcBaudCombo), 3);
      EXPECT_EQ(w.comboSelection(kIdcParityCombo), 2);
      EXPECT_EQ(w.comboCount(kIdcPortCombo), 0);
      EXPECT_EQ(w.isVisible(kIdcProcessorFirmware), serviceMode == 1);
      EXPECT_EQ(w.isVisible(kIdcOptionUpdate), serviceMode == 1);
      EXPECT_TRUE(w.isChecked(kIdcOptionUpdate));  // an installed option is offered again
      w.click(ui::kIdOk);
    });
    ASSERT_EQ(host.runModal(config), ui::kIdOk);
    EXPECT_EQ(config.m_updateSettings.optionUpdate, 1);
  }
}

struct ValidationCase {
  const char* name;
  UpdateSettings settings;
  const char* refusal;  // empty: accepted
};

UpdateSettings with(int memoryExtension, int b1, int b20, int b10, int optionUpdate, int nicam = 0,
                    int mpeg = 0) {
  UpdateSettings s;
  s.memoryExtension = memoryExtension;
  s.optionB1 = b1;
  s.optionB20 = b20;
  s.optionB10 = b10;
  s.noOption = b1 + b20 + b10 == 0;
  s.optionUpdate = optionUpdate;
  s.nicamMode = nicam;
  s.mpegMode = mpeg;
  return s;
}

const ValidationCase kValidationCases[] = {
    {"start_values", with(1, 0, 0, 0, 0), ""},
    {"one_option", with(1, 0, 1, 0, 1), ""},
    // An option update needs one option, and only one.
    {"update_without_option", with(1, 0, 0, 0, 1), kRefuseChooseOneOption},
    {"update_without_option_or_extension", with(0, 0, 0, 0, 1), kRefuseChooseOneOption},
    {"two_options", with(1, 1, 0, 1, 1), kRefuseChooseOneOption},
    {"two_options_no_update", with(1, 1, 0, 1, 0), ""},
    {"no_extension_b1", with(0, 1, 0, 0, 1), ""},
    {"no_extension_nothing", with(0, 0, 0, 0, 0), ""},
    // B10 and B20 images need the memory extension.
    {"no_extension_b10", with(0, 0, 0, 1, 1), kRefuseNeedsMemoryExtension},
    {"no_extension_b20_no_update", with(0, 0, 1, 0, 0), kRefuseNeedsMemoryExtension},
    {"no_extension_b1_and_b20", with(0, 1, 1, 0, 0), kRefuseNeedsMemoryExtension},
    {"no_extension_both_modes", with(0, 0, 0, 0, 0, 1, 1), kRefuseOneMode},
    {"extension_both_modes", with(1, 0, 0, 0, 0, 1, 1), ""},
};

class Validation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(Validation, message) {
  EXPECT_EQ(validateUpdateSettings(GetParam().settings), GetParam().refusal);
}

INSTANTIATE_TEST_SUITE_P(Config, Validation, ::testing::ValuesIn(kValidationCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, config_refusal_keeps_the_dialog_open_and_cancel_changes_nothing) {
  bool openAfterRefusal = false;
  host.atIdle(kIddUpdate, [this](ScriptedWindow& w) {
    dialog->m_updateSettings.memoryExtension = 0;  // as a board without the extension
    w.click(kIdcManual);
  });
  host.atIdle(kIddConfig, [&](ScriptedWindow& w) {
    w.click(kIdcOptionB10);
    w.click(ui::kIdOk);
    openAfterRefusal = !w.ended();
    w.click(ui::kIdCancel);
  });
  UpdateSettings afterCancel;
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    afterCancel = dialog->m_updateSettings;
    w.click(kIdcConfiguration);
  });
  host.atIdle(kIddConfig, [](ScriptedWindow& w) {
    w.click(kIdcOptionB1);
    w.click(ui::kIdOk);
  });
  runDialog();
  EXPECT_TRUE(openAfterRefusal);
  EXPECT_EQ(boxes(), std::vector<std::string>{kRefuseNeedsMemoryExtension});
  EXPECT_EQ(afterCancel.optionKind, 0);
  EXPECT_EQ(afterCancel.noOption, 1);
  EXPECT_EQ(afterCancel.memoryExtension, 0);
  EXPECT_EQ(dialog->m_updateSettings.optionKind, kOptionB1);
  EXPECT_EQ(dialog->m_updateSettings.optionUpdate, 1);
}

}  // namespace
}  // namespace app_test
