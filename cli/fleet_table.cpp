#include "cli/fleet_table.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "platform/terminal.h"
#include "platform/time_text.h"
#include "platform/utf8_text.h"
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

// The characters of a text, each as the bytes of its UTF-8 sequence (terminal text is valid
// UTF-8: printablePortName escapes every other byte; a stray byte counts alone).
std::vector<std::string_view> charactersOf(const std::string& text) {
  std::vector<std::string_view> characters;
  for (size_t at = 0; at < text.size();) {
    const size_t length = std::max<size_t>(platform::utf8Sequence(text, at), 1);
    characters.push_back(std::string_view(text).substr(at, length));
    at += length;
  }
  return characters;
}

std::string joined(const std::vector<std::string_view>& characters, size_t from, size_t to) {
  std::string text;
  for (size_t i = from; i < to; ++i) text += characters[i];
  return text;
}

// What a name has in common with one other name: characters alike at its start and at its
// end. A cut name stays apart from that one when its head is longer than `prefix` or its
// tail longer than `suffix`.
struct Overlap {
  size_t prefix = 0, suffix = 0;
};

std::vector<Overlap> overlapsWithOthers(const std::vector<std::vector<std::string_view>>& names,
                                        size_t index) {
  const std::vector<std::string_view>& name = names[index];
  std::vector<Overlap> overlaps;
  for (size_t other = 0; other < names.size(); ++other) {
    const std::vector<std::string_view>& rival = names[other];
    if (other == index || rival == name) continue;  // the same text cannot be told apart
    const size_t shorter = std::min(name.size(), rival.size());
    Overlap overlap;
    while (overlap.prefix < shorter && name[overlap.prefix] == rival[overlap.prefix]) {
      ++overlap.prefix;
    }
    while (overlap.suffix < shorter &&
           name[name.size() - 1 - overlap.suffix] == rival[rival.size() - 1 - overlap.suffix]) {
      ++overlap.suffix;
    }
    overlaps.push_back(overlap);
  }
  return overlaps;
}

size_t namesKeptApart(const std::vector<Overlap>& overlaps, size_t head, size_t tail) {
  return static_cast<size_t>(std::count_if(overlaps.begin(), overlaps.end(), [&](const Overlap& o) {
    return head > o.prefix || tail > o.suffix;
  }));
}

// The head of a name cut to `kept` characters (the tail has the rest): the one nearest to an
// even split that keeps it apart from every other name, else the one that keeps it apart
// from the most.
size_t headLength(const std::vector<Overlap>& overlaps, size_t kept) {
  const size_t even = kept / 2;
  size_t best = even;
  size_t bestApart = namesKeptApart(overlaps, even, kept - even);
  for (size_t distance = 0; distance <= kept && bestApart < overlaps.size(); ++distance) {
    for (const bool shorter : {true, false}) {
      if (shorter ? distance > even : even + distance > kept) continue;
      const size_t head = shorter ? even - distance : even + distance;
      const size_t apart = namesKeptApart(overlaps, head, kept - head);
      if (apart > bestApart) {
        best = head;
        bestApart = apart;
        if (apart == overlaps.size()) break;
      }
    }
  }
  return best;
}

// Every column but the step, and its blank.
struct Cells {
  std::string port, instrument, state, percent, rate, left, step;
};

std::string instrumentOf(const FleetRow& row) {
  std::string instrument = row.model;
  if (!row.serial.empty()) instrument += (instrument.empty() ? "" : " ") + row.serial;
  return instrument;
}

Cells cellsOf(const FleetRow& row) {
  Cells cells;
  cells.port = serial::printablePortName(row.port);
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

// A line of the table; cells.port is fitted to its column already.
std::string tableLine(const Cells& cells, const TableLayout& layout, size_t columns) {
  std::string text = cells.port + " ";
  if (layout.instrument) text += fitText(cells.instrument, kInstrumentWidth) + " ";
  text += fitText(cells.state, kStateWidth) + " " + fitText(cells.percent, kPercentWidth) + " ";
  if (layout.rate) text += fitText(cells.rate, kRateWidth) + " ";
  if (layout.left) text += fitText(cells.left, layout.leftWidth) + " ";
  // The last column: a long step is cut at the terminal's edge, never wrapped.
  const size_t used = textColumns(text);
  const size_t room = columns > used ? columns - used : 0;
  return text + (textColumns(cells.step) > room ? fitText(cells.step, room) : cells.step);
}

}  // namespace

TableLayout tableLayout(size_t columns, size_t longestPort, size_t distinctPort, size_t longestStep,
                        size_t longestLeft) {
  TableLayout layout;
  layout.leftWidth = std::max(kLeftWidth, longestLeft);
  // Narrower than this, two ports could read alike.
  const size_t portFloor = std::min(longestPort, std::max(kMinPortWidth, distinctPort));
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
    // The floor may leave the step less than its least, never the line wider than the
    // terminal.
    layout.port = std::min(std::max(std::min(longestPort, portRoom), portFloor), portAndStep);
    break;
  }
  return layout;
}

size_t textColumns(const std::string& text) {
  return charactersOf(text).size();
}

std::string fitText(const std::string& text, size_t width) {
  const size_t columns = textColumns(text);
  if (columns <= width) return text + std::string(width - columns, ' ');
  const std::vector<std::string_view> characters = charactersOf(text);
  if (width < 3) return joined(characters, 0, width);
  return joined(characters, 0, width - 3) + "...";
}

