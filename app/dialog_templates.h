// The templates of the program's three dialogs and the ids of their controls.
#pragma once

#include "ui/dialog_template.h"

// --- About box (template 100) ---
inline constexpr int kIddAbout = 100;

// --- main dialog (template 102) ---
inline constexpr int kIddUpdate = 102;
inline constexpr int kIdcModeGroup = 1036;
inline constexpr int kIdcAutomatic = 1037;
inline constexpr int kIdcManual = 1038;
// Read every image back after its checksum (processor flash; the DSP module cannot be read).
inline constexpr int kIdcVerify = 1102;
inline constexpr int kIdcPortLabel = 1085;
inline constexpr int kIdcPortList = 1084;
inline constexpr int kIdcConfiguration = 1073;
inline constexpr int kIdcExit = 1083;
inline constexpr int kIdcHelp = 57670;
inline constexpr int kIdcProgressGroup = 1082;
inline constexpr int kIdcHeadline = 1096;
inline constexpr int kIdcStatusList = 1014;
inline constexpr int kIdcBusyBar = 1074;
inline constexpr int kIdcTransferBar = 1075;
inline constexpr int kIdcPacketRetries = 1092;
inline constexpr int kIdcPacketErrors = 1091;
inline constexpr int kIdcPacketCount = 1093;
inline constexpr int kIdcRun = 1013;
inline constexpr int kIdcCancel = 1053;

// The system menu entry of the About box (string 101) and its command id.
inline constexpr int kIdmAboutBox = 16;
inline constexpr const char* kAboutMenuText = "Inf&o über Update...";
// The progress timer.
inline constexpr int kProgressTimerId = 1;
inline constexpr uint32_t kProgressTimerPeriodMs = 100;

// --- configuration dialog (template 130) ---
inline constexpr int kIddConfig = 130;
inline constexpr int kIdcHardwareGroup = 1054;
inline constexpr int kIdcMemoryExtension = 1076;
inline constexpr int kIdcOptionsGroup = 1039;
inline constexpr int kIdcOptionNone = 1101;
inline constexpr int kIdcOptionB1 = 1097;
inline constexpr int kIdcOptionB10 = 1098;
inline constexpr int kIdcOptionB20 = 1099;
inline constexpr int kIdcProcessorFirmware = 1089;
inline constexpr int kIdcOptionUpdate = 1090;
// The hidden RS-232 section.
inline constexpr int kIdcRs232Group = 1077;
inline constexpr int kIdcRs232PortLabel = 1078;
inline constexpr int kIdcBaudLabel = 1079;
inline constexpr int kIdcParityLabel = 1080;
inline constexpr int kIdcHandshakeLabel = 1081;
inline constexpr int kIdcDataBitsLabel = 1034;
inline constexpr int kIdcStopBitsLabel = 1035;
inline constexpr int kIdcStopBitsCombo = 1033;
inline constexpr int kIdcPortCombo = 1005;
inline constexpr int kIdcParityCombo = 1007;
inline constexpr int kIdcHandshakeCombo = 1008;
inline constexpr int kIdcBaudCombo = 1006;
inline constexpr int kIdcDataBitsCombo = 1032;

const ui::DialogTemplate& aboutDialogTemplate();
const ui::DialogTemplate& updateDialogTemplate();
const ui::DialogTemplate& configDialogTemplate();
