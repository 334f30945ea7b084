// The main dialog and the configuration dialog in the desktop window, driven through their
// widgets against a simulated instrument on the virtual clock: the start state, Manual with
// the configuration dialog's rules and refusals, whole automatic runs with Cancel and Exit.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_templates.h"
#include "app/update_dlg.h"
#include "app/update_set_folder.h"
#include "flash/result_codes.h"
#include "frontends/qt/qt_host.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "sim/registry.h"
#include "sim/sample_files.h"
#include "tests/frontends/qt/window_driver.h"
#include "tests/frontends/window_run_lines.h"
#include "tests/support/temp_dir.h"
#include "ui/folder_menu.h"
#include "ui/history_view.h"

namespace {

using qt_test::controlAs;
using qt_test::controlOf;
using Lines = std::vector<std::string>;
using Box = QMessageBox::StandardButton;

using window_test::kDone;
using window_test::kInstrument;
constexpr const char* kCancelQuestion = "If update is running,\ndo not cancel the update.\nCancel?";
constexpr const char* kExitQuestion =
    "If update is running,\ndo not exit the program.\nExit anyway?";
constexpr const char* kNeedsExtension =
    "ERROR  \nATSC / DVB-T TV Digital Demodulator\nupdate not possible without memory extension";

// Writes a picture of a window into the folder named by ZEL_SCREENSHOT_DIR, when set (the
// pictures of the README are made this way).
void screenshot(QWidget* window, const char* name) {
  ASSERT_NE(window, nullptr);
  const QImage image = window->grab().toImage();
  EXPECT_FALSE(image.isNull());
  const QByteArray dir = qgetenv("ZEL_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  EXPECT_TRUE(image.save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name))));
}

// The same of a window with its context menu open, the title bar drawn above it as a window
// manager would (offscreen there is none).
void menuScreenshot(QWidget* window, QMenu* menu, const char* name) {
  ASSERT_NE(window, nullptr);
  ASSERT_NE(menu, nullptr);
  const QImage body = window->grab().toImage();
  const QImage popup = menu->grab().toImage();
  const int title = QFontMetrics(window->font()).height() + 10;
  const QPoint at = menu->pos() - window->mapToGlobal(QPoint(0, 0)) + QPoint(0, title);
  QImage image(std::max(body.width(), at.x() + popup.width()),
               std::max(title + body.height(), at.y() + popup.height()), QImage::Format_RGB32);
  image.fill(window->palette().color(QPalette::Window));
  QPainter painter(&image);
  painter.fillRect(0, 0, body.width(), title, window->palette().color(QPalette::Highlight));
  const QPixmap icon = window->windowIcon().pixmap(title - 6, title - 6);
  painter.drawPixmap(4, 3, icon);
  painter.setPen(window->palette().color(QPalette::HighlightedText));
  QFont bold = window->font();
  bold.setBold(true);
  painter.setFont(bold);
  painter.drawText(QRect(title + 4, 0, body.width() - title - 8, title), Qt::AlignVCenter,
                   window->windowTitle());
  painter.drawImage(0, title, body);
  painter.drawImage(at, popup);
  painter.end();
  const QByteArray dir = qgetenv("ZEL_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  EXPECT_TRUE(image.save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name))));
}

// The texts of the context menu open now, and its update set folder entry.
Lines menuTexts(QMenu* menu, QAction** folderEntry) {
  Lines texts;
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    texts.push_back(action->text().toStdString());
    if (action->objectName() == "updateSetFolder") *folderEntry = action;
  }
  return texts;
}

void openContextMenu() {
  QTimer::singleShot(0, [] {
    QWidget* window = qt_test::dialogWindow(kIddUpdate);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(40, 60),
                            window->mapToGlobal(QPoint(40, 60)));
    QApplication::sendEvent(window, &event);
  });
}

Lines listLines(int dialogId, int id) {
  Lines lines;
  if (auto* list = controlAs<QListWidget>(dialogId, id)) {
    for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
  }
  return lines;
}

Lines comboTexts(int dialogId, int id) {
  Lines texts;
  if (auto* combo = controlAs<QComboBox>(dialogId, id)) {
    for (int i = 0; i < combo->count(); ++i) texts.push_back(combo->itemText(i).toStdString());
  }
  return texts;
}

bool hasLine(const std::string& line) {
  for (const std::string& text : statusLines()) {
    if (text == line) return true;
  }
  return false;
}

std::string widgetText(int dialogId, int id) {
  QWidget* widget = controlOf(dialogId, id);
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
  return "<no such control>";
}

bool checked(int dialogId, int id) {
  auto* button = controlAs<QAbstractButton>(dialogId, id);
  return button && button->isChecked();
}

bool enabled(int dialogId, int id) {
  QWidget* widget = controlOf(dialogId, id);
  return widget && widget->isEnabled();
}

int barValue(int id) {
  auto* bar = controlAs<QProgressBar>(kIddUpdate, id);
  return bar ? bar->value() : -1;
}

std::string statistics(const char* format, int value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Every text the numbers line paints, also where no event is served (the reboot wait).
class PaintedTexts : public QObject {
 public:
  std::vector<std::string> texts;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const std::string text = qobject_cast<QLabel*>(object)->text().toStdString();
      if (texts.empty() || texts.back() != text) texts.push_back(text);
    }
    return false;
  }
};

