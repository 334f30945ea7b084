// The network backend of the serial device: a serial port of a terminal server (or of a
// small machine that shares its ports over TCP), named "rfc2217://HOST:PORT", spoken to
// over Telnet with the COM-PORT-OPTION.
//
// How it keeps the contract of a local port:
//  - Every wait has a bound: the connection, the option negotiation, each answer of the
//    server, the writes. A dead server or network gives the port's own failures and
//    time-outs, never a hang. A lost connection leaves the device open but dead, as a
//    hung-up tty: reads return Empty after their 100 ms, writes and settings fail.
//  - Line settings (baud rate, data size, parity, stop size, flow control) succeed only once
//    the server has answered each of them with the value asked for. A server that does not
//    do inbound XON/XOFF may answer the inbound flow control with another value; input
//    pacing is the server's business, so any answer is taken there.
//  - CTS and DSR come from the server's modem-state notifications (mask: CTS, DSR and their
//    changes). A server that answers none of the DTR and RTS commands has no modem lines on
//    that port (a pseudo-terminal behind the server): then, as on a local pseudo-terminal,
//    the modem calls fail and flow control that needs a modem line does not hold output.
//  - XON/XOFF on output and DTR/DSR flow control are carried out here (received XON/XOFF
//    are taken out of the input), so that "output held" is exact; RTS/CTS is the server's.
//    A server's FLOWCONTROL-SUSPEND holds output too, until it resumes.
//  - drain() waits until the socket has sent everything and then for the time the bytes
//    take on the server's serial line at the current settings; it does not wait for TCP
//    acknowledgements (a server that delays them would cost up to 200 ms per drain). A
//    change of line settings waits the same way first, so that bytes written before it are
//    not garbled by it on the server's line.
//  - Exclusive use is the server's: a port it lends to one client at a time refuses a
//    second connection (the connection drops at once).
//  - close() keeps the connection for up to 2 s, with DTR and RTS dropped, so that the open
//    of a settings change (a close and an open of the port class) takes it over without a
//    new connection and negotiation, and no other client can take the server's port in
//    between. The probe reports such a port free. A connection not taken in time ends
//    (the connection park, rfc2217_park.h).
//  - Every operating-system call is behind the socket (rfc2217_socket.h); the protocol
//    logic here is the same on every system.
// The device's operations are in rfc2217_device.cpp, the connection's life (probe, open,
// close, park) in rfc2217_connection.cpp, the Telnet stream in rfc2217_stream.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial/port_names.h"
#include "serial/received_input.h"
#include "serial/rfc2217/rfc2217_codec.h"
#include "serial/rfc2217/rfc2217_socket.h"
#include "serial/serial_device.h"

namespace serial {

class Rfc2217Device : public SerialDevice {
 public:
  explicit Rfc2217Device(std::string deviceName);
  ~Rfc2217Device() override;
  Rfc2217Device(const Rfc2217Device&) = delete;
  Rfc2217Device& operator=(const Rfc2217Device&) = delete;

  // Connects within a short bound and disconnects. Absent: not a valid name, unknown host,
  // refused, unreachable or no answer. InUse: the server accepted and dropped the
  // connection at once, or refused the COM-PORT-OPTION (its port is held by another
  // client). Free otherwise. `failure` gets the cause of Absent and InUse (None for a name
  // that is not valid).
  static ProbeResult probe(const std::string& deviceName, PortFailure* failure = nullptr);

  // After a failed open: what the connection met. Busy when the server hung up or refused
  // the COM-PORT-OPTION during the negotiation, NoAnswer when it stayed silent.
  PortFailure openFailure() const override { return m_openFailure; }
  bool isOpen() const override { return m_socket.isOpen(); }

  // The network's round trip: the smallest time from a request sent at an open (the
  // negotiation's queries, the modem-state mask of a kept connection) to the server's answer
  // that this connection has seen. It counts the server's turnaround as well: each byte the
  // server's port receives waits for that much before this program's echo is back there.
  ReceiveDelays receiveDelays() const override;

  // True once the connection broke while open.
  bool disconnected() const { return m_disconnected; }
  // False once the server has shown that it cannot drive DTR and RTS on its port.
  bool hasModemLines() const { return !m_modemLinesAbsent; }

