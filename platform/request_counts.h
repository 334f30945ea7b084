// The counts of requests to stop, which every system's catcher of requests keeps the same
// way: its handler (a signal handler, a console handler's thread) counts through these and
// does the system's part itself (waking the waits, putting the terminal back, ending the
// program). Every operation is lock-free and safe in a signal handler.
#pragma once

#include "platform/requests.h"

namespace platform::request_counts {

// Counts an interrupt, up to the pending interrupts a program keeps.
void countInterrupt();

// What the request to end that was just counted asks of the handler.
struct TerminationCounted {
  bool endNow = false;      // end the program at once, as the system would have
  bool startGrace = false;  // put the terminal back and end in graceSeconds
  unsigned graceSeconds = 0;
};
// Counts a request to end from outside; a second (third) one may end the program (see
// RequestCatching).
TerminationCounted countTermination();

// A request the program posted itself: counted, never ending the program.
void countPosted(Request kind);

// The settings a catcher replaces while it lives.
struct CatchSettings {
  bool secondTerminationEnds = false;
  unsigned graceSeconds = 0;
};
// A catcher begins with `catching`: `replaced` gets the settings before it. True for the
// first of the catchers that are alive.
bool beginCatching(const RequestCatching& catching, CatchSettings& replaced);
// A catcher ends and puts back the settings it replaced. True when it was the last one: the
// counts are back at zero, so that the requests of a run that has ended are not left for
// the next one.
bool endCatching(const CatchSettings& replaced);

}  // namespace platform::request_counts
