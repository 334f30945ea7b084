// A whole memory-extension image (0xA0000 bytes) in 240-byte program packets at 115200
// baud: the simulated duration is what the line arithmetic gives, and the run takes well
// under a second of real time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "tests/sim/sim_fixture.h"

namespace sim_testing {
namespace {

constexpr uint32_t kImageBytes = 0xA0000;
constexpr uint32_t kChunk = 240;
constexpr uint32_t kBank = 0x50000;
constexpr uint32_t kBaud = 115200;

// The real-time bound holds for the optimised build; the sanitizer build runs the same
// code many times slower and only reports its figure.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kTimedBuild = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kTimedBuild = false;
#else
constexpr bool kTimedBuild = true;
#endif
#else
constexpr bool kTimedBuild = true;
#endif

class TransferTimingTest : public SimTest {};

TEST_F(TransferTimingTest, ImageOf0xA0000BytesMatchesTheLineArithmetic) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(enterTransferProgram(kBaud));
  ASSERT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
  Bytes type = {0x21, 2, 22};
  putLe32(type, kBank);
  ASSERT_EQ(exchange(type).size(), 9u);
  Bytes erase = {0x27, 2, 22};
  putLe32(erase, kBank);
  putLe32(erase, kImageBytes);
  ASSERT_EQ(exchange(erase), (Bytes{0xA7, 0x00}));

  // 8 data bits, even parity, one stop bit: 11 bits a character.
  const double frameNs = 11.0 * 1e9 / kBaud;
  const double ackFrames = 2 * 5;     // 5 bytes, each with its echo
  const double answerFrames = 2 * 5;  // A5 00 in a packet of 5 bytes
  double expectedNs = 0;

  const auto realStart = std::chrono::steady_clock::now();
  const uint64_t start = clock.nowMicros();
  uint32_t packets = 0;
  for (uint32_t offset = 0; offset < kImageBytes; offset += kChunk) {
    const uint32_t n = std::min(kChunk, kImageBytes - offset);
    Bytes request = {0x25, 2, 22};
    putLe32(request, kBank + offset);
    request.push_back(static_cast<uint8_t>(n));
    request.push_back(static_cast<uint8_t>(n >> 8));
    for (uint32_t i = 0; i < n; ++i) request.push_back(static_cast<uint8_t>((offset + i) * 13));
    ASSERT_EQ(exchange(request), (Bytes{0xA5, 0x00})) << "at offset " << offset;
    ++packets;
    // Request on the line, the target's turnaround, then the acknowledgement or the
    // programming, whichever takes longer (the two chips program in parallel), then
    // the answer.
    const double programNs = static_cast<double>(n * sim::kProgramNsPerByte / 2);
    expectedNs += (n + 9 + 3) * frameNs + static_cast<double>(sim::kPacketTurnaroundNs) +
                  std::max(ackFrames * frameNs, programNs) + answerFrames * frameNs;
  }
  const double simulatedS = static_cast<double>(clock.nowMicros() - start) / 1e6;
  const double realS =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();

  EXPECT_EQ(packets, 2731u);
  // The host answers each echo at the next whole microsecond of its clock.
  EXPECT_NEAR(simulatedS, expectedNs / 1e9, 0.001 * simulatedS);
  // Well under the 72 s it simulates, also on a machine busy with other work.
  if (kTimedBuild) {
    EXPECT_LT(realS, 10.0);
  }
  std::printf(
      "0x%X bytes in %u packets at %u baud: simulated %.3f s (line arithmetic %.3f s), "
      "real %.3f s\n",
      kImageBytes, packets, kBaud, simulatedS, expectedNs / 1e9, realS);
  RecordProperty("simulated_seconds", std::to_string(simulatedS));
  RecordProperty("real_seconds", std::to_string(realS));

  EXPECT_EQ(instrument->counters.echoErrors, 0u);
  EXPECT_EQ(instrument->counters.programPackets, packets);
  const Bytes written = instrument->flashBytes(kBank, kImageBytes);
  ASSERT_EQ(written.size(), kImageBytes);
  for (uint32_t i = 0; i < kImageBytes; i += 4099) {
    EXPECT_EQ(written[i], static_cast<uint8_t>(i * 13));
  }
}

}  // namespace
}  // namespace sim_testing
