// One dialog window of the desktop host: a QDialog built from a dialog template, whose
// controls carry their control ids as object names ("1037"), and the window operations of
// the dialog toolkit on it.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "frontends/qt/dialog_units.h"
#include "frontends/qt/qt_host.h"
#include "run/run_progress.h"
#include "ui/dialog_host.h"
#include "ui/hosted_window.h"

class QEventLoop;

namespace ui::qt {

class QtDialogWindow final : public QDialog, public HostedWindow {
 public:
  QtDialogWindow(Dialog& dialog, QWidget* parent, ProgressSource progress = {});
  ~QtDialogWindow() override;
  QtDialogWindow(const QtDialogWindow&) = delete;
  QtDialogWindow& operator=(const QtDialogWindow&) = delete;

  // Initialises, shows and runs the dialog modally until endDialog; returns its end code.
  int run();

  // The widget of a control; nullptr for an id the template does not have.
  QWidget* control(int id) const;
  const DialogBaseUnits& baseUnits() const { return m_units; }

  // The widget's own operations of the same names stay callable beside the toolkit's.
  using HostedWindow::killTimer;
  using QDialog::isVisible;
  using QDialog::repaint;
  using QDialog::show;

  // --- DialogWindow ---
  void setText(int id, const std::string& text) override;
  std::string text(int id) const override;
  void enable(int id, bool enabled) override;
  bool isEnabled(int id) const override;
  void show(int id, bool visible) override;
  bool isVisible(int id) const override;
  void setCheck(int id, bool checked) override;
  bool isChecked(int id) const override;
  void listReset(int id) override;
  int listAdd(int id, const std::string& text) override;
  int listCount(int id) const override;
  std::string listText(int id, int index) const override;
  void listDelete(int id, int index) override;
  void listSetTopIndex(int id, int index) override;
  int listTopIndex(int id) const override;
  void listSetSelection(int id, int index) override;
  int listSelection(int id) const override;
  void comboReset(int id) override;
  int comboAdd(int id, const std::string& text) override;
  int comboCount(int id) const override;
  std::string comboText(int id, int index) const override;
  void comboSetItemData(int id, int index, int64_t data) override;
  int64_t comboItemData(int id, int index) const override;
  void comboSetSelection(int id, int index) override;
  int comboSelection(int id) const override;
  void progressSetRange(int id, int low, int high) override;
  void progressSetPos(int id, int pos) override;
  int progressPos(int id) const override;
  // Window-modal, opened without a loop of its own: the answer arrives as an event that
  // the event loop or the engine's pump dispatches.
  void askQuestion(const std::string& text, const std::string& caption,
                   std::function<void(MessageBoxAnswer)> answered) override;
  void withdrawQuestion() override;
  MessageBoxAnswer showMessageBox(const std::string& text, const std::string& caption,
                                  MessageBoxKind kind) override;
  int runModal(Dialog& dialog) override;
  void repaint() override;
  bool pumpMessages() override;
  void removeSystemMenuClose() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;  // Escape
  void accept() override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void buildControls();
  QWidget* createControl(const ControlTemplate& control);
  void radioClicked(int id);
  void alignLabelsAndButtons();

  // --- HostedWindow ---
  void openHelp() override;
  void wakeLoop() override;
  bool progressRange(int id, int& low, int& high) const override;
  bool hasControl(int id) const override;
  void paintNow(int id) override;
  std::string progressNumbersText(bool sample, int percent) override;

  DialogBaseUnits m_units;
  std::map<int, QWidget*> m_controls;
  // For each radio button, the radio buttons of its group (itself included).
  std::map<int, std::vector<int>> m_radioGroups;
  bool m_closeInMenu = true;
  ProgressMeter m_meter;
  QEventLoop* m_loop = nullptr;
  // The question of askQuestion while it is open.
  QPointer<QMessageBox> m_question;
};

}  // namespace ui::qt
