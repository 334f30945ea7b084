// File names on Linux are bytes, the program's texts UTF-8: the same bytes either way.
#include "platform/path_text.h"

namespace platform {

std::filesystem::path pathFromUtf8(const std::string& text) {
  return std::filesystem::path(text);
}

std::string utf8FromPath(const std::filesystem::path& path) {
  return path.native();
}

}  // namespace platform
