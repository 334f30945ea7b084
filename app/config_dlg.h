// CConfigDlg: the configuration dialog of the manual mode. The user states whether the
// processor board has the memory extension, which digital option is installed and what a
// manual run updates. The main dialog hands it copies of its two records and takes them
// back when it ends with OK. Its RS-232 section is filled and hidden at once, so the serial
// selections return as they came.
//
// The option rule and the checks of OK are free functions as well, so that the command
// line applies exactly the dialog's rules.
#pragma once

#include <string>

#include "app/update_settings.h"
#include "ui/dialog_host.h"

// The refusals of OK.
inline constexpr const char* kRefuseChooseOneOption = "ERROR - choose only one: B1 or B10 or B20";
inline constexpr const char* kRefuseOneMode =
    "ERROR -  only one mode to be selected: MPEG or NICAM";
inline constexpr const char* kRefuseNeedsMemoryExtension =
    "ERROR  \nATSC / DVB-T TV Digital Demodulator\nupdate not possible without memory extension";

// The option buttons' rule for the states of the four buttons: "none" clears the option
// update, any option sets it; the option flags follow their buttons, and optionKind is the
// last of B1 (1), B20 (2), B10 (3) that is set, 0 when none is.
void applyOptionButtons(UpdateSettings& settings, bool none, bool b1, bool b20, bool b10);
// The option buttons' rule with option 0 none, 1 B1, 2 B20 or 3 B10 chosen, as the click
// on that radio button does it.
void chooseOption(UpdateSettings& settings, int optionKind);
// OK's validation: empty when accepted, else the exact refusal message.
std::string validateUpdateSettings(const UpdateSettings& settings);

class CConfigDlg : public ui::Dialog {
 public:
  CConfigDlg(const SerialSettings& serial, const UpdateSettings& update, int serviceMode);

  const ui::DialogTemplate& dialogTemplate() const override;
  void onInitDialog() override;
  void onCommand(int controlId, ui::Notification notification) override;
  void onOk() override;

  // Check values exchanged with the buttons (0 or 1), and the two mirrors without a control.
  int m_none = 1;
  int m_b1 = 0;
  int m_b10 = 0;
  int m_b20 = 0;
  int m_memoryExtension = 1;
  int m_optionUpdate = 0;
  int m_processorFirmware = 1;
  int m_nicamMode = 0;
  int m_mpegMode = 0;
  // The dialog's results.
  SerialSettings m_serialSettings;
  UpdateSettings m_updateSettings;
  int m_serviceMode = 1;

 private:
  void fillRs232Section();
  void readChecks();
  void showChecks();
  // Enables and checks, or disables and unchecks, the option update box.
  void showOptionUpdate(bool withOption);
  void onOptionClicked();
  void onCheckBoxClicked(int controlId);
  void onComboChanged(int controlId);
};