// "42 %   4.7 kB/s   1:05 left   0:12 elapsed" taken apart.
struct Numbers {
  int percent = -1;
  double kBytesPerSecond = -1;
  int secondsLeft = -1;
};
Numbers parseNumbers(const std::string& text) {
  Numbers n;
  int minutes = 0;
  int seconds = 0;
  if (std::sscanf(text.c_str(), "%d %%   %lf kB/s   %d:%d left", &n.percent, &n.kBytesPerSecond,
                  &minutes, &seconds) == 4)
    n.secondsLeft = minutes * 60 + seconds;
  return n;
}

class UpdateWindow : public ::testing::Test {
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
    dir->write("zelupdate.ini", std::string("[DEVICE]\nPORT_NO=1\n[PORTS]\nCOM1=") + kInstrument +
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

  // Runs the main dialog in the desktop host while the driver's steps go on.
  int runWindow() {
    auto host = ui::qt::createDialogHost({.transferBarId = kIdcTransferBar, .transferredBytes = [] {
                                            return static_cast<uint64_t>(bytesSent);
                                          }});
    driver.start();
    const int result = host->runModal(*dialog);
    EXPECT_TRUE(driver.done());
    return result;
  }
  // Calls a method of the dialog from the event loop, as a handler would run.
  void later(std::function<void(CUpdateDlg&)> action) {
    QTimer::singleShot(0, [this, action] { action(*dialog); });
  }

  platform::VirtualClock clock;
  std::unique_ptr<platform::ScopedClock> scopedClock;
  std::unique_ptr<testing_support::TempDir> dir;
  std::unique_ptr<CUpdateDlg> dialog;
  qt_test::WindowDriver driver;
};

TEST_F(UpdateWindow, port_plugged_in_after_the_start_shows_when_the_list_opens) {
  driver.waitForDialog(kIddUpdate)
      .then("COM5 plugged in, the list opened",
            [] {
              serial::setComPortDevice(5, "sim:hw=0x10800");
              controlAs<QComboBox>(kIddUpdate, kIdcPortList)->showPopup();
              return true;
            })
      .check("COM5 listed, COM1 still selected",
             [] {
               auto* ports = controlAs<QComboBox>(kIddUpdate, kIdcPortList);
               EXPECT_EQ(comboTexts(kIddUpdate, kIdcPortList),
                         (Lines{"COM1", "COM10", "COM2", "COM5"}));
               EXPECT_EQ(ports->currentText(), "COM1");
               ports->hidePopup();
             })
      .click(kIddUpdate, kIdcExit);
  EXPECT_EQ(runWindow(), ui::kIdCancel);
}

TEST_F(UpdateWindow, starts_in_automatic_mode_with_the_ports_of_the_settings_file) {
  driver.waitForDialog(kIddUpdate)
      .check("start state",
             [] {
               QWidget* window = qt_test::dialogWindow(kIddUpdate);
               EXPECT_EQ(window->windowTitle().toStdString(), "Update");
               EXPECT_TRUE(checked(kIddUpdate, kIdcAutomatic));
               EXPECT_FALSE(checked(kIddUpdate, kIdcManual));
               EXPECT_FALSE(enabled(kIddUpdate, kIdcConfiguration));
               EXPECT_FALSE(enabled(kIddUpdate, kIdcCancel));
               for (int id : {kIdcRun, kIdcExit, kIdcHelp}) EXPECT_TRUE(enabled(kIddUpdate, id));
               EXPECT_TRUE(controlAs<QPushButton>(kIddUpdate, kIdcExit)->isDefault());
               EXPECT_TRUE(listLines(kIddUpdate, kIdcStatusList).empty());
               // Sorted by text: COM10 before COM2; the settings file's port selected.
               EXPECT_EQ(comboTexts(kIddUpdate, kIdcPortList), (Lines{"COM1", "COM10", "COM2"}));
               EXPECT_EQ(controlAs<QComboBox>(kIddUpdate, kIdcPortList)->currentText(), "COM1");
               for (int id : {kIdcPacketCount, kIdcPacketErrors, kIdcPacketRetries, kIdcHeadline})
                 EXPECT_EQ(widgetText(kIddUpdate, id), "");
               EXPECT_EQ(barValue(kIdcBusyBar), 0);
               EXPECT_EQ(barValue(kIdcTransferBar), 0);
             })
      .then("COM10 picked",
            [] {
              QComboBox* ports = controlAs<QComboBox>(kIddUpdate, kIdcPortList);
              ports->setFocus();
              QTest::keyClick(ports, Qt::Key_Down);
              return true;
            })
      .check("port taken over",
             [this] {
               EXPECT_EQ(dialog->m_serialSettings.portNumber, 10);
               EXPECT_TRUE(dialog->m_session.m_comm.isOpen());
             })
      .click(kIddUpdate, kIdcExit);
  EXPECT_EQ(runWindow(), ui::kIdCancel);
  // The port of the session is written back when the window goes.
  EXPECT_EQ(platform::getPrivateProfileInt("DEVICE", "PORT_NO", 0, dir->file("zelupdate.ini")), 10);
}

TEST_F(UpdateWindow, about_is_in_the_context_menu_and_the_title_bar_cannot_close_the_window) {
  driver.waitForDialog(kIddUpdate)
      .check("close",
             [] {
               QWidget* window = qt_test::dialogWindow(kIddUpdate);
               window->close();
               EXPECT_TRUE(window->isVisible());
             })
      .check("context menu",
             [] {
               QTimer::singleShot(0, [] {
                 QWidget* window = qt_test::dialogWindow(kIddUpdate);
                 QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(300, 20),
                                         window->mapToGlobal(QPoint(300, 20)));
                 QApplication::sendEvent(window, &event);
               });
             })
      .then("menu",
            [] {
              auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
              if (!menu) return false;
              // Close was removed from the menu; the About entry stays.
              std::vector<std::string> texts;
              QAction* about = nullptr;
              for (QAction* action : menu->actions()) {
                if (action->isSeparator()) continue;
                texts.push_back(action->text().toStdString());
                about = action;
              }
              EXPECT_EQ(texts, (std::vector<std::string>{kAboutMenuText}));
              QTimer::singleShot(0, [menu, about] {
                if (about) about->trigger();
                menu->close();
              });
              return true;
            })
      .waitForDialog(kIddAbout)
      .check("about",
             [] {
               EXPECT_NE(controlOf(kIddAbout, ui::kIdOk), nullptr);
               screenshot(qt_test::dialogWindow(kIddAbout), "about.png");
             })
      .click(kIddAbout, ui::kIdOk)
      .then("about closed", [] { return qt_test::dialogWindow(kIddAbout) == nullptr; })
      // Escape ends the dialog while no run is active.
      .then("escape", [] {
        QTest::keyClick(qt_test::dialogWindow(kIddUpdate), Qt::Key_Escape);
        return true;
      });
  EXPECT_EQ(runWindow(), ui::kIdCancel);
}

