// Whether a port is taken or absent, seen from outside without opening it: the UUCP lock
// files of other programs, the locks on the device node that /proc/locks lists, and the
// ttyS nodes without a UART behind them.
#include "serial/termios/termios_locks.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "serial/termios/termios_device.h"

namespace serial {
namespace {

// A lock file holds a process id of at most ten digits and a line end.
constexpr size_t kLockFileReadBytes = 64;

const std::vector<std::string> kDefaultLockFolders = {"/var/lock", "/run/lock"};
std::vector<std::string> g_lockFolders = kDefaultLockFolders;

// A character device node that stands for a serial port without a UART: the 8250 driver
// registers ttyS ports whether hardware answers or not, and reports the missing UART as
// type 0 (unknown) in sysfs, readable by everyone. Other drivers have no "type" attribute.
bool isPhantomPort(dev_t rdev) {
  char name[96];
  std::snprintf(name, sizeof name, "/sys/dev/char/%u:%u/type", ::major(rdev), ::minor(rdev));
  std::ifstream in(name);
  int type = -1;
  if (!(in >> type)) return false;
  return type == 0;
}

// The process id in a UUCP lock file: ten ASCII digits (HDB style) or, in the old style,
// a binary int. 0 when the file holds neither, or is no regular file. The lock folder is
// writable by everyone, so anything may sit there under a lock file's name: a named pipe
// would block a plain open (and a read) until a writer comes, a link could lead to a
// device. Only a regular file is opened, without following a link and without blocking.
pid_t lockFilePid(const std::string& file) {
  struct stat info {};
  if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return 0;
  // Replaced by something else between the look and the open.
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return 0;
  }
  char buffer[kLockFileReadBytes + 1] = {};
  ssize_t size = 0;
  do {
    size = ::read(fd, buffer, kLockFileReadBytes);
  } while (size < 0 && errno == EINTR);
  ::close(fd);
  if (size <= 0) return 0;
  if (size == static_cast<ssize_t>(sizeof(int32_t))) {
    bool ascii = true;
    for (ssize_t i = 0; i < size; ++i) {
      const char c = buffer[i];
      if (!(c == ' ' || c == '\n' || (c >= '0' && c <= '9'))) ascii = false;
    }
    if (!ascii) {
      int32_t pid = 0;
      std::memcpy(&pid, buffer, sizeof pid);
      return pid;
    }
  }
  long pid = 0;
  if (std::sscanf(buffer, "%ld", &pid) != 1) return 0;
  return static_cast<pid_t>(pid);
}

bool processAlive(pid_t pid) {
  if (pid <= 0) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The live process of a UUCP lock file for the device (0 for none): LCK..ttyS0 for
// /dev/ttyS0 (and for a link to it), LCK..pts_3 style names for devices in sub-folders of /dev.
pid_t uucpLockPid(const std::string& path) {
  std::vector<std::string> names;
  auto addName = [&names](const std::string& device) {
    const size_t slash = device.rfind('/');
    names.push_back(slash == std::string::npos ? device : device.substr(slash + 1));
    if (device.rfind("/dev/", 0) == 0) {
      std::string flat = device.substr(5);
      for (char& c : flat) {
        if (c == '/') c = '_';
      }
      if (flat != names.back()) names.push_back(flat);
    }
  };
  addName(path);
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    if (path != real) addName(real);
    std::free(real);
  }
  for (const std::string& folder : g_lockFolders) {
    for (const std::string& name : names) {
      const pid_t pid = lockFilePid(folder + "/LCK.." + name);
      if (processAlive(pid)) return pid;
    }
  }
  return 0;
}

// A lock (flock, POSIX or open-file-description lock) held on the inode of the device
// node, as the kernel lists it in /proc/locks: "1: FLOCK ADVISORY WRITE 123 00:05:87 0 EOF".
// Lines with "->" are waiters that hold nothing. The holder's process id is the word before
// the inode; -1 for a lock of an open file description, which names no process.
std::optional<pid_t> inodeLockPid(dev_t device, ino_t inode) {
  std::ifstream in("/proc/locks");
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("->") != std::string::npos) continue;
    std::istringstream words(line);
    std::string word, previous;
    while (words >> word) {
      unsigned major = 0, minor = 0;
      unsigned long long number = 0;
      char tail = 0;
      if (std::sscanf(word.c_str(), "%x:%x:%llu%c", &major, &minor, &number, &tail) != 3) {
        previous = word;
        continue;
      }
      if (major == ::major(device) && minor == ::minor(device) && number == inode) {
        return static_cast<pid_t>(std::atol(previous.c_str()));
      }
      break;
    }
  }
  return std::nullopt;
}

bool inodeLocked(dev_t device, ino_t inode) {
  return inodeLockPid(device, inode).has_value();
}

}  // namespace

bool uucpLockHeld(const std::string& path) {
  return uucpLockPid(path) != 0;
}

void setUucpLockFolders(std::vector<std::string> folders) {
  g_lockFolders = folders.empty() ? kDefaultLockFolders : std::move(folders);
}

ProbeResult TermiosDevice::probe(const std::string& path) {
  if (path.empty()) return ProbeResult::Absent;
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) {
    // A folder on the way that this user may not enter: the port may exist, but not for us.
    return errno == EACCES ? ProbeResult::InUse : ProbeResult::Absent;
  }
  if (!S_ISCHR(node.st_mode)) return ProbeResult::Absent;
  if (isPhantomPort(node.st_rdev)) return ProbeResult::Absent;
  // No read and write access (typically: not in the dialout group) counts as in use, as
  // the Windows probe reports "access denied" for both.
  if (::access(path.c_str(), R_OK | W_OK) != 0) return ProbeResult::InUse;
  if (uucpLockHeld(path)) return ProbeResult::InUse;
  if (inodeLocked(node.st_dev, node.st_ino)) return ProbeResult::InUse;
  return ProbeResult::Free;
}

pid_t TermiosDevice::lockHolder(const std::string& path) {
  if (const pid_t pid = uucpLockPid(path); pid != 0) return pid;
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) return 0;
  const pid_t pid = inodeLockPid(node.st_dev, node.st_ino).value_or(0);
  return pid > 0 ? pid : 0;
}

}  // namespace serial
