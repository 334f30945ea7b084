// Why this user cannot open a device node now: the node's owner, group and mode against the
// user's groups, and the process that holds the port.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "serial/device_factory.h"
#include "serial/termios/termios_device.h"

namespace serial {
namespace {

std::string groupName(gid_t gid) {
  const group* entry = ::getgrgid(gid);
  return entry ? entry->gr_name : std::to_string(gid);
}

std::string ownerName(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry ? entry->pw_name : std::to_string(uid);
}

bool inGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  gid_t groups[256];
  const int count = ::getgroups(256, groups);
  for (int i = 0; i < count; ++i) {
    if (groups[i] == gid) return true;
  }
  return false;
}

// The command name of a process, as ps shows it; empty when it cannot be read.
std::string processName(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

}  // namespace

std::string TermiosDevice::explainAccess(const std::string& path) {
  if (path.empty() || path.front() != '/') return std::string();
  const ProbeResult result = probe(path);
  if (result == ProbeResult::Free) return std::string();
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) {
    return errno == EACCES ? "permission denied: a folder on its path is closed to this user"
                           : "no such device";
  }
  if (result == ProbeResult::Absent) return "no such device";
  if (::access(path.c_str(), R_OK | W_OK) != 0) {
    const std::string group = groupName(node.st_gid);
    if (group == "dialout" && !inGroup(node.st_gid)) {
      return std::string(kNotInDialout) + " (sudo usermod -aG dialout $USER, then log in again)";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(node.st_mode & 07777));
    return "permission denied: owned by " + ownerName(node.st_uid) + ":" + group + ", mode " + mode;
  }
  const pid_t holder = lockHolder(path);
  if (holder <= 0) return "in use by another program";
  const std::string name = processName(holder);
  return "in use by process " + std::to_string(holder) + (name.empty() ? "" : " (" + name + ")");
}

}  // namespace serial
