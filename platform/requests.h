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

}  // namespace platform
