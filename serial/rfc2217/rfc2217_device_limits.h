// The bounds and sizes the network backend works with, shared by its files: every wait of
// the device has one of these bounds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "serial/rfc2217/rfc2217_codec.h"

namespace serial::rfc2217 {

// Bounds of the connection: the TCP connect, then the Telnet negotiation up to the
// server's consent to the COM-PORT-OPTION and its answers to the first queries.
inline constexpr int kConnectTimeoutMs = 3000;
inline constexpr int kNegotiationTimeoutMs = 1500;
// A close waits this long for the server to end the connection.
inline constexpr int kCloseWaitMs = 500;
// A probe gives the server this long to answer, and then this long to drop a connection
// it cannot serve.
inline constexpr int kProbeConnectTimeoutMs = 1000;
inline constexpr int kProbeDropWindowMs = 250;
// Each settings command waits this long for its answer.
inline constexpr int kAnswerTimeoutMs = 2000;
// A DTR or RTS command of a server that has modem lines is answered within this time; a
// server that stays silent longer has none.
inline constexpr int kModemLineAnswerMs = 250;
// The first modem-state notification follows the mask within this time.
inline constexpr int kModemStateWaitMs = 500;
// An empty read waits this long for a byte; under the virtual clock it looks at the socket
// this long in real time and then counts its 100 ms on the virtual clock.
inline constexpr int kReadPollMs = 100;
inline constexpr int kVirtualReadPollMs = 1;
// The write time-out, per byte and constant part.
inline constexpr int kWriteMsPerByte = 20;
inline constexpr int kWriteConstantMs = 1000;
// While output is held the writer looks again this often.
inline constexpr int kHeldPollMs = 10;
// With flow control done here the writer sends this many bytes at a time, so that an XOFF
// or a DSR drop stops the output within a short stretch.
inline constexpr uint32_t kGatedChunkBytes = 64;
inline constexpr size_t kReadChunkBytes = 4096;
// One look at the socket takes at most this many chunks.
inline constexpr int kPumpChunks = 16;
// A closed connection is kept this long for an open of the same port that follows (the
// port class closes and opens again for every change of settings).
inline constexpr int kParkMs = 2000;
inline constexpr uint8_t kModemStateMask = kModemCts | kModemDsr | kModemDeltaCts | kModemDeltaDsr;

inline int64_t monotonicUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

inline int64_t monotonicMs() {
  return monotonicUs() / 1000;
}

inline int remainingMs(int64_t deadlineMs) {
  const int64_t left = deadlineMs - monotonicMs();
  if (left <= 0) return 0;
  return left > 60000 ? 60000 : static_cast<int>(left);
}

}  // namespace serial::rfc2217
