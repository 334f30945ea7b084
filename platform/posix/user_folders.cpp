// The user's folders as the XDG base directories name them.
#include "platform/user_folders.h"

#include <cstdlib>

#include "platform/host_identity.h"
#include "platform/path_text.h"

namespace platform {
namespace {

// An absolute $variable, else the home folder with `inHome` appended ("" without a home).
std::string baseFolder(const char* variable, const char* inHome, const std::string& noHome) {
  if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') return value;
  const std::string home = homeFolder();
  if (home.empty()) return noHome.empty() ? std::string() : noHome + inHome;
  return home + inHome;
}

}  // namespace

std::string userConfigFolder() {
  const std::string base = baseFolder("XDG_CONFIG_HOME", "/.config", "");
  return base.empty() ? std::string() : joinPath(base, "zelupdate");
}

std::string userStateFolder() {
  return joinPath(baseFolder("XDG_STATE_HOME", "/.local/state", "/tmp"), "zelupdate");
}

std::string userUpdateSetFolder() {
  return std::string();
}

}  // namespace platform
