#include "frontends/console/console_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <utility>

#include "platform/clock.h"
#include "platform/message_pump.h"
#include "platform/requests.h"
#include "platform/terminal.h"
#include "run/run_progress.h"

namespace ui {
namespace {

bool takeInterrupt() {
  return platform::takeRequest(platform::Request::Interrupt);
}

// Plain progress lines come at most this often in real time.
constexpr std::chrono::milliseconds kPlainProgressGap{250};
constexpr const char* kQuestionPrompt = "Yes or no? [y/n] ";

const char* answerEcho(MessageBoxAnswer answer) {
  return answer == MessageBoxAnswer::No    ? "no\n"
         : answer == MessageBoxAnswer::Yes ? "yes\n"
                                           : "OK\n";
}

// A second request to end ends the program within this time even where no pump comes.
constexpr unsigned kEndGraceSeconds = 2;

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
constexpr int kBusyCells = 10;
constexpr int kTransferCells = 20;
constexpr size_t kDefaultColumns = 80;

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

// Terminal rows a printed line takes at this width (tabs to the next multiple of 8, UTF-8
// sequences as one column).
int rowsFor(const std::string& text, size_t columns) {
  size_t column = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) == 0x80) continue;
    column = c == '\t' ? (column / 8 + 1) * 8 : column + 1;
  }
  if (columns == 0 || column == 0) return 1;
  return static_cast<int>((column + columns - 1) / columns);
}

