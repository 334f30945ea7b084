#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

namespace platform {
namespace {

void say(std::string* why, const std::string& text) {
  if (why) *why = text;
}

std::string errnoText(int error) {
  return std::strerror(error);
}

}  // namespace

bool readRegularFile(const std::string& path, size_t maxBytes, std::string& contents,
                     std::string* why) {
  // O_NONBLOCK: opening a FIFO without a writer must not wait for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    say(why, errnoText(errno));
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    say(why, "not a regular file");
    return false;
  }
  if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
    ::close(fd);
    say(why, "larger than " + std::to_string(maxBytes) + " bytes");
    return false;
  }
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      say(why, errnoText(errno));
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    if (data.size() + static_cast<size_t>(got) > maxBytes) {  // grew while being read
      say(why, "larger than " + std::to_string(maxBytes) + " bytes");
      ::close(fd);
      return false;
    }
    data.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  contents = std::move(data);
  return true;
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
