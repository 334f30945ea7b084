#include "sim/line.h"

#include <algorithm>
#include <bit>

namespace sim {
namespace {

constexpr uint64_t kNanosPerSecond = 1000000000ull;
// A 16-times oversampling UART sees an edge up to this fraction of a bit late.
constexpr uint64_t kOversampling = 16;
// A receiver's bit clock is off by up to this much.
constexpr int64_t kMaxClockErrorPpm = 20000;

uint32_t parityBits(serial::Parity parity) {
  return parity == serial::Parity::None ? 0 : 1;
}

uint8_t dataMask(uint8_t dataBits) {
  return dataBits >= 8 ? 0xFF : static_cast<uint8_t>((1u << dataBits) - 1);
}

// The parity bit that makes the count of ones odd or even.
int parityBit(uint8_t data, serial::Parity parity) {
  const int ones = std::popcount(data) & 1;
  return parity == serial::Parity::Even ? ones : 1 - ones;
}

// Start of bit `index` of a frame (0 = start bit), rounded up so that the bit index of
// that time is `index` itself.
Nanos bitStart(const Frame& frame, uint64_t index) {
  const uint64_t baud = frame.framing.baud;
  return frame.start + (index * kNanosPerSecond + baud - 1) / baud;
}

uint64_t bitIndex(const Frame& frame, Nanos t) {
  return (t - frame.start) * frame.framing.baud / kNanosPerSecond;
}

// Level of bit `index` of a frame: start bit low, data least significant bit first,
// parity, then stop bits high.
int frameBit(const Frame& frame, uint64_t index) {
  const uint8_t dataBits = frame.framing.dataBits;
  const uint8_t data = static_cast<uint8_t>(frame.byte & dataMask(dataBits));
  if (index == 0) return 0;
  if (index <= dataBits) return (data >> (index - 1)) & 1;
  if (index == dataBits + 1u && frame.framing.parity != serial::Parity::None) {
    return parityBit(data, frame.framing.parity);
  }
  return 1;
}

uint64_t mix(uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

}  // namespace

Nanos Framing::frameNanos() const {
  // In half bits, so that one and a half stop bits come out exactly.
  uint64_t halfBits = 2u * (1u + dataBits);
  if (parity != serial::Parity::None) halfBits += 2;
  switch (stopBits) {
    case serial::StopBits::One:
      halfBits += 2;
      break;
    case serial::StopBits::OneAndHalf:
      halfBits += 3;
      break;
    case serial::StopBits::Two:
      halfBits += 4;
      break;
  }
  const uint64_t rate = baud == 0 ? 1 : baud;
  return halfBits * kNanosPerSecond / (2 * rate);
}

LineDirection::LineDirection(uint64_t seed)
    : m_seed(seed),
      m_clockErrorPpm(static_cast<int32_t>(
          static_cast<int64_t>(mix(seed) % (2 * kMaxClockErrorPpm + 1)) - kMaxClockErrorPpm)) {}

void LineDirection::put(const Frame& frame) {
  m_frames.push_back(frame);
  m_lastEnd = std::max(m_lastEnd, frame.end);
}

void LineDirection::dropUnstarted(Nanos now) {
  while (!m_frames.empty() && m_frames.back().start > now) m_frames.pop_back();
  m_lastEnd = m_frames.empty() ? std::min(m_lastEnd, now) : m_frames.back().end;
}

void LineDirection::clear() {
  m_frames.clear();
}

int LineDirection::level(Nanos t) const {
  for (const Frame& frame : m_frames) {
    if (t < frame.start) return 1;
    if (t < frame.end) return frameBit(frame, bitIndex(frame, t));
  }
  return 1;
}

Nanos LineDirection::firstLow(Nanos from, const Frame*& found) const {
  for (const Frame& frame : m_frames) {
    if (frame.end <= from) continue;
    found = &frame;
    if (from <= frame.start) return frame.start;
    const uint64_t bits =
        static_cast<uint64_t>((frame.end - frame.start) * frame.framing.baud / kNanosPerSecond + 1);
    for (uint64_t index = bitIndex(frame, from); index < bits; ++index) {
      if (frameBit(frame, index) == 0) return std::max(from, bitStart(frame, index));
    }
  }
  return kNever;
}

bool LineDirection::decode(const Framing& receiver, Character& character, Nanos& resume) const {
  const uint64_t baud = receiver.baud == 0 ? 1 : receiver.baud;
  const uint32_t dataBits = receiver.dataBits;
  const uint32_t parity = parityBits(receiver.parity);
  Nanos hunt = m_huntFrom;
  for (;;) {
    const Frame* frame = nullptr;
    const Nanos edge = firstLow(hunt, frame);
    if (edge == kNever) return false;
    character = Character{};
    if (edge == frame->start && hunt <= frame->start && frame->framing.understands(receiver)) {
      // Sender and receiver agree: the byte as sent, once its frame is through.
      character.byte = static_cast<uint8_t>(frame->byte & dataMask(receiver.dataBits));
      character.at = frame->end;
      resume = frame->end;
      return true;
    }
    const Nanos late =
        mix(m_seed ^ edge) % std::max<uint64_t>(1, kNanosPerSecond / baud / kOversampling);
    const Nanos start = edge + late;
    // Half bits of the receiver's own clock, in nanoseconds.
    const auto halfBits = [&](uint64_t count) {
      return static_cast<Nanos>(static_cast<int64_t>(count * kNanosPerSecond / (2 * baud)) *
                                (1000000 + m_clockErrorPpm) / 1000000);
    };
    const auto sampleAt = [&](uint64_t bit) { return start + halfBits(2 * bit + 1); };
    if (level(sampleAt(0)) != 0) {
      hunt = sampleAt(0);  // a glitch, not a start bit
      continue;
    }
    uint8_t data = 0;
    for (uint32_t i = 0; i < dataBits; ++i) {
      if (level(sampleAt(1 + i)) != 0) data = static_cast<uint8_t>(data | (1u << i));
    }
    character.byte = data;
    character.garbled = true;
    if (parity != 0) {
      character.parityError = level(sampleAt(1 + dataBits)) != parityBit(data, receiver.parity);
    }
    const Nanos stopSample = sampleAt(1 + dataBits + parity);
    character.framingError = level(stopSample) == 0;
    character.at = start + halfBits(2 * (2 + dataBits + parity));
    resume = stopSample;
    return true;
  }
}

Nanos LineDirection::nextCharacter(const Framing& receiver) const {
  if (m_frames.empty()) return kNever;
  Character character;
  Nanos resume = 0;
  return decode(receiver, character, resume) ? character.at : kNever;
}

bool LineDirection::take(Nanos now, const Framing& receiver, Character& character) {
  if (m_frames.empty()) return false;
  Nanos resume = 0;
  if (!decode(receiver, character, resume)) {
    // No start bit left in what is on the line: it has nothing more for this receiver.
    m_frames.clear();
    return false;
  }
  if (character.at > now) return false;
  m_huntFrom = resume;
  while (!m_frames.empty() && m_frames.front().end <= m_huntFrom) m_frames.pop_front();
  return true;
}

}  // namespace sim
