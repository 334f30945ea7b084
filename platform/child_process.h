// Child processes whose output the program follows (the fleet's runs): started with their
// standard output and error on one pipe and nothing on their input, in a folder of their
// own; ended on request; and asked to end, as by terminate(), when the program itself dies
// (killed or crashed), so that no child goes on programming an instrument that nobody
// watches, and each ends its run as a cancel that keeps its record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// How a child ended.
struct ChildExit {
  bool exited = false;  // it ended by itself, with exitCode
  int exitCode = -1;
  std::string cause;  // otherwise what ended it: "ended by signal 9 (Killed)"
};

class ChildProcess {
 public:
  ChildProcess() = default;
  // A child still running is killed and waited for.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (a path, not looked up) with the arguments in `folder` (empty: the
  // current one). False, with `why`, when it could not be started: a program that cannot be
  // run fails here, not later.
  bool start(const std::vector<std::string>& argv, const std::string& folder, std::string* why);

  bool running() const { return m_process >= 0; }
  // The system's number of the child, for messages; -1 when none runs.
  int64_t id() const { return m_process; }

  // Output that is there, without waiting (at most maxBytes): the number of bytes, 0 when
  // nothing is there yet, -1 once the output has ended (the child has closed it).
  int readOutput(char* buffer, size_t maxBytes);
  bool outputOpen() const { return m_output >= 0; }
  // The system's handle of the output pipe, for the platform's own waits.
  intptr_t outputHandle() const { return m_output; }

  // Asks the child to end (it may finish its work first: a run cancels as by Cancel). The
  // request reaches this child alone, and its catcher of requests to end (platform/
  // requests.h) sees it: a SIGTERM to its process group on POSIX, an event of its own that
  // it inherits on Windows.
  void terminate();
  // Ends the child at once.
  void kill();
  // Collects the child's end: without waiting (false while it runs) or, with block, waiting
  // until it has ended.
  bool wait(bool block, ChildExit& exit);

  // What the system keeps beside the numbers (on Windows: the process, its job, the event
  // that asks it to end, the handle of this process it watches, the read in progress);
  // nothing on POSIX.
  struct Native;

 private:
  // The system's part of start() (nothing runs yet) and of the end (the child has been
  // waited for).
  bool startNative(const std::vector<std::string>& argv, const std::string& folder,
                   std::string& why);
  void releaseNative();

  int64_t m_process = -1;
  intptr_t m_output = -1;
  Native* m_native = nullptr;
};

// Waits at most timeoutMs until one of the children has output (or its output ended),
// input on inputFd (a file descriptor of the C library; -1: none) can be read, or a request
// comes in (platform/requests.h). True when something came; false when the time ran out.
bool waitForChildren(const std::vector<ChildProcess*>& children, int inputFd, int timeoutMs);

}  // namespace platform
