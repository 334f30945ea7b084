// Received bytes on their way to the reader, as the termios and the network backend keep
// them: a ring of fixed capacity filled from the driver or the connection, with XON and
// XOFF taken out of the stream where the backend obeys them itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "serial/serial_device.h"

namespace serial {

class ReceivedInput {
 public:
  explicit ReceivedInput(size_t capacity) : m_bytes(capacity) {}

  size_t size() const { return m_count; }
  bool empty() const { return m_count == 0; }
  size_t room() const { return m_bytes.size() - m_count; }
  void clear() {
    m_head = 0;
    m_count = 0;
  }

  // Takes received bytes. With XON/XOFF output flow control on (settings.outX), the XON and
  // XOFF characters set `xoffReceived` instead of being kept. A full ring loses the newest
  // bytes, as a driver's full input queue does.
  void take(const uint8_t* data, size_t size, const LineSettings& settings, bool& xoffReceived) {
    for (size_t i = 0; i < size; ++i) {
      const uint8_t byte = data[i];
      if (settings.outX && (byte == settings.xoffChar || byte == settings.xonChar)) {
        xoffReceived = byte == settings.xoffChar;
        continue;
      }
      if (m_count == m_bytes.size()) continue;
      m_bytes[(m_head + m_count) % m_bytes.size()] = byte;
      ++m_count;
    }
  }

  // The oldest byte; false when there is none.
  bool pop(uint8_t& byte) {
    if (m_count == 0) return false;
    byte = m_bytes[m_head];
    m_head = (m_head + 1) % m_bytes.size();
    --m_count;
    return true;
  }

 private:
  std::vector<uint8_t> m_bytes;
  size_t m_head = 0;
  size_t m_count = 0;
};

}  // namespace serial
