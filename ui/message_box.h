// Message boxes as the dialogs show them: the host's box, and the observers that follow
// every box of a run (the transcript, the simulated operator in front of a simulated
// instrument).
#pragma once

#include <functional>
#include <string>

#include "ui/dialog_host.h"

namespace ui {

// The caption of every box of the program.
inline constexpr const char* kMessageBoxCaption = "Update";

// The look's name as records of a run write it: "stop", "info", "question".
const char* messageBoxKindName(MessageBoxKind kind);

class MessageBoxObserver {
 public:
  virtual ~MessageBoxObserver() = default;
  // Before the box is shown.
  virtual void messageBoxShown(MessageBoxKind kind, const std::string& text) = 0;
  // After the user answered it.
  virtual void messageBoxAnswered(MessageBoxKind kind, const std::string& text,
                                  MessageBoxAnswer answer) = 0;
};

// Observers are told in the order they were added; the caller keeps them alive until removed.
void addMessageBoxObserver(MessageBoxObserver* observer);
void removeMessageBoxObserver(MessageBoxObserver* observer);

// The hook that is called with the text of every box once it has been acknowledged (OK or
// Yes). A simulated instrument registers it, so that the front-panel steps a box asks for
// are carried out; an empty function removes it.
void setAcknowledgeHook(std::function<void(const std::string& text)> hook);

// Shows a box through the window's host, tells the observers, and returns the answer.
MessageBoxAnswer messageBox(DialogWindow& window, const std::string& text, MessageBoxKind kind);

// Asks a question through the window's askQuestion (it does not hold up the caller) and
// tells the observers when it is shown and when it is answered. A withdrawn question tells
// them nothing more.
void askQuestion(DialogWindow& window, const std::string& text,
                 std::function<void(MessageBoxAnswer)> answered);

}  // namespace ui
