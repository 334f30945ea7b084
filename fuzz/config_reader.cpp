// Reads arbitrary bytes as a programming configuration file and, when they read as a job,
// checks it; also classifies and converts slices of the input as tokens.
// fuzz-links: zel_flash_config zel_platform zel_trace
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "flash/config/config_check.h"
#include "flash/config/config_reader.h"
#include "flash/config/config_tokenizer.h"

namespace {

std::string& inputPath() {
  static std::string path;
  return path;
}

void removeInputFile() {
  ::unlink(inputPath().c_str());
}

const std::string& inputFile() {
  std::string& path = inputPath();
  if (path.empty()) {
    char name[] = "/tmp/zel-fuzz-config-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) std::abort();
    ::close(fd);
    path = name;
    std::atexit(removeInputFile);
  }
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::FILE* file = std::fopen(inputFile().c_str(), "wb");
  if (!file) return 0;
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);

  ProgrammingJob job;
  if (readProgrammingConfig(job, inputFile()) == kConfigReadOk) {
    std::string message;
    if (checkProgrammingJob(job, message) == kCheckOk) {
      const uint8_t mfc[4] = {0x01, 0x89, 0x01, 0x89};
      const uint8_t dvc[4] = {0xA4, 0xBD, 0x20, 0xB4};
      for (int bank = 0; bank < job.bankCount; ++bank) {
        checkFlashIdentity(job, bank, mfc, dvc, message);
      }
    }
  }

  // Slices as tokens: the first byte chooses the slice length.
  if (size > 1) {
    const size_t step = 1 + data[0] % 24;
    for (size_t at = 1; at < size; at += step) {
      const std::string_view slice = text.substr(at, step);
      if (classifyToken(slice) == kTokenNumber) convertNumber(slice);
    }
  }
  return 0;
}
