// The parts of the file service that are the same on every system.
#include "platform/whole_file.h"

#include <filesystem>

#include "platform/path_text.h"

namespace platform {

bool readRegularFile(const std::string& path, size_t maxBytes, std::string& contents,
                     std::string* why) {
  FileReader file;
  if (!file.open(path, why)) return false;
  std::string data;
  char buffer[65536];
  for (;;) {
    const int64_t got = file.read(buffer, sizeof buffer, why);
    if (got < 0) return false;
    if (got == 0) break;
    // Checked as it is read: the file may grow while it is read.
    if (data.size() + static_cast<size_t>(got) > maxBytes) {
      if (why) *why = "larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    }
    data.append(buffer, static_cast<size_t>(got));
  }
  contents = std::move(data);
  return true;
}

bool readFileIfPresent(const std::string& path, size_t maxBytes, std::string& contents,
                       std::string* why) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(pathFromUtf8(path), error);
  if (status.type() == std::filesystem::file_type::not_found) {
    contents.clear();
    return true;
  }
  return readRegularFile(path, maxBytes, contents, why);
}

bool regularFileSize(const std::string& path, uint64_t& bytes) {
  std::error_code error;
  const std::filesystem::path file = pathFromUtf8(path);
  if (!std::filesystem::is_regular_file(file, error)) return false;
  const uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return false;
  bytes = size;
  return true;
}

}  // namespace platform
