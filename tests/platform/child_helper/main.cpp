// The child that the child process tests start, on every system:
//   print OUT ERR CODE   OUT on standard output, ERR on standard error, exit with CODE
//   input                "no input" when its input ends at once
//   folder               the name of the folder it runs in
//   args A...            each argument in brackets, as it arrived
//   wait                 "waiting", then "asked to end" and exit 5 once it is asked to end
//                        (exit 4 when nobody asks within a minute)
//   hold                 "waiting", then "asked to end" without ending: a second request
//                        ends it as the system would
//   orphan FILE          starts `wait-into FILE`, says "started" and dies at once, as a
//                        killed process does (nothing of its own is cleaned up)
//   wait-into FILE       as wait, but says "asked to end" into FILE (its output may be gone)
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/child_process.h"
#include "platform/requests.h"
#include "platform/terminal.h"
#include "platform/whole_file.h"

namespace {

constexpr int kOut = 1;
constexpr int kErr = 2;
constexpr int kAskedToEnd = 5;
constexpr int kNobodyAsked = 4;
constexpr int kWaitSliceMs = 1000;
constexpr int kWaitSlices = 60;

// Binary writes on every system: no line break is rewritten on the way.
void say(int fd, const std::string& text) {
  platform::writeOutput(fd, text);
}

int waitForTheEndRequest(bool hold, const std::string& file = "") {
  platform::RequestCatcher catcher({.secondTerminationEnds = hold});
  say(kOut, "waiting\n");
  bool asked = false;
  for (int slice = 0; slice < kWaitSlices; ++slice) {
    if (!asked && platform::pendingRequests(platform::Request::Termination) > 0) {
      // Into the file first: with its parent gone, writing to its output may end it.
      if (!file.empty()) platform::writeFileWhole(file, "asked to end\n");
      say(kOut, "asked to end\n");
      if (!hold) return kAskedToEnd;
      asked = true;
    }
    platform::waitForChildren({}, -1, kWaitSliceMs);
  }
  return kNobodyAsked;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "print" && argc == 5) {
    say(kOut, std::string(argv[2]) + "\n");
    say(kErr, std::string(argv[3]) + "\n");
    return std::atoi(argv[4]);
  }
  if (mode == "input") {
    char byte = 0;
    const bool ready = platform::waitForInput(0, kWaitSliceMs) == platform::InputWait::Ready;
    if (!ready || platform::readInput(0, &byte, 1) == 0) say(kOut, "no input\n");
    return 0;
  }
  if (mode == "folder") {
    say(kOut, std::filesystem::current_path().filename().string() + "\n");
    return 0;
  }
  if (mode == "args") {
    std::string line;
    for (int i = 2; i < argc; ++i) line += "[" + std::string(argv[i]) + "]";
    say(kOut, line + "\n");
    return 0;
  }
  if (mode == "wait" || mode == "hold") return waitForTheEndRequest(mode == "hold");
  if (mode == "wait-into" && argc == 3) return waitForTheEndRequest(false, argv[2]);
  if (mode == "orphan" && argc == 3) {
    auto* child = new platform::ChildProcess;  // never ended here: its parent just dies
    if (!child->start({argv[0], "wait-into", argv[2]}, "", nullptr)) return 1;
    char buffer[64];
    std::string seen;
    while (seen.find("waiting\n") == std::string::npos) {
      const int n = child->readOutput(buffer, sizeof buffer);
      if (n < 0) return 1;
      if (n > 0) seen.append(buffer, static_cast<size_t>(n));
      if (n == 0) platform::waitForChildren({child}, -1, kWaitSliceMs);
    }
    say(kOut, "started\n");
    std::_Exit(0);
  }
  say(kErr,
      "usage: print OUT ERR CODE | input | folder | args A... | wait | hold | orphan FILE | "
      "wait-into FILE\n");
  return 2;
}
