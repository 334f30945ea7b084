// A pseudo-terminal pair for tests of serial code on a real tty: the slave is the "port"
// (its path goes to the device under test), the master is the far end of the line that the
// test drives.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

class PtyPair {
 public:
  // Opens the master (non-blocking) and unlocks the slave. ok() tells whether it worked.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return m_master >= 0 && !m_slavePath.empty(); }
  // The slave's device path, such as /dev/pts/7.
  const std::string& slavePath() const { return m_slavePath; }
  int masterFd() const { return m_master; }

  // Sends bytes towards the slave (the device under test reads them). True when all went.
  bool send(const std::string& bytes);
  // Bytes the slave wrote: everything that arrives until `count` bytes are there or
  // nothing more came for `quietMs` milliseconds (real time).
  std::string receive(size_t count, int quietMs = 200);
  // Hangs the line up: closes the master, as when the far end goes away.
  void closeMaster();

 private:
  int m_master = -1;
  std::string m_slavePath;
};

}  // namespace testing_support
