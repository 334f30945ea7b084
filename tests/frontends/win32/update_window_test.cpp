// The main dialog and the configuration dialog in the Windows window, driven through the
// host's test hooks against a simulated instrument on the virtual clock: the start state,
// the system menu, the configuration dialog's refusals, a whole automatic run and Cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_templates.h"
#include "app/update_dlg.h"
#include "app/update_set_folder.h"
#include "frontends/win32/test_hooks/win32_test_hooks.h"
#include "frontends/win32/win32_host.h"
#include "platform/clock.h"
#include "platform/path_text.h"
#include "platform/profile.h"
#include "platform/requests.h"
#include "run/run_progress.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "sim/registry.h"
#include "sim/sample_files.h"
#include "tests/frontends/win32/window_driver.h"
#include "tests/frontends/window_run_lines.h"
#include "tests/support/temp_dir.h"
#include "ui/folder_menu.h"
#include "ui/history_view.h"

namespace {

namespace hooks = ui::win32::test_hooks;
using Answer = ui::MessageBoxAnswer;
using Lines = std::vector<std::string>;

constexpr const char* kCancelQuestion = "If update is running,\ndo not cancel the update.\nCancel?";
constexpr const char* kNeedsExtension =
    "ERROR  \nATSC / DVB-T TV Digital Demodulator\nupdate not possible without memory extension";
constexpr int kVirtualKeyEscape = 0x1B;
constexpr int kVirtualKeyReturn = 0x0D;
constexpr int kSystemCommandClose = 0xF060;

bool hasLine(const std::string& line) {
  const Lines all = statusLines();
  return std::find(all.begin(), all.end(), line) != all.end();
}

bool checked(int dialogId, int id) {
  return hooks::control(dialogId, id).checked;
}

bool enabled(int dialogId, int id) {
  return hooks::control(dialogId, id).enabled;
}

class UpdateWindowWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    scopedClock = std::make_unique<platform::ScopedClock>(clock);
    dir = std::make_unique<testing_support::TempDir>();
    sim::resetInstruments();
    resetRunState();
    deviceName = kDeviceNameUnknown;
    // Only the settings file's ports exist: COM1 the instrument, COM2 and COM10 two more.
    for (int port = 1; port <= serial::kMaxComPort; ++port) serial::setComPortDevice(port, "");
    platform::setSettingsFileOverride(dir->file("zelupdate.ini"));
    dir->write("zelupdate.ini", std::string("[DEVICE]\nPORT_NO=1\n[PORTS]\nCOM1=") +
                                    window_test::kInstrument +
                                    "\nCOM2=sim:hw=0x10000\nCOM10=sim:hw=0x10400\n");
    ASSERT_EQ(sim::writeSampleUpdateFiles(dir->path()), 0);
    dialog = std::make_unique<CUpdateDlg>("zelupdate");
  }
  void TearDown() override {
    dialog.reset();
    serial::resetComPortMapping();
    platform::setSettingsFileOverride("");
    sim::resetInstruments();
    resetRunState();
    deviceName = kDeviceNameUnknown;
    dir.reset();
    scopedClock.reset();
  }

  int runWindow() {
    auto host =
        ui::win32::createDialogHost({.transferBarId = kIdcTransferBar, .transferredBytes = [] {
                                       return static_cast<uint64_t>(bytesSent);
                                     }});
    driver.start();
    const int result = host->runModal(*dialog);
    EXPECT_TRUE(driver.done());
    return result;
  }

  platform::VirtualClock clock;
  std::unique_ptr<platform::ScopedClock> scopedClock;
  std::unique_ptr<testing_support::TempDir> dir;
  std::unique_ptr<CUpdateDlg> dialog;
  win32_test::WindowDriver driver;
};

