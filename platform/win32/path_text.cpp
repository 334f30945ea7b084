// File names on Windows are UTF-16: converted from and to the program's UTF-8 by the system,
// which never throws (the C++ library's own conversion would go through the C locale).
#include "platform/path_text.h"
#include "platform/win32/win32_shared.h"

namespace platform {

std::filesystem::path pathFromUtf8(const std::string& text) {
  return std::filesystem::path(win32::widen(text));
}

std::string utf8FromPath(const std::filesystem::path& path) {
  return win32::narrow(path.native());
}

}  // namespace platform
