// Temporary files and folders through mkstemp and mkdtemp.
#include "platform/temp_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/path_text.h"

namespace platform {
namespace {

constexpr const char* kUniqueSuffix = "XXXXXX";

}  // namespace

bool temporaryFolder(std::string& folder, std::string* why) {
  const char* variable = std::getenv("TMPDIR");
  folder = variable && *variable ? variable : "/tmp";
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  if (why) {
    const std::string reason =
        ::stat(folder.c_str(), &info) == 0 ? "not a folder" : std::strerror(errno);
    *why = (variable && *variable ? "TMPDIR names " : "the temporary folder ") + folder + ": " +
           reason;
  }
  return false;
}

bool createTemporaryFileIn(const std::string& folder, const std::string& prefix, std::string& path,
                           std::string* why) {
  std::string pattern = joinPath(folder, prefix + kUniqueSuffix);
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0 || ::close(fd) != 0) {
    const int error = errno;
    if (fd >= 0) ::unlink(pattern.c_str());
    if (why) *why = "cannot create a temporary file in " + folder + ": " + std::strerror(error);
    return false;
  }
  path = pattern;
  return true;
}

bool createTemporaryFolder(const std::string& prefix, std::string& path, std::string* why) {
  std::string folder;
  if (!temporaryFolder(folder, why)) return false;
  std::string pattern = joinPath(folder, prefix + kUniqueSuffix);
  if (::mkdtemp(pattern.data()) == nullptr) {
    if (why) *why = "cannot create a temporary folder in " + folder + ": " + std::strerror(errno);
    return false;
  }
  path = pattern;
  return true;
}

}  // namespace platform
