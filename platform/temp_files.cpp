// What temporary files are the same in on every system; the system files create them.
#include "platform/temp_files.h"

namespace platform {

bool createTemporaryFile(const std::string& prefix, std::string& path, std::string* why) {
  std::string folder;
  return temporaryFolder(folder, why) && createTemporaryFileIn(folder, prefix, path, why);
}

}  // namespace platform
