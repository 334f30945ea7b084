// SHA-256 of bytes and of files, as the service records name the images of an update.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Incremental SHA-256: update() any number of times, then hexDigest() once.
class Sha256 {
 public:
  Sha256();
  void update(const void* data, size_t size);
  // The 64 lower-case hex digits of the digest; the object is spent afterwards.
  std::string hexDigest();

 private:
  void block(const uint8_t* data);

  uint32_t m_state[8];
  uint8_t m_buffer[64];
  size_t m_buffered = 0;
  uint64_t m_totalBytes = 0;
};

// The digest of a byte string.
std::string sha256Hex(const std::string& bytes);

// The digest of a regular file (read in pieces, any size). False, with `why` when given,
// when it cannot be read; never blocks on a FIFO or a device.
bool sha256OfFile(const std::string& path, std::string& hexDigest, std::string* why = nullptr);

}  // namespace platform