TEST_F(UpdateWindow, manual_opens_the_configuration_dialog_with_its_rules) {
  struct Step {
    int click;
    bool optionUpdateChecked, optionUpdateEnabled;
  };
  const Step steps[] = {
      {kIdcOptionB1, true, true},
      {kIdcOptionNone, false, false},
      {kIdcOptionB20, true, true},
      // The option update can be left out while an option is chosen.
      {kIdcOptionUpdate, false, true},
      {kIdcOptionB10, true, true},
  };
  driver.click(kIddUpdate, kIdcManual).waitForDialog(kIddConfig).check("start values", [] {
    EXPECT_EQ(qt_test::dialogWindow(kIddConfig)->windowTitle().toStdString(), "Configuration");
    EXPECT_TRUE(checked(kIddConfig, kIdcMemoryExtension));
    EXPECT_FALSE(enabled(kIddConfig, kIdcMemoryExtension));
    EXPECT_TRUE(checked(kIddConfig, kIdcOptionNone));
    EXPECT_TRUE(checked(kIddConfig, kIdcProcessorFirmware));
    EXPECT_FALSE(checked(kIddConfig, kIdcOptionUpdate));
    EXPECT_FALSE(enabled(kIddConfig, kIdcOptionUpdate));
    EXPECT_TRUE(controlOf(kIddConfig, kIdcOptionUpdate)->isVisible());
    // The RS-232 section is filled and hidden.
    for (int id : {kIdcRs232Group, kIdcBaudCombo, kIdcPortCombo, kIdcStopBitsLabel})
      EXPECT_FALSE(controlOf(kIddConfig, id)->isVisible()) << id;
    EXPECT_EQ(comboTexts(kIddConfig, kIdcBaudCombo),
              (Lines{"1200", "2400", "4800", "9600", "19200"}));
    EXPECT_EQ(controlAs<QComboBox>(kIddConfig, kIdcBaudCombo)->currentText(), "9600");
  });
  for (const Step& step : steps) {
    driver.click(kIddConfig, step.click).check("after " + std::to_string(step.click), [step] {
      EXPECT_EQ(checked(kIddConfig, kIdcOptionUpdate), step.optionUpdateChecked) << step.click;
      EXPECT_EQ(enabled(kIddConfig, kIdcOptionUpdate), step.optionUpdateEnabled) << step.click;
    });
  }
  driver.check("picture", [] { screenshot(qt_test::dialogWindow(kIddConfig), "config.png"); })
      .click(kIddConfig, ui::kIdOk)
      .then("configuration closed", [] { return qt_test::dialogWindow(kIddConfig) == nullptr; })
      .check("mode",
             [] {
               EXPECT_TRUE(checked(kIddUpdate, kIdcManual));
               EXPECT_FALSE(checked(kIddUpdate, kIdcAutomatic));
               EXPECT_TRUE(enabled(kIddUpdate, kIdcConfiguration));
             })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  // OK took the selections over: B10 with its update.
  EXPECT_EQ(dialog->m_updateSettings.optionB10, 1);
  EXPECT_EQ(dialog->m_updateSettings.optionKind, 3);
  EXPECT_EQ(dialog->m_updateSettings.optionUpdate, 1);
  EXPECT_EQ(dialog->m_updateSettings.noOption, 0);
}

