// The byte stream of a serial port over the network: Telnet (option negotiation, IAC
// escaping, subnegotiations) with the COM-PORT-OPTION that carries the line settings, modem
// lines and purges of the far port. Pure functions of their input, so that tests feed them
// every split and every malformed stream, and a fuzzer reaches them directly; the socket
// lives in serial/rfc2217/rfc2217_device.* and the per-system rfc2217_socket_*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace serial::rfc2217 {

// Telnet commands.
inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;
inline constexpr uint8_t kNop = 241;

// Telnet options.
inline constexpr uint8_t kOptionBinary = 0;
inline constexpr uint8_t kOptionEcho = 1;
inline constexpr uint8_t kOptionSuppressGoAhead = 3;
inline constexpr uint8_t kOptionComPort = 44;

// COM-PORT-OPTION commands from the client; the server answers with the same code + 100.
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kSetControl = 5;
inline constexpr uint8_t kNotifyLineState = 6;
inline constexpr uint8_t kNotifyModemState = 7;
inline constexpr uint8_t kFlowControlSuspend = 8;
inline constexpr uint8_t kFlowControlResume = 9;
inline constexpr uint8_t kSetLineStateMask = 10;
inline constexpr uint8_t kSetModemStateMask = 11;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;

// Values of the parity, stop-size and control commands.
inline constexpr uint8_t kParityNone = 1;
inline constexpr uint8_t kParityOdd = 2;
inline constexpr uint8_t kParityEven = 3;
inline constexpr uint8_t kStopSizeOne = 1;
inline constexpr uint8_t kStopSizeTwo = 2;
inline constexpr uint8_t kStopSizeOneAndHalf = 3;
inline constexpr uint8_t kControlOutboundNone = 1;
inline constexpr uint8_t kControlOutboundXonXoff = 2;
inline constexpr uint8_t kControlOutboundHardware = 3;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlRtsOn = 11;
inline constexpr uint8_t kControlRtsOff = 12;
inline constexpr uint8_t kControlInboundNone = 14;
inline constexpr uint8_t kControlInboundXonXoff = 15;
inline constexpr uint8_t kControlInboundHardware = 16;
// Purge: the server's buffer of data from the serial port (our input), towards it, both.
inline constexpr uint8_t kPurgeReceive = 1;
inline constexpr uint8_t kPurgeTransmit = 2;
inline constexpr uint8_t kPurgeBoth = 3;
// Modem-state bits.
inline constexpr uint8_t kModemCts = 0x10;
inline constexpr uint8_t kModemDsr = 0x20;
inline constexpr uint8_t kModemDeltaCts = 0x01;
inline constexpr uint8_t kModemDeltaDsr = 0x02;

// A subnegotiation longer than this is not a COM-PORT message and is dropped unread.
inline constexpr size_t kMaxSubnegotiationBytes = 64;

// One thing the server said besides data.
struct TelnetEvent {
  enum class Kind : uint8_t {
    Negotiation,  // WILL / WONT / DO / DONT `option`
    ComPort,      // a COM-PORT-OPTION subnegotiation: `code` and its value bytes
  };
  Kind kind = Kind::Negotiation;
  uint8_t verb = 0;    // kWill, kWont, kDo or kDont
  uint8_t option = 0;  // negotiation option
  uint8_t code = 0;    // COM-PORT command code (as the server sent it, so answers are >= 100)
  std::vector<uint8_t> value;
};

// Splits a received stream into data bytes and events, in any chunking. Holds at most one
// partial command or subnegotiation between calls.
class TelnetDecoder {
 public:
  // Data bytes are appended to `data` and events to `events`, in stream order relative to
  // each other only within their own vector; `dataBefore` of each event tells how many data
  // bytes of this call came before it.
  struct Output {
    std::vector<uint8_t> data;
    std::vector<TelnetEvent> events;
    std::vector<size_t> dataBefore;
  };
  void feed(const uint8_t* bytes, size_t size, Output& out);
  // The server does not send binary: a carriage return followed by NUL stands for the
  // carriage return alone.
  void setServerBinary(bool binary) { m_serverBinary = binary; }
  void reset();

 private:
  enum class State : uint8_t { Data, Iac, Verb, Sb, SbIac, SbSkip, SbSkipIac };
  // One byte in the current state; false when the byte is to be read again in the state
  // it led to.
  bool step(uint8_t byte, Output& out);
  void takeData(uint8_t byte, Output& out);
  // The byte after an IAC outside a subnegotiation.
  void takeCommand(uint8_t byte, Output& out);
  // A byte inside a subnegotiation (Sb, SbIac); false as step().
  bool takeSubnegotiation(uint8_t byte, Output& out);
  void finishSubnegotiation(Output& out);

  State m_state = State::Data;
  uint8_t m_verb = 0;
  bool m_serverBinary = true;
  bool m_lastWasCr = false;
  std::vector<uint8_t> m_sb;
};

// Appends data bytes for the wire: IAC doubled; without binary a lone carriage return goes
// as CR NUL.
void appendData(std::vector<uint8_t>& out, const uint8_t* data, size_t size, bool binary = true);
void appendNegotiation(std::vector<uint8_t>& out, uint8_t verb, uint8_t option);
// IAC SB COM-PORT-OPTION code value... IAC SE, with IAC bytes of the value doubled.
void appendComPort(std::vector<uint8_t>& out, uint8_t code, const uint8_t* value, size_t size);
void appendComPort(std::vector<uint8_t>& out, uint8_t code, uint8_t value);
void appendBaudRate(std::vector<uint8_t>& out, uint32_t baudRate);
// The 32-bit value of a baud-rate answer (network byte order); 0 when it has not 4 bytes.
uint32_t baudRateValue(const std::vector<uint8_t>& value);

}  // namespace serial::rfc2217
