#include "app/config_dlg.h"

#include "app/dialog_templates.h"
#include "ui/message_box.h"

namespace {

struct ComboEntry {
  const char* text;
  int64_t data;
};

constexpr ComboEntry kBaudEntries[] = {
    {"1200", 0}, {"2400", 1}, {"4800", 2}, {"9600", 3}, {"19200", 4}};
constexpr ComboEntry kDataBitsEntries[] = {{"7", 0}, {"8", 1}};
constexpr ComboEntry kParityEntries[] = {{"NONE", 0}, {"ODD", 1}, {"EVEN", 2}};
constexpr ComboEntry kStopBitsEntries[] = {{"1", 1}, {"2", 2}};
constexpr ComboEntry kHandshakeEntries[] = {{"NONE", 0}, {"XON/XOFF", 2}, {"RTS/CTS", 1}};

// The 13 controls of the RS-232 section.
constexpr int kRs232Controls[] = {
    kIdcRs232Group,     kIdcRs232PortLabel, kIdcBaudLabel,     kIdcParityLabel, kIdcHandshakeLabel,
    kIdcDataBitsLabel,  kIdcStopBitsLabel,  kIdcStopBitsCombo, kIdcPortCombo,   kIdcParityCombo,
    kIdcHandshakeCombo, kIdcBaudCombo,      kIdcDataBitsCombo,
};

template <size_t N>
void fillCombo(ui::DialogWindow& window, int id, const ComboEntry (&entries)[N], int selected) {
  window.comboReset(id);
  for (const ComboEntry& entry : entries) {
    const int index = window.comboAdd(id, entry.text);
    window.comboSetItemData(id, index, entry.data);
  }
  window.comboSetSelection(id, selected);
}

}  // namespace

void applyOptionButtons(UpdateSettings& settings, bool none, bool b1, bool b20, bool b10) {
  settings.noOption = none ? 1 : 0;
  settings.optionUpdate = none ? 0 : 1;
  settings.optionB1 = b1 ? 1 : 0;
  settings.optionB10 = b10 ? 1 : 0;
  settings.optionB20 = b20 ? 1 : 0;
  settings.optionKind = kOptionNone;
  if (settings.optionB1 == 1) settings.optionKind = kOptionB1;
  if (settings.optionB20 == 1) settings.optionKind = kOptionB20;
  if (settings.optionB10 == 1) settings.optionKind = kOptionB10;
}

void chooseOption(UpdateSettings& settings, int optionKind) {
  applyOptionButtons(settings, optionKind == kOptionNone, optionKind == kOptionB1,
                     optionKind == kOptionB20, optionKind == kOptionB10);
}

std::string validateUpdateSettings(const UpdateSettings& s) {
  const int options = (s.optionB1 == 1) + (s.optionB20 == 1) + (s.optionB10 == 1);
  if (s.optionUpdate == 1 && options == 0) return kRefuseChooseOneOption;
  if (s.memoryExtension == 1) {
    return s.optionUpdate == 1 && options != 1 ? kRefuseChooseOneOption : "";
  }
  // Without the memory extension only the B1 image fits the board.
  if (s.mpegMode == 1 && s.nicamMode == 1) return kRefuseOneMode;
  if (options == 0) return "";
  if (s.optionB1 == 1 && options == 1) return "";
  return kRefuseNeedsMemoryExtension;
}

CConfigDlg::CConfigDlg(const SerialSettings& serial, const UpdateSettings& update, int serviceMode)
    : m_serialSettings(serial), m_updateSettings(update), m_serviceMode(serviceMode) {}

const ui::DialogTemplate& CConfigDlg::dialogTemplate() const {
  return configDialogTemplate();
}

void CConfigDlg::fillRs232Section() {
  ui::DialogWindow& w = *m_window;
  w.comboReset(kIdcPortCombo);
  fillCombo(w, kIdcBaudCombo, kBaudEntries, m_serialSettings.baudIndex);
  fillCombo(w, kIdcDataBitsCombo, kDataBitsEntries, m_serialSettings.dataBitsIndex);
  fillCombo(w, kIdcParityCombo, kParityEntries, m_serialSettings.parityIndex);
  fillCombo(w, kIdcStopBitsCombo, kStopBitsEntries, m_serialSettings.stopBitsIndex);
  fillCombo(w, kIdcHandshakeCombo, kHandshakeEntries, m_serialSettings.handshakeIndex);
  for (int id : kRs232Controls) w.show(id, false);
}

void CConfigDlg::readChecks() {
  const ui::DialogWindow& w = *m_window;
  m_none = w.isChecked(kIdcOptionNone);
  m_b1 = w.isChecked(kIdcOptionB1);
  m_b10 = w.isChecked(kIdcOptionB10);
  m_b20 = w.isChecked(kIdcOptionB20);
  m_memoryExtension = w.isChecked(kIdcMemoryExtension);
  m_optionUpdate = w.isChecked(kIdcOptionUpdate);
  m_processorFirmware = w.isChecked(kIdcProcessorFirmware);
}

