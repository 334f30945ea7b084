#include "app/dialog_templates.h"

using ui::ControlKind;

namespace {

constexpr const char* kDialogFont = "MS Sans Serif";

}  // namespace

const ui::DialogTemplate& aboutDialogTemplate() {
  static const ui::DialogTemplate dialog{
      kIddAbout,
      "Update",
      217,
      55,
      kDialogFont,
      8,
      true,
      {
          {-1, ControlKind::Icon, "", {11, 17, 20, 20}, 0},
          {-1, ControlKind::StaticText, "ZEL Update Version 3.20", {40, 10, 119, 8}, 0},
          {-1,
           ControlKind::StaticText,
           "Service tool of the ZEL test receivers",
           {40, 25, 170, 8},
           0},
          {ui::kIdOk,
           ControlKind::PushButton,
           "OK",
           {178, 7, 32, 14},
           ui::kStyleGroupStart | ui::kStyleDefaultButton},
      }};
  return dialog;
}

const ui::DialogTemplate& updateDialogTemplate() {
  static const ui::DialogTemplate dialog{
      kIddUpdate,
      "Update",
      336,
      318,
      kDialogFont,
      8,
      true,
      {
          {kIdcModeGroup, ControlKind::GroupBox, "Mode/RS232", {5, 5, 220, 50}, 0},
          {kIdcAutomatic,
           ControlKind::RadioButton,
           "Automatic",
           {10, 20, 47, 10},
           ui::kStyleGroupStart},
          {kIdcManual, ControlKind::RadioButton, "Manual", {10, 35, 39, 10}, 0},
          {kIdcVerify,
           ControlKind::CheckBox,
           "Verify (read back)",
           {10, 45, 90, 8},
           ui::kStyleGroupStart},
          {kIdcPortLabel, ControlKind::StaticText, "Port", {90, 17, 14, 8}, 0},
          {kIdcPortList,
           ControlKind::ComboBox,
           "",
           {110, 15, 95, 45},
           ui::kStyleSorted | ui::kStyleVScroll},
          {kIdcConfiguration,
           ControlKind::PushButton,
           "Configuration",
           {110, 35, 95, 14},
           ui::kStyleDisabled},
          {kIdcExit, ControlKind::PushButton, "Exit", {260, 7, 55, 14}, ui::kStyleDefaultButton},
          {kIdcHelp, ControlKind::PushButton, "Help", {260, 34, 55, 14}, 0},
          {kIdcProgressGroup, ControlKind::GroupBox, "Progress", {5, 60, 325, 252}, 0},
          {kIdcHeadline, ControlKind::StaticText, "", {25, 67, 290, 15}, ui::kStyleCentered},
          {kIdcStatusList,
           ControlKind::ListBox,
           "",
           {25, 84, 290, 151},
           ui::kStyleVScroll | ui::kStyleBorder},
          {kIdcBusyBar, ControlKind::ProgressBar, "", {25, 240, 290, 14}, 0},
          {kIdcTransferBar, ControlKind::ProgressBar, "", {25, 256, 290, 14}, 0},
          // The host writes the run's numbers here (percent, rate, time left, elapsed).
          {ui::kIdProgressNumbers, ControlKind::StaticText, "", {25, 272, 290, 8}, 0},
          {kIdcPacketRetries, ControlKind::StaticText, "", {120, 284, 100, 8}, 0},
          {kIdcPacketErrors, ControlKind::StaticText, "", {120, 292, 100, 8}, 0},
          {kIdcPacketCount, ControlKind::StaticText, "", {120, 300, 100, 8}, 0},
          {kIdcRun, ControlKind::PushButton, "Run", {25, 288, 85, 14}, 0},
          {kIdcCancel, ControlKind::PushButton, "Cancel", {230, 288, 85, 14}, ui::kStyleDisabled},
      }};
  return dialog;
}

