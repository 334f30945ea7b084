// What the result codes of the flash programming engine, of the programming configuration
// reader and of its check mean, in words a service technician can act on. Plain codes come
// from one table; the two composite forms are taken apart: a chunk of program data
// (code + 0x10000 / 0x20000 / 0x30000 for its send, answer or extra receive) and a packet
// without a valid acknowledgement (((tries * 16 + phase) << 20) + (receive code << 4) + 5).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// One plain code of the table.
struct ResultCodeInfo {
  int32_t code;
  const char* setBy;    // the operation or step that returns it
  const char* meaning;  // one short line
  const char* advice;   // what to look at first; may be empty
};

// Every plain code, in ascending order of its hex form as the status line shows it.
std::span<const ResultCodeInfo> resultCodeTable();

// The table entry of a plain code, or nullptr.
const ResultCodeInfo* findResultCode(int32_t code);

// A packet without a valid acknowledgement after all its tries.
struct UnacknowledgedPacket {
  int32_t tries = 0;
  int32_t receivePhase = 0;  // 1 length byte, 2 data, 3 checksum bytes, 0 all read
  int32_t receiveCode = 0;   // 275 or 277
};
// True when code has that composite form (low 4 bits 5, a receive code of the packet
// receive in the next 16 bits, phase 0 to 3, at least one try).
bool decodeUnacknowledgedPacket(int32_t code, UnacknowledgedPacket& packet);

// A chunk of program data that failed at one stage.
enum class ChunkStage { kSend = 1, kAnswer = 2, kExtraReceive = 3 };
// True when code is a program-data composite: a code the stage can fail with (the send:
// 3, 4, an error answer in place of the acknowledgement (0x901 to 0x905) or an
// unacknowledged packet; the answer and the extra receive: 275 or 277) plus
// stage * 0x10000.
bool decodeProgramDataCode(int32_t code, ChunkStage& stage, int32_t& baseCode);

// For a code that is none of ours but reads as a stage part (0x10000, 0x20000, 0x30000)
// plus a code of the table or an unacknowledged packet: lines ending in "\n" that name both
// parts and the codes that stage really fails with (a mistyped or misremembered code, such
// as 10113, which the send of a chunk never reports). Empty for every other code.
std::string explainStageMisread(int32_t code);

// The code as the step status line shows it: upper-case hex of its 32 bits ("FFFF",
// "FFFFFFFE" for -2).
std::string resultHex(int32_t code);

// Parses a code as typed: hex as the status line shows it (an optional "0x"), or decimal
// (an optional sign) with decimal = true. False for anything else or beyond 32 bits.
bool parseResultCode(const std::string& text, bool decimal, int32_t& code);

// The code of a step status line that failed with one: "ERROR <text> (<hex>)". False for
// any other line.
bool codeOfStatusLine(const std::string& line, int32_t& code);

// One short line for a code (plain or composite); empty when the code is not one of ours.
std::string resultMeaning(int32_t code);

// The full explanation, several lines ending in "\n": the code in hex and decimal, what
// it means, for composite codes each part, and what to look at. Empty when the code is
// not one of ours.
std::string explainResult(int32_t code);
