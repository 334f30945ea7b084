// The programming link: the binary protocol between the host and the target's bootstrap
// loader and transfer program, on the one serial port of the instrument session.
//
// Host packets are [L][L data bytes][sum16 of L and data]; target packets carry the sum
// of the data alone, and the host echoes each of their bytes as it arrives. Every host
// packet is acknowledged by a target packet starting 0x20 0x00. All numbers little-endian.
#pragma once

#include <cstdint>

#include "serial/comm.h"

inline constexpr uint32_t kCommandPacketSize = 255;
inline constexpr uint32_t kAnswerPacketSize = 512;
inline constexpr uint32_t kMaxPacketData = 255;

inline constexpr int32_t kLinkStartBaud = 19200;  // until the bootstrap loader switches the target
inline constexpr int32_t kLinkParityEven = 2;
inline constexpr int32_t kLinkHandshakeNone = 0;

inline constexpr uint8_t kAckCode = 0x20;  // first data byte of acknowledgement and error answers
inline constexpr uint8_t kAckOk = 0x00;    // second byte of a positive acknowledgement

// Data of the packet a target command is building.
extern uint8_t commandPacket[kCommandPacketSize];
// Data bytes of a command's answer.
extern uint8_t answerPacket[kAnswerPacketSize];
// The second answer that the program-data command receives after a non-positive answer.
extern uint8_t extraAnswerPacket[kAnswerPacketSize];
// Step of the last receivePacket: 1 length byte, 2 data, 3 checksum, 0 done.
extern uint32_t receivePhase;

// Closes the port, sets speed and read time-out, opens it with all its fields, raises RTS
// and DTR (also when the open failed). The caller sets parity even and handshake none.
// 0 or kResultPortNotOpened.
int32_t openProgrammingLink(int32_t speed, int32_t readTimeoutMs, CComm& port);

// One sample of the modem lines: 0 when CTS is off and DSR on (update mode), else
// kResultTargetNotReady. Never waits.
int32_t isTargetReady(CComm& port);

// Raw write of count bytes, then a message pump. count on success, 0 when the write failed
// or a cancel is pending.
uint32_t sendBytes(const void* data, uint32_t count, CComm& port);

// Without echo: one block read of count bytes; the bytes read, or count + 1 on failure.
// With echo: count % 256 single-byte reads, each byte written back at once; the bytes
// read, or count + 1 as soon as one read fails.
uint32_t receiveBytes(void* buffer, uint32_t count, bool echo, CComm& port);

// Dispatches pending front-end events; 1 when a cancel is requested (at once when it was
// already set), else 0.
int32_t pumpMessages();

// Sends one packet of length data bytes and waits for its acknowledgement, up to 5 tries
// 50 ms apart (2.5 s when the target answered twice in a row without acknowledging, so
// that it can drop a request it split in the wrong place). 0 acknowledged (or length <= 0: nothing
// sent); kResultPacketTooLong; kResultPacketNotWritten; kResultCancelled; a composite code
// (compositeSendCode) when the last try's receive failed; the error mapping of the answer when the
// last try drew a well-formed answer that is not the acknowledgement.
int32_t sendPacket(const uint8_t* data, int32_t length, CComm& port);

// Receives one target packet's data bytes into buffer (at least 255 bytes), echoing every
// byte. 0, kResultAnswerIncomplete or kResultAnswerChecksum. length (when given) receives
// the number of data bytes, also on failure (0 when the length byte did not arrive).
int32_t receivePacket(uint8_t* buffer, CComm& port, uint32_t* length = nullptr);

// Sum of bytes modulo 65536, the packet checksum.
uint16_t sum16(const uint8_t* data, uint32_t count, uint32_t start = 0);