const ui::DialogTemplate& configDialogTemplate() {
  static const ui::DialogTemplate dialog{
      kIddConfig,
      "Configuration",
      204,
      182,
      kDialogFont,
      8,
      true,
      {
          {kIdcHardwareGroup, ControlKind::GroupBox, "Processor Hardware ", {10, 10, 176, 26}, 0},
          {kIdcMemoryExtension,
           ControlKind::CheckBox,
           "With Memory Extension",
           {20, 20, 90, 10},
           ui::kStyleDisabled},
          {kIdcOptionsGroup,
           ControlKind::GroupBox,
           "Installed Digital Options",
           {10, 37, 176, 75},
           0},
          {kIdcOptionNone,
           ControlKind::RadioButton,
           "none",
           {20, 50, 32, 10},
           ui::kStyleGroupStart},
          {kIdcOptionB1,
           ControlKind::RadioButton,
           "B1   ZEL, LUM   QAM / DVB-C Demodulator",
           {20, 62, 159, 10},
           0},
          {kIdcOptionB10,
           ControlKind::RadioButton,
           "B10  ZEL   OFDM / DVB-T Demodulator",
           {20, 75, 159, 10},
           0},
          {kIdcOptionB20,
           ControlKind::RadioButton,
           "B20  ZEL, LUM\nATSC/DVB-C/J.83/A/B/C Demodulator",
           {20, 90, 159, 18},
           ui::kStyleMultiline},
          {-1, ControlKind::GroupBox, "Update", {9, 114, 176, 40}, 0},
          {kIdcProcessorFirmware,
           ControlKind::CheckBox,
           "Processor Firmware",
           {19, 124, 77, 10},
           ui::kStyleGroupStart},
          {kIdcOptionUpdate, ControlKind::CheckBox, "Option B1/B10/B20", {19, 138, 79, 10}, 0},
          {ui::kIdOk,
           ControlKind::PushButton,
           "OK",
           {9, 163, 50, 14},
           ui::kStyleGroupStart | ui::kStyleDefaultButton},
          {ui::kIdCancel, ControlKind::PushButton, "Cancel", {135, 163, 50, 14}, 0},
          // The RS-232 section: filled and hidden as soon as the dialog opens.
          {kIdcRs232Group, ControlKind::GroupBox, "RS232 Port", {110, 10, 80, 100}, 0},
          {kIdcRs232PortLabel, ControlKind::StaticText, "Port", {115, 22, 30, 8}, 0},
          {kIdcBaudLabel, ControlKind::StaticText, "Baudrate", {115, 36, 30, 8}, 0},
          {kIdcParityLabel, ControlKind::StaticText, "Parity", {115, 50, 30, 8}, 0},
          {kIdcHandshakeLabel, ControlKind::StaticText, "Handshake", {115, 64, 30, 8}, 0},
          {kIdcDataBitsLabel, ControlKind::StaticText, "Databits", {115, 78, 30, 8}, 0},
          {kIdcStopBitsLabel, ControlKind::StaticText, "Stopbits", {115, 92, 30, 8}, 0},
          {kIdcPortCombo, ControlKind::ComboBox, "", {148, 20, 38, 60}, ui::kStyleVScroll},
          {kIdcBaudCombo, ControlKind::ComboBox, "", {148, 34, 38, 60}, ui::kStyleVScroll},
          {kIdcParityCombo, ControlKind::ComboBox, "", {148, 48, 38, 60}, ui::kStyleVScroll},
          {kIdcHandshakeCombo, ControlKind::ComboBox, "", {148, 62, 38, 60}, ui::kStyleVScroll},
          {kIdcDataBitsCombo, ControlKind::ComboBox, "", {148, 76, 38, 60}, ui::kStyleVScroll},
          {kIdcStopBitsCombo, ControlKind::ComboBox, "", {148, 90, 38, 60}, ui::kStyleVScroll},
      }};
  return dialog;
}