struct RefusalCase {
  const char* name;
  int memoryExtension;
  int refusedOption;  // chosen first: OK is refused with the box
  const char* refusal;
  int acceptedOption;  // then chosen: OK is accepted
  int optionKind;
};

// B10 and B20 need the memory extension; B1 and none do not.
const RefusalCase kRefusalCases[] = {
    {"b10_then_b1", 0, kIdcOptionB10, kNeedsExtension, kIdcOptionB1, 1},
    {"b20_then_none", 0, kIdcOptionB20, kNeedsExtension, kIdcOptionNone, 0},
};

class ConfigurationRefusal : public UpdateWindow,
                             public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ConfigurationRefusal, keeps_the_dialog_open_until_a_valid_choice) {
  const RefusalCase& c = GetParam();
  driver
      .waitForDialog(kIddUpdate)
      // The start values are set when the window opens; the board without the extension
      // comes after that.
      .check("board", [this, &c] { dialog->m_updateSettings.memoryExtension = c.memoryExtension; })
      .click(kIddUpdate, kIdcManual)
      .waitForDialog(kIddConfig)
      // A dialog opened with the memory extension off shows it unchecked.
      .check("extension", [] { EXPECT_FALSE(checked(kIddConfig, kIdcMemoryExtension)); })
      .click(kIddConfig, c.refusedOption)
      .click(kIddConfig, ui::kIdOk)
      .answer(c.refusal, Box::Ok)
      .check("still open",
             [&c] {
               ASSERT_NE(qt_test::dialogWindow(kIddConfig), nullptr);
               EXPECT_TRUE(checked(kIddConfig, c.refusedOption));
             })
      .click(kIddConfig, c.acceptedOption)
      .click(kIddConfig, ui::kIdOk)
      .then("accepted", [] { return qt_test::dialogWindow(kIddConfig) == nullptr; })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  ASSERT_EQ(driver.boxes().size(), 1u);
  EXPECT_EQ(driver.boxes()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(dialog->m_updateSettings.optionKind, c.optionKind);
}

INSTANTIATE_TEST_SUITE_P(Window, ConfigurationRefusal, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateWindow, cancel_of_the_configuration_dialog_leaves_the_selections) {
  const UpdateSettings before = dialog->m_updateSettings;
  driver.click(kIddUpdate, kIdcManual)
      .waitForDialog(kIddConfig)
      .click(kIddConfig, kIdcOptionB20)
      .click(kIddConfig, kIdcProcessorFirmware)
      .click(kIddConfig, ui::kIdCancel)
      .then("closed", [] { return qt_test::dialogWindow(kIddConfig) == nullptr; })
      // Opened again: the old selections.
      .click(kIddUpdate, kIdcConfiguration)
      .waitForDialog(kIddConfig)
      .check("old values",
             [] {
               EXPECT_TRUE(checked(kIddConfig, kIdcOptionNone));
               EXPECT_FALSE(checked(kIddConfig, kIdcOptionB20));
               EXPECT_TRUE(checked(kIddConfig, kIdcProcessorFirmware));
             })
      // Escape is the dialog's cancel too.
      .then("escape",
            [] {
              QTest::keyClick(qt_test::dialogWindow(kIddConfig), Qt::Key_Escape);
              return true;
            })
      .then("closed again", [] { return qt_test::dialogWindow(kIddConfig) == nullptr; })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  const UpdateSettings& after = dialog->m_updateSettings;
  EXPECT_EQ(after.optionB20, before.optionB20);
  EXPECT_EQ(after.noOption, before.noOption);
  EXPECT_EQ(after.processorFirmware, before.processorFirmware);
  EXPECT_EQ(after.optionKind, before.optionKind);
}

TEST_F(UpdateWindow, a_whole_automatic_run_shows_its_lines_bars_and_statistics) {
  int highestTransfer = 0;
  bool busyMoved = false;
  bool pictureTaken = false;
  PaintedTexts painted;
  // Bytes and program time at 20 % of the transfer, and the numbers line at 50 %.
  uint64_t bytesAt20 = 0;
  uint64_t microsAt20 = 0;
  bool numbersChecked = false;
  // The numbers line while the success box is up.
  std::string numbersAtBox;
  driver.waitForDialog(kIddUpdate)
      .check("numbers line watched",
             [&] { controlOf(kIddUpdate, ui::kIdProgressNumbers)->installEventFilter(&painted); })
      .click(kIddUpdate, kIdcRun)
      .then("running", [] { return hasLine("Update processor firmware"); })
      .check("controls during the run",
             [] {
               for (int id : {kIdcRun, kIdcExit, kIdcHelp, kIdcConfiguration})
                 EXPECT_FALSE(enabled(kIddUpdate, id)) << id;
               EXPECT_TRUE(enabled(kIddUpdate, kIdcCancel));
               // The mode buttons take no clicks while the run goes on.
               qt_test::clickNow(controlOf(kIddUpdate, kIdcManual));
               EXPECT_TRUE(checked(kIddUpdate, kIdcAutomatic));
               EXPECT_EQ(qt_test::dialogWindow(kIddConfig), nullptr);
             })
      .then("watch the run",
            [&] {
              highestTransfer = std::max(highestTransfer, barValue(kIdcTransferBar));
              if (bytesAt20 == 0 && highestTransfer >= 20) {
                bytesAt20 = bytesSent;
                microsAt20 = clock.nowMicros();
              }
              if (!numbersChecked && highestTransfer >= 50 && highestTransfer < 90) {
                // What the line says against the rate measured over 30 % of the transfer.
                numbersChecked = true;
                const Numbers n = parseNumbers(widgetText(kIddUpdate, ui::kIdProgressNumbers));
                const double rate = static_cast<double>(bytesSent - bytesAt20) * 1e6 /
                                    static_cast<double>(clock.nowMicros() - microsAt20);
                const double left = (dialog->expectedBytes - bytesSent) / rate;
                EXPECT_EQ(n.percent, barValue(kIdcTransferBar));
                EXPECT_NEAR(n.kBytesPerSecond * 1000, rate, rate * 0.1);
                EXPECT_NEAR(n.secondsLeft, left, left * 0.1);
              }
              busyMoved = busyMoved || barValue(kIdcBusyBar) > 0;
              // The list shows its last line selected, in view.
              auto* list = controlAs<QListWidget>(kIddUpdate, kIdcStatusList);
              if (list && list->count() > 0) {
                EXPECT_EQ(list->currentRow(), list->count() - 1);
              }
              if (!pictureTaken && highestTransfer >= 45 &&
                  !widgetText(kIddUpdate, kIdcPacketErrors).empty()) {
                screenshot(qt_test::dialogWindow(kIddUpdate), "window-run.png");
                pictureTaken = true;
              }
              if (qt_test::activeMessageBox() == nullptr) return false;
              numbersAtBox = widgetText(kIddUpdate, ui::kIdProgressNumbers);
              return true;
            })
      .answer(kDone, Box::Ok)
      .then("idle again", [] { return enabled(kIddUpdate, kIdcRun); })
      .check("after the run",
             [&] {
               EXPECT_EQ(listLines(kIddUpdate, kIdcStatusList), statusLines());
               EXPECT_EQ(statusLines(), window_test::automaticRunLines());
               // The reboot wait counted down from its bound.
               std::vector<std::string> waits;
               for (const std::string& text : painted.texts) {
                 if (text.rfind("waiting ", 0) == 0) waits.push_back(text.substr(0, 20));
               }
               ASSERT_GE(waits.size(), 2u);
               EXPECT_EQ(waits.front(), "waiting 2:30 at most");
               EXPECT_LT(waits.back(), waits.front());
               EXPECT_FALSE(enabled(kIddUpdate, kIdcCancel));
               EXPECT_FALSE(enabled(kIddUpdate, kIdcConfiguration));
               EXPECT_EQ(barValue(kIdcBusyBar), 0);
               EXPECT_EQ(barValue(kIdcTransferBar), 0);
               // No numbers of a transfer that is over beside the empty bars.
               EXPECT_EQ(widgetText(kIddUpdate, ui::kIdProgressNumbers), "");
               // The statistics lines stand as the last tick wrote them.
               EXPECT_EQ(widgetText(kIddUpdate, kIdcPacketErrors),
                         statistics(kPacketErrorsFormat, packetErrors));
               EXPECT_EQ(widgetText(kIddUpdate, kIdcPacketCount),
                         statistics(kPacketCountFormat, packetCount));
               EXPECT_EQ(widgetText(kIddUpdate, kIdcPacketRetries),
                         statistics(kPacketRetriesFormat, packetRetries));
               EXPECT_GT(packetErrors, 0);
             })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  EXPECT_TRUE(dialog->m_lastRunSucceeded);
  EXPECT_TRUE(busyMoved);
  // Held at the cap while the run went on; at its end when the success box came.
  EXPECT_EQ(highestTransfer, kTransferBarEnd);
  EXPECT_EQ(numbersAtBox.rfind("100 %   ", 0), 0u) << numbersAtBox;
  EXPECT_TRUE(pictureTaken);
  EXPECT_TRUE(numbersChecked);
}

TEST_F(UpdateWindow, reads_at_a_glance_and_opens_help_and_history_inside_the_program) {
  ui::setHistoryProvider([] {
    return ui::HistoryTable{{"when (UTC)", "outcome"},
                            {{"2026-12-01 09:00:00", "failed"}, {"2026-12-02 10:00:00", "success"}},
                            "history.jsonl",
                            ""};
  });
  driver.waitForDialog(kIddUpdate)
      .check("layout",
             [] {
               // Step texts after "OK    " and "ERROR " begin at one x.
               const QFontMetrics metrics(controlOf(kIddUpdate, kIdcStatusList)->font());
               EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("OK    ")),
                         metrics.horizontalAdvance(QStringLiteral("ERROR ")));
               EXPECT_EQ(controlOf(kIddUpdate, kIdcRun)->size(),
                         controlOf(kIddUpdate, kIdcCancel)->size());
               // Every control of a frame inside the frame, below its title.
               const QRect mode = controlOf(kIddUpdate, kIdcModeGroup)->geometry();
               const int titleBottom =
                   mode.top() + QFontMetrics(qt_test::dialogWindow(kIddUpdate)->font()).height();
               for (int id :
                    {kIdcAutomatic, kIdcManual, kIdcPortLabel, kIdcPortList, kIdcConfiguration}) {
                 const QRect r = controlOf(kIddUpdate, id)->geometry();
                 EXPECT_TRUE(mode.contains(r)) << id;
                 EXPECT_GE(r.top(), titleBottom - 2) << id;
               }
               // The label's text stands centred on the port list's.
               const QRect label = controlOf(kIddUpdate, kIdcPortLabel)->geometry();
               const QRect ports = controlOf(kIddUpdate, kIdcPortList)->geometry();
               EXPECT_NEAR(
                   label.top() +
                       QFontMetrics(qt_test::dialogWindow(kIddUpdate)->font()).height() / 2.0,
                   ports.center().y(), 1.5);
             })
      .click(kIddUpdate, kIdcHelp)
      .then("help at the window's section",
            [] {
              QWidget* viewer = nullptr;
              for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == "helpViewer" && w->isVisible()) viewer = w;
              if (!viewer) return false;
              auto* browser = viewer->findChild<QTextBrowser*>();
              EXPECT_TRUE(browser->isReadOnly());
              const QTextBlock top = browser->cursorForPosition(QPoint(4, 4)).block();
              EXPECT_EQ(top.text().toStdString(), "The main window");
              EXPECT_GT(browser->verticalScrollBar()->value(), 0);
              viewer->close();
              return true;
            })
      .check("context menu",
             [] {
               QTimer::singleShot(0, [] {
                 QWidget* window = qt_test::dialogWindow(kIddUpdate);
                 QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(300, 20),
                                         window->mapToGlobal(QPoint(300, 20)));
                 QApplication::sendEvent(window, &event);
               });
             })
      .then("history entry beside About",
            [] {
              auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
              if (!menu) return false;
              Lines texts;
              QAction* history = nullptr;
              for (QAction* action : menu->actions()) {
                if (action->isSeparator()) continue;
                texts.push_back(action->text().toStdString());
                history = action;
              }
              EXPECT_EQ(texts, (Lines{kAboutMenuText, "&History..."}));
              QTimer::singleShot(0, [menu, history] {
                history->trigger();
                menu->close();
              });
              return true;
            })
      .then("history shown, newest selected",
            [] {
              auto* table = qobject_cast<QTableWidget*>(
                  QApplication::activeModalWidget()
                      ? QApplication::activeModalWidget()->findChild<QTableWidget*>()
                      : nullptr);
              if (!table) return false;
              EXPECT_EQ(table->rowCount(), 2);
              EXPECT_EQ(table->currentRow(), 1);
              EXPECT_EQ(table->item(1, 1)->text().toStdString(), "success");
              EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);
              QApplication::activeModalWidget()->close();
              return true;
            })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  ui::setHistoryProvider({});
}

