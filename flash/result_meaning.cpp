#include "flash/result_meaning.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "flash/config/config_check.h"
#include "flash/config/config_reader.h"
#include "flash/result_codes.h"

namespace {

constexpr const char* kCheckCable =
    "Check the cable and that the instrument is still switched on and in update mode.";
constexpr const char* kCheckNoise =
    "Line noise or a wrong line setting: check the cable; a lower link speed may help.";
constexpr const char* kTransferStatus =
    "The transfer program does not fit this instrument, or its download was damaged: check "
    "ROMWRITE.TRA and the cable.";
constexpr const char* kTargetError =
    "The transfer program refused the command: the job may not fit the fitted flash chips; "
    "the status line above names the step.";

// Ascending by the hex form, so that negative codes (FFFFFFFE, FFFFFFFF) come last.
constexpr ResultCodeInfo kTable[] = {
    {kResultOk, "every operation", "success", ""},
    {kResultDspFailed, "DSP option programming",
     "DSP option programming failed: no or unreadable image file, four failed attempts, or "
     "cancelled",
     "Check that QAM.BIN, ATSC.BIN or OFDM.BIN is in the update folder; the status lines above "
     "say which attempt failed and why."},
    {kResultDspChecksumMismatch, "DSP option programming",
     "the DSP module's checksum differs from the sum of the image file",
     "The image file may be damaged, or the module's flash is faulty: repeat the option update."},
    {kResultPacketTooLong, "packet send", "packet longer than 255 data bytes",
     "A fault of the update program itself: keep the transcript and report it."},
    {kResultPacketNotWritten, "packet send", "the packet could not be written to the port",
     "Check the port: a USB adapter unplugged, or the device gone."},
    {kResultPortNotOpened, "programming link", "the port could not be opened for the update",
     "Another program may hold the port, or the adapter was unplugged."},
    {kResultAnswerIncomplete, "packet receive",
     "answer incomplete: length, data or checksum bytes did not arrive in time", kCheckCable},
    {kResultAnswerChecksum, "packet receive", "answer checksum mismatch", kCheckNoise},
    {kResultLoaderNoStatus, "bootstrap loader download",
     "no status byte from the target after the bootstrap loader",
     "The instrument is not in update mode, or the line is broken or at another speed."},
    {kResultLoaderRejected, "bootstrap loader download",
     "the target rejected the bootstrap loader (status \"C\")",
     "The loader does not fit this instrument, or its download was damaged: check ROMWRITE.URL "
     "and the cable."},
    {kResultLoaderFileNotOpened, "bootstrap loader download",
     "the bootstrap loader file cannot be opened",
     "The loader named in ROMWRITE.CNF (normally ROMWRITE.URL) must be in the update folder."},
    {kResultLoaderNotSent, "bootstrap loader download",
     "the bootstrap loader could not be sent (or the run was cancelled), or the target answered "
     "with an unknown status",
     kCheckCable},
    {kResultTargetNotReady, "ready signal", "target not ready: CTS on or DSR off",
     "The instrument is not in update mode, or the cable does not carry CTS and DSR."},
    {kResultLoaderTooShort, "bootstrap loader download",
     "the bootstrap loader is shorter than 8 bytes: no place for the speed divisor",
     "The loader file is damaged or is not a loader."},
    {kResultTransferFile, "transfer program download",
     "the transfer program cannot be opened or positioned, or fewer bytes were read than its "
     "length",
     "The transfer program named in ROMWRITE.CNF (normally ROMWRITE.TRA) must be in the update "
     "folder and readable."},
    {kResultTransferStatusC, "transfer program download",
     "the target answered the transfer program with status letter \"C\"", kTransferStatus},
    {kResultTransferNoStatus, "transfer program download",
     "no status letter from the target after the transfer program", kCheckCable},
    {kResultTransferStatusP, "transfer program download",
     "the target answered the transfer program with status letter \"P\"", kTransferStatus},
    {kResultTransferStatusF, "transfer program download",
     "the target answered the transfer program with status letter \"F\"", kTransferStatus},
    {kResultTransferStatusO, "transfer program download",
     "the target answered the transfer program with status letter \"O\"", kTransferStatus},
    {kResultTransferNotSent, "transfer program download",
     "a part of the transfer program could not be sent (or the run was cancelled), or an "
     "unknown status letter came back",
     kCheckCable},
    {kResultPowerOnNotConfirmed, "programming voltage on",
     "the target did not confirm the programming voltage on (no \"D\")",
     "The instrument's programming voltage may be faulty."},
    {kResultPowerOffNotConfirmed, "programming voltage off",
     "the target did not confirm the programming voltage off (no \"F\")",
     "The instrument's programming voltage may be faulty."},
    {kResultProgramFailedAt, "program data", "the target failed to program flash at an address",
     "Repeat the update; a second failure at the same address points to a faulty flash chip."},
    {kResultEraseFailedAt, "erase", "the target failed to erase flash at an address",
     "Repeat the update; a second failure points to a faulty flash chip or programming "
     "voltage."},
    {kResultProgramFileNotOpened, "program data", "a firmware image file cannot be opened",
     "The images named in ROMWRITE.CNF must be in the update folder and readable."},
    {kResultChecksumMismatch, "checksum test",
     "the target's checksum of a programmed image differs from the image file's sum",
     "The flash holds something else than the file: repeat the update before booting."},
    {kResultReadBackDiffers, "read back",
     "the flash read back differs from the image file (the checksum did not see it)",
     "The listed addresses hold other bytes: repeat the update before booting; when it "
     "fails again at the same addresses, the flash chips are faulty."},
    {kResultBackupWrite, "backup", "an area of the flash could not be written to the backup folder",
     "Check the free space and the rights of the backup folder; nothing was erased."},
    {kConfigSyntaxError, "configuration file reader",
     "syntax error in the programming configuration file",
     "Run 'zelupdate check' on ROMWRITE.CNF, or generate it again."},
    {kCheckJobInvalid, "configuration check",
     "the programming configuration file is inconsistent (its message names the fault)",
     "Run 'zelupdate check' on ROMWRITE.CNF: it prints the message; check that every file it "
     "names is in the update folder."},
    {kCheckChipWrongClass, "flash chip identification",
     "a flash chip of another class than the bank's chip type is fitted",
     "ROMWRITE.CNF does not fit this board's flash chips: generate it for the instrument's "
     "hardware."},
    {kCheckChipUnknown, "flash chip identification",
     "a flash chip reported identification codes that are not in the chip table",
     "An unsupported or faulty flash chip, or a bank without chips."},
    {kCheckProgramNotErased, "pre-flight check of a run",
     "a firmware image runs past the flash that the job erases for it",
     "The stop box names the image, its size and the room: check that the image is the one "
     "for this board; the run refuses it before the instrument is switched into update mode."},
    {kResultInstrumentNotReached, "instrument session",
     "the instrument did not answer, or a command could not be sent to it",
     "Check the cable, that the instrument is switched on and that no other program uses the "
     "port."},
    {kResultConfigNotWritten, "configuration file generation", "ROMWRITE.CNF could not be written",
     "Check the free space and the rights of the update folder, and that ROMWRITE.CNF is a "
     "regular file."},
    {kResultHardwareChanged, "hardware check after the processor update",
     "the instrument reports another hardware word after the processor update than before it",
     "An option was not detected by the new firmware: retry the update in Manual Mode."},
    {kResultNoAnswerAfterBoot, "wait for the instrument after its boot",
     "the instrument did not answer within 150 s after booting its new firmware",
     "The processor firmware is programmed. Switch the instrument off and on; if it comes up, "
     "finish with the option update in Manual Mode, else repeat the update in Manual Mode."},
    {kResultTargetErrorF0, "target command", "error answer 0xF0 from the transfer program",
     kTargetError},
    {kResultTargetErrorF1, "target command", "error answer 0xF1 from the transfer program",
     kTargetError},
    {kResultTargetErrorF3, "target command", "error answer 0xF3 from the transfer program",
     kTargetError},
    {kResultTargetErrorF4, "target command",
     "error answer 0xF4 from the transfer program (0xF5 too for program data)", kTargetError},
    {kResultUnexpectedAnswer, "target command",
     "unexpected answer: a wrong answer code, or an error answer with another second byte",
     kCheckNoise},
    {kResultUploadWrite, "upload", "the received data could not be written to the host file",
     "Check the free space and the rights of the working folder."},
    {kResultUploadNotCreated, "upload", "the upload file cannot be created",
     "Check the rights of the working folder."},
    {kResultCancelled, "every waiting operation", "cancelled by the user", ""},
    {kConfigReadNotReadable, "configuration file reader",
     "the programming configuration file cannot be opened or read",
     "ROMWRITE.CNF must be in the current folder: generate it first."},
    {kConfigReadEmpty, "configuration file reader", "the programming configuration file is empty",
     "Generate ROMWRITE.CNF again."},
};

const char* phaseText(int32_t phase) {
  switch (phase) {
    case 1:
      return "waiting for the length byte";
    case 2:
      return "reading the data bytes";
    case 3:
      return "reading the checksum bytes";
    default:
      return "all bytes read";
  }
}

const char* stageText(ChunkStage stage) {
  switch (stage) {
    case ChunkStage::kSend:
      return "the send of a chunk";
    case ChunkStage::kAnswer:
      return "the receive of a chunk's answer";
    case ChunkStage::kExtraReceive:
      return "the receive of the extra packet after a negative answer";
  }
  return "";
}

// sendPacket reports a well-formed answer that is not the acknowledgement (an error answer
// 0x20 0xF0 to a damaged request, ...) by the error mapping: 0x901 to 0x905.
bool isErrorAnswerInPlaceOfAck(int32_t code) {
  return code >= kResultTargetErrorF0 && code <= kResultUnexpectedAnswer;
}

// The codes a stage of a chunk really fails with, as the status line shows them.
const char* stageCodes(ChunkStage stage) {
  return stage == ChunkStage::kSend
             ? "3, 4, 901 to 905 (an error answer in place of the acknowledgement) and those "
               "of a packet without acknowledgement (5101135, 5201135, ...)"
             : "113 and 115";
}

std::string codeForms(int32_t code) {
  return resultHex(code) + " (decimal " + std::to_string(code) + ")";
}

std::string packetMeaning(const UnacknowledgedPacket& packet) {
  return "no valid acknowledgement of a packet after " + std::to_string(packet.tries) +
         " tries: " + resultMeaning(packet.receiveCode);
}

std::string packetDetails(const UnacknowledgedPacket& packet, const std::string& indent) {
  const ResultCodeInfo* receive = findResultCode(packet.receiveCode);
  return indent + "tries:         " + std::to_string(packet.tries) + "\n" + indent +
         "receive phase: " + std::to_string(packet.receivePhase) + " (" +
         phaseText(packet.receivePhase) + ")\n" + indent +
         "receive code:  " + codeForms(packet.receiveCode) + ": " + receive->meaning + "\n";
}

}  // namespace

