// What a child's start and end are on every system; platform/posix and platform/win32 do
// the system's part.
#include "platform/child_process.h"

namespace platform {

ChildProcess::~ChildProcess() {
  if (running()) {
    kill();
    ChildExit ignored;
    wait(true, ignored);
  }
  releaseNative();
}

bool ChildProcess::start(const std::vector<std::string>& argv, const std::string& folder,
                         std::string* why) {
  std::string failure = "nothing to start";
  if (!running() && !argv.empty() && startNative(argv, folder, failure)) return true;
  if (why) *why = failure;
  return false;
}

}  // namespace platform
