// Files written whole, appended to under a lock, and read in pieces: with POSIX calls.
#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

namespace platform {
namespace {

// How often a held lock is tried again.
constexpr int kLockPollMs = 10;

void say(std::string* why, const std::string& text) {
  if (why) *why = text;
}

std::string errnoText(int error) {
  return std::strerror(error);
}

// Keeps an opened descriptor only when it is a regular file: a device, a FIFO or a folder a
// user names in its place is closed again, and `why` says so.
bool keepRegular(int fd, std::string* why) {
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return true;
  ::close(fd);
  say(why, "not a regular file");
  return false;
}

}  // namespace

bool FileReader::open(const std::string& path, std::string* why) {
  close();
  // O_NONBLOCK: opening a FIFO without a writer must not wait for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    say(why, errnoText(errno));
    return false;
  }
  if (!keepRegular(fd, why)) return false;
  m_handle = fd;
  return true;
}

int64_t FileReader::read(void* buffer, size_t size, std::string* why) {
  if (m_handle < 0) {
    say(why, "not open");
    return -1;
  }
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(m_handle), buffer, size);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    say(why, errnoText(errno));
    return -1;
  }
}

void FileReader::close() {
  if (m_handle >= 0) ::close(static_cast<int>(m_handle));
  m_handle = -1;
}

FileReader::~FileReader() {
  close();
}

bool writeFileWhole(const std::string& path, const std::string& contents, std::string* why) {
  std::error_code error;
  std::filesystem::path target(path);
  // Through a symbolic link to the file it names (which may not exist yet).
  if (std::filesystem::is_symlink(target, error)) {
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, error);
    if (error) {
      say(why, "cannot follow the symbolic link: " + error.message());
      return false;
    }
    target = resolved;
  }
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    say(why, "not a regular file");
    return false;
  }
  if (exists && ::access(target.c_str(), W_OK) != 0) {
    say(why, errnoText(errno));
    return false;
  }
  // Root may write anything; a file without any write permission is still kept as it is.
  if (exists && (existing.st_mode & 0222) == 0) {
    say(why, "the file is read-only");
    return false;
  }
  const std::filesystem::path folder = target.parent_path();
  if (!folder.empty() && !std::filesystem::exists(folder, error)) {
    std::filesystem::create_directories(folder, error);
    if (error) {
      say(why, error.message());
      return false;
    }
  }
  std::string temporary = target.string() + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    say(why, errnoText(errno));
    return false;
  }
  if (exists) {
    ::fchmod(fd, existing.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  size_t done = 0;
  int failure = 0;
  while (done < contents.size()) {
    const ssize_t written = ::write(fd, contents.data() + done, contents.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failure = written < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(written);
  }
  if (!failure && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && !failure) failure = errno;
  if (!failure && ::rename(temporary.c_str(), target.c_str()) != 0) failure = errno;
  if (failure) {
    ::unlink(temporary.c_str());
    say(why, errnoText(failure));
    return false;
  }
  return true;
}

bool removeFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool userMayWrite(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  return ::access(path.c_str(), S_ISDIR(info.st_mode) ? W_OK | X_OK : W_OK) == 0;
}

bool appendLineLocked(const std::string& path, const std::string& line, int lockWaitMs,
                      std::string* why, const AppendNames& names) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) {
    std::filesystem::create_directories(folder, error);
    if (error) {
      say(why, "cannot create " + folder.string() + ": " + error.message());
      return false;
    }
  }
  // O_NONBLOCK: a FIFO never waits for its other end. Read access serves the look at the
  // last byte below; a file that may only be written is appended to without that look.
  constexpr int kFlags = O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  int fd = ::open(path.c_str(), O_RDWR | kFlags, 0644);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | kFlags, 0644);
  if (fd < 0) {
    say(why, errnoText(errno));
    return false;
  }
  if (!keepRegular(fd, why)) return false;
  // flock binds every process, root too; it is polled so that the wait has its bound.
  bool locked = false;
  for (int waited = 0; waited <= lockWaitMs; waited += kLockPollMs) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      locked = true;
      break;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
  }
  if (!locked) {
    ::close(fd);
    say(why, std::string("the ") + names.file + " stays locked by another process");
    return false;
  }
  std::string whole = line + "\n";
  // The size under the lock: where a line that fails half-way is cut off again.
  off_t sizeBefore = -1;
  struct stat info {};
  if (::fstat(fd, &info) == 0) {
    sizeBefore = info.st_size;
    char last = '\n';
    if (info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n')
      whole.insert(whole.begin(), '\n');
  }
  const ssize_t written = ::write(fd, whole.data(), whole.size());
  bool ok = written == static_cast<ssize_t>(whole.size());
  if (!ok) {
    say(why, written < 0 ? errnoText(errno)
                         : std::string("only part of the ") + names.line + " could be written");
    // Should the cut fail too, the file ends in a partial line, which readers skip.
    if (sizeBefore >= 0 && ::ftruncate(fd, sizeBefore) != 0) {
    }
  }
  if (::close(fd) != 0 && ok) {
    say(why, errnoText(errno));
    ok = false;
  }
  return ok;
}

std::FILE* openOutputFile(const std::string& path, std::string* why) {
  // No O_TRUNC yet: what the name stands for is looked at before anything is emptied.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    say(why, errno == ENXIO ? "a FIFO that nobody reads" : errnoText(errno));
    return nullptr;
  }
  struct stat info {};
  const bool stated = ::fstat(fd, &info) == 0;
  const bool usable =
      stated && (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode));
  if (!usable || (S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0)) {
    say(why, usable ? errnoText(errno) : "not a regular file, FIFO or character device");
    ::close(fd);
    return nullptr;
  }
  // From here on writes wait for a slow reader like those to any file.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (S_ISFIFO(info.st_mode)) std::signal(SIGPIPE, SIG_IGN);
  std::FILE* file = ::fdopen(fd, "w");
  if (!file) {
    say(why, errnoText(errno));
    ::close(fd);
  }
  return file;
}

}  // namespace platform
