// Message boxes and questions on the console: the box's text, and the answer read as
// single keys from the terminal.
#include "frontends/console/console_window.h"

namespace ui {
namespace {

constexpr const char* kQuestionPrompt = "Yes or no? [y/n] ";

const char* answerEcho(MessageBoxAnswer answer) {
  return answer == MessageBoxAnswer::No    ? "no\n"
         : answer == MessageBoxAnswer::Yes ? "yes\n"
                                           : "OK\n";
}

// The answer a key gives: y or n without Enter after it, Enter alone is No (the default) to
// a question and OK to a box without a choice. False for any other key.
bool answerForKey(char c, bool question, MessageBoxAnswer& answer) {
  if (!question) {
    if (c != '\n' && c != '\r') return false;
    answer = MessageBoxAnswer::Ok;
  } else if (c == 'y' || c == 'Y') {
    answer = MessageBoxAnswer::Yes;
  } else if (c == 'n' || c == 'N' || c == '\n' || c == '\r') {
    answer = MessageBoxAnswer::No;
  } else {
    return false;
  }
  return true;
}

// A wait for a key is cut into these slices, so that Ctrl-C is seen even where the signal
// does not interrupt poll().
constexpr int kKeyPollMs = 200;

const char* kindLabel(MessageBoxKind kind) {
  switch (kind) {
    case MessageBoxKind::Stop:
      return "[stop] ";
    case MessageBoxKind::Information:
      return "[info] ";
    case MessageBoxKind::Question:
      return "[question] ";
  }
  return "";
}

}  // namespace

std::string ConsoleHost::Impl::printBoxText(const std::string& text, MessageBoxKind kind) {
  beginOutput();
  forgetLastLine();
  const std::string label = kindLabel(kind);
  const std::string indent(label.size(), ' ');
  size_t start = 0;
  for (bool first = true;; first = false) {
    const size_t end = text.find('\n', start);
    pending += (first ? label : indent) + text.substr(start, end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return indent;
}

MessageBoxAnswer ConsoleHost::Impl::askUser(const std::string& text, MessageBoxKind kind) {
  // A box of its own supersedes an open question.
  closeQuestion(nullptr);
  const std::string indent = printBoxText(text, kind);
  const bool question = kind == MessageBoxKind::Question;
  MessageBoxAnswer answer = question ? MessageBoxAnswer::Yes : MessageBoxAnswer::Ok;
  if (question && !interactive() && !options.assumeYes) {
    // Nobody is there to answer (input or output is no terminal): a question that guards work
    // on the instrument is answered No; only y at a terminal or --assume-yes answer Yes.
    answer = MessageBoxAnswer::No;
    pending += indent + "-> No (no terminal to answer; --assume-yes answers Yes)\n";
  } else if (!interactive()) {
    pending += indent + (question ? "-> Yes\n" : "-> OK\n");
  } else {
    pending += indent + (question ? kQuestionPrompt : "Press Enter ");
    flush();
    answer = waitForKey(kind);
    pending += answerEcho(answer);
  }
  flush();  // the progress line comes back with the next tick
  return answer;
}

void ConsoleHost::Impl::openQuestion(const std::string& text,
                                     std::function<void(MessageBoxAnswer)> answered) {
  closeQuestion(nullptr);
  const std::string indent = printBoxText(text, MessageBoxKind::Question);
  if (!interactive()) {
    pending += indent + "-> Yes\n";
    flush();
    answered(MessageBoxAnswer::Yes);
    return;
  }
  // The run goes on below the question; the terminal takes single keys without echo until
  // it is answered, so that the answer is read by the pump without waiting for it.
  pending += indent + kQuestionPrompt + "\n";
  flush();
  question.answered = std::move(answered);
  question.open = true;
  question.keys = std::make_unique<platform::RawKeys>(options.inputFd);
}

bool ConsoleHost::Impl::readAnswer(bool question, MessageBoxAnswer& answer, bool& gone) {
  gone = false;
  char c = 0;
  const int got = platform::readInput(options.inputFd, &c, 1);
  if (got < 0) return false;
  if (got == 0) {
    gone = true;  // the terminal is gone: answered as without one
    return false;
  }
  return answerForKey(c, question, answer);
}

void ConsoleHost::Impl::closeQuestion(const MessageBoxAnswer* answer) {
  if (!question.open) return;
  question.open = false;
  question.keys.reset();
  beginOutput();
  forgetLastLine();
  const std::string indent(std::string(kindLabel(MessageBoxKind::Question)).size(), ' ');
  pending += indent + (answer ? answerEcho(*answer) : "(withdrawn)\n");
  flush();
  std::function<void(MessageBoxAnswer)> answered = std::move(question.answered);
  question.answered = nullptr;
  if (answer && answered) answered(*answer);
}

bool ConsoleHost::Impl::serveQuestion() {
  if (!question.open) return false;
  if (takeInterrupt()) {
    // Ctrl-C confirms the question.
    const MessageBoxAnswer yes = MessageBoxAnswer::Yes;
    closeQuestion(&yes);
    return true;
  }
  if (platform::waitForInput(options.inputFd, 0) != platform::InputWait::Ready) return false;
  MessageBoxAnswer answer = MessageBoxAnswer::Yes;
  bool gone = false;
  if (!readAnswer(true, answer, gone) && !gone) return false;
  closeQuestion(&answer);
  return true;
}

MessageBoxAnswer ConsoleHost::Impl::waitForKey(MessageBoxKind kind) {
  const bool question = kind == MessageBoxKind::Question;
  const MessageBoxAnswer fallback = question ? MessageBoxAnswer::Yes : MessageBoxAnswer::Ok;
  // One key answers, without Enter after y or n (Enter alone is No, the default), and keys
  // typed before the box was shown
  // are dropped, so that a stray Enter during a long run cannot acknowledge an
  // instruction unread. Ctrl-C keeps raising the signal.
  const platform::RawKeys keys(options.inputFd);
  MessageBoxAnswer answer = fallback;
  for (;;) {
    // A request to end the program answers the box as without a terminal; the pump
    // after it serves the request.
    if (terminationPending()) break;
    if (takeInterrupt()) {
      // Ctrl-C confirms a question; an OK box has only OK, and the press then also
      // clicks at the next pump.
      if (!question) platform::postRequest(platform::Request::Interrupt);
      answer = fallback;
      break;
    }
    const platform::InputWait wait = platform::waitForInput(options.inputFd, kKeyPollMs);
    if (wait == platform::InputWait::Failed) break;
    if (wait != platform::InputWait::Ready) continue;
    bool gone = false;
    if (readAnswer(question, answer, gone)) break;
    if (gone) {
      answer = fallback;
      break;
    }
  }
  return answer;
}

}  // namespace ui
