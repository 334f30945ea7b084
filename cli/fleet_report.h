// What a fleet keeps of its runs: each child's record (its own, or one made for a child that
// left none), the summary printed at the end and the JSON report of the whole fleet.
#pragma once

#include <cstddef>
#include <string>

#include "cli/fleet.h"
#include "platform/child_process.h"

// The record of a child run that has ended, into row.record, with the row's outcome,
// instrument and last word. `exit` is how the child ended (as a ChildExit{} when it never
// started); a child ended by a signal gets that as its row's `why`. True when the child
// kept a record of its own, which is in the history already.
bool collectChildRecord(FleetRow& row, const platform::ChildExit& exit);

// The table after the run: port, instrument, outcome, time and result of each row, and how
// many succeeded. With `columns` (a terminal's), no row is wider: the port column narrows
// down to what still tells the ports apart, and a row's end is cut.
std::string fleetSummary(const FleetResult& result, size_t columns = 0);

// Writes the report of the whole fleet to reportFile: empty when done, else why not.
std::string writeFleetReport(const std::string& reportFile, const FleetResult& result);
