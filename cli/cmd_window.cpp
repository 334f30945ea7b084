// zelupdate without a command: the main dialog in the desktop window.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_templates.h"
#include "app/service_record.h"
#include "app/update_app.h"
#include "cli/command_line.h"
#include "cli/console_run.h"
#include "platform/profile.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "sim/simulator_support.h"
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
  // A simulated instrument on the start port runs on the clock its speed option asks for;
  // a real device keeps the real clock.
  const std::string settingsFile = settingsFileFor(common);
  platform::loadComPortMapping(settingsFile);
  const std::string clockError =
      installClockForDevice(platform::comPortDevice(startPortNumber(settingsFile)));
  if (!clockError.empty()) {
    std::fprintf(stderr, "zelupdate: %s\n", clockError.c_str());
    return kExitUsage;
  }
  const std::unique_ptr<ui::DialogHost> window =
      host::createDialogHost({.transferBarId = kIdcTransferBar,
                              .transferredBytes = [] { return static_cast<uint64_t>(bytesSent); }});
#ifdef ZEL_HAVE_WIN32_WINDOW
  // zelupdate.exe opened from the Explorer gets a console window of its own, which would stand
  // beside the window (the Start menu starts zelupdatew.exe, which has none).
  ui::win32::releaseOwnConsole();
#endif
  installHistoryProvider(common);
  CUpdateApp application;
  const std::string historyFile = historyFileFor(common);
  application.m_recordRun = [&historyFile](ServiceRecord& record) {
    record.frontEnd = "window";
    keepServiceRecord(historyFile, record);
  };
  const int status = application.run(*window, args, common.programPath);
  ui::setHistoryProvider({});
  return status;
#endif
}