std::string clockText(double seconds) {
  return platform::progressDurationText(static_cast<int64_t>(std::llround(std::max(0.0, seconds))));
}

std::vector<std::string> fitPortNames(const std::vector<std::string>& names, size_t width) {
  std::vector<std::vector<std::string_view>> characters;
  for (const std::string& name : names) characters.push_back(charactersOf(name));
  std::vector<std::string> fitted;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::vector<std::string_view>& name = characters[i];
    // Too narrow for a head or a tail beside the mark: cut at the end.
    if (name.size() <= width || width < 4) {
      fitted.push_back(fitText(names[i], width));
      continue;
    }
    const size_t kept = width - 3;
    const size_t head = headLength(overlapsWithOthers(characters, i), kept);
    fitted.push_back(joined(name, 0, head) + "..." +
                     joined(name, name.size() - (kept - head), name.size()));
  }
  return fitted;
}

size_t distinctPortWidth(const std::vector<std::string>& names) {
  std::vector<std::vector<std::string_view>> characters;
  for (const std::string& name : names) characters.push_back(charactersOf(name));
  size_t widest = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::vector<std::string_view>& name = characters[i];
    const std::vector<Overlap> overlaps = overlapsWithOthers(characters, i);
    // A head of h characters keeps the name apart from those it shares fewer with at the
    // start; the tail must do it for the rest. The heads worth trying end just after a
    // shared start.
    std::vector<size_t> heads = {0};
    for (const Overlap& overlap : overlaps) heads.push_back(overlap.prefix + 1);
    size_t needed = name.size();
    for (const size_t head : heads) {
      size_t tail = 0;
      for (const Overlap& overlap : overlaps) {
        if (overlap.prefix >= head) tail = std::max(tail, overlap.suffix + 1);
      }
      needed = std::min(needed, head + 3 + tail);
    }
    widest = std::max(widest, needed);
  }
  return widest;
}

std::vector<std::string> liveTableLines(const std::vector<FleetRow>& rows, size_t columns,
                                        size_t longestStep) {
  std::vector<Cells> cells;
  std::vector<std::string> ports;
  size_t longestPort = 4, longestLeft = 0;
  for (const FleetRow& row : rows) {
    cells.push_back(cellsOf(row));
    ports.push_back(cells.back().port);
    longestPort = std::max(longestPort, textColumns(ports.back()));
    longestLeft = std::max(longestLeft, cells.back().left.size());
    longestStep = std::max(longestStep, textColumns(row.step));
  }
  const size_t distinct = distinctPortWidth(ports);
  const TableLayout layout =
      tableLayout(columns, std::min(longestPort, std::max(kMaxPortWidth, distinct)), distinct,
                  longestStep, longestLeft);
  const std::vector<std::string> fitted = fitPortNames(ports, layout.port);
  std::vector<std::string> lines;
  lines.push_back(
      tableLine({fitText("PORT", layout.port), "INSTRUMENT", "STATE", "%", "RATE", "LEFT", "STEP"},
                layout, columns));
  for (size_t i = 0; i < cells.size(); ++i) {
    cells[i].port = fitted[i];
    lines.push_back(tableLine(cells[i], layout, columns));
  }
  return lines;
}

FleetTable::FleetTable(int outputFd) : m_fd(outputFd) {
  m_terminal = platform::isTerminal(outputFd);
  m_live = m_terminal && terminalWidth() >= kMinTableColumns;
}

size_t FleetTable::lineColumns() const {
  // The last column stays free: a line that fills the width would wrap on some terminals.
  return m_terminal ? std::max(terminalWidth(), size_t{2}) - 1 : 0;
}

void FleetTable::say(const std::string& text) const {
  platform::writeOutput(m_fd, text);
}

void FleetTable::sayStep(const FleetRow& row) const {
  if (!m_live) say(serial::printablePortName(row.port) + ": " + row.step + "\n");
}

void FleetTable::sayEnd(const FleetRow& row) const {
  if (m_live) return;
  std::string line = serial::printablePortName(row.port) + ": " + row.outcome;
  if (!row.why.empty()) line += " (" + row.why + ")";
  say(line + "\n");
}

size_t FleetTable::terminalWidth() const {
  const int columns = platform::terminalColumns(m_fd);
  return columns > 0 ? static_cast<size_t>(columns) : kAssumedColumns;
}

void FleetTable::draw(const std::vector<FleetRow>& rows, const std::string& prompt, bool force) {
  if (!m_live) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && (!m_dirty || now - m_lastDraw < std::chrono::milliseconds(kRedrawMs))) return;
  for (const FleetRow& row : rows) m_longestStep = std::max(m_longestStep, textColumns(row.step));
  // The last column stays free: a line that fills the width would wrap on some terminals.
  const size_t columns = std::max(terminalWidth(), kMinTableColumns) - 1;
  const std::vector<std::string> lines = liveTableLines(rows, columns, m_longestStep);
  std::string out;
  if (m_drawnLines > 0) out += "\r\x1b[" + std::to_string(m_drawnLines) + "A";
  for (const std::string& line : lines) out += "\r\x1b[2K" + line + "\n";
  m_drawnLines = static_cast<int>(lines.size());
  out += "\r\x1b[2K" + prompt;
  say(out);
  m_dirty = false;
  m_lastDraw = now;
}
