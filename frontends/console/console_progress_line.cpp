// The progress line at the bottom of the terminal, and the plain progress lines of a run
// whose output is read by a program.
#include <algorithm>

#include "frontends/console/console_window.h"
#include "platform/clock.h"
#include "platform/time_text.h"
#include "run/progress_lines.h"

namespace ui {
namespace {

// Plain progress lines come at most this often in real time.
constexpr std::chrono::milliseconds kPlainProgressGap{250};
constexpr int kBusyCells = 10;
constexpr int kTransferCells = 20;

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

// The plain progress line a fleet reads from a child run.
std::string progressProtocolLine(const ProgressLine& line) {
  return progressReportLine({line.percent, line.bytesPerSecond, line.secondsLeft}) + "\n";
}

}  // namespace

int rowsFor(const std::string& text, size_t columns) {
  size_t column = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) == 0x80) continue;
    column = c == '\t' ? (column / 8 + 1) * 8 : column + 1;
  }
  if (columns == 0 || column == 0) return 1;
  return static_cast<int>((column + columns - 1) / columns);
}

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
  if (line.bytesPerSecond >= 0) out += "  " + formatRate(line.bytesPerSecond);
  if (line.secondsLeft >= 0)
    out += "  " + platform::progressDurationText(line.secondsLeft) + " left";
  if (!line.statistics.empty()) out += "  " + line.statistics;
  if (out.size() > width) out.resize(width);
  return out;
}

void ConsoleHost::Impl::endOutput() {
  if (outputTerminal && !windows.empty() && !windows.back()->timers().empty() &&
      !progressText.empty()) {
    pending += "\r" + progressText + "\x1b[K";
    progressShown = true;
  }
  flush();
}

void ConsoleHost::Impl::printProgressLine(const ProgressLine& line, bool always) {
  const std::string text = progressProtocolLine(line);
  const uint64_t now = platform::clock().nowMicros();
  const auto shown = std::chrono::steady_clock::now();
  if (!always && shown - plainProgressShown < kPlainProgressGap) return;
  if (!always && text == plainProgress && now - plainProgressMicros < 1000000) return;
  plainProgress = text;
  plainProgressMicros = now;
  plainProgressShown = shown;
  forgetLastLine();
  pending += text;
  flush();
}

ProgressLine ConsoleHost::Impl::progressLineOf(ConsoleWindow& window, bool sample) {
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
  return line;
}

void ConsoleHost::Impl::drawProgress(ConsoleWindow& window, bool sample) {
  const bool plainLines = options.progressLines && !outputTerminal;
  if ((!outputTerminal && !plainLines) || window.timers().empty()) return;
  const ProgressLine line = progressLineOf(window, sample);
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

void ConsoleHost::Impl::showProgressEnd(ConsoleWindow& window) {
  const bool plainLines = options.progressLines && !outputTerminal;
  if (!outputTerminal && !plainLines) return;
  const ProgressLine line = progressLineOf(window, true);
  if (plainLines) {
    printProgressLine(line, true);
    return;
  }
  const size_t width = columns();
  beginOutput();
  pending += formatProgressLine(line, width > 1 ? width - 1 : width) + "\n";
  forgetLastLine();
  // A tick that follows draws its line anew below this one.
  progressText.clear();
  endOutput();
}

}  // namespace ui
