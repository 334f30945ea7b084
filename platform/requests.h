// Requests from outside the program to stop: the interrupt (Ctrl-C) and the request to
// end (SIGTERM and SIGHUP; Ctrl-Break and the closing of the console on Windows). While
// they are caught, a request only counts up here and wakes the waits of the platform
// (waitForInput, waitForChildren); the program's pump takes it and acts on it at a point
// where stopping is safe.
#pragma once

namespace platform {

enum class Request { Interrupt, Termination };

struct RequestCatching {
  bool interrupt = true;    // catch Ctrl-C
  bool termination = true;  // catch the request to end
  // A second request to end (the first taken or not) ends the program at once as the
  // system would have, after putting the terminal back as it was: the way out of a program
  // that hangs in its stopping.
  bool secondTerminationEnds = false;
  // With secondTerminationEnds: the second request only puts the terminal back and leaves
  // the program this many seconds to end by itself (endAsRequested, after writing what must
  // not be lost) before it ends as the system would have; a third ends it at once. 0: the
  // second ends it at once.
  unsigned secondTerminationGraceSeconds = 0;
};

// Catches the requests while the object lives; the previous handling comes back after,
// and when no other catcher is left the counts go back to zero (a request the program
// posted before catching began still counts). Catchers nest (last made, first gone).
class RequestCatcher {
 public:
  explicit RequestCatcher(const RequestCatching& catching);
  ~RequestCatcher();
  RequestCatcher(const RequestCatcher&) = delete;
  RequestCatcher& operator=(const RequestCatcher&) = delete;

 private:
  struct Saved;
  Saved* m_saved;
};

// Requests of a kind that came and were not taken yet (interrupts count up to 16).
int pendingRequests(Request kind);
// Takes one request of the kind: true when there was one.
bool takeRequest(Request kind);
// Takes every request of the kind: how many there were.
int takeAllRequests(Request kind);
// A request made by the program itself (a Cancel key of its own), counted and waking the
// waits like one from outside.
void postRequest(Request kind);

// The program is ending on a second request to end: the grace time stops counting, so that
// what is written now is not cut off (its own waits are bounded).
void cancelEndGrace();
// Ends the program as the last request to end would have ended it (the request to end when
// none came), with the terminal as it was.
[[noreturn]] void endAsRequested();

}  // namespace platform