 protected:
  bool openImpl() override;
  void closeImpl() override;
  bool setQueueSizesImpl(uint32_t inputBytes, uint32_t outputBytes) override;
  bool purgeImpl(bool input, bool output) override;
  bool getSettingsImpl(LineSettings& settings) override;
  bool setSettingsImpl(const LineSettings& settings) override;
  ReadResult readByteImpl(uint8_t& byte) override;
  bool writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) override;
  bool drainImpl() override;
  bool outputHeldImpl(bool& held) override;
  bool modemStatusImpl(bool& cts, bool& dsr) override;
  bool setRtsImpl() override;
  bool setDtrImpl() override;
  bool clearDtrImpl() override;

 private:
  // Answers of one COM-PORT command code, counted so that a wait knows a new one came.
  struct Answer {
    uint32_t count = 0;
    std::vector<uint8_t> value;
  };

  bool negotiate(int64_t deadlineMs);
  // Keeps the connection for the next open of the port; false when it cannot be kept.
  bool park();
  // Takes a kept connection of the port; false when there is none (or it broke).
  bool resume();
  // Takes what the socket holds, waiting up to timeoutMs (real time) for the first bytes.
  // False when the connection is gone.
  bool pump(int timeoutMs);
  bool pumpMicros(int64_t timeoutUs);
  // Waits until the socket has sent every byte handed to it and the bytes have had their
  // time on the server's serial line at the current settings. Never waits for the server's
  // acknowledgements. False at the deadline or when the connection broke.
  bool waitLineFree(int64_t deadlineMs);
  void takeInput(const uint8_t* bytes, size_t size);
  void handleNegotiation(const rfc2217::TelnetEvent& event);
  void handleComPort(const rfc2217::TelnetEvent& event);
  void takeData(const uint8_t* bytes, size_t size);
  // Queues bytes for the socket and sends what it takes before the deadline.
  bool send(const std::vector<uint8_t>& bytes, int64_t deadlineMs);
  bool flushOutput(int64_t deadlineMs);
  // Waits for an answer with code + 100 after `countBefore`; false at the deadline or when
  // the connection broke.
  bool awaitAnswer(uint8_t code, uint32_t countBefore, int64_t deadlineMs);
  uint32_t answerCount(uint8_t code) const;
  const std::vector<uint8_t>& answerValue(uint8_t code) const;
  // One SET-CONTROL command and its answer; `answered` tells whether one came.
  bool control(uint8_t value, int64_t deadlineMs, uint8_t& answer);
  // DTR or RTS: sends the command and, unless the server is known to have no modem lines,
  // waits for its answer.
  bool modemLine(uint8_t value, int waitMs);
  bool heldNow() const;
  // Takes the time from `askedAtUs` to now as a round trip to the server.
  void noteRoundTrip(int64_t askedAtUs);
  void markDisconnected();
  void resetState();

  static constexpr size_t kInputBufferBytes = 32768;

  std::string m_name;
  rfc2217::Socket m_socket;
  PortFailure m_openFailure = PortFailure::None;
  bool m_disconnected = false;
  rfc2217::TelnetDecoder m_decoder;
  // Negotiated options.
  bool m_comPortAccepted = false;
  bool m_comPortRefused = false;
  bool m_clientBinary = true;  // the server takes our data in binary
  bool m_refusedOption[256] = {};
  // Answers by command code (0 to 12).
  Answer m_answers[16];
  // Modem state from the notifications.
  bool m_modemStateKnown = false;
  uint8_t m_modemState = 0;
  bool m_modemLinesAbsent = false;
  bool m_modemLineAnswered = false;
  bool m_suspended = false;  // FLOWCONTROL-SUSPEND from the server
  bool m_xoffReceived = false;
  // A purge of the input is under way: data up to its answer is old.
  bool m_purgingInput = false;
  LineSettings m_settings{};
  // Real time at which the bytes written so far will have left the server's serial line.
  int64_t m_lineFreeAtUs = 0;
  uint32_t m_roundTripUs = 0;  // the smallest round trip seen; 0: none yet
  std::vector<uint8_t> m_pendingOutput;
  ReceivedInput m_input{kInputBufferBytes};  // received data bytes
};

}  // namespace serial
