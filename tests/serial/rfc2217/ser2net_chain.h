// A terminal server on loopback for tests and measurements: ser2net on 127.0.0.1 at a
// free port, lending a pseudo-terminal over Telnet with the COM-PORT-OPTION. The test holds
// the pseudo-terminal's master, the far end of the "serial line"; its termios shows the
// speed that the server set on the line (a pseudo-terminal keeps no data-bit count or
// parity, and has no modem lines).
//
// Header only, so that the benchmark program uses it as the tests do.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace net_test {

inline std::string findProgram(const char* name) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin:/usr/sbin:/sbin";
  folders += ":/usr/sbin:/sbin";
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t end = folders.find(':', start);
    const std::string folder =
        folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::string candidate = folder + "/" + name;
    if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return {};
}

// A loopback TCP port that was free a moment ago.
inline uint16_t freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

class Ser2netChain {
 public:
  // Starts the server; ok() tells whether it listens. `options` are extra lines of the
  // connection's options block (each "    key: value\n").
  explicit Ser2netChain(const std::string& options = "") {
    m_program = findProgram("ser2net");
    if (m_program.empty()) return;
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
    const char* slave = ::ptsname(m_master);
    if (!slave) return;
    m_slavePath = slave;
    // The slave stays open here too, so that the line does not hang up between the
    // server's opens.
    m_slaveHold = ::open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_port = freeLoopbackPort();
    char folder[] = "/tmp/zel-ser2net-XXXXXX";
    if (!::mkdtemp(folder)) return;
    m_folder = folder;
    m_config = m_folder + "/ser2net.yaml";
    if (std::FILE* file = std::fopen(m_config.c_str(), "w")) {
      std::fprintf(file,
                   "%%YAML 1.1\n---\nconnection: &zel\n"
                   "  accepter: telnet(rfc2217),tcp,127.0.0.1,%u\n"
                   "  connector: serialdev,%s,9600n81,local\n"
                   "  options:\n    chardelay: false\n%s",
                   m_port, m_slavePath.c_str(), options.c_str());
      std::fclose(file);
    }
    m_pid = ::fork();
    if (m_pid == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(m_program.c_str(), "ser2net", "-n", "-c", m_config.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Ready once the port accepts a connection; a busy machine may take many seconds to
    // start it.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!m_listening && std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(m_port);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      m_listening = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      ::close(fd);
    }
    // Let the server finish with the connection that looked.
    if (m_listening) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~Ser2netChain() {
    kill();
    if (m_slaveHold >= 0) ::close(m_slaveHold);
    if (m_master >= 0) ::close(m_master);
    if (!m_config.empty()) ::unlink(m_config.c_str());
    if (!m_folder.empty()) ::rmdir(m_folder.c_str());
  }
  Ser2netChain(const Ser2netChain&) = delete;
  Ser2netChain& operator=(const Ser2netChain&) = delete;

  bool installed() const { return !m_program.empty(); }
  bool ok() const { return m_listening; }
  std::string portName() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
  int masterFd() const { return m_master; }
  // The test's own descriptor of the slave: its termios is what the server set.
  int slaveFd() const { return m_slaveHold; }
  const std::string& slavePath() const { return m_slavePath; }

  // Ends the server at once, as a crash or a pulled network cable would.
  void kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

 private:
  std::string m_program;
  std::string m_slavePath;
  std::string m_folder;
  std::string m_config;
  int m_master = -1;
  int m_slaveHold = -1;
  uint16_t m_port = 0;
  pid_t m_pid = -1;
  bool m_listening = false;
};

}  // namespace net_test
