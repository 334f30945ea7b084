#include "platform/host_files.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

namespace platform {

std::string resolveHostFile(const std::string& name) {
  struct stat st;
  if (name.empty() || ::stat(name.c_str(), &st) == 0) return name;

  const std::string::size_type slash = name.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : name.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.empty()) return name;

  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return name;
  std::vector<std::string> matches;
  while (const dirent* entry = ::readdir(dir)) {
    if (::strcasecmp(entry->d_name, base.c_str()) == 0) matches.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  if (matches.empty()) return name;
  std::sort(matches.begin(), matches.end());
  return slash == std::string::npos ? matches.front() : folder + matches.front();
}

std::FILE* openHostFile(const std::string& name, const char* mode) {
  const std::string path = resolveHostFile(name);
  // Only regular files are host files: opening a named pipe or a device for reading could
  // block for ever.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return nullptr;
  return std::fopen(path.c_str(), mode);
}

bool hostFileExists(const std::string& name) {
  std::FILE* file = openHostFile(name, "rb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

}  // namespace platform