std::span<const ResultCodeInfo> resultCodeTable() {
  return kTable;
}

const ResultCodeInfo* findResultCode(int32_t code) {
  for (const ResultCodeInfo& info : kTable) {
    if (info.code == code) return &info;
  }
  return nullptr;
}

bool decodeUnacknowledgedPacket(int32_t code, UnacknowledgedPacket& packet) {
  const auto bits = static_cast<uint32_t>(code);
  if ((bits & 0xFu) != 5u) return false;
  const auto receiveCode = static_cast<int32_t>((bits >> 4) & 0xFFFFu);
  const auto phase = static_cast<int32_t>((bits >> 20) & 0xFu);
  const auto tries = static_cast<int32_t>(bits >> 24);
  if (receiveCode != kResultAnswerIncomplete && receiveCode != kResultAnswerChecksum) return false;
  if (phase > 3 || tries < 1) return false;
  packet = {tries, phase, receiveCode};
  return true;
}

bool decodeProgramDataCode(int32_t code, ChunkStage& stage, int32_t& baseCode) {
  for (const ChunkStage candidate :
       {ChunkStage::kSend, ChunkStage::kAnswer, ChunkStage::kExtraReceive}) {
    const int64_t base =
        static_cast<int64_t>(code) - static_cast<int64_t>(candidate) * kProgramSendFailed;
    if (base <= 0) continue;
    const auto base32 = static_cast<int32_t>(base);
    bool fits = false;
    if (candidate == ChunkStage::kSend) {
      UnacknowledgedPacket packet;
      fits = base32 == kResultPacketTooLong || base32 == kResultPacketNotWritten ||
             isErrorAnswerInPlaceOfAck(base32) || decodeUnacknowledgedPacket(base32, packet);
    } else {
      fits = base32 == kResultAnswerIncomplete || base32 == kResultAnswerChecksum;
    }
    if (fits) {
      stage = candidate;
      baseCode = base32;
      return true;
    }
  }
  return false;
}