TEST_F(UpdateWindowWin32, starts_with_the_template_and_keeps_its_title_bar_from_closing_it) {
  std::vector<std::string> helpAsked;
  ui::win32::setHelpOpener([&helpAsked](const std::string& url) {
    helpAsked.push_back(url);
    return true;
  });
  ui::setHistoryProvider([] {
    return ui::HistoryTable{{"when (UTC)", "outcome"},
                            {{"2026-12-01 09:00:00", "failed"}, {"2026-12-02 10:00:00", "success"}},
                            "history.jsonl",
                            ""};
  });
  driver.waitForDialog(kIddUpdate)
      .check("start state",
             [] {
               EXPECT_EQ(hooks::dialogCaption(kIddUpdate), "Update");
               EXPECT_TRUE(checked(kIddUpdate, kIdcAutomatic));
               EXPECT_FALSE(checked(kIddUpdate, kIdcManual));
               EXPECT_FALSE(enabled(kIddUpdate, kIdcConfiguration));
               EXPECT_FALSE(enabled(kIddUpdate, kIdcCancel));
               EXPECT_TRUE(hooks::control(kIddUpdate, kIdcExit).defaultButton);
               EXPECT_EQ(hooks::comboTexts(kIddUpdate, kIdcPortList),
                         (Lines{"COM1", "COM10", "COM2"}));
               EXPECT_EQ(hooks::comboSelection(kIddUpdate, kIdcPortList), 0);
               // Every control stands at its template rectangle (a drop-down list is as high
               // as the system makes it).
               for (const ui::ControlTemplate& c : updateDialogTemplate().controls) {
                 if (c.id == -1 || c.kind == ui::ControlKind::ComboBox) continue;
                 const ui::Rect want = hooks::dialogUnitsToPixels(kIddUpdate, c.rect);
                 const ui::Rect got = hooks::control(kIddUpdate, c.id).pixels;
                 EXPECT_EQ(got.x, want.x) << c.id;
                 EXPECT_EQ(got.y, want.y) << c.id;
                 EXPECT_EQ(got.width, want.width) << c.id;
               }
               // Step texts after "OK    " and "ERROR " begin at one x.
               EXPECT_EQ(hooks::textWidth(kIddUpdate, kIdcStatusList, "OK    "),
                         hooks::textWidth(kIddUpdate, kIdcStatusList, "ERROR "));
               // Close was removed from the system menu; About and the history are there.
               const Lines menu = hooks::systemMenuTexts(kIddUpdate);
               ASSERT_GE(menu.size(), 2u);
               EXPECT_EQ(Lines(menu.end() - 2, menu.end()), (Lines{kAboutMenuText, "&History..."}));
               EXPECT_EQ(std::count(menu.begin(), menu.end(), "&Close\tAlt+F4"), 0);
             })
      .then("COM10 picked",
            [] {
              hooks::chooseComboItem(kIddUpdate, kIdcPortList, 1);
              return true;
            })
      .check("port taken over",
             [this] {
               EXPECT_EQ(dialog->m_serialSettings.portNumber, 10);
               hooks::systemCommand(kIddUpdate, kSystemCommandClose);
             })
      .check("the title bar's close did nothing",
             [] { EXPECT_TRUE(hooks::dialogShown(kIddUpdate)); })
      .check("about", [] { hooks::systemCommand(kIddUpdate, kIdmAboutBox); })
      .waitForDialog(kIddAbout)
      .check("about picture", [] { win32_test::screenshot(kIddAbout, "about-win32.png"); })
      .click(kIddAbout, ui::kIdOk)
      .then("about closed", [] { return !hooks::dialogShown(kIddAbout); })
      .check("history", [] { hooks::systemCommand(kIddUpdate, 0x0E00); })
      .then("history shown, newest selected",
            [] {
              if (!hooks::historyShown()) return false;
              const auto rows = hooks::historyRows();
              EXPECT_EQ(rows.size(), 2u);
              if (rows.size() == 2) {
                EXPECT_EQ(rows[1][1], "success");
              }
              EXPECT_EQ(hooks::historySelection(), 1);
              // Every column shows its header and its cells whole.
              for (const hooks::HistoryColumn& column : hooks::historyColumns()) {
                EXPECT_GE(column.width, column.headerNeeds);
                EXPECT_GE(column.width, column.widestCellNeeds);
              }
              win32_test::historyScreenshot("history-win32.png");
              hooks::closeHistory();
              return true;
            })
      .click(kIddUpdate, kIdcHelp)
      .then("help asked for", [&helpAsked] { return !helpAsked.empty(); })
      // Escape ends the dialog while no run is active.
      .then("escape", [] {
        if (!hooks::dialogHasInput(kIddUpdate)) return false;
        hooks::pressKey(kVirtualKeyEscape);
        return true;
      });
  EXPECT_EQ(runWindow(), ui::kIdCancel);
  ui::win32::setHelpOpener({});
  ui::setHistoryProvider({});
  // Help opens the manual at the section about the main window.
  ASSERT_EQ(helpAsked.size(), 1u);
  EXPECT_NE(helpAsked[0].find("manual.html#the-main-window"), std::string::npos) << helpAsked[0];
  EXPECT_EQ(platform::getPrivateProfileInt("DEVICE", "PORT_NO", 0, dir->file("zelupdate.ini")), 10);
}

