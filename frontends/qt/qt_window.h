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

class QEventLoop;

namespace ui::qt {

class QtDialogWindow final : public QDialog, public DialogWindow {
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
  // True while user input to this window's controls other than push buttons is held back:
  // the dialog is in a long operation that serves only the timer, repainting and buttons.
  bool inputHeldBack() const;

  // The widget's own operations of the same names stay callable beside the toolkit's.
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
  void setTimer(int timerId, uint32_t periodMs) override;
  void killTimer(int timerId) override;
  // Window-modal, opened without a loop of its own: the answer arrives as an event that
  // the event loop or the engine's pump dispatches.
  void askQuestion(const std::string& text, const std::string& caption,
                   std::function<void(MessageBoxAnswer)> answered) override;
  void withdrawQuestion() override;
  MessageBoxAnswer showMessageBox(const std::string& text, const std::string& caption,
                                  MessageBoxKind kind) override;
  int runModal(Dialog& dialog) override;
  void endDialog(int result) override;
  void repaint() override;
  bool pumpMessages() override;
  void appendSystemMenuItem(int command, const std::string& text) override;
  void removeSystemMenuClose() override;

  // Delivers a timer tick to the dialog (the host's timer service calls it).
  void deliverTimer(int timerId);
  // Writes the run's progress numbers into the numbers line, when the template has one;
  // `sample` takes the moved bytes into the rate (at a timer tick). Repaints the line now
  // when `paintNow` (a bounded wait's try, between the pumps).
  void showProgressNumbers(bool sample, bool paintNow);
  // Delivers the request to end the program (the host's signal service calls it): the
  // dialog's kSysCommandTerminate, or its cancel when it does not handle that.
  void deliverTermination();
  // The program ends when this returns (a second request): the dialog's
  // kSysCommandTerminateNow, delivered even to a window that has ended but not yet gone.
  void deliverEnd();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;  // Escape
  void accept() override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void buildControls();
  QWidget* createControl(const ControlTemplate& control);
  void buttonClicked(int id);
  void radioClicked(int id);
  void systemCommand(int command);
  void openHelp();
  void alignLabelsAndButtons();
  // Runs a handler of the dialog while the window runs and has not ended; counts it as a
  // dispatched event.
  void deliver(const std::function<void()>& handler);

  Dialog& m_dialog;
  const DialogTemplate& m_template;
  DialogBaseUnits m_units;
  std::map<int, QWidget*> m_controls;
  // For each radio button, the radio buttons of its group (itself included).
  std::map<int, std::vector<int>> m_radioGroups;
  struct MenuEntry {
    int command;
    std::string text;
  };
  std::vector<MenuEntry> m_menuEntries;
  bool m_closeInMenu = true;
  ProgressMeter m_meter;
  // The progress bar whose percent the numbers line shows, and the bytes it measures.
  ProgressSource m_progress;
  QEventLoop* m_loop = nullptr;
  // The question of askQuestion while it is open.
  QPointer<QMessageBox> m_question;
  bool m_running = false;
  bool m_ended = false;
  int m_result = kIdCancel;
  // The host's pump depth when this window started: input is held back only in pumps
  // entered after that, while this window waits beneath a long operation.
  int m_pumpDepthAtStart = 0;
};

}  // namespace ui::qt
