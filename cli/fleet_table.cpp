#include "cli/fleet_table.h"

#include <algorithm>
#include <cmath>

#include "platform/terminal.h"
#include "run/run_progress.h"
#include "serial/com_ports.h"

namespace {

// The live table's columns. Narrower than kMinTableColumns, a terminal gets plain lines.
constexpr size_t kMinTableColumns = 60;
constexpr size_t kMinPortWidth = 8;
constexpr size_t kInstrumentWidth = 12;
constexpr size_t kStateWidth = 10;   // "cancelling"
constexpr size_t kPercentWidth = 5;  // "100 %"
constexpr size_t kRateWidth = 10;
constexpr size_t kLeftWidth = 6;
constexpr size_t kMinStepWidth = 20;
// A terminal that does not tell its width.
constexpr size_t kAssumedColumns = 100;

// Cut to a width in the middle: a port's name differs at its end ("...serial=12",
// "...ttyUSB3") as often as at its start.
std::string fitMiddle(const std::string& text, size_t width) {
  if (text.size() <= width || width < 5) return fitText(text, width);
  const size_t head = (width - 3) / 2;
  return text.substr(0, head) + "..." + text.substr(text.size() - (width - 3 - head));
}

std::string instrumentOf(const FleetRow& row) {
  std::string instrument = row.model;
  if (!row.serial.empty()) instrument += (instrument.empty() ? "" : " ") + row.serial;
  return instrument;
}

}  // namespace

TableLayout tableLayout(size_t columns, size_t longestPort, size_t longestStep,
                        size_t longestLeft) {
  TableLayout layout;
  layout.leftWidth = std::max(kLeftWidth, longestLeft);
  const size_t portFloor = std::min(longestPort, kMinPortWidth);
  for (int dropped = 0; dropped <= 3; ++dropped) {
    layout.rate = dropped < 1;
    layout.left = dropped < 2;
    layout.instrument = dropped < 3;
    // Every column but the step is followed by one blank.
    const size_t fixed = 1 + (kStateWidth + 1) + (kPercentWidth + 1) +
                         (layout.instrument ? kInstrumentWidth + 1 : 0) +
                         (layout.rate ? kRateWidth + 1 : 0) +
                         (layout.left ? layout.leftWidth + 1 : 0);
    const size_t portAndStep = columns > fixed ? columns - fixed : 0;
    if (portAndStep < portFloor + kMinStepWidth && dropped < 3) continue;
    const size_t stepWanted = std::max(kMinStepWidth, longestStep);
    const size_t portRoom = portAndStep > stepWanted ? portAndStep - stepWanted : 0;
    layout.port = std::max(std::min(longestPort, portRoom), portFloor);
    break;
  }
  return layout;
}

std::string fitText(const std::string& text, size_t width) {
  if (text.size() <= width) return text + std::string(width - text.size(), ' ');
  if (width < 3) return text.substr(0, width);
  return text.substr(0, width - 3) + "...";
}

std::string clockText(double seconds) {
  return formatDuration(static_cast<int64_t>(std::llround(std::max(0.0, seconds))));
}

FleetTable::FleetTable(int outputFd) : m_fd(outputFd) {
  m_live = platform::isTerminal(outputFd) && terminalWidth() >= kMinTableColumns;
}

void FleetTable::say(const std::string& text) const {
  platform::writeOutput(m_fd, text);
}

void FleetTable::sayStep(const FleetRow& row) const {
  if (!m_live) say(platform::printablePortName(row.port) + ": " + row.step + "\n");
}

void FleetTable::sayEnd(const FleetRow& row) const {
  if (m_live) return;
  std::string line = platform::printablePortName(row.port) + ": " + row.outcome;
  if (!row.why.empty()) line += " (" + row.why + ")";
  say(line + "\n");
}

size_t FleetTable::terminalWidth() const {
  const int columns = platform::terminalColumns(m_fd);
  return columns > 0 ? static_cast<size_t>(columns) : kAssumedColumns;
}

FleetTable::Cells FleetTable::cellsOf(const FleetRow& row) {
  Cells cells;
  cells.port = platform::printablePortName(row.port);
  cells.instrument = instrumentOf(row);
  if (row.state == FleetRow::State::Running && row.percent >= 0) {
    cells.percent = std::to_string(row.percent) + " %";
    if (row.bytesPerSecond >= 0) cells.rate = formatRate(row.bytesPerSecond);
    if (row.secondsLeft >= 0) cells.left = clockText(static_cast<double>(row.secondsLeft));
  }
  cells.state = row.outcome;
  if (row.state == FleetRow::State::Waiting) cells.state = "waiting";
  if (row.state == FleetRow::State::Running)
    cells.state = row.cancelSent ? "cancelling" : "running";
  cells.step = row.step;
  return cells;
}

std::string FleetTable::tableLine(const Cells& cells) const {
  std::string text = fitMiddle(cells.port, m_layout.port) + " ";
  if (m_layout.instrument) text += fitText(cells.instrument, kInstrumentWidth) + " ";
  text += fitText(cells.state, kStateWidth) + " " + fitText(cells.percent, kPercentWidth) + " ";
  if (m_layout.rate) text += fitText(cells.rate, kRateWidth) + " ";
  if (m_layout.left) text += fitText(cells.left, m_layout.leftWidth) + " ";
  // The last column: a long step is cut at the terminal's edge, never wrapped.
  const size_t room = m_columns > text.size() ? m_columns - text.size() : 0;
  return text + (cells.step.size() > room ? fitText(cells.step, room) : cells.step);
}

void FleetTable::draw(const std::vector<FleetRow>& rows, const std::string& prompt, bool force) {
  if (!m_live) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && (!m_dirty || now - m_lastDraw < std::chrono::milliseconds(kRedrawMs))) return;
  std::vector<Cells> cells;
  size_t longestPort = 4, longestLeft = 0;
  for (const FleetRow& row : rows) {
    cells.push_back(cellsOf(row));
    longestPort = std::max(longestPort, cells.back().port.size());
    longestLeft = std::max(longestLeft, cells.back().left.size());
    m_longestStep = std::max(m_longestStep, row.step.size());
  }
  // The last column stays free: a line that fills the width would wrap on some terminals.
  m_columns = std::max(terminalWidth(), kMinTableColumns) - 1;
  m_layout =
      tableLayout(m_columns, std::min(longestPort, kMaxPortWidth), m_longestStep, longestLeft);
  std::string out;
  if (m_drawnLines > 0) out += "\r\x1b[" + std::to_string(m_drawnLines) + "A";
  out +=
      "\r\x1b[2K" + tableLine({"PORT", "INSTRUMENT", "STATE", "%", "RATE", "LEFT", "STEP"}) + "\n";
  for (const Cells& row : cells) out += "\r\x1b[2K" + tableLine(row) + "\n";
  m_drawnLines = static_cast<int>(rows.size()) + 1;
  out += "\r\x1b[2K" + prompt;
  say(out);
  m_dirty = false;
  m_lastDraw = now;
}
