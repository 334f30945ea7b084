#include "app/port_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "serial/termios/termios_device.h"

namespace {

std::string groupName(gid_t gid) {
  const group* entry = ::getgrgid(gid);
  return entry ? entry->gr_name : std::to_string(gid);
}

std::string userName(uid_t uid) {
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

bool everyPortDenied(const std::vector<PortListEntry>& entries) {
  static const std::string kDenied = " (access denied)";
  if (entries.empty()) return false;
  for (const PortListEntry& entry : entries) {
    const std::string& text = entry.text;
    if (text.size() < kDenied.size() ||
        text.compare(text.size() - kDenied.size(), kDenied.size(), kDenied) != 0) {
      return false;
    }
  }
  return true;
}

std::string portAccessProblem(const std::string& device) {
  if (device.empty() || device.front() != '/') return std::string();
  const platform::ProbeResult probe = platform::TermiosDevice::probe(device);
  if (probe == platform::ProbeResult::Free) return std::string();
  struct stat node {};
  if (::stat(device.c_str(), &node) != 0) {
    return errno == EACCES ? "permission denied: a folder on its path is closed to this user"
                           : "no such device";
  }
  if (probe == platform::ProbeResult::Absent) return "no such device";
  if (::access(device.c_str(), R_OK | W_OK) != 0) {
    const std::string group = groupName(node.st_gid);
    if (group == "dialout" && !inGroup(node.st_gid)) {
      return std::string(kNotInDialout) + " (sudo usermod -aG dialout $USER, then log in again)";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(node.st_mode & 07777));
    return "permission denied: owned by " + userName(node.st_uid) + ":" + group + ", mode " + mode;
  }
  const pid_t holder = platform::TermiosDevice::lockHolder(device);
  if (holder <= 0) return "in use by another program";
  const std::string name = processName(holder);
  return "in use by process " + std::to_string(holder) + (name.empty() ? "" : " (" + name + ")");
}