// The update set folder in the system menu: a folder of the settings file that cannot be
// used is said when the window opens; the entry names the folder in use, cannot be chosen
// while a run goes on, and afterwards switches to the folder chosen and keeps it.
TEST_F(UpdateWindow, the_system_menu_names_the_update_set_folder_and_switches_it) {
  CUpdateSetFolder folder;
  folder.m_settingsFile = dir->file("zelupdate.ini");
  dir->write("gone", "a file, not a folder");
  const std::string problem = folder.start({.setting = dir->file("gone"),
                                            .current = dir->path(),
                                            .programFolder = "",
                                            .userFolder = "",
                                            .settingsFile = folder.m_settingsFile});
  ASSERT_NE(problem, "");
  QDir(QString::fromStdString(dir->path())).mkdir(QStringLiteral("chosen"));
  std::vector<std::string> opensAt;
  ui::setUpdateSetFolderService(
      {.folder = [&folder] { return folder.m_folder; },
       .use = [&folder](const std::string& chosen) { return folder.choose(chosen); },
       .startProblem = problem,
       .chooser = [this, &opensAt](const std::string& start) -> std::optional<std::string> {
         opensAt.push_back(start);
         return dir->file("chosen");
       }});
  ui::setHistoryProvider([] { return ui::HistoryTable{}; });
  driver.waitForDialog(kIddUpdate)
      .answer(problem + "\n\nChoose another update set folder?", Box::No)
      .click(kIddUpdate, kIdcRun)
      .then("running", [] { return hasLine("Update processor firmware"); })
      .check("context menu during the run", openContextMenu)
      .then("the entry greyed",
            [this] {
              auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
              if (!menu) return false;
              QAction* entry = nullptr;
              EXPECT_EQ(menuTexts(menu, &entry), (Lines{kAboutMenuText, "&History...",
                                                        ui::updateSetFolderMenuText(dir->path())}));
              EXPECT_TRUE(entry && !entry->isEnabled());
              QTimer::singleShot(0, menu, &QMenu::close);
              return true;
            })
      .answer(kDone, Box::Ok)
      .check("context menu after the run", openContextMenu)
      .then("the entry chosen",
            [] {
              auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
              if (!menu) return false;
              QAction* entry = nullptr;
              menuTexts(menu, &entry);
              EXPECT_TRUE(entry && entry->isEnabled());
              menuScreenshot(qt_test::dialogWindow(kIddUpdate), menu, "window-menu.png");
              QTimer::singleShot(0, [menu, entry] {
                entry->trigger();
                menu->close();
              });
              return true;
            })
      .then("the folder switched",
            [] { return QDir::currentPath().endsWith(QStringLiteral("/chosen")); })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  ui::setUpdateSetFolderService({});
  ui::setHistoryProvider({});
  EXPECT_EQ(opensAt, Lines{dir->path()});
  EXPECT_EQ(folder.m_folder, dir->file("chosen"));
  EXPECT_EQ(platform::getPrivateProfileString("Window", "UpdateSetFolder", "",
                                              dir->file("zelupdate.ini")),
            dir->file("chosen"));
  // The run wrote its job in the folder in use at the time.
  EXPECT_NE(dir->read("ROMWRITE.CNF"), "");
}

