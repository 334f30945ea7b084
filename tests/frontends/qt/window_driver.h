// Drives running windows the way a user does: a list of steps, each tried from a real-time
// poll until it reports done. The poll is also served inside message boxes and inside the
// pumps of a long operation, so a step can watch a run while it goes on. Clicks are posted,
// so that the handler they start (a whole Run) does not hold up the poll.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

class QWidget;
class QAbstractButton;

namespace qt_test {

// The visible dialog window of a template id; nullptr when none is shown.
QWidget* dialogWindow(int dialogId);
// A control of a shown dialog window, found by its id; nullptr when none.
QWidget* controlOf(int dialogId, int controlId);
template <typename T>
T* controlAs(int dialogId, int controlId) {
  return qobject_cast<T*>(controlOf(dialogId, controlId));
}
// The message box that is shown now; nullptr when none.
QMessageBox* activeMessageBox();
// A mouse click at the middle of a widget, now (it goes through the application's event
// filters like a real one).
void clickNow(QWidget* widget);
// The same click, delivered from the event loop after the current step.
void clickLater(QWidget* widget);

struct SeenBox {
  std::string text;
  std::string caption;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
};

class WindowDriver {
 public:
  using Step = std::function<bool()>;
  explicit WindowDriver(int timeoutMs = 20000);
  ~WindowDriver();

  // Appends a step; `what` names it in a failure.
  WindowDriver& then(const std::string& what, Step step);
  // A step that waits until a dialog window is shown.
  WindowDriver& waitForDialog(int dialogId);
  // A step that clicks a control of a shown dialog (waits until it is there and enabled).
  WindowDriver& click(int dialogId, int controlId);
  // A step that waits for a message box, records it, and answers it with the button.
  WindowDriver& answer(QMessageBox::StandardButton button);
  // A step that waits for a message box with exactly this text and answers it.
  WindowDriver& answer(const std::string& text, QMessageBox::StandardButton button);
  // A step that runs once: checks or actions that do not wait.
  WindowDriver& check(const std::string& what, std::function<void()> action);

  // Starts polling; the steps run while the caller's own modal run goes on.
  void start();
  bool done() const { return m_next >= m_steps.size(); }
  const std::vector<SeenBox>& boxes() const { return m_boxes; }

 private:
  void poll();
  struct Entry {
    std::string what;
    Step step;
  };
  std::vector<Entry> m_steps;
  size_t m_next = 0;
  int m_timeoutMs;
  qint64 m_stepStartedMs = 0;
  QTimer m_timer;
  std::vector<SeenBox> m_boxes;
};

}  // namespace qt_test
