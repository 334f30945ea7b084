#include "app/update_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/hex_text.h"
#include "app/run_record.h"
#include "dsp/dsp_programming.h"
#include "flash/programming_link.h"
#include "flash/target_commands.h"
#include "platform/time_text.h"

namespace {

// Start bit, 8 data bits, even parity, stop bit.
constexpr double kBitsPerCharacter = 11.0;

double lineSeconds(double bytes, double baud) {
  return baud > 0 ? bytes * kBitsPerCharacter / baud : 0.0;
}

// Length byte and checksum of every packet.
constexpr double kPacketFrameBytes = 3;
// The transfer program's length, two addresses and checksum.
constexpr double kTransferFrameBytes = 14;
// A program-data request: command, bus, chip, address, count; then what the target sends:
// the acknowledgement (2 data bytes) and the answer (2).
constexpr double kProgramPacketBytes = 9 + kPacketFrameBytes;
constexpr double kProgramAnswerBytes = (2 + kPacketFrameBytes) + (2 + kPacketFrameBytes);
// A DSP write request: command and address; its acknowledgement and status answer (5).
constexpr double kDspPacketBytes = 5 + kPacketFrameBytes;
constexpr double kDspAnswerBytes = (2 + kPacketFrameBytes) + (5 + kPacketFrameBytes);
// An upload request (command, bus, address, count), its acknowledgement, and the answer's
// header (code, address, count) around the data.
constexpr double kUploadRequestBytes = 10 + kPacketFrameBytes;
constexpr double kUploadAnswerBytes = (2 + kPacketFrameBytes) + (10 + kPacketFrameBytes);
// The target's turnaround and programming time per packet, beyond what the line takes.
constexpr double kPacketTurnaroundSeconds = 0.00035;
// The target sums the programmed image for its checksum at about a microsecond a byte.
constexpr double kChecksumSecondsPerByte = 1e-6;
constexpr double kDspChecksumSeconds = 0.05;
// An instrument boots its new firmware in about this time.
constexpr double kBootSeconds = 20;

// The link after the loader has switched it: its speed, and what each byte the target sends
// waits for its echo beyond the line's time.
struct Link {
  double baud;
  double echoWaitSeconds;
};

// Bytes the target sends: each crosses the line, its echo crosses back, and the echo's delays
// pass before the target sends the next one.
double targetBytesSeconds(double bytes, const Link& link) {
  return 2 * lineSeconds(bytes, link.baud) + bytes * link.echoWaitSeconds;
}

// Data sent in packets of chunk bytes, each with its fixed part and the target's answers. The
// target echoes the host's bytes as they come, so these cross the line once.
double packetSeconds(double bytes, uint32_t chunk, double packetBytes, double answerBytes,
                     const Link& link) {
  const double packets = std::ceil(bytes / chunk);
  return lineSeconds(bytes + packets * packetBytes, link.baud) +
         targetBytesSeconds(packets * answerBytes, link) + packets * kPacketTurnaroundSeconds;
}

// Typical data-sheet erase times of the flash chips: one block of one chip (the chips of a
// bank erase in parallel).
struct ChipErase {
  uint8_t type;
  uint32_t blockBytes;
  double blockSeconds;
};
constexpr ChipErase kChipErase[] = {
    {AM28F010, 0x20000, 2.0}, {I28F010, 0x20000, 2.0}, {AM28F020, 0x40000, 3.5},
    {I28F020, 0x40000, 3.5},  {AM29F010, 0x4000, 0.4}, {AM29F040, 0x10000, 1.0},
};

double eraseSeconds(const ProgrammingJob& job, const EraseArea& area) {
  for (const ChipErase& chip : kChipErase) {
    if (chip.type != area.bankChipType || area.length == 0) continue;
    const uint64_t block = uint64_t{chip.blockBytes} * chipsPerBank(job);
    const uint64_t offset = uint64_t{area.start - area.bankStart} * addressUnit(job);
    const uint64_t blocks = (offset + area.length - 1) / block - offset / block + 1;
    return static_cast<double>(blocks) * chip.blockSeconds;
  }
  return 0;
}

int64_t bytesOf(const ServiceRecordFile& file) {
  return file.bytes.value_or(0);
}

std::string sizeText(const ServiceRecordFile& file) {
  return file.bytes ? std::to_string(*file.bytes) + " bytes" : "not readable";
}

uint64_t eraseAreaBytes(const ProgrammingJob& job) {
  uint64_t bytes = 0;
  for (int i = 0; i < job.eraseCount && i < kMaxJobEntries; ++i) bytes += job.eraseAreas[i].length;
  return bytes;
}

}  // namespace

double echoWaitSeconds(const EchoDelays& delays) {
  return (kHostEchoTurnaroundMs + delays.adapterLatencyMs + delays.networkRoundTripMs) / 1000;
}