TEST_F(UpdateWindow, cancel_answered_no_goes_on_and_yes_stops_the_next_run) {
  driver.click(kIddUpdate, kIdcRun)
      .then("programming", [] { return hasLine("Download processor firmware"); })
      .click(kIddUpdate, kIdcCancel)
      .then("the question open for 30 s of the run",
            [this, opened = uint64_t{0}]() mutable {
              QMessageBox* box = qt_test::activeMessageBox();
              if (!box) return false;
              if (opened == 0) {
                opened = clock.nowMicros();
                EXPECT_EQ(box->text().toStdString(), kCancelQuestion);
                EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
              }
              // The engine goes on below the question, on the program clock.
              return clock.nowMicros() >= opened + 30'000'000;
            })
      .then("Enter answers No",
            [] {
              QMessageBox* box = qt_test::activeMessageBox();
              if (!box) return false;
              QTest::keyClick(box, Qt::Key_Return);
              return true;
            })
      .answer(kDone, Box::Ok)
      .then("idle", [] { return enabled(kIddUpdate, kIdcRun); })
      .check("first run",
             [this] {
               EXPECT_EQ(cancelRequested, 0);
               // The technician waits until the instrument has booted its new option
               // firmware (the virtual clock stands still while the window waits).
               clock.sleepMicros(60'000'000);
             })
      .click(kIddUpdate, kIdcRun)
      .then("programming again", [] { return hasLine("Download processor firmware"); })
      .click(kIddUpdate, kIdcCancel)
      .answer(kCancelQuestion, Box::Yes)
      .answer(kCancelledBox, Box::Ok)
      .then("idle again", [] { return enabled(kIddUpdate, kIdcRun); })
      .check("second run",
             [] {
               EXPECT_EQ(cancelRequested, 1);
               EXPECT_TRUE(hasLine("ERROR Download processor firmware (FFFF)"));
               EXPECT_EQ(listLines(kIddUpdate, kIdcStatusList), statusLines());
               EXPECT_FALSE(enabled(kIddUpdate, kIdcCancel));
             })
      .click(kIddUpdate, kIdcExit);
  runWindow();
  EXPECT_FALSE(dialog->m_lastRunSucceeded);
  EXPECT_EQ(driver.boxes().size(), 3u);
}

