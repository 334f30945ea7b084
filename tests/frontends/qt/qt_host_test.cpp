// The desktop host on a small dialog of every control kind: controls at their rectangles,
// the list and combo operations, radio groups, message boxes, the title bar, Escape, the
// context menu, the timer on the program's clock and the pump of a long operation.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <string>
#include <vector>

#include "app/dialog_templates.h"
#include "frontends/qt/dialog_units.h"
#include "frontends/qt/qt_host.h"
#include "frontends/qt/qt_window.h"
#include "frontends/qt/text_viewers.h"
#include "platform/clock.h"
#include "platform/message_pump.h"
#include "tests/frontends/qt/window_driver.h"

namespace {

using qt_test::controlAs;
using qt_test::controlOf;
using ui::ControlKind;

constexpr int kTestDialog = 500;
constexpr int kIdcGroup = 10, kIdcOne = 11, kIdcTwo = 12, kIdcThree = 13, kIdcCheck = 14,
              kIdcLabel = 15, kIdcHiddenLabel = 16, kIdcList = 20, kIdcSortedCombo = 21,
              kIdcCombo = 22, kIdcBar = 23, kIdcGo = 30, kIdcStop = 31;

const ui::DialogTemplate& testTemplate() {
  static const ui::DialogTemplate dialog{
      kTestDialog,
      "Host test",
      200,
      150,
      "MS Sans Serif",
      8,
      true,
      {
          {kIdcGroup, ControlKind::GroupBox, "Group", {5, 5, 100, 60}, 0},
          {kIdcOne, ControlKind::RadioButton, "One", {10, 15, 40, 10}, ui::kStyleGroupStart},
          {kIdcTwo, ControlKind::RadioButton, "Two", {10, 27, 40, 10}, 0},
          {kIdcThree, ControlKind::RadioButton, "Three", {10, 39, 40, 10}, ui::kStyleGroupStart},
          {kIdcCheck, ControlKind::CheckBox, "Check", {60, 15, 40, 10}, ui::kStyleDisabled},
          {kIdcLabel, ControlKind::StaticText, "Count:\t 7", {60, 27, 40, 8}, 0},
          {kIdcHiddenLabel, ControlKind::StaticText, "", {60, 39, 40, 8}, ui::kStyleHidden},
          {kIdcList,
           ControlKind::ListBox,
           "",
           {110, 5, 85, 60},
           ui::kStyleVScroll | ui::kStyleBorder},
          {kIdcSortedCombo, ControlKind::ComboBox, "", {110, 70, 85, 50}, ui::kStyleSorted},
          {kIdcCombo, ControlKind::ComboBox, "", {110, 90, 85, 50}, 0},
          {kIdcBar, ControlKind::ProgressBar, "", {5, 110, 190, 10}, 0},
          {kIdcGo, ControlKind::PushButton, "Go", {5, 130, 40, 14}, ui::kStyleDefaultButton},
          {kIdcStop, ControlKind::PushButton, "Stop", {50, 130, 40, 14}, 0},
          {ui::kIdOk, ControlKind::PushButton, "OK", {100, 130, 40, 14}, 0},
          {ui::kIdCancel, ControlKind::PushButton, "Cancel", {150, 130, 40, 14}, 0},
          {ui::qt::kIdHelp, ControlKind::PushButton, "Help", {150, 110, 40, 14}, 0},
      },
      ""};
  return dialog;
}

// Records what reaches it; Go runs a long operation on the virtual clock that pumps the
// window until Stop is clicked.
class TestDialog : public ui::Dialog {
 public:
  const ui::DialogTemplate& dialogTemplate() const override { return testTemplate(); }
  void onInitDialog() override {
    log.push_back("init");
    m_window->setTimer(1, 100);
  }
  void onCommand(int id, ui::Notification notification) override {
    log.push_back(std::string(notification == ui::Notification::Clicked ? "click " : "select ") +
                  std::to_string(id));
    if (id == kIdcStop) stopRequested = true;
    if (id == kIdcGo) longOperation();
  }
  void onTimer(int id) override {
    ++ticks;
    lastTickMs = platform::tickCount();
    (void)id;
  }
  void onCancel() override {
    log.push_back("cancel");
    if (cancelEnds) m_window->endDialog(ui::kIdCancel);
  }
  bool onSystemCommand(int command) override {
    log.push_back("system " + std::to_string(command));
    return systemCommandHandled;
  }
  void onDestroy() override { log.push_back("destroy"); }

