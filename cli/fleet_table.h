// What the technician sees while a fleet runs: on a terminal wide enough, a live table with
// one row per port (port, instrument, state, percent, rate, time left, step), redrawn in
// place and never wrapped; elsewhere plain lines, one per step and one per outcome.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "cli/fleet.h"

// The port column at its widest; a longer port name is cut in its middle.
inline constexpr size_t kMaxPortWidth = 44;

// Which columns of the live table a terminal's width holds. The port column gives way first
// so that the step fits; where even that is too little, the rate, the time left and the
// instrument go, in that order. State and percent keep their width; the step has the rest.
struct TableLayout {
  size_t port = 0;
  size_t leftWidth = 0;  // the time left's column: wider for times of an hour and more
  bool instrument = true, rate = true, left = true;
};
TableLayout tableLayout(size_t columns, size_t longestPort, size_t longestStep, size_t longestLeft);

// Cut to a width (the cut marked "...") or filled up to it with blanks.
std::string fitText(const std::string& text, size_t width);
// A time in whole seconds as the progress line writes it: "m:ss", "h:mm:ss" from an hour on.
std::string clockText(double seconds);

class FleetTable {
 public:
  // The table is redrawn at most this often.
  static constexpr int kRedrawMs = 200;

  explicit FleetTable(int outputFd);
  // A terminal wide enough for the live table; elsewhere plain lines.
  bool live() const { return m_live; }
  void say(const std::string& text) const;

  // Something the table shows has changed.
  void changed() { m_dirty = true; }
  bool dirty() const { return m_dirty; }
  // The plain line of a row's new step, or of its end (nothing where the table is live).
  void sayStep(const FleetRow& row) const;
  void sayEnd(const FleetRow& row) const;

  // Draws the table with `prompt` on the line below it when something changed and the last
  // drawing is old enough, or at once with `force`.
  void draw(const std::vector<FleetRow>& rows, const std::string& prompt, bool force);
  // The line below the table moved down by one (the line feed of an answer typed there).
  void lineAdded() { m_drawnLines += 1; }

 private:
  struct Cells {
    std::string port, instrument, state, percent, rate, left, step;
  };
  static Cells cellsOf(const FleetRow& row);
  std::string tableLine(const Cells& cells) const;
  size_t terminalWidth() const;

  int m_fd;
  bool m_live = false;
  size_t m_columns = 0;  // usable width of the terminal
  TableLayout m_layout;
  size_t m_longestStep = 0;  // so far: the port column only narrows as the run goes on
  int m_drawnLines = 0;
  bool m_dirty = true;
  std::chrono::steady_clock::time_point m_lastDraw;
};