// What an automatic run finds in the instrument is its own: the manual selections stay
// those of the configuration dialog.
TEST_F(UpdateWindow, an_automatic_run_leaves_the_manual_option_as_chosen) {
  const auto answerBoxesUntilIdle = [] {
    if (QMessageBox* box = qt_test::activeMessageBox()) {
      if (box->isVisible()) qt_test::clickLater(box->button(QMessageBox::Ok));
      return false;
    }
    return enabled(kIddUpdate, kIdcRun) &&
           hasLine("Manual mode with settings in configuration menu");
  };
  driver.click(kIddUpdate, kIdcManual)
      .waitForDialog(kIddConfig)
      .click(kIddConfig, kIdcOptionB1)
      .click(kIddConfig, kIdcProcessorFirmware)  // the option alone
      .click(kIddConfig, ui::kIdOk)
      .then("configuration closed", [] { return qt_test::dialogWindow(kIddConfig) == nullptr; })
      .click(kIddUpdate, kIdcAutomatic)
      .click(kIddUpdate, kIdcRun)  // the B20 instrument, updated automatically
      .answer(kDone, Box::Ok)
      .then("idle", [] { return enabled(kIddUpdate, kIdcRun); })
      .check("booted", [this] { clock.sleepMicros(60'000'000); })
      .click(kIddUpdate, kIdcManual)
      .waitForDialog(kIddConfig)
      .check("B1 still chosen", [] { EXPECT_TRUE(checked(kIddConfig, kIdcOptionB1)); })
      .click(kIddConfig, ui::kIdOk)
      .then("configuration closed", [] { return qt_test::dialogWindow(kIddConfig) == nullptr; })
      .click(kIddUpdate, kIdcRun)
      .then("manual run over", answerBoxesUntilIdle)
      .click(kIddUpdate, kIdcExit);
  runWindow();
  const auto anyLineHas = [](const char* text) {
    const Lines all = statusLines();
    return std::any_of(all.begin(), all.end(),
                       [text](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(anyLineHas("Update Option(B1)"));
  EXPECT_FALSE(anyLineHas("Update Option(B20)"));
  const std::string qam = dir->read("QAM.BIN");
  std::string dsp;
  for (uint32_t word : sim::instrumentFor(kInstrument)->dspImage()) {
    for (int i = 0; i < 4; ++i) dsp.push_back(static_cast<char>(word >> (8 * i)));
  }
  EXPECT_TRUE(!qam.empty() && dsp == qam) << "QAM.BIN not in the DSP module";
}

TEST_F(UpdateWindow, exit_during_a_run_asks_first) {
  driver.click(kIddUpdate, kIdcRun)
      .then("programming", [] { return hasLine("Download processor firmware"); })
      .check("exit", [this] { later([](CUpdateDlg& d) { d.exitProgram(); }); })
      .answer(kExitQuestion, Box::No)
      .check("still running", [] { EXPECT_TRUE(enabled(kIddUpdate, kIdcCancel)); })
      .check("exit again", [this] { later([](CUpdateDlg& d) { d.exitProgram(); }); })
      .answer(kExitQuestion, Box::Yes)
      .answer(kCancelledBox, Box::Ok);
  EXPECT_EQ(runWindow(), ui::kIdCancel);
  EXPECT_EQ(cancelRequested, 1);
  EXPECT_FALSE(hasLine("OK    Get checksum from target"));
  EXPECT_FALSE(dialog->m_session.m_comm.isOpen());
}

// Program time that stands still from the start of the reboot wait until released, so that
// the wait cannot end, on a clock of any speed, before the user has answered.
class HoldAtRebootWait : public platform::VirtualClock, public StatusListObserver {
 public:
  HoldAtRebootWait() { addStatusListObserver(this); }
  ~HoldAtRebootWait() override { removeStatusListObserver(this); }
  void sleepMicros(uint64_t micros) override {
    if (!holding) platform::VirtualClock::sleepMicros(micros);
  }
  void statusLineAdded(int, const std::string& text) override {
    if (text == "Wait until ZEL is booted") holding = true;
  }
  void statusLineDeleted(int) override {}
  void statusListCleared() override {}
  bool holding = false;
};

// Cancel during the reboot wait is served there: Yes ends the run with the processor
// firmware in and the option update not begun, cancelled in the record.
TEST_F(UpdateWindow, cancel_during_the_reboot_wait_ends_the_run_there) {
  dir->write("zelupdate.ini",
             "[DEVICE]\nPORT_NO=1\n[PORTS]\nCOM1=sim:version=04.40,hw=0x11000,boot-time=1000\n");
  HoldAtRebootWait heldClock;
  platform::ScopedClock scoped(heldClock);
  driver.click(kIddUpdate, kIdcRun)
      .then("reboot wait", [] { return hasLine("Wait until ZEL is booted"); })
      .click(kIddUpdate, kIdcCancel)
      .answer(kCancelQuestion, Box::Yes)
      .answer(kCancelledBox, Box::Ok)
      .check("released", [&heldClock] { heldClock.holding = false; })
      .click(kIddUpdate, kIdcExit);
  EXPECT_EQ(runWindow(), ui::kIdCancel);
  EXPECT_TRUE(hasLine("OK    Update processor firmware completed"));
  EXPECT_TRUE(hasLine("ERROR Wait until ZEL is booted (FFFF)"));
  EXPECT_FALSE(hasLine("Update Option(B20)"));
  EXPECT_EQ(dialog->m_recorder.m_record.outcome, "cancelled");
  EXPECT_EQ(dialog->m_recorder.m_record.result.value_or(0), kResultCancelled);
}

// SIGTERM acts as Cancel answered Yes: the run ends with its lines, its boxes no longer
// wait for anyone, and the window closes.
TEST_F(UpdateWindow, sigterm_ends_the_run_with_its_lines_and_closes_the_window) {
  driver.click(kIddUpdate, kIdcRun)
      .then("programming", [] { return hasLine("Download processor firmware"); })
      .check("SIGTERM", [] { ::raise(SIGTERM); });
  EXPECT_EQ(runWindow(), ui::kIdCancel);
  EXPECT_EQ(cancelRequested, 1);
  EXPECT_TRUE(hasLine("ERROR Download processor firmware (FFFF)"));
  EXPECT_FALSE(hasLine("OK    Get checksum from target"));
  EXPECT_FALSE(dialog->m_lastRunSucceeded);
  struct sigaction now {};
  ::sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

}  // namespace