// Where no browser takes the manual's page, Help shows the manual's text at the window's section.
// The update set folder in the system menu: it names the folder in use, is greyed while a run
// goes on, and afterwards switches to the folder chosen and keeps it.
TEST_F(UpdateWindowWin32, the_system_menu_names_the_update_set_folder_and_switches_it) {
  CUpdateSetFolder folder;
  folder.m_settingsFile = dir->file("zelupdate.ini");
  ASSERT_EQ(folder.start({.setting = "",
                          .current = currentFolderText(),
                          .programFolder = "",
                          .userFolder = "",
                          .settingsFile = folder.m_settingsFile}),
            "");
  const std::string chosen = currentFolderText() + "\\chosen";
  ASSERT_TRUE(std::filesystem::create_directory(platform::pathFromUtf8(chosen)));
  ui::setUpdateSetFolderService(
      {.folder = [&folder] { return folder.m_folder; },
       .use = [&folder](const std::string& picked) { return folder.choose(picked); },
       .startProblem = "",
       .chooser = [&chosen](const std::string&) -> std::optional<std::string> { return chosen; }});
  ui::setHistoryProvider([] { return ui::HistoryTable{}; });
  const std::string entry = ui::updateSetFolderMenuText(folder.m_folder);
  ASSERT_EQ(entry.rfind("Update set folder: ", 0), 0u);
  driver.waitForDialog(kIddUpdate)
      .check("the entry beside About",
             [&entry] {
               const Lines menu = hooks::systemMenuTexts(kIddUpdate);
               ASSERT_GE(menu.size(), 3u);
               EXPECT_EQ(Lines(menu.end() - 3, menu.end()),
                         (Lines{kAboutMenuText, "&History...", entry}));
             })
      .click(kIddUpdate, kIdcRun)
      .then("running", [] { return hasLine("Update processor firmware"); })
      .check("greyed during the run",
             [] {
               std::vector<bool> enabled;
               hooks::systemMenuPicture(kIddUpdate, &enabled);
               ASSERT_FALSE(enabled.empty());
               EXPECT_FALSE(enabled.back());
             })
      .answer(window_test::kDone, Answer::Ok)
      .then("idle again", [] { return enabled(kIddUpdate, kIdcRun); })
      .check("the menu's picture",
             [] {
               std::vector<bool> enabled;
               win32_test::systemMenuScreenshot(kIddUpdate, "window-menu-win32.png", &enabled);
               ASSERT_FALSE(enabled.empty());
               EXPECT_TRUE(enabled.back());
               hooks::systemCommand(kIddUpdate, 0x0E10);
             })
      .then("the folder switched", [&folder, &chosen] { return folder.m_folder == chosen; })
      .check("the entry follows",
             [&chosen] {
               EXPECT_EQ(hooks::systemMenuTexts(kIddUpdate).back(),
                         ui::updateSetFolderMenuText(chosen));
             })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  ui::setUpdateSetFolderService({});
  ui::setHistoryProvider({});
  EXPECT_EQ(currentFolderText(), chosen);
  EXPECT_EQ(platform::getPrivateProfileString("Window", "UpdateSetFolder", "",
                                              dir->file("zelupdate.ini")),
            chosen);
}

TEST_F(UpdateWindowWin32, port_plugged_in_after_the_start_shows_when_the_list_opens) {
  driver.waitForDialog(kIddUpdate)
      .then("COM5 plugged in, the list opened",
            [] {
              serial::setComPortDevice(5, "sim:hw=0x10800");
              hooks::openComboList(kIddUpdate, kIdcPortList);
              return true;
            })
      .check("COM5 listed, COM1 still selected",
             [] {
               EXPECT_EQ(hooks::comboTexts(kIddUpdate, kIdcPortList),
                         (Lines{"COM1", "COM10", "COM2", "COM5"}));
               EXPECT_EQ(hooks::comboSelection(kIddUpdate, kIdcPortList), 0);
             })
      .then("COM5 removed, Windows tells the window",
            [] {
              serial::setComPortDevice(5, "");
              hooks::tellDeviceChange(kIddUpdate, false);
              return true;
            })
      .check("COM5 gone",
             [] {
               EXPECT_EQ(hooks::comboTexts(kIddUpdate, kIdcPortList),
                         (Lines{"COM1", "COM10", "COM2"}));
             })
      .click(kIddUpdate, kIdcExit);
  EXPECT_EQ(runWindow(), ui::kIdCancel);
}

