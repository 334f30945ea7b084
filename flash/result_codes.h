// Result codes of the flash programming engine (programming link, target commands,
// update sequences, DSP option programming). 0 is success; the step status line shows a
// code in upper-case hexadecimal, so each constant's hex form is given beside it.
#pragma once

#include <cstdint>

inline constexpr int32_t kResultOk = 0;

// DSP option programming.
inline constexpr int32_t kResultDspFailed = 1;  // no image, unreadable, 4 attempts, cancel
inline constexpr int32_t kResultDspChecksumMismatch = 2;  // module checksum differs from image sum

// Packet send.
inline constexpr int32_t kResultPacketTooLong = 3;     // more than 255 data bytes
inline constexpr int32_t kResultPacketNotWritten = 4;  // the port did not take the packet

// Link and packet receive.
inline constexpr int32_t kResultPortNotOpened = 272;     // 0x110
inline constexpr int32_t kResultAnswerIncomplete = 275;  // 0x113 length/data/checksum missing
inline constexpr int32_t kResultAnswerChecksum = 277;    // 0x115 answer sum wrong

// Bootstrap loader download (raw).
inline constexpr int32_t kResultLoaderNoStatus = 513;       // 0x201
inline constexpr int32_t kResultLoaderRejected = 514;       // 0x202 status "C"
inline constexpr int32_t kResultLoaderFileNotOpened = 515;  // 0x203
inline constexpr int32_t kResultLoaderNotSent = 516;   // 0x204 send failed, cancel, other status
inline constexpr int32_t kResultTargetNotReady = 517;  // 0x205 CTS on or DSR off
// A TMS320C30 loader shorter than 8 bytes has no place for the speed divisor.
inline constexpr int32_t kResultLoaderTooShort = 518;  // 0x206

// File download of the transfer program (raw).
inline constexpr int32_t kResultTransferFile = 769;      // 0x301 open, position or length
inline constexpr int32_t kResultTransferStatusC = 784;   // 0x310
inline constexpr int32_t kResultTransferNoStatus = 785;  // 0x311
inline constexpr int32_t kResultTransferStatusP = 787;   // 0x313
inline constexpr int32_t kResultTransferStatusF = 788;   // 0x314
inline constexpr int32_t kResultTransferStatusO = 789;   // 0x315
inline constexpr int32_t kResultTransferNotSent = 790;  // 0x316 send failed, cancel, unknown status

// Packet commands.
inline constexpr int32_t kResultPowerOnNotConfirmed = 1041;   // 0x411 no "D"
inline constexpr int32_t kResultPowerOffNotConfirmed = 1042;  // 0x412 no "F"
inline constexpr int32_t kResultProgramFailedAt = 1043;       // 0x413 target failed at an address
inline constexpr int32_t kResultEraseFailedAt = 1044;         // 0x414 target failed at an address
// A program file that cannot be opened (the configuration check found it earlier).
inline constexpr int32_t kResultProgramFileNotOpened = 1045;  // 0x415
// The target's checksum of a programmed image differs from the host's sum of the file.
inline constexpr int32_t kResultChecksumMismatch = 1046;  // 0x416
// Read back: the flash holds other bytes than the image (the checksum did not see it).
inline constexpr int32_t kResultReadBackDiffers = 1056;  // 0x420
// Backup: an area's file cannot be written into the backup folder.
inline constexpr int32_t kResultBackupWrite = 1057;  // 0x421

// Steps of the workflows around the engine whose own results are no code.
// The instrument did not answer its queries, or a command could not be sent to it.
inline constexpr int32_t kResultInstrumentNotReached = 1793;  // 0x701
// ROMWRITE.CNF could not be written.
inline constexpr int32_t kResultConfigNotWritten = 1794;  // 0x702
// After the processor update the instrument reports another hardware word (an option lost).
inline constexpr int32_t kResultHardwareChanged = 1795;  // 0x703

// Error answers 0x20 xx of the target.
inline constexpr int32_t kResultTargetErrorF0 = 2305;     // 0x901
inline constexpr int32_t kResultTargetErrorF1 = 2306;     // 0x902
inline constexpr int32_t kResultTargetErrorF3 = 2307;     // 0x903
inline constexpr int32_t kResultTargetErrorF4 = 2308;     // 0x904 (program data: also 0xF5)
inline constexpr int32_t kResultUnexpectedAnswer = 2309;  // 0x905

// Upload into a host file.
inline constexpr int32_t kResultUploadWrite = 48350;       // 0xBCDE data not written
inline constexpr int32_t kResultUploadNotCreated = 48351;  // 0xBCDF file cannot be created

// The instrument did not answer within its bound after the boot into the new firmware.
inline constexpr int32_t kResultNoAnswerAfterBoot = 1808;  // 0x710

inline constexpr int32_t kResultCancelled = 65535;  // 0xFFFF

// sendPacket without a valid acknowledgement after all tries:
// ((tries * 16 + receivePhase) << 20) + (receive code << 4) + 5.
inline constexpr int32_t kSendPacketTries = 5;
inline constexpr int32_t compositeSendCode(int32_t tries, uint32_t phase, int32_t receiveCode) {
  return static_cast<int32_t>(((static_cast<uint32_t>(tries) * 16u + phase) << 20) +
                              (static_cast<uint32_t>(receiveCode) << 4) + 5u);
}

// Program data: which stage of a chunk failed is added to the failing code.
inline constexpr int32_t kProgramSendFailed = 0x10000;
inline constexpr int32_t kProgramReceiveFailed = 0x20000;
inline constexpr int32_t kProgramExtraReceiveFailed = 0x30000;
