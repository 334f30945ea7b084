#include "ui/message_box.h"

#include <algorithm>
#include <vector>

namespace ui {
namespace {

std::vector<MessageBoxObserver*>& observers() {
  static std::vector<MessageBoxObserver*> list;
  return list;
}

std::function<void(const std::string&)>& acknowledgeHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

}  // namespace

const char* messageBoxKindName(MessageBoxKind kind) {
  switch (kind) {
    case MessageBoxKind::Stop:
      return "stop";
    case MessageBoxKind::Information:
      return "info";
    case MessageBoxKind::Question:
      return "question";
  }
  return "info";
}

void addMessageBoxObserver(MessageBoxObserver* observer) {
  if (observer) observers().push_back(observer);
}

void removeMessageBoxObserver(MessageBoxObserver* observer) {
  std::erase(observers(), observer);
}

void setAcknowledgeHook(std::function<void(const std::string&)> hook) {
  acknowledgeHook() = std::move(hook);
}

MessageBoxAnswer messageBox(DialogWindow& window, const std::string& text, MessageBoxKind kind) {
  // Copies, so that an observer may remove itself while it is told.
  for (MessageBoxObserver* observer : std::vector(observers()))
    observer->messageBoxShown(kind, text);
  const MessageBoxAnswer answer = window.showMessageBox(text, kMessageBoxCaption, kind);
  for (MessageBoxObserver* observer : std::vector(observers())) {
    observer->messageBoxAnswered(kind, text, answer);
  }
  if (answer != MessageBoxAnswer::No && acknowledgeHook()) acknowledgeHook()(text);
  return answer;
}

void askQuestion(DialogWindow& window, const std::string& text,
                 std::function<void(MessageBoxAnswer)> answered) {
  for (MessageBoxObserver* observer : std::vector(observers()))
    observer->messageBoxShown(MessageBoxKind::Question, text);
  window.askQuestion(text, kMessageBoxCaption,
                     [text, answered = std::move(answered)](MessageBoxAnswer answer) {
                       for (MessageBoxObserver* observer : std::vector(observers())) {
                         observer->messageBoxAnswered(MessageBoxKind::Question, text, answer);
                       }
                       if (answer == MessageBoxAnswer::Yes && acknowledgeHook())
                         acknowledgeHook()(text);
                       answered(answer);
                     });
}

}  // namespace ui