TEST_F(UpdateWindowWin32, help_without_a_browser_shows_the_manuals_text_at_the_section) {
  ui::win32::setHelpOpener([](const std::string&) { return false; });
  driver.click(kIddUpdate, kIdcHelp)
      .then("the text at the section",
            [] {
              if (hooks::helpTextTopLine().empty()) return false;
              // The manual's plain text, nothing of it selected, in a font that keeps its
              // tables' columns.
              EXPECT_EQ(hooks::helpTextTopLine(), "The main window");
              EXPECT_EQ(hooks::helpTextLook().selectedChars, 0);
              EXPECT_TRUE(hooks::helpTextLook().fixedWidthFont);
              win32_test::helpTextScreenshot("help-text-win32.png");
              hooks::closeHelpText();
              return true;
            })
      .then("closed", [] { return hooks::helpTextTopLine().empty(); })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  ui::win32::setHelpOpener({});
  EXPECT_TRUE(driver.boxes().empty());
}

struct RefusalCase {
  const char* name;
  int refusedOption;
  int acceptedOption;
  int optionKind;
};

// B10 and B20 need the memory extension; B1 and none do not.
const RefusalCase kRefusalCases[] = {
    {"b10_then_b1", kIdcOptionB10, kIdcOptionB1, 1},
    {"b20_then_none", kIdcOptionB20, kIdcOptionNone, 0},
};

class ConfigurationRefusalWin32 : public UpdateWindowWin32,
                                  public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ConfigurationRefusalWin32, keeps_the_dialog_open_until_a_valid_choice) {
  const RefusalCase& c = GetParam();
  driver.waitForDialog(kIddUpdate)
      .check("board", [this] { dialog->m_updateSettings.memoryExtension = 0; })
      .click(kIddUpdate, kIdcManual)
      .waitForDialog(kIddConfig)
      .check("extension off", [] { EXPECT_FALSE(checked(kIddConfig, kIdcMemoryExtension)); })
      .click(kIddConfig, c.refusedOption)
      .check("picture",
             [&c] {
               if (c.refusedOption == kIdcOptionB10)
                 win32_test::screenshot(kIddConfig, "config-win32.png");
             })
      .click(kIddConfig, ui::kIdOk)
      .then("the refusal's picture",
            [&c] {
              if (!hooks::messageBox().shown) return false;
              if (c.refusedOption == kIdcOptionB10) win32_test::boxScreenshot("refusal-win32.png");
              return true;
            })
      .answer(kNeedsExtension, Answer::Ok)
      .check("still open",
             [&c] {
               ASSERT_TRUE(hooks::dialogShown(kIddConfig));
               EXPECT_TRUE(checked(kIddConfig, c.refusedOption));
             })
      .click(kIddConfig, c.acceptedOption)
      .click(kIddConfig, ui::kIdOk)
      .then("accepted", [] { return !hooks::dialogShown(kIddConfig); })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  ASSERT_EQ(driver.boxes().size(), 1u);
  EXPECT_EQ(driver.boxes()[0].kind, ui::MessageBoxKind::Stop);
  EXPECT_EQ(driver.boxes()[0].caption, "Update");
  EXPECT_EQ(dialog->m_updateSettings.optionKind, c.optionKind);
}

