// One direction of the RS-232 line: the characters a sender has put on the wire, and the
// UART at the far end that samples them at its own settings.
//
// A receiver whose baud rate, data bits and parity match the sender's gets every byte as
// it was sent (the number of stop bits never matters: a receiver checks only the first).
// Otherwise the receiver does what a real UART does with the wave form: it waits for a
// falling edge, takes that as a start bit, samples each of its bits in the middle of its
// own bit time and checks its own parity and stop bit. That turns the characters into
// garbage bytes, some with parity errors, some lost to framing errors, a different number
// of them than were sent; a receiver that fell out of step stays so until an idle moment
// on the line. Where exactly the receiver sees an edge varies by up to 1/16 of a bit, as
// with a 16-times oversampling UART, and its clock is off by up to 2 %, as crystals and
// baud rate dividers are; both follow the seed, so the same seed gives the same garbage.
#pragma once

#include <cstdint>
#include <deque>

#include "serial/serial_device.h"

namespace sim {

// Simulation time: nanoseconds of the program clock.
using Nanos = uint64_t;
inline constexpr Nanos kNanosPerMs = 1000000;
inline constexpr Nanos kNever = UINT64_MAX;

// How characters are framed on one end of the line.
struct Framing {
  uint32_t baud = 9600;
  uint8_t dataBits = 8;
  serial::Parity parity = serial::Parity::None;
  serial::StopBits stopBits = serial::StopBits::One;

  bool operator==(const Framing&) const = default;
  // Time of one character: start bit, data bits, parity bit, stop bits.
  Nanos frameNanos() const;
  // Whether a receiver at `other` reads this sender's characters as sent.
  bool understands(const Framing& other) const {
    return baud == other.baud && dataBits == other.dataBits && parity == other.parity;
  }
};

// One character on the wire.
struct Frame {
  Nanos start;
  Nanos end;
  uint8_t byte;
  Framing framing;
};

// What the receiver makes of the wave form.
struct Character {
  uint8_t byte = 0;
  bool parityError = false;
  bool framingError = false;  // the stop bit read 0: a UART drops such a byte
  bool garbled = false;       // sampled from characters at other settings
  Nanos at = 0;               // when the receiver has it
};

class LineDirection {
 public:
  explicit LineDirection(uint64_t seed);

  // Frames go on in order and do not overlap.
  void put(const Frame& frame);
  bool empty() const { return m_frames.empty(); }
  // End of the last character put on the line (0 before the first).
  Nanos lastEnd() const { return m_lastEnd; }
  // Takes off the line every character that has not started by `now`; one being shifted
  // out completes.
  void dropUnstarted(Nanos now);
  void clear();

  // When a receiver at `receiver` has its next character; kNever when the characters on
  // the line hold no more.
  Nanos nextCharacter(const Framing& receiver) const;
  // The next character that the receiver has by `now`; false when there is none yet.
  bool take(Nanos now, const Framing& receiver, Character& character);

 private:
  // The next character from m_huntFrom on; `resume` is where the receiver looks for the
  // start bit after it. False when no start bit follows on the frames put so far.
  bool decode(const Framing& receiver, Character& character, Nanos& resume) const;
  // The line level at a time: 1 idle or mark, 0 space.
  int level(Nanos t) const;
  // The first time at or after `from` at which the line is low, or kNever.
  Nanos firstLow(Nanos from, const Frame*& frame) const;

  std::deque<Frame> m_frames;
  Nanos m_huntFrom = 0;
  Nanos m_lastEnd = 0;
  uint64_t m_seed;
  int32_t m_clockErrorPpm;  // of the receiver's bit clock
};

}  // namespace sim