double uploadSeconds(double bytes, double baud, const EchoDelays& echo) {
  const double packets = std::max(1.0, std::ceil(bytes / kUploadChunkSize));
  const Link link{baud, echoWaitSeconds(echo)};
  // The data comes from the target and waits for its echo byte by byte. The target reads the
  // flash at about a microsecond a byte.
  return lineSeconds(packets * kUploadRequestBytes, baud) +
         targetBytesSeconds(bytes + packets * kUploadAnswerBytes, link) +
         packets * kPacketTurnaroundSeconds + bytes * kChecksumSecondsPerByte;
}

double estimatedUpdateSeconds(const UpdatePlanInput& input) {
  if (input.job == nullptr) return 0;
  const ProgrammingJob& job = *input.job;
  const double baud = job.baud;
  const Link link{baud, echoWaitSeconds(input.echo)};
  double seconds = 0;
  // Loader and transfer program go out once per update, twice when the instrument boots
  // between the processor and the option update.
  const int preparations = input.optionImage != nullptr && input.intermediateBoot ? 2 : 1;
  for (const ServiceRecordFile& file : updateFilesOf(&job, true, input.optionImage)) {
    const double bytes = static_cast<double>(bytesOf(file));
    if (file.role == "loader") {
      seconds += preparations * lineSeconds(1 + kLoaderImageSize, kLinkStartBaud);
    } else if (file.role == "transfer") {
      seconds += preparations * lineSeconds(bytes + kTransferFrameBytes, baud);
    } else if (file.role == "program") {
      seconds +=
          packetSeconds(bytes, kProgramChunkSize, kProgramPacketBytes, kProgramAnswerBytes, link);
      // The target adds up what it programmed for the checksum.
      seconds += bytes * kChecksumSecondsPerByte;
      if (input.verify) seconds += uploadSeconds(bytes, baud, input.echo);
    } else if (file.role == "option") {
      seconds += kDspEraseWaitMs / 1000.0 + kDspChecksumSeconds;
      seconds += packetSeconds(bytes, kDspDataAreaSize, kDspPacketBytes, kDspAnswerBytes, link);
    }
  }
  for (int i = 0; i < job.eraseCount && i < kMaxJobEntries; ++i) {
    seconds += eraseSeconds(job, job.eraseAreas[i]);
  }
  if (!input.backupFolder.empty())
    seconds += uploadSeconds(static_cast<double>(eraseAreaBytes(job)), baud, input.echo);
  if (input.intermediateBoot) seconds += kBootSeconds;
  if (input.intermediateBoot) seconds += input.dspPowerOnWaitMs / 1000.0;
  return seconds;
}

std::vector<std::string> updatePlanLines(const UpdatePlanInput& input) {
  std::vector<std::string> lines;
  if (input.job == nullptr) return lines;
  const ProgrammingJob& job = *input.job;
  lines.push_back("Plan of the update (dry run: the instrument was not switched into update mode)");
  const std::vector<ServiceRecordFile> files = updateFilesOf(&job, true, input.optionImage);
  int program = 0;
  for (const ServiceRecordFile& file : files) {
    std::string line = "  " + file.role + std::string(10 - file.role.size(), ' ') + file.name +
                       ", " + sizeText(file);
    if (!file.sha256.empty()) line += ", SHA-256 " + file.sha256;
    if (file.role == "transfer") line += ", loaded at " + hexText(job.transferLoadAddress);
    if (file.role == "program" && program < kMaxJobEntries) {
      const ProgramFile& target = job.programs[program++];
      line += ", to " + hexText(target.address) + "-" + hexText(target.end) + " (" +
              target.bankChipName + " bank at " + hexText(target.bankStart) + ")";
    }
    if (file.role == "option") line += ", to the option's DSP module";
    lines.push_back(line);
  }
  if (input.optionImage == nullptr) lines.push_back("  option    none");
  if (input.verify) {
    lines.push_back(
        "  verify    each image read back after its checksum and compared byte for byte "
        "(the DSP module cannot be read)");
  }
  if (!input.backupFolder.empty()) {
    lines.push_back("  backup    " + std::to_string(eraseAreaBytes(job)) +
                    " bytes of the erase areas into " + input.backupFolder + " before the erase");
  }
  lines.push_back("  link      " + std::to_string(kLinkStartBaud) +
                  " bits/s for the loader, then " + std::to_string(job.baud) + " bits/s");
  if (input.intermediateBoot && input.optionImage != nullptr) {
    lines.push_back("  reboot    between processor and option update");
  }
  lines.push_back("  estimate  " + platform::estimateDurationText(estimatedUpdateSeconds(input)));
  return lines;
}
