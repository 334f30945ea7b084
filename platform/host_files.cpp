#include "platform/host_files.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/path_text.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

bool equalIgnoringAsciiCase(const std::string& a, const std::string& b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::string resolveHostFile(const std::string& name) {
  std::error_code error;
  if (name.empty() || fs::exists(pathFromUtf8(name), error)) return name;

  const std::string::size_type slash = name.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : name.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.empty()) return name;

  std::vector<std::string> matches;
  for (fs::directory_iterator entry(pathFromUtf8(folder), error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string entryName = utf8FromPath(entry->path().filename());
    if (equalIgnoringAsciiCase(entryName, base)) matches.push_back(entryName);
  }
  if (matches.empty()) return name;
  std::sort(matches.begin(), matches.end());
  return slash == std::string::npos ? matches.front() : folder + matches.front();
}

std::FILE* openHostFile(const std::string& name, const char* mode) {
  const std::string path = resolveHostFile(name);
  // Only regular files are host files: opening a named pipe or a device for reading could
  // block for ever.
  std::error_code error;
  const fs::file_status status = fs::status(pathFromUtf8(path), error);
  if (fs::exists(status) && !fs::is_regular_file(status)) return nullptr;
  return std::fopen(path.c_str(), mode);
}

bool hostFileExists(const std::string& name) {
  std::FILE* file = openHostFile(name, "rb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

}  // namespace platform