void CConfigDlg::showChecks() {
  ui::DialogWindow& w = *m_window;
  w.setCheck(kIdcOptionNone, m_none != 0);
  w.setCheck(kIdcOptionB1, m_b1 != 0);
  w.setCheck(kIdcOptionB10, m_b10 != 0);
  w.setCheck(kIdcOptionB20, m_b20 != 0);
  w.setCheck(kIdcMemoryExtension, m_memoryExtension != 0);
  w.setCheck(kIdcOptionUpdate, m_optionUpdate != 0);
  w.setCheck(kIdcProcessorFirmware, m_processorFirmware != 0);
}

void CConfigDlg::showOptionUpdate(bool withOption) {
  m_optionUpdate = withOption ? 1 : 0;
  m_window->setCheck(kIdcOptionUpdate, withOption);
  m_window->enable(kIdcOptionUpdate, withOption);
}

void CConfigDlg::onInitDialog() {
  fillRs232Section();
  const UpdateSettings& s = m_updateSettings;
  m_memoryExtension = s.memoryExtension;
  m_nicamMode = s.nicamMode;
  m_mpegMode = s.mpegMode;
  m_none = s.noOption;
  m_b1 = s.optionB1;
  m_b20 = s.optionB20;
  m_b10 = s.optionB10;
  m_optionUpdate = s.optionUpdate;
  m_processorFirmware = s.processorFirmware;
  showChecks();
  m_window->show(kIdcProcessorFirmware, m_serviceMode != 0);
  m_window->show(kIdcOptionUpdate, m_serviceMode != 0);
  // An installed option is always offered for update when the dialog opens.
  const bool withOption = m_none == 0;
  m_updateSettings.optionUpdate = withOption ? 1 : 0;
  showOptionUpdate(withOption);
}

void CConfigDlg::onOptionClicked() {
  readChecks();
  applyOptionButtons(m_updateSettings, m_none != 0, m_b1 != 0, m_b20 != 0, m_b10 != 0);
  showOptionUpdate(m_none == 0);
}

void CConfigDlg::onCheckBoxClicked(int controlId) {
  readChecks();
  switch (controlId) {
    case kIdcMemoryExtension:
      m_updateSettings.memoryExtension = m_memoryExtension;
      break;
    case kIdcOptionUpdate:
      m_updateSettings.optionUpdate = m_optionUpdate;
      break;
    case kIdcProcessorFirmware:
      m_updateSettings.processorFirmware = m_processorFirmware;
      break;
    default:
      break;
  }
}

void CConfigDlg::onComboChanged(int controlId) {
  const int selected = m_window->comboSelection(controlId);
  switch (controlId) {
    case kIdcPortCombo:
      if (selected >= 0) {
        m_serialSettings.portNumber =
            static_cast<int32_t>(m_window->comboItemData(kIdcPortCombo, selected));
      }
      break;
    case kIdcBaudCombo:
      m_serialSettings.baudIndex = selected;
      break;
    case kIdcDataBitsCombo:
      m_serialSettings.dataBitsIndex = selected;
      break;
    case kIdcParityCombo:
      m_serialSettings.parityIndex = selected;
      break;
    case kIdcStopBitsCombo:
      m_serialSettings.stopBitsIndex = selected;
      break;
    case kIdcHandshakeCombo:
      m_serialSettings.handshakeIndex = selected;
      break;
    default:
      break;
  }
}

void CConfigDlg::onCommand(int controlId, ui::Notification notification) {
  if (notification == ui::Notification::SelectionChanged) {
    onComboChanged(controlId);
    return;
  }
  switch (controlId) {
    case kIdcOptionNone:
    case kIdcOptionB1:
    case kIdcOptionB10:
    case kIdcOptionB20:
      onOptionClicked();
      break;
    case kIdcMemoryExtension:
    case kIdcOptionUpdate:
    case kIdcProcessorFirmware:
      onCheckBoxClicked(controlId);
      break;
    default:
      break;
  }
}

void CConfigDlg::onOk() {
  const std::string refusal = validateUpdateSettings(m_updateSettings);
  if (!refusal.empty()) {
    ui::messageBox(*m_window, refusal, ui::MessageBoxKind::Stop);
    return;
  }
  readChecks();
  // The option kind belongs to the button that is checked, whatever set it before (an
  // automatic run that found another option).
  UpdateSettings& s = m_updateSettings;
  s.optionKind = kOptionNone;
  if (m_b1 != 0) s.optionKind = kOptionB1;
  if (m_b20 != 0) s.optionKind = kOptionB20;
  if (m_b10 != 0) s.optionKind = kOptionB10;
  m_window->endDialog(ui::kIdOk);
}
