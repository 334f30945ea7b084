#include "app/update_app.h"

#include "app/update_dlg.h"

int CUpdateApp::run(ui::DialogHost& host, const std::vector<std::string>& args,
                    const std::string& programPath) {
  CUpdateDlg dialog(programPath);
  dialog.m_serviceMode = 1;
  dialog.m_intermediateBoot = 0;
  dialog.m_recorder.m_recordRun = m_recordRun;
  // "/Service" asks for the service mode, which is always on, and "/OhneZwischenbooten" for
  // no intermediate boot, which is the start value: the arguments change nothing.
  static_cast<void>(args);
  m_dialogResult = host.runModal(dialog);
  return 0;
}