// Statistics texts as one line: tabs and runs of blanks become one blank.
std::string compactText(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\t';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

std::string formatProgressLine(const ProgressLine& line, size_t width) {
  std::string out;
  char buffer[64];
  if (line.busyPos >= 0) {
    const int filled = std::clamp(line.busyPos, 0, 99) * kBusyCells / 100 + 1;
    out += '[';
    for (int i = 0; i < kBusyCells; ++i) out += i < filled ? '#' : ' ';
    out += ']';
  }
  if (line.percent >= 0) {
    const int percent = std::clamp(line.percent, 0, 100);
    const int filled = percent * kTransferCells / 100;
    if (!out.empty()) out += ' ';
    out += '[';
    for (int i = 0; i < kTransferCells; ++i) {
      out += i < filled ? '=' : (i == filled && percent > 0 ? '>' : ' ');
    }
    std::snprintf(buffer, sizeof buffer, "] %3d %%", percent);
    out += buffer;
  }
  if (line.bytesPerSecond >= 0) {
    if (line.bytesPerSecond >= 1000) {
      std::snprintf(buffer, sizeof buffer, "  %.1f kB/s", line.bytesPerSecond / 1000);
    } else {
      std::snprintf(buffer, sizeof buffer, "  %.0f B/s", line.bytesPerSecond);
    }
    out += buffer;
  }
  if (line.secondsLeft >= 0) {
    const int64_t s = std::min<int64_t>(line.secondsLeft, 99 * 3600 + 3599);
    if (s >= 3600) {
      std::snprintf(buffer, sizeof buffer, "  %d:%02d:%02d left", static_cast<int>(s / 3600),
                    static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    } else {
      std::snprintf(buffer, sizeof buffer, "  %d:%02d left", static_cast<int>(s / 60),
                    static_cast<int>(s % 60));
    }
    out += buffer;
  }
  if (!line.statistics.empty()) out += "  " + line.statistics;
  if (out.size() > width) out.resize(width);
  return out;
}

class ConsoleWindow;

struct ConsoleHost::Impl {
  explicit Impl(ConsoleOptions o) : options(std::move(o)) {
    outputTerminal = platform::isTerminal(options.outputFd);
    inputTerminal = platform::isTerminal(options.inputFd);
  }

  ConsoleOptions options;
  bool outputTerminal = false;
  bool inputTerminal = false;

  std::vector<ConsoleWindow*> windows;  // innermost last
  std::deque<std::function<void()>> posted;
  // While the outermost dialog runs: the requests to stop, and output nobody reads.
  std::unique_ptr<platform::RequestCatcher> requests;
  std::unique_ptr<platform::ClosedOutputTolerated> closedOutput;
  // Requests to end the program since the outermost dialog started: the second one ends it.
  int terminationsTaken = 0;

  // Output waiting to be written, and what the terminal shows at its bottom.
  std::string pending;
  bool progressShown = false;
  std::string progressText;
  // The last list line printed, while nothing else has been printed below it.
  int lastLineControl = -1;
  int lastLineRows = 0;

  // The moved bytes, sampled at the timer's ticks: the rate and the time left.
  ProgressMeter progressMeter;

  bool interactive() const { return inputTerminal && outputTerminal && !options.assumeYes; }

  size_t columns() const {
    const int columns = platform::terminalColumns(options.outputFd);
    return columns > 0 ? static_cast<size_t>(columns) : kDefaultColumns;
  }

  void flush() {
    std::fflush(stdout);
    // Output gone (a closed pipe): the run itself goes on.
    if (!pending.empty()) platform::writeOutput(options.outputFd, pending);
    pending.clear();
  }

  // Output other than the progress line goes above it: take it away first...
  void beginOutput() {
    if (progressShown) {
      pending += "\r\x1b[K";
      progressShown = false;
    }
  }
  // ... and put it back after, while a timer still runs.
  void endOutput();

  void printListLine(int controlId, const std::string& text) {
    beginOutput();
    pending += text;
    pending += '\n';
    lastLineControl = controlId;
    lastLineRows = rowsFor(text, columns());
    endOutput();
  }

  // The last line of a list was deleted: on a terminal, take it off the screen too when it
  // is the last thing printed, so that its replacement takes its place.
  void unprintListLine(int controlId) {
    if (!outputTerminal || lastLineControl != controlId) return;
    beginOutput();
    for (int row = 0; row < lastLineRows; ++row) pending += "\x1b[1A\r\x1b[2K";
    lastLineControl = -1;
    // The progress line comes back below the replacement that follows at once (or with
    // the next tick), not in the emptied row.
    flush();
  }

  void forgetLastLine() { lastLineControl = -1; }

  // The question of askQuestion while it is open.
  struct OpenQuestion {
    bool open = false;
    std::function<void(MessageBoxAnswer)> answered;
    std::unique_ptr<platform::RawKeys> keys;
  } question;

  // A request to end came and was not taken yet.
  bool terminationPending() const {
    return platform::pendingRequests(platform::Request::Termination) > 0;
  }
  // Takes the requests to end: true when one came; a second one since the outermost dialog
  // started ends the program (after the dialogs wrote what must not be lost).
  bool takeTermination() {
    const int taken = platform::takeAllRequests(platform::Request::Termination);
    if (taken == 0) return false;
    terminationsTaken += taken;
    if (terminationsTaken >= 2 && options.catchTermination) endProgram();
    return true;
  }
  // Reads one key without waiting: the answer it gives, if any. False while no key answers;
  // `gone` tells that the input has ended or failed.
  bool readAnswer(bool question, MessageBoxAnswer& answer, bool& gone);

  std::string printBoxText(const std::string& text, MessageBoxKind kind);
  MessageBoxAnswer askUser(const std::string& text, MessageBoxKind kind);
  void openQuestion(const std::string& text, std::function<void(MessageBoxAnswer)> answered);
  // Ends the open question: answered (its function called) or, with nullptr, withdrawn.
  void closeQuestion(const MessageBoxAnswer* answer);
  // Reads the open question's answer if a key is there. True when it was answered.
  bool serveQuestion();
  MessageBoxAnswer waitForKey(MessageBoxKind kind);

  bool dispatchOne();
  void deliverInterrupt(ConsoleWindow& window);
  void deliverTermination(ConsoleWindow& window);
  // A second request to end: every dialog hears of it, innermost first; then the program
  // ends by the signal, with the output written and the terminal as it was.
  [[noreturn]] void endProgram();
  void tick(ConsoleWindow& window);
  void drawProgress(ConsoleWindow& window, bool sample);

  // The plain progress line of progressLines: when it changed, or after a second of program
  // time, so that a reader can tell a quiet wait from a hung run; never more often than a
  // reader needs it (in real time: a fast clock would flood the pipe).
  std::string plainProgress;
  uint64_t plainProgressMicros = 0;
  std::chrono::steady_clock::time_point plainProgressShown;
  void printProgressLine(const ProgressLine& line) {
    char text[96];
    std::snprintf(text, sizeof text, "progress %d %.0f %lld\n", line.percent,
                  line.bytesPerSecond < 0 ? -1.0 : line.bytesPerSecond,
                  static_cast<long long>(line.secondsLeft));
    const uint64_t now = platform::clock().nowMicros();
    const auto shown = std::chrono::steady_clock::now();
    if (shown - plainProgressShown < kPlainProgressGap) return;
    if (text == plainProgress && now - plainProgressMicros < 1000000) return;
    plainProgress = text;
    plainProgressMicros = now;
    plainProgressShown = shown;
    forgetLastLine();
    pending += text;
    flush();
  }
};

class ConsoleWindow : public DialogWindow {
 public:
  struct Control {
    ControlKind kind = ControlKind::StaticText;
    uint32_t style = 0;
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    std::vector<std::string> items;
    std::vector<int64_t> itemData;
    int topIndex = 0;
    int selection = -1;
    int low = 0, high = 100, pos = 0;
  };
  struct Timer {
    int id;
    uint32_t periodMs;
    uint64_t dueMicros;
  };

  ConsoleWindow(ConsoleHost::Impl& host, ConsoleHost& owner, Dialog& dialog)
      : m_host(host), m_owner(owner), m_dialog(dialog) {
    for (const ControlTemplate& t : dialog.dialogTemplate().controls) {
      if (t.id < 0) continue;
      Control& c = m_controls[t.id];
      c.kind = t.kind;
      c.style = t.style;
      c.text = t.text;
      c.enabled = (t.style & kStyleDisabled) == 0;
      c.visible = (t.style & kStyleHidden) == 0;
    }
  }

  Dialog& dialog() { return m_dialog; }
  bool ended() const { return m_ended; }
  int result() const { return m_result; }
  std::vector<Timer>& timers() { return m_timers; }
  const Control* find(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : &it->second;
  }

  void setText(int id, const std::string& text) override {
    if (Control* c = get(id)) c->text = text;
  }
  std::string text(int id) const override {
    const Control* c = find(id);
    return c ? c->text : std::string();
  }
  void enable(int id, bool enabled) override {
    if (Control* c = get(id)) c->enabled = enabled;
  }
  bool isEnabled(int id) const override {
    const Control* c = find(id);
    return c && c->enabled;
  }
  void show(int id, bool visible) override {
    if (Control* c = get(id)) c->visible = visible;
  }
  bool isVisible(int id) const override {
    const Control* c = find(id);
    return c && c->visible;
  }
  void setCheck(int id, bool checked) override {
    if (Control* c = get(id)) c->checked = checked;
  }
  bool isChecked(int id) const override {
    const Control* c = find(id);
    return c && c->checked;
  }

  void listReset(int id) override {
    Control* c = get(id);
    if (!c) return;
    c->items.clear();
    c->itemData.clear();
    c->topIndex = 0;
    c->selection = -1;
    if (m_host.lastLineControl == id) m_host.forgetLastLine();
  }
  int listAdd(int id, const std::string& text) override {
    Control* c = get(id);
    if (!c) return -1;
    const int index = insert(*c, text);
    if (c->kind == ControlKind::ListBox) m_host.printListLine(id, text);
    return index;
  }
  int listCount(int id) const override {
    const Control* c = find(id);
    return c ? static_cast<int>(c->items.size()) : 0;
  }
  std::string listText(int id, int index) const override {
    const Control* c = find(id);
    if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return {};
    return c->items[static_cast<size_t>(index)];
  }
  void listDelete(int id, int index) override {
    Control* c = get(id);
    if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return;
    const bool last = index + 1 == static_cast<int>(c->items.size());
    c->items.erase(c->items.begin() + index);
    c->itemData.erase(c->itemData.begin() + index);
    if (c->selection == index) {
      c->selection = -1;
    } else if (c->selection > index) {
      --c->selection;
    }
    if (last && c->kind == ControlKind::ListBox) m_host.unprintListLine(id);
  }
  void listSetTopIndex(int id, int index) override {
    Control* c = get(id);
    if (c && index >= 0 && index < std::max<int>(1, static_cast<int>(c->items.size())))
      c->topIndex = index;
  }
  int listTopIndex(int id) const override {
    const Control* c = find(id);
    return c ? c->topIndex : 0;
  }
  void listSetSelection(int id, int index) override {
    Control* c = get(id);
    if (c) c->selection = index >= 0 && index < static_cast<int>(c->items.size()) ? index : -1;
  }
  int listSelection(int id) const override {
    const Control* c = find(id);
    return c ? c->selection : -1;
  }

  void comboReset(int id) override { listReset(id); }
  int comboAdd(int id, const std::string& text) override {
    Control* c = get(id);
    return c ? insert(*c, text) : -1;
  }
  int comboCount(int id) const override { return listCount(id); }
  std::string comboText(int id, int index) const override { return listText(id, index); }
  void comboSetItemData(int id, int index, int64_t data) override {
    Control* c = get(id);
    if (c && index >= 0 && index < static_cast<int>(c->itemData.size()))
      c->itemData[static_cast<size_t>(index)] = data;
  }
  int64_t comboItemData(int id, int index) const override {
    const Control* c = find(id);
    if (!c || index < 0 || index >= static_cast<int>(c->itemData.size())) return -1;
    return c->itemData[static_cast<size_t>(index)];
  }
  void comboSetSelection(int id, int index) override { listSetSelection(id, index); }
  int comboSelection(int id) const override { return listSelection(id); }

  void progressSetRange(int id, int low, int high) override {
    if (Control* c = get(id)) {
      c->low = low;
      c->high = high;
    }
  }
  void progressSetPos(int id, int pos) override {
    if (Control* c = get(id)) c->pos = std::clamp(pos, c->low, std::max(c->low, c->high));
  }
  int progressPos(int id) const override {
    const Control* c = find(id);
    return c ? c->pos : 0;
  }

  void setTimer(int timerId, uint32_t periodMs) override {
    const uint64_t due = platform::clock().nowMicros() + uint64_t{periodMs} * 1000;
    for (Timer& t : m_timers) {
      if (t.id == timerId) {
        t.periodMs = periodMs;
        t.dueMicros = due;
        return;
      }
    }
    m_timers.push_back({timerId, periodMs, due});
  }
  void killTimer(int timerId) override {
    std::erase_if(m_timers, [timerId](const Timer& t) { return t.id == timerId; });
    if (m_timers.empty()) {
      m_host.beginOutput();
      m_host.flush();
    }
  }
  MessageBoxAnswer showMessageBox(const std::string& text, const std::string& /*caption*/,
                                  MessageBoxKind kind) override {
    return m_host.askUser(text, kind);
  }
  void askQuestion(const std::string& text, const std::string& /*caption*/,
                   std::function<void(MessageBoxAnswer)> answered) override {
    m_host.openQuestion(text, std::move(answered));
  }
  void withdrawQuestion() override { m_host.closeQuestion(nullptr); }
  int runModal(Dialog& dialog) override { return m_owner.runModal(dialog); }
  void endDialog(int result) override {
    m_ended = true;
    m_result = result;
  }
  void repaint() override { m_host.flush(); }
  bool pumpMessages() override {
    bool any = false;
    while (m_host.dispatchOne()) any = true;
    return any;
  }
  void appendSystemMenuItem(int, const std::string&) override {}
  void removeSystemMenuClose() override {}

 private:
  Control* get(int id) {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : &it->second;
  }
  // Appends, or inserts in plain character order into a sorted list.
  static int insert(Control& c, const std::string& text) {
    auto at = c.items.end();
    if (c.style & kStyleSorted) at = std::upper_bound(c.items.begin(), c.items.end(), text);
    const auto index = at - c.items.begin();
    c.items.insert(at, text);
    c.itemData.insert(c.itemData.begin() + index, 0);
    if (c.selection >= index) ++c.selection;
    return static_cast<int>(index);
  }

  ConsoleHost::Impl& m_host;
  ConsoleHost& m_owner;
  Dialog& m_dialog;
  std::map<int, Control> m_controls;
  std::vector<Timer> m_timers;
  bool m_ended = false;
  int m_result = 0;
};

void ConsoleHost::Impl::endOutput() {
  if (outputTerminal && !windows.empty() && !windows.back()->timers().empty() &&
      !progressText.empty()) {
    pending += "\r" + progressText + "\x1b[K";
    progressShown = true;
  }
  flush();
}

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
  if (!interactive()) {
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

void ConsoleHost::Impl::deliverTermination(ConsoleWindow& window) {
  // Nobody may be left to answer: boxes from now on are answered at once.
  options.assumeYes = true;
  closeQuestion(nullptr);
  if (!window.dialog().onSystemCommand(kSysCommandTerminate)) window.dialog().onCancel();
}

void ConsoleHost::Impl::endProgram() {
  // On the way out now: the record's append is bounded by its own lock wait.
  platform::cancelEndGrace();
  closeQuestion(nullptr);
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    (*it)->dialog().onSystemCommand(kSysCommandTerminateNow);
  }
  beginOutput();
  flush();
  platform::endAsRequested();
}

void ConsoleHost::Impl::deliverInterrupt(ConsoleWindow& window) {
  const int id = options.interruptControlId;
  const ConsoleWindow::Control* control = id >= 0 ? window.find(id) : nullptr;
  if (control && control->enabled && control->visible) {
    window.dialog().onCommand(id, Notification::Clicked);
  } else {
    window.dialog().onCancel();
  }
}

bool ConsoleHost::Impl::dispatchOne() {
  if (windows.empty()) return false;
  ConsoleWindow& window = *windows.back();
  if (window.ended()) return false;
  if (takeTermination()) {
    deliverTermination(window);
    return true;
  }
  if (serveQuestion()) return true;
  if (takeInterrupt()) {
    deliverInterrupt(window);
    return true;
  }
  const uint64_t now = platform::clock().nowMicros();
  for (const ConsoleWindow::Timer& timer : window.timers()) {
    if (now < timer.dueMicros) continue;
    const int id = timer.id;
    window.dialog().onTimer(id);
    // The handler may have killed or restarted it; the next tick is one period after this.
    for (ConsoleWindow::Timer& t : window.timers()) {
      if (t.id == id) t.dueMicros = platform::clock().nowMicros() + uint64_t{t.periodMs} * 1000;
    }
    drawProgress(window, true);
    return true;
  }
  return false;
}

void ConsoleHost::Impl::drawProgress(ConsoleWindow& window, bool sample) {
  const bool plainLines = options.progressLines && !outputTerminal;
  if ((!outputTerminal && !plainLines) || window.timers().empty()) return;
  ProgressLine line;
  if (const ConsoleWindow::Control* busy = window.find(options.busyBarId)) {
    const int span = std::max(1, busy->high - busy->low);
    line.busyPos = (busy->pos - busy->low) * 100 / span;
  }
  if (const ConsoleWindow::Control* bar = window.find(options.transferBarId)) {
    const int span = std::max(1, bar->high - bar->low);
    line.percent = (bar->pos - bar->low) * 100 / span;
  }
  for (int id : options.statisticsIds) {
    const std::string text = compactText(window.text(id));
    if (text.empty()) continue;
    if (!line.statistics.empty()) line.statistics += "  ";
    line.statistics += text;
  }
  if (options.transferredBytes) {
    // The shared measure of the run's progress, on the program's clock.
    const uint64_t now = platform::clock().nowMicros();
    if (sample) progressMeter.sample(now, options.transferredBytes(), line.percent);
    const ProgressNumbers numbers = progressMeter.numbers(now);
    line.bytesPerSecond = numbers.bytesPerSecond;
    line.secondsLeft = numbers.secondsLeft;
  }
  if (plainLines) {
    printProgressLine(line);
    return;
  }
  const size_t width = columns();
  const std::string text = formatProgressLine(line, width > 1 ? width - 1 : width);
  if (progressShown && text == progressText) return;
  progressText = text;
  pending += "\r" + progressText + "\x1b[K";
  progressShown = true;
  flush();
}

ConsoleHost::ConsoleHost(ConsoleOptions options)
    : m_impl(std::make_unique<Impl>(std::move(options))) {}

ConsoleHost::~ConsoleHost() = default;

bool ConsoleHost::interactive() const {
  return m_impl->interactive();
}

bool ConsoleHost::outputIsTerminal() const {
  return m_impl->outputTerminal;
}

void ConsoleHost::requestInterrupt() {
  platform::postRequest(platform::Request::Interrupt);
}

void ConsoleHost::postCommand(int controlId) {
  post([this, controlId] {
    if (m_impl->windows.empty()) return;
    ConsoleWindow& window = *m_impl->windows.front();
    window.dialog().onCommand(controlId, Notification::Clicked);
  });
}

void ConsoleHost::post(std::function<void()> action) {
  m_impl->posted.push_back(std::move(action));
}

int ConsoleHost::runModal(Dialog& dialog) {
  Impl& impl = *m_impl;
  const bool outermost = impl.windows.empty();
  auto window = std::make_unique<ConsoleWindow>(impl, *this, dialog);
  if (outermost) {
    // A request to end the program stops the run at its next pump, as a confirmed cancel,
    // so that it ends with its lines; a second one ends the program once the dialogs wrote
    // what must not be lost, a third (or the grace time over) at once.
    impl.requests = std::make_unique<platform::RequestCatcher>(
        platform::RequestCatching{.interrupt = impl.options.catchInterrupt,
                                  .termination = impl.options.catchTermination,
                                  .secondTerminationEnds = impl.options.catchTermination,
                                  .secondTerminationGraceSeconds = kEndGraceSeconds});
    // Output that nobody reads any more (a pager or `head` that has quit) must not end the
    // program in the middle of programming a flash: the run goes on without its output.
    impl.closedOutput = std::make_unique<platform::ClosedOutputTolerated>();
    impl.terminationsTaken = 0;
    platform::setMessagePumpHook([&impl] { return impl.dispatchOne(); });
    // The reboot wait draws the progress line at each of its tries, so that a
    // reader of the plain lines (the fleet) can tell a long quiet wait from a hung run.
    setBoundedWaitHook([&impl] {
      if (!impl.windows.empty()) impl.drawProgress(*impl.windows.back(), false);
    });
  }
  impl.windows.push_back(window.get());
  dialog.m_window = window.get();
  dialog.onInitDialog();

  // Only the outermost dialog gets the queued work; one opened from it has nobody to
  // answer it in a console and ends with its cancel command.
  while (!window->ended()) {
    if (impl.takeTermination()) {
      impl.deliverTermination(*window);
      continue;
    }
    if (takeInterrupt()) {
      impl.deliverInterrupt(*window);
      continue;
    }
    if (outermost && !impl.posted.empty()) {
      std::function<void()> action = std::move(impl.posted.front());
      impl.posted.pop_front();
      action();
      continue;
    }
    dialog.onCancel();
    if (!window->ended()) window->endDialog(kIdCancel);
  }

  impl.closeQuestion(nullptr);
  impl.beginOutput();
  impl.flush();
  dialog.onDestroy();
  dialog.m_window = nullptr;
  impl.windows.pop_back();
  if (outermost) {
    platform::setMessagePumpHook({});
    setBoundedWaitHook({});
    // The next dialog starts counting the requests afresh.
    impl.closedOutput.reset();
    impl.requests.reset();
    impl.terminationsTaken = 0;
    impl.posted.clear();
    impl.forgetLastLine();
  }
  return window->result();
}

}  // namespace ui
