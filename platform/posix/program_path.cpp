// The program's own file: Linux names it in /proc/self/exe.
#include "platform/program_path.h"

#include <unistd.h>

#include <climits>

namespace platform {

std::string programPath() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace platform
