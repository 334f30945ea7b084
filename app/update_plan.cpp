#include "app/update_plan.h"

#include <cstdio>

#include "app/run_record.h"
#include "flash/programming_link.h"

namespace {

// Start bit, 8 data bits, even parity, stop bit.
constexpr double kBitsPerCharacter = 11.0;

double lineSeconds(double bytes, double baud) {
  return baud > 0 ? bytes * kBitsPerCharacter / baud : 0.0;
}

int64_t bytesOf(const ServiceRecordFile& file) {
  return file.bytes.value_or(0);
}

std::string sizeText(const ServiceRecordFile& file) {
  return file.bytes ? std::to_string(*file.bytes) + " bytes" : "not readable";
}

std::string hexText(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

std::string durationText(double seconds) {
  const long whole = static_cast<long>(seconds + 0.5);
  char text[48];
  if (whole >= 60) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld s", whole);
  }
  return text;
}

}  // namespace

double estimatedUpdateSeconds(const UpdatePlanInput& input) {
  if (input.job == nullptr) return 0;
  const ProgrammingJob& job = *input.job;
  const double baud = job.baud;
  double seconds = 0;
  for (const ServiceRecordFile& file : updateFilesOf(&job, true, input.optionImage)) {
    const double bytes = static_cast<double>(bytesOf(file));
    if (file.role == "loader") seconds += lineSeconds(bytes, kLinkStartBaud);
    if (file.role == "transfer") seconds += lineSeconds(bytes, baud);
    if (file.role == "program") seconds += lineSeconds(bytes, baud);
    if (file.role == "option") seconds += lineSeconds(bytes, baud);
  }
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
  lines.push_back("  link      " + std::to_string(kLinkStartBaud) +
                  " bits/s for the loader, then " + std::to_string(job.baud) + " bits/s");
  if (input.intermediateBoot && input.optionImage != nullptr) {
    lines.push_back("  reboot    between processor and option update");
  }
  lines.push_back("  estimate  " + durationText(estimatedUpdateSeconds(input)));
  return lines;
}