std::string resultHex(int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "%" PRIX32, static_cast<uint32_t>(code));
  return text;
}

bool parseResultCode(const std::string& text, bool decimal, int32_t& code) {
  std::string digits = text;
  bool negative = false;
  if (decimal && !digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.erase(0, 1);
  }
  if (!decimal && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits.erase(0, 2);
  if (digits.empty() || digits.size() > 10) return false;
  uint64_t value = 0;
  for (const char c : digits) {
    const auto u = static_cast<unsigned char>(c);
    if (decimal ? !std::isdigit(u) : !std::isxdigit(u)) return false;
    const int digit = std::isdigit(u) ? c - '0' : std::toupper(u) - 'A' + 10;
    value = value * (decimal ? 10 : 16) + static_cast<uint64_t>(digit);
  }
  if (decimal) {
    if (negative ? value > 0x80000000ull : value > 0x7FFFFFFFull) return false;
    code = static_cast<int32_t>(negative ? -static_cast<int64_t>(value) : value);
  } else {
    if (value > 0xFFFFFFFFull) return false;
    code = static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  return true;
}

bool codeOfStatusLine(const std::string& line, int32_t& code) {
  if (line.rfind("ERROR ", 0) != 0 || line.empty() || line.back() != ')') return false;
  const size_t open = line.rfind('(');
  if (open == std::string::npos || open < 7 || line[open - 1] != ' ' ||
      line.compare(open + 1, 2, "0x") == 0)
    return false;
  return parseResultCode(line.substr(open + 1, line.size() - open - 2), false, code);
}

std::string resultMeaning(int32_t code) {
  if (const ResultCodeInfo* info = findResultCode(code)) return info->meaning;
  UnacknowledgedPacket packet;
  if (decodeUnacknowledgedPacket(code, packet)) return packetMeaning(packet);
  ChunkStage stage{};
  int32_t base = 0;
  if (decodeProgramDataCode(code, stage, base))
    return std::string("program data: ") + stageText(stage) + " failed: " + resultMeaning(base);
  return "";
}

namespace {

// What follows a failure while the instrument was in update mode: it may be left there, with
// its firmware erased or half programmed.
constexpr const char* kAfterUpdateMode =
    "  If the instrument stays silent: switch it off and on. When it then waits in update mode "
    "(its firmware incomplete), program a backup back with zelupdate restore DIR, or use the "
    "manual mode.\n";

// The codes set while the instrument is in update mode: the loader, the transfer program,
// the packet link, erase, program, checksum and read back, the target's answers, the wait
// after its boot, and a cancel.
bool setInUpdateMode(int32_t code) {
  const auto hex = static_cast<uint32_t>(code);
  return (hex >= 0x110 && hex <= 0x420) || (hex >= 0x900 && hex <= 0x9FF) ||
         code == kResultNoAnswerAfterBoot || code == kResultCancelled;
}

}  // namespace

std::string explainResult(int32_t code) {
  if (const ResultCodeInfo* info = findResultCode(code)) {
    std::string text = codeForms(code) + ": " + info->meaning + "\n  set by: " + info->setBy + "\n";
    if (*info->advice) text += "  " + std::string(info->advice) + "\n";
    if (setInUpdateMode(code)) text += kAfterUpdateMode;
    return text;
  }
  UnacknowledgedPacket packet;
  if (decodeUnacknowledgedPacket(code, packet)) {
    return codeForms(code) + ": no valid acknowledgement of a packet after all its tries\n" +
           packetDetails(packet, "  ") + "  " + findResultCode(packet.receiveCode)->advice + "\n" +
           kAfterUpdateMode;
  }
  ChunkStage stage{};
  int32_t base = 0;
  if (!decodeProgramDataCode(code, stage, base)) return "";
  std::string text = codeForms(code) + ": program data: " + stageText(stage) + " failed\n" +
                     "  stage:     +" +
                     resultHex(static_cast<int32_t>(stage) * kProgramSendFailed) + " (" +
                     stageText(stage) + ")\n" + "  base code: " + codeForms(base) + ": ";
  if (decodeUnacknowledgedPacket(base, packet)) {
    text += "no valid acknowledgement of the chunk's packet\n" + packetDetails(packet, "    ");
    base = packet.receiveCode;
  } else {
    text += std::string(findResultCode(base)->meaning) + "\n";
  }
  const char* advice = findResultCode(base)->advice;
  if (stage == ChunkStage::kSend && isErrorAnswerInPlaceOfAck(base)) {
    // The last of the packet's tries was answered with an error answer; 0xF0 is the
    // target's answer to a request whose checksum arrived wrong.
    text +=
        "  The target answered the last try of the chunk's packet with this in place of "
        "its acknowledgement.\n";
    if (base == kResultTargetErrorF0) advice = kCheckNoise;
  }
  text += "  " + std::string(advice) + "\n" + kAfterUpdateMode;
  return text;
}

std::string explainStageMisread(int32_t code) {
  ChunkStage stage{};
  int32_t base = 0;
  if (!resultMeaning(code).empty()) return "";
  for (const ChunkStage candidate :
       {ChunkStage::kSend, ChunkStage::kAnswer, ChunkStage::kExtraReceive}) {
    const int64_t rest =
        static_cast<int64_t>(code) - static_cast<int64_t>(candidate) * kProgramSendFailed;
    if (rest <= 0) continue;  // a stage part always comes with a failure below it
    UnacknowledgedPacket packet;
    const auto rest32 = static_cast<int32_t>(rest);
    if (findResultCode(rest32) || decodeUnacknowledgedPacket(rest32, packet)) {
      stage = candidate;
      base = rest32;
      break;
    }
  }
  if (base == 0) return "";
  std::string text = "  read as program data it would be\n    stage +" +
                     resultHex(static_cast<int32_t>(stage) * kProgramSendFailed) + ": " +
                     stageText(stage) + "\n    code " + resultHex(base) + ": " +
                     resultMeaning(base) + "\n  but ";
  if (base == kResultCancelled) return text + "a cancel keeps its own code, FFFF\n";
  return text + stageText(stage) + " never fails with " + resultHex(base) + "; its codes are " +
         stageCodes(stage) + "\n";
}
