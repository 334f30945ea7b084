// Host and user names from the system (gethostname, the password database).
#include "platform/host_identity.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;  // the last byte stays 0: a name cut at the end still ends
}

std::string userName() {
  if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name) return entry->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return std::string();
}

}  // namespace platform
