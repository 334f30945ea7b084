// Drives the Windows host's running windows the way a user does, through the host's test
// hooks: a list of steps, each tried from a real-time poll until it reports done. The poll
// runs inside every loop of the host (its dialogs, its boxes, the pumps of a long
// operation), so a step can watch a run while it goes on. Clicks are posted, so that the
// handler they start (a whole Run) does not hold up the poll.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ui/dialog_host.h"

namespace win32_test {

struct SeenBox {
  std::string text;
  std::string caption;
  ui::MessageBoxKind kind;
};

class WindowDriver {
 public:
  using Step = std::function<bool()>;
  explicit WindowDriver(int timeoutMs = 30000);
  ~WindowDriver();
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  // Appends a step; `what` names it in a failure.
  WindowDriver& then(const std::string& what, Step step);
  WindowDriver& waitForDialog(int dialogId);
  // Clicks a control once its dialog has the input and the control is enabled.
  WindowDriver& click(int dialogId, int controlId);
  // Waits for a message box, records it and answers it.
  WindowDriver& answer(ui::MessageBoxAnswer answer);
  // The same for a box with exactly this text.
  WindowDriver& answer(const std::string& text, ui::MessageBoxAnswer answer);
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
  std::chrono::steady_clock::time_point m_stepStarted;
  std::vector<SeenBox> m_boxes;
};

// Writes a picture of a dialog window into the folder named by ZEL_SCREENSHOT_DIR, when set
// (the README's pictures are made this way); fails the test when there is no picture.
void screenshot(int dialogId, const char* name);
// The same of the message box that is open now.
void boxScreenshot(const char* name);
// The dialog with its system menu open; `enabled` as systemMenuPicture gives it.
void systemMenuScreenshot(int dialogId, const char* name, std::vector<bool>* enabled);
// The same of the history and of the help's text window.
void historyScreenshot(const char* name);
void helpTextScreenshot(const char* name);

}  // namespace win32_test