  void longOperation() {
    stopRequested = false;
    ticks = 0;
    const uint32_t start = platform::tickCount();
    for (pumpIterations = 0; !stopRequested && pumpIterations < 1000000; ++pumpIterations) {
      platform::sleepMs(20);
      while (platform::dispatchOneMessage()) {
      }
    }
    elapsedMs = platform::tickCount() - start;
  }

  std::vector<std::string> log;
  bool cancelEnds = true;
  bool systemCommandHandled = true;
  bool stopRequested = false;
  int ticks = 0;
  uint32_t lastTickMs = 0;
  long pumpIterations = 0;
  uint32_t elapsedMs = 0;
};

ui::qt::QtDialogWindow* testWindow() {
  return dynamic_cast<ui::qt::QtDialogWindow*>(qt_test::dialogWindow(kTestDialog));
}

struct ModalRun {
  TestDialog dialog;
  qt_test::WindowDriver driver;
  int result = -1;
  void run() {
    auto host = ui::qt::createDialogHost();
    driver.start();
    result = host->runModal(dialog);
    EXPECT_TRUE(driver.done());
  }
};

TEST(QtHost, controls_stand_at_their_template_rectangles_with_their_states) {
  ModalRun run;
  run.driver.waitForDialog(kTestDialog)
      .check("geometry",
             [] {
               ui::qt::QtDialogWindow* window = testWindow();
               ASSERT_NE(window, nullptr);
               const ui::qt::DialogBaseUnits units = window->baseUnits();
               EXPECT_GT(units.averageCharWidth, 3);
               EXPECT_GT(units.charHeight, 8);
               const ui::Rect size = ui::qt::toPixels({0, 0, 200, 150}, units);
               EXPECT_EQ(window->width(), size.width);
               EXPECT_EQ(window->height(), size.height);
               for (const ui::ControlTemplate& control : testTemplate().controls) {
                 SCOPED_TRACE(control.id);
                 QWidget* widget = controlOf(kTestDialog, control.id);
                 ASSERT_NE(widget, nullptr);
                 const ui::Rect expected = ui::qt::toPixels(control.rect, units);
                 EXPECT_EQ(widget->x(), expected.x);
                 EXPECT_EQ(widget->y(), expected.y);
                 EXPECT_EQ(widget->width(), expected.width);
                 // A drop-down list is as high as its closed box; the rest as the template.
                 if (control.kind != ControlKind::ComboBox) {
                   EXPECT_EQ(widget->height(), expected.height);
                 }
               }
             })
      .check("states",
             [] {
               ui::qt::QtDialogWindow* window = testWindow();
               EXPECT_FALSE(window->isEnabled(kIdcCheck));
               EXPECT_FALSE(controlOf(kTestDialog, kIdcCheck)->isEnabled());
               EXPECT_FALSE(window->isVisible(kIdcHiddenLabel));
               EXPECT_FALSE(controlOf(kTestDialog, kIdcHiddenLabel)->isVisible());
               EXPECT_TRUE(controlAs<QPushButton>(kTestDialog, kIdcGo)->isDefault());
               EXPECT_FALSE(controlAs<QPushButton>(kTestDialog, ui::kIdOk)->isDefault());
               EXPECT_EQ(window->text(kIdcLabel), "Count:\t 7");
               EXPECT_EQ(window->text(kIdcGroup), "Group");
               EXPECT_EQ(window->windowTitle().toStdString(), "Host test");
               // Controls that the template does not have are ignored.
               window->setText(999, "x");
               EXPECT_EQ(window->text(999), "");
               EXPECT_EQ(window->listCount(999), 0);
               EXPECT_EQ(window->comboSelection(999), -1);
               window->enable(kIdcCheck, true);
               window->show(kIdcHiddenLabel, true);
               EXPECT_TRUE(window->isEnabled(kIdcCheck));
               EXPECT_TRUE(controlOf(kTestDialog, kIdcHiddenLabel)->isVisible());
             })
      .click(kTestDialog, ui::kIdOk);
  run.run();
  EXPECT_EQ(run.result, ui::kIdOk);
  EXPECT_EQ(run.dialog.log, (std::vector<std::string>{"init", "destroy"}));
}

TEST(QtHost, a_sorted_combo_inserts_in_plain_character_order_and_keeps_item_data) {
  struct Row {
    std::vector<std::string> added;
    std::vector<std::string> shown;
  };
  const Row rows[] = {
      {{"COM2", "COM1", "COM10"}, {"COM1", "COM10", "COM2"}},
      // Plain character order: upper case before lower case, the suffix after the name.
      {{"com3", "COM3 (access denied)", "COM3"}, {"COM3", "COM3 (access denied)", "com3"}},
      {{"b", "a", "b"}, {"a", "b", "b"}},
  };
  for (const Row& row : rows) {
    ModalRun run;
    run.driver.waitForDialog(kTestDialog)
        .check("add",
               [&row] {
                 ui::qt::QtDialogWindow* window = testWindow();
                 window->comboReset(kIdcSortedCombo);
                 for (size_t i = 0; i < row.added.size(); ++i) {
                   const int index = window->comboAdd(kIdcSortedCombo, row.added[i]);
                   window->comboSetItemData(kIdcSortedCombo, index, static_cast<int64_t>(i));
                 }
                 ASSERT_EQ(window->comboCount(kIdcSortedCombo), static_cast<int>(row.shown.size()));
                 for (size_t i = 0; i < row.shown.size(); ++i) {
                   const int index = static_cast<int>(i);
                   EXPECT_EQ(window->comboText(kIdcSortedCombo, index), row.shown[i]);
                   const int64_t data = window->comboItemData(kIdcSortedCombo, index);
                   EXPECT_EQ(row.added.at(static_cast<size_t>(data)), row.shown[i]);
                 }
                 // Adding selects nothing; an unsorted combo appends.
                 EXPECT_EQ(window->comboSelection(kIdcSortedCombo), -1);
                 EXPECT_EQ(window->comboAdd(kIdcCombo, "z"), 0);
                 EXPECT_EQ(window->comboAdd(kIdcCombo, "a"), 1);
               })
        .click(kTestDialog, ui::kIdOk);
    run.run();
  }
}

TEST(QtHost, only_the_users_combo_choice_notifies_the_dialog) {
  ModalRun run;
  run.driver.waitForDialog(kTestDialog)
      .check("fill",
             [] {
               ui::qt::QtDialogWindow* window = testWindow();
               window->comboAdd(kIdcCombo, "first");
               window->comboAdd(kIdcCombo, "second");
               window->comboSetSelection(kIdcCombo, 1);
               EXPECT_EQ(window->comboSelection(kIdcCombo), 1);
               EXPECT_EQ(window->text(kIdcCombo), "second");
               window->comboSetSelection(kIdcCombo, 7);
               EXPECT_EQ(window->comboSelection(kIdcCombo), -1);
               // The user picks the first entry with the keyboard.
               QComboBox* combo = controlAs<QComboBox>(kTestDialog, kIdcCombo);
               combo->setFocus();
               QTest::keyClick(combo, Qt::Key_Down);
             })
      .click(kTestDialog, ui::kIdOk);
  run.run();
  EXPECT_EQ(run.dialog.log, (std::vector<std::string>{"init", "select 22", "destroy"}));
}

TEST(QtHost, a_click_checks_one_radio_button_of_its_group_and_setting_a_check_does_not) {
  struct Row {
    std::vector<int> clicks;
    bool one, two, three;
  };
  const Row rows[] = {
      {{kIdcOne}, true, false, false},
      {{kIdcOne, kIdcTwo}, false, true, false},
      // Three starts a group of its own: it leaves One and Two alone.
      {{kIdcTwo, kIdcThree}, false, true, true},
      // Clicking a checked auto radio button leaves it checked.
      {{kIdcTwo, kIdcTwo}, false, true, false},
  };
  for (const Row& row : rows) {
    ModalRun run;
    for (int id : row.clicks) run.driver.click(kTestDialog, id);
    run.driver
        .check("checks",
               [&row] {
                 ui::qt::QtDialogWindow* window = testWindow();
                 EXPECT_EQ(window->isChecked(kIdcOne), row.one);
                 EXPECT_EQ(window->isChecked(kIdcTwo), row.two);
                 EXPECT_EQ(window->isChecked(kIdcThree), row.three);
                 // The dialog's own setCheck touches one button only.
                 window->setCheck(kIdcOne, true);
                 EXPECT_EQ(window->isChecked(kIdcTwo), row.two);
               })
        .click(kTestDialog, ui::kIdOk);
    run.run();
    std::vector<std::string> expected{"init"};
    for (int id : row.clicks) expected.push_back("click " + std::to_string(id));
    expected.push_back("destroy");
    EXPECT_EQ(run.dialog.log, expected);
  }
}

TEST(QtHost, list_box_shows_the_lines_from_its_top_index_with_the_selection) {
  ModalRun run;
  run.driver.waitForDialog(kTestDialog)
      .check("list",
             [] {
               ui::qt::QtDialogWindow* window = testWindow();
               for (int i = 0; i < 30; ++i) {
                 EXPECT_EQ(window->listAdd(kIdcList, "line " + std::to_string(i)), i);
               }
               EXPECT_EQ(window->listCount(kIdcList), 30);
               EXPECT_EQ(window->listSelection(kIdcList), -1);
               window->listSetTopIndex(kIdcList, 10);
               window->listSetSelection(kIdcList, 12);
               window->repaint();
               EXPECT_EQ(window->listTopIndex(kIdcList), 10);
               EXPECT_EQ(window->listSelection(kIdcList), 12);
               window->listDelete(kIdcList, 0);
               EXPECT_EQ(window->listText(kIdcList, 0), "line 1");
               EXPECT_EQ(window->listText(kIdcList, 99), "");
               // A top index beyond the last page shows the last page.
               window->listSetTopIndex(kIdcList, 28);
               const int top = window->listTopIndex(kIdcList);
               EXPECT_LT(top, 28);
               EXPECT_GT(top, 10);
               window->listSetSelection(kIdcList, -1);
               EXPECT_EQ(window->listSelection(kIdcList), -1);
               window->listReset(kIdcList);
               EXPECT_EQ(window->listCount(kIdcList), 0);
               EXPECT_EQ(window->listTopIndex(kIdcList), 0);
               window->progressSetPos(kIdcBar, 42);
               EXPECT_EQ(window->progressPos(kIdcBar), 42);
               EXPECT_EQ(controlAs<QProgressBar>(kTestDialog, kIdcBar)->value(), 42);
               window->progressSetPos(kIdcBar, 140);
               EXPECT_EQ(window->progressPos(kIdcBar), 100);
             })
      .click(kTestDialog, ui::kIdOk);
  run.run();
  // Setting the selection is the dialog's own doing: no notification.
  EXPECT_EQ(run.dialog.log, (std::vector<std::string>{"init", "destroy"}));
}

TEST(QtHost, message_boxes_come_in_three_looks_with_their_answers) {
  struct Row {
    ui::MessageBoxKind kind;
    QMessageBox::StandardButton press;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    ui::MessageBoxAnswer answer;
  };
  const Row rows[] = {
      {ui::MessageBoxKind::Stop, QMessageBox::Ok, QMessageBox::Critical, QMessageBox::Ok,
       ui::MessageBoxAnswer::Ok},
      {ui::MessageBoxKind::Information, QMessageBox::Ok, QMessageBox::Information, QMessageBox::Ok,
       ui::MessageBoxAnswer::Ok},
      {ui::MessageBoxKind::Question, QMessageBox::Yes, QMessageBox::NoIcon,
       QMessageBox::Yes | QMessageBox::No, ui::MessageBoxAnswer::Yes},
      {ui::MessageBoxKind::Question, QMessageBox::No, QMessageBox::NoIcon,
       QMessageBox::Yes | QMessageBox::No, ui::MessageBoxAnswer::No},
  };
  for (const Row& row : rows) {
    ModalRun run;
    ui::MessageBoxAnswer answer = ui::MessageBoxAnswer::Ok;
    run.driver.waitForDialog(kTestDialog)
        .check("show",
               [&] {
                 QTimer::singleShot(0, [&] {
                   answer = testWindow()->showMessageBox("Line one\nline two", "Update", row.kind);
                 });
               })
        .answer("Line one\nline two", row.press)
        .click(kTestDialog, ui::kIdOk);
    run.run();
    ASSERT_EQ(run.driver.boxes().size(), 1u);
    EXPECT_EQ(run.driver.boxes()[0].caption, "Update");
    EXPECT_EQ(run.driver.boxes()[0].icon, row.icon);
    EXPECT_EQ(run.driver.boxes()[0].buttons, row.buttons);
    EXPECT_EQ(answer, row.answer);
  }
}

TEST(QtHost, the_title_bar_close_asks_the_dialog_and_takes_its_usual_course_when_unhandled) {
  // Handled: the window stays, and Escape is the dialog's cancel; not handled: the
  // dialog's cancel, which ends it.
  for (const bool handled : {true, false}) {
    ModalRun run;
    run.dialog.systemCommandHandled = handled;
    run.dialog.cancelEnds = !handled;
    run.driver.waitForDialog(kTestDialog).check("close", [] { testWindow()->close(); });
    if (handled) {
      run.driver.check("escape", [] { QTest::keyClick(testWindow(), Qt::Key_Escape); })
          .click(kTestDialog, ui::kIdOk);
    }
    run.run();
    EXPECT_EQ(run.result, handled ? ui::kIdOk : ui::kIdCancel);
    EXPECT_EQ(run.dialog.log,
              (std::vector<std::string>{"init", "system 61536", "cancel", "destroy"}));
  }
}

TEST(QtHost, a_long_operation_serves_the_timer_by_virtual_time_and_push_buttons_only) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  ModalRun run;
  run.driver.click(kTestDialog, kIdcGo)
      .then("running", [&run] { return run.dialog.pumpIterations > 100; })
      .check("other input held back",
             [] {
               // The mode button and the combo must not start work of their own mid-run.
               qt_test::clickNow(controlOf(kTestDialog, kIdcTwo));
               QTest::keyClick(controlOf(kTestDialog, kIdcCombo), Qt::Key_Down);
               EXPECT_FALSE(testWindow()->isChecked(kIdcTwo));
             })
      .click(kTestDialog, kIdcStop)
      .then("stopped", [&run] { return run.dialog.stopRequested && run.dialog.elapsedMs > 0; })
      .click(kTestDialog, ui::kIdOk);
  run.run();
  EXPECT_EQ(run.dialog.log, (std::vector<std::string>{"init", "click 30", "click 31", "destroy"}));
  // 20 ms of virtual time per pump: a tick every fifth one, none missed, none doubled.
  EXPECT_EQ(run.dialog.elapsedMs, run.dialog.pumpIterations * 20);
  EXPECT_EQ(run.dialog.ticks, static_cast<int>(run.dialog.elapsedMs / 100));
  // No pump is left installed once the window has gone.
  EXPECT_FALSE(platform::dispatchOneMessage());
}