INSTANTIATE_TEST_SUITE_P(Window, ConfigurationRefusalWin32, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateWindowWin32, a_whole_automatic_run_ends_with_the_lines_of_every_window) {
  int highestTransfer = 0;
  bool busyMoved = false;
  bool pictureTaken = false;
  std::string numbersAtHalf;
  // The numbers line while the success box is up.
  std::string numbersAtBox;
  driver.waitForDialog(kIddUpdate)
      .click(kIddUpdate, kIdcRun)
      .then("running", [] { return hasLine("Update processor firmware"); })
      .check("controls during the run",
             [] {
               for (int id : {kIdcRun, kIdcExit, kIdcHelp, kIdcConfiguration})
                 EXPECT_FALSE(enabled(kIddUpdate, id)) << id;
               EXPECT_TRUE(enabled(kIddUpdate, kIdcCancel));
               // The mode buttons take no clicks while the run goes on.
               hooks::click(kIddUpdate, kIdcManual);
             })
      .then("watch the run",
            [&] {
              EXPECT_TRUE(checked(kIddUpdate, kIdcAutomatic));
              EXPECT_FALSE(hooks::dialogShown(kIddConfig));
              highestTransfer =
                  std::max(highestTransfer, hooks::progressPos(kIddUpdate, kIdcTransferBar));
              busyMoved = busyMoved || hooks::progressPos(kIddUpdate, kIdcBusyBar) > 0;
              if (numbersAtHalf.empty() && highestTransfer >= 50)
                numbersAtHalf = hooks::control(kIddUpdate, ui::kIdProgressNumbers).text;
              const Lines shown = hooks::listLines(kIddUpdate, kIdcStatusList);
              if (!shown.empty()) {
                EXPECT_EQ(hooks::listSelection(kIddUpdate, kIdcStatusList),
                          static_cast<int>(shown.size()) - 1);
              }
              if (!pictureTaken && highestTransfer >= 45 &&
                  !hooks::control(kIddUpdate, kIdcPacketErrors).text.empty()) {
                win32_test::screenshot(kIddUpdate, "window-run-win32.png");
                pictureTaken = true;
              }
              if (!hooks::messageBox().shown) return false;
              numbersAtBox = hooks::control(kIddUpdate, ui::kIdProgressNumbers).text;
              return true;
            })
      .answer(window_test::kDone, Answer::Ok)
      .then("idle again", [] { return enabled(kIddUpdate, kIdcRun); })
      .check("after the run",
             [] {
               EXPECT_EQ(hooks::listLines(kIddUpdate, kIdcStatusList), statusLines());
               EXPECT_EQ(statusLines(), window_test::automaticRunLines());
               EXPECT_EQ(hooks::progressPos(kIddUpdate, kIdcTransferBar), 0);
               EXPECT_EQ(hooks::control(kIddUpdate, ui::kIdProgressNumbers).text, "");
               EXPECT_FALSE(hooks::control(kIddUpdate, kIdcPacketErrors).text.empty());
             })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  EXPECT_TRUE(dialog->m_lastRunSucceeded);
  EXPECT_TRUE(busyMoved);
  // Held at the cap while the run went on; at its end when the success box came.
  EXPECT_EQ(highestTransfer, kTransferBarEnd);
  EXPECT_EQ(numbersAtBox.rfind("100 %   ", 0), 0u) << numbersAtBox;
  EXPECT_TRUE(pictureTaken);
  // "52 %   4.7 kB/s   0:41 left   0:30 elapsed"
  EXPECT_NE(numbersAtHalf.find(" %   "), std::string::npos) << numbersAtHalf;
  EXPECT_NE(numbersAtHalf.find(" left"), std::string::npos) << numbersAtHalf;
}

TEST_F(UpdateWindowWin32, cancel_answered_no_after_30_s_leaves_the_run_unchanged) {
  driver.click(kIddUpdate, kIdcRun)
      .then("programming", [] { return hasLine("Download processor firmware"); })
      .click(kIddUpdate, kIdcCancel)
      .then("the question open for 30 s of the run",
            [this, opened = uint64_t{0}]() mutable {
              const hooks::BoxState box = hooks::messageBox();
              if (!box.shown) return false;
              if (opened == 0) {
                opened = clock.nowMicros();
                EXPECT_EQ(box.text, kCancelQuestion);
                EXPECT_EQ(box.kind, ui::MessageBoxKind::Question);
                EXPECT_TRUE(box.noIsDefault);
              }
              // The engine goes on below the question, on the program clock.
              if (clock.nowMicros() < opened + 30'000'000) return false;
              win32_test::boxScreenshot("question-win32.png");
              return true;
            })
      .then("Enter answers No",
            [] {
              hooks::pressKey(kVirtualKeyReturn);
              return true;
            })
      .answer(window_test::kDone, Answer::Ok)
      .then("idle", [] { return enabled(kIddUpdate, kIdcRun); })
      .check("the run as without the question",
             [] {
               EXPECT_EQ(cancelRequested, 0);
               EXPECT_EQ(statusLines(), window_test::automaticRunLines());
             })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  EXPECT_TRUE(dialog->m_lastRunSucceeded);
  ASSERT_EQ(driver.boxes().size(), 1u);
}

// A request to end the program (Ctrl-Break, the console closing) acts as Cancel answered
// Yes: the run ends with its lines, its boxes no longer wait for anyone, the window closes.
TEST_F(UpdateWindowWin32, a_request_to_end_ends_the_run_with_its_lines_and_closes_the_window) {
  driver.click(kIddUpdate, kIdcRun)
      .then("programming", [] { return hasLine("Download processor firmware"); })
      .check("request", [] { platform::postRequest(platform::Request::Termination); });
  EXPECT_EQ(runWindow(), ui::kIdCancel);
  EXPECT_EQ(cancelRequested, 1);
  EXPECT_TRUE(hasLine("ERROR Download processor firmware (FFFF)"));
  EXPECT_FALSE(hasLine("OK    Get checksum from target"));
  EXPECT_FALSE(dialog->m_lastRunSucceeded);
  EXPECT_EQ(dialog->m_recorder.m_record.outcome, "cancelled");
}

}  // namespace
