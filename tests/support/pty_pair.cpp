#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

namespace testing_support {

PtyPair::PtyPair() {
  m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_master < 0) return;
  char name[128] = {};
  if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
      ::ptsname_r(m_master, name, sizeof name) != 0) {
    closeMaster();
    return;
  }
  m_slavePath = name;
}

PtyPair::~PtyPair() {
  closeMaster();
}

bool PtyPair::send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t sent = ::write(m_master, bytes.data() + done, bytes.size() - done);
    if (sent > 0) {
      done += static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno == EAGAIN) {
      pollfd entry{m_master, POLLOUT, 0};
      if (::poll(&entry, 1, 1000) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

std::string PtyPair::receive(size_t count, int quietMs) {
  std::string bytes;
  while (bytes.size() < count && m_master >= 0) {
    pollfd entry{m_master, POLLIN, 0};
    if (::poll(&entry, 1, quietMs) <= 0) break;
    char buffer[512];
    const ssize_t got = ::read(m_master, buffer, sizeof buffer);
    if (got > 0) {
      bytes.append(buffer, static_cast<size_t>(got));
    } else if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    } else {
      break;  // the slave side is closed
    }
  }
  return bytes;
}

void PtyPair::closeMaster() {
  if (m_master >= 0) ::close(m_master);
  m_master = -1;
}

}  // namespace testing_support
