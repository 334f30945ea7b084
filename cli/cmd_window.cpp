// zelupdate without a command: the main dialog in the desktop window.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_templates.h"
#include "app/service_record.h"
#include "app/update_app.h"
#include "app/update_set_folder.h"
#include "cli/command_line.h"
#include "cli/console_run.h"
#include "platform/path_text.h"
#include "platform/profile.h"
#include "platform/program_path.h"
#include "platform/user_folders.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "sim/simulator_support.h"
#include "ui/folder_menu.h"
#include "ui/history_view.h"

#if defined(ZEL_HAVE_QT)
#include "frontends/qt/qt_host.h"
#define ZEL_HAVE_WINDOW 1
#elif defined(ZEL_HAVE_WIN32_WINDOW)
#include "frontends/win32/win32_host.h"
#define ZEL_HAVE_WINDOW 1
#endif

namespace {

constexpr const char* kConsoleHint = "use `zelupdate run` for an update in the console";

#ifdef ZEL_HAVE_WINDOW
// The port that the dialog starts with: the settings file's, as the session reads it.
int startPortNumber(const std::string& settingsFile) {
  const int portNo = platform::getPrivateProfileInt("DEVICE", "PORT_NO", 1, settingsFile);
  return portNo < 1 ? 1 : portNo;
}

// The window's "History..." entry reads the history file anew each time it is opened.
void installHistoryProvider(const CommonOptions& common) {
  const std::string path = historyFileFor(common);
  if (path.empty()) {
    ui::setHistoryProvider({});
    return;
  }
  ui::setHistoryProvider([path] {
    ui::HistoryTable table;
    table.source = path;
    std::vector<StoredRecord> records;
    if (!readHistory(path, HistoryFilter{}, records, &table.error)) return table;
    std::vector<std::vector<std::string>> rows = historyTable(records);
    table.header = std::move(rows.front());
    table.rows.assign(std::make_move_iterator(rows.begin() + 1),
                      std::make_move_iterator(rows.end()));
    return table;
  });
}

// A file named relative to the folder the program was started in, as an absolute path: the
// window moves into its update set folder.
std::string absoluteFile(const std::string& file) {
  if (file.empty() || file == "-") return file;
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(platform::pathFromUtf8(file), error);
  return error ? file : platform::utf8FromPath(path);
}

// The update set folder: decided and entered before the dialog starts, then offered in the
// window's system menu. Returns the folder's keeper, which the menu uses while it lives.
std::unique_ptr<CUpdateSetFolder> enterUpdateSetFolder(const std::string& settingsFile) {
  auto folder = std::make_unique<CUpdateSetFolder>();
  folder->m_settingsFile = settingsFile;
  StartFolderInputs in;
  in.settingsFile = settingsFile;
  in.current = currentFolderText();
  const std::string setting =
      platform::getPrivateProfileString(kWindowSection, kUpdateSetFolderKey, "", settingsFile);
  // A relative folder in the settings file is read from the settings file's own folder, so
  // that it names the same folder however the window was started.
  std::filesystem::path settingPath = platform::pathFromUtf8(setting);
  const std::filesystem::path settingsFolder = platform::pathFromUtf8(settingsFile).parent_path();
  if (!setting.empty() && settingPath.is_relative() && !settingsFolder.empty())
    settingPath = settingsFolder / settingPath;
  in.setting = setting.empty() ? setting : absoluteFile(platform::utf8FromPath(settingPath));
  const std::filesystem::path program = platform::pathFromUtf8(platform::programPath());
  if (program.has_parent_path()) in.programFolder = platform::utf8FromPath(program.parent_path());
  in.userFolder = platform::userUpdateSetFolder();
  const std::string problem = folder->start(in);
  CUpdateSetFolder* keeper = folder.get();
  ui::setUpdateSetFolderService(
      {.folder = [keeper] { return keeper->m_folder; },
       .use = [keeper](const std::string& chosen) { return keeper->choose(absoluteFile(chosen)); },
       .startProblem = problem,
       .chooser = {}});
  return folder;
}
#endif

}  // namespace

std::string windowUnavailable() {
#ifndef ZEL_HAVE_WINDOW
  return std::string("this program was built without the desktop window; ") + kConsoleHint;
#elif defined(ZEL_HAVE_QT)
  if (!ui::qt::displayAvailable()) {
    return std::string("no display for the desktop window (DISPLAY is not set); ") + kConsoleHint;
  }
  return std::string();
#else
  return std::string();
#endif
}

int commandWindow(const std::vector<std::string>& args, const CommonOptions& common) {
  for (const std::string& arg : args) {
    if (arg != kSwitchService && arg != kSwitchNoIntermediateBoot) {
      std::fprintf(stderr, "zelupdate: unknown option '%s' (see zelupdate --help)\n", arg.c_str());
      return kExitUsage;
    }
  }
  if (const std::string why = windowUnavailable(); !why.empty()) {
    std::fprintf(stderr, "zelupdate: %s\n", why.c_str());
    return kExitUsage;
  }
#ifndef ZEL_HAVE_WINDOW
  static_cast<void>(common);
  return kExitUsage;
#else
#ifdef ZEL_HAVE_QT
  namespace host = ui::qt;
#else
  namespace host = ui::win32;
#endif
  // The settings and history files stay where they were named once the window has moved into
  // its update set folder.
  CommonOptions fixed = common;
  fixed.historyFile = absoluteFile(common.historyFile);
  const std::string settingsFile = absoluteFile(settingsFileFor(common));
  platform::setSettingsFileOverride(settingsFile);
  // A simulated instrument on the start port runs on the clock its speed option asks for;
  // a real device keeps the real clock.
  serial::loadComPortMapping(settingsFile);
  const std::string clockError =
      installClockForDevice(serial::comPortDevice(startPortNumber(settingsFile)));
  if (!clockError.empty()) {
    std::fprintf(stderr, "zelupdate: %s\n", clockError.c_str());
    return kExitUsage;
  }
  const std::unique_ptr<CUpdateSetFolder> updateSetFolder = enterUpdateSetFolder(settingsFile);
  const std::unique_ptr<ui::DialogHost> window =
      host::createDialogHost({.transferBarId = kIdcTransferBar,
                              .transferredBytes = [] { return static_cast<uint64_t>(bytesSent); }});
#ifdef ZEL_HAVE_WIN32_WINDOW
  // zelupdate.exe opened from the Explorer gets a console window of its own, which would stand
  // beside the window (the Start menu starts zelupdatew.exe, which has none).
  ui::win32::releaseOwnConsole();
#endif
  installHistoryProvider(fixed);
  CUpdateApp application;
  const std::string historyFile = historyFileFor(fixed);
  application.m_recordRun = [&historyFile](ServiceRecord& record) {
    record.frontEnd = "window";
    keepServiceRecord(historyFile, record);
  };
  const int status = application.run(*window, args, common.programPath);
  ui::setHistoryProvider({});
  ui::setUpdateSetFolderService({});
  return status;
#endif
}
