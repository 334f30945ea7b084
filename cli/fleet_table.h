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
// so that the step fits, down to the width that still tells the ports apart (distinctPort,
// see distinctPortWidth); where even that is too little, the rate, the time left and the
// instrument go, in that order. State and percent keep their width; the step has the rest.
struct TableLayout {
  size_t port = 0;
  size_t leftWidth = 0;  // the time left's column: wider for times of an hour and more
  bool instrument = true, rate = true, left = true;
};
TableLayout tableLayout(size_t columns, size_t longestPort, size_t distinctPort, size_t longestStep,
                        size_t longestLeft);

// Columns that a text (valid UTF-8, as terminal text is) takes: one per character.
size_t textColumns(const std::string& text);
// Cut to a width (the cut marked "...") or filled up to it with blanks; cuts fall between
// characters.
std::string fitText(const std::string& text, size_t width);
// A time in whole seconds as the progress line writes it: "m:ss", "h:mm:ss" from an hour on.
std::string clockText(double seconds);

// Port names as the terminal shows them, each fitted to `width` columns (filled up with
// blanks). A longer name is cut in its middle, the cut marked "...", never at its end: the
// head and the tail it keeps are chosen so that each name keeps a character in which it
// differs from every other name of the list (by-id links that differ only in the adapter's
// serial number stay apart), as near to an even split as that allows.
std::vector<std::string> fitPortNames(const std::vector<std::string>& names, size_t width);
// The narrowest width at which fitPortNames keeps every name apart; the longest name's
// length at most.
size_t distinctPortWidth(const std::vector<std::string>& names);

// The live table for a terminal with `columns` usable columns: the header, then a row per
// port. longestStep: the longest step of the run so far, so that the port column only
// narrows as the run goes on.
std::vector<std::string> liveTableLines(const std::vector<FleetRow>& rows, size_t columns,
                                        size_t longestStep);

class FleetTable {
 public:
  // The table is redrawn at most this often.
  static constexpr int kRedrawMs = 200;

  explicit FleetTable(int outputFd);
  // A terminal wide enough for the live table; elsewhere plain lines.
  bool live() const { return m_live; }
  // The columns a line may fill without wrapping on a terminal; 0 elsewhere (no limit).
  size_t lineColumns() const;
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
  size_t terminalWidth() const;

  int m_fd;
  bool m_terminal = false;
  bool m_live = false;
  size_t m_longestStep = 0;  // so far: the port column only narrows as the run goes on
  int m_drawnLines = 0;
  bool m_dirty = true;
  std::chrono::steady_clock::time_point m_lastDraw;
};