TEST(QtHost, help_opens_the_manual_inside_the_program_at_the_section_of_the_window) {
  // The manual is a resource of the program: this test passes as well from a copy of the test
  // program alone in an empty folder (the test qt_help_from_a_copied_program).
  struct Row {
    const ui::DialogTemplate& dialog;
    const char* fragment;
    const char* heading;  // the line at the top of the viewer
  };
  const Row rows[] = {
      {updateDialogTemplate(), "the-main-window", "The main window"},
      {configDialogTemplate(), "the-configuration-dialog", "The configuration dialog"},
      {aboutDialogTemplate(), "the-main-window", "The main window"},
      {testTemplate(), "", "zelupdate user's manual"}};
  ASSERT_EQ(ui::qt::helpFilePath(), ":/help/manual.md");
  QWidget parent;
  for (const Row& row : rows) {
    const std::string url = ui::qt::helpUrlFor(row.dialog);
    EXPECT_EQ(url, std::string("qrc:/help/manual.md") + (*row.fragment ? "#" : "") + row.fragment);
    QDialog* viewer = ui::qt::showHelpViewer(&parent, ui::qt::helpFilePath(),
                                             QUrl(QString::fromStdString(url)).fragment());
    ASSERT_NE(viewer, nullptr);
    auto* browser = viewer->findChild<QTextBrowser*>();
    EXPECT_EQ(browser->textCursor().block().text().toStdString(), row.heading) << row.dialog.id;
    // The Linux reading: the passages for Windows stay hidden, markers and all.
    const QString text = browser->toPlainText();
    for (const char* hidden : {"<!--", "-->", "LOCALAPPDATA", "zelupdatew.exe opens"}) {
      EXPECT_FALSE(text.contains(QLatin1String(hidden))) << hidden;
    }
    EXPECT_TRUE(text.contains(QLatin1String("~/.local/state/zelupdate/history.jsonl")));
    // Its pictures come from inside the program as well.
    const QVariant picture =
        browser->document()->resource(QTextDocument::ImageResource, QUrl("window-run.png"));
    EXPECT_FALSE(picture.isNull()) << row.dialog.id;
    viewer->close();
  }
}

TEST(QtHost, the_help_button_opens_the_help_and_says_so_when_it_cannot) {
  for (const bool opens : {true, false}) {
    std::vector<std::string> opened;
    ui::qt::setHelpOpener([&](const std::string& url) {
      opened.push_back(url);
      return opens;
    });
    ModalRun run;
    run.driver.click(kTestDialog, ui::qt::kIdHelp);
    if (!opens) run.driver.answer(QMessageBox::Ok);
    run.driver.click(kTestDialog, ui::kIdOk);
    run.run();
    ui::qt::setHelpOpener({});
    EXPECT_EQ(opened, std::vector<std::string>{ui::qt::helpUrlFor(testTemplate())});
    // The application answers Help; the dialog does not hear of it.
    EXPECT_EQ(run.dialog.log, (std::vector<std::string>{"init", "destroy"}));
    ASSERT_EQ(run.driver.boxes().size(), opens ? 0u : 1u);
    if (!opens) {
      EXPECT_EQ(run.driver.boxes()[0].icon, QMessageBox::Critical);
    }
  }
}

}  // namespace
