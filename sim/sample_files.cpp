#include "sim/sample_files.h"

#include <cstdio>
#include <vector>

#include "platform/host_files.h"
#include "platform/path_text.h"
#include "sim/random.h"

namespace sim {
namespace {

// Contents: a readable header naming the file, then bytes from a random source seeded by
// the file's name, so that every image differs and every run writes the same bytes.
std::vector<uint8_t> contentsOf(const SampleFile& file) {
  std::vector<uint8_t> bytes(file.size);
  uint64_t seed = 0;
  for (const char* c = file.name; *c != '\0'; ++c) seed = seed * 131 + static_cast<uint8_t>(*c);
  Random random(seed);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(random.next());
  const std::string header = std::string("ZEL sample update file ") + file.name + "\r\n";
  for (size_t i = 0; i < header.size() && i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(header[i]);
  }
  return bytes;
}

}  // namespace

int writeSampleUpdateFiles(const std::string& folder) {
  for (const SampleFile& file : kSampleFiles) {
    std::FILE* out = platform::openHostFile(platform::joinPath(folder, file.name), "wb");
    if (out == nullptr) return 1;
    const std::vector<uint8_t> bytes = contentsOf(file);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed) return 1;
  }
  return 0;
}

}  // namespace sim
