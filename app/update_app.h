// CUpdateApp: the application object. It runs the main dialog in a front end until the
// dialog ends, and then the program ends.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/service_record.h"

#include "ui/dialog_host.h"

// The command-line switches that are accepted; both leave the start state as it is.
inline constexpr const char* kSwitchService = "/Service";
inline constexpr const char* kSwitchNoIntermediateBoot = "/OhneZwischenbooten";

class CUpdateApp {
 public:
  // Runs the main dialog in the host; returns the program's exit status (0).
  int run(ui::DialogHost& host, const std::vector<std::string>& args,
          const std::string& programPath);

  // What the last run's main dialog ended with.
  int m_dialogResult = 0;
  // Receives the service record of every Run of the dialog.
  std::function<void(ServiceRecord&)> m_recordRun;
};
