// What a simulated instrument keeps when it is switched off: the state folder (option
// "state"), the firmware it has run, and the fault that corrupts what it programs.
//
// The folder holds "state" (one line of port options for the version, the hardware word and
// the serial settings, then a "bank=START,TYPE,CHIPS,UNIT" line per flash bank, the line
// "firmware-valid=no" when an update left the firmware incomplete, and a
// "firmware=DIGEST,VERSION" line per firmware seen running) and a "bank-XXXXXXXX.bin" file
// per bank with its bytes.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/path_text.h"
#include "platform/whole_file.h"
#include "sim/instrument.h"
#include "sim/registry.h"

namespace sim {
namespace {

constexpr const char* kStateFile = "state";
constexpr size_t kMaxStateFileBytes = 64 * 1024;
constexpr size_t kMaxBankFileBytes = 16 * 1024 * 1024;
constexpr uint64_t kFnvOffset = 0xCBF29CE484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;

std::string bankFileName(uint32_t start) {
  char name[32];
  std::snprintf(name, sizeof name, "bank-%08" PRIX32 ".bin", start);
  return name;
}

std::string hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%" PRIX32, value);
  return text;
}

}  // namespace

std::string stateFolderProblem(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path path = platform::pathFromUtf8(folder);
  if (!fs::exists(path, error)) fs::create_directories(path, error);
  if (!fs::is_directory(path, error)) {
    return "state=" + folder + ": not a folder" +
           (error ? " (" + error.message() + ")" : std::string());
  }
  if (!platform::userMayWrite(folder)) return "state=" + folder + ": the folder cannot be written";
  return std::string();
}

uint64_t Instrument::flashDigest() const {
  uint64_t digest = kFnvOffset;
  for (const FlashBank& bank : banks) {
    for (uint8_t byte : bank.bytes) digest = (digest ^ byte) * kFnvPrime;
  }
  return digest;
}

void Instrument::bootedFirmware() {
  if (options.hwAfter) m_hw = *options.hwAfter;
  // Without a state folder every boot reports version-after, when given.
  if (options.stateFolder.empty()) {
    if (options.versionAfter) m_version = *options.versionAfter;
    return;
  }
  // With one, the firmware decides: what ran here before reports what it reported then (a
  // restored backup comes back with its old version, a backup alone changes nothing), new
  // firmware reports version-after when given.
  const uint64_t digest = flashDigest();
  const auto known = m_firmwareVersions.find(digest);
  if (known != m_firmwareVersions.end()) {
    m_version = known->second;
    return;
  }
  if (options.versionAfter) m_version = *options.versionAfter;
  m_firmwareVersions.emplace(digest, m_version);
}

void Instrument::corruptProgrammed(FlashBank& bank, uint32_t offset, uint32_t count) {
  if (m_corruptedThisUpdate || count < 2) return;
  // One byte goes down by d and a later one up by d: the 32-bit sum cannot see it.
  const uint32_t first = offset + static_cast<uint32_t>(m_addressRandom.below(count - 1));
  for (uint32_t second = first + 1; second < offset + count; ++second) {
    uint8_t& a = bank.bytes[first];
    uint8_t& b = bank.bytes[second];
    const int down = a > 0 && b < 0xFF ? 1 : (a < 0xFF && b > 0 ? -1 : 0);
    if (down == 0) continue;
    const int room = down > 0 ? std::min<int>(a, 0xFF - b) : std::min<int>(0xFF - a, b);
    const int d = 1 + static_cast<int>(m_addressRandom.below(static_cast<uint64_t>(room)));
    a = static_cast<uint8_t>(a - down * d);
    b = static_cast<uint8_t>(b + down * d);
    corruptedAddresses.push_back(bank.addressOf(first));
    corruptedAddresses.push_back(bank.addressOf(second));
    m_corruptedThisUpdate = true;
    fire("flash-corrupt");
    return;
  }
}

bool Instrument::loadState() {
  if (options.stateFolder.empty()) return false;
  const std::string& folder = options.stateFolder;
  std::string text;
  if (!platform::readRegularFile(platform::joinPath(folder, kStateFile), kMaxStateFileBytes, text))
    return false;

  std::vector<FlashBank> keptBanks;
  std::map<uint64_t, std::string> firmware;
  Options kept;
  bool valid = true;
  size_t lineStart = 0;
  bool first = true;
  while (lineStart < text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    const std::string line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (first) {
      first = false;
      stateError = parseOptions(line, kept);
      if (!stateError.empty()) return false;
      continue;
    }
    unsigned long start = 0;
    unsigned type = 0;
    unsigned chips = 0;
    unsigned unit = 0;
    unsigned long long digest = 0;
    int versionAt = 0;
    if (std::sscanf(line.c_str(), "bank=%lx,%u,%u,%u", &start, &type, &chips, &unit) == 4) {
      const ChipType* chipType = findChipType(static_cast<uint8_t>(type));
      std::string bytes;
      if (chipType == nullptr || unit == 0 ||
          !platform::readRegularFile(
              platform::joinPath(folder, bankFileName(static_cast<uint32_t>(start))),
              kMaxBankFileBytes, bytes)) {
        stateError = "bank " + hex32(static_cast<uint32_t>(start)) + " cannot be read";
        return false;
      }
      FlashBank bank(*chipType, chips, static_cast<uint32_t>(start), unit, 0);
      if (bytes.size() != bank.bytes.size()) {
        stateError = "bank " + hex32(bank.start) + " has another size";
        return false;
      }
      bank.bytes.assign(bytes.begin(), bytes.end());
      keptBanks.push_back(std::move(bank));
    } else if (line == "firmware-valid=no") {
      valid = false;
    } else if (std::sscanf(line.c_str(), "firmware=%llx,%n", &digest, &versionAt) == 1 &&
               versionAt > 0) {
      firmware[digest] = line.substr(static_cast<size_t>(versionAt));
    }
  }
  m_version = kept.version;
  m_hw = kept.hw;
  serial.baud = kept.baud;
  serial.bits = kept.bits;
  serial.parity = kept.parity;
  serial.stopBits = kept.stopBits;
  serial.pace = kept.pace;
  banks = std::move(keptBanks);
  m_firmwareVersions = std::move(firmware);
  firmwareValid = valid;
  return true;
}

void Instrument::saveState() {
  // A folder that could not be read is left as it was, for the user to look at.
  if (options.stateFolder.empty() || !stateError.empty()) return;
  const std::string& folder = options.stateFolder;
  std::string text =
      "version=" + m_version + ",hw=" + hex32(m_hw) + ",baud=" + std::to_string(serial.baud) +
      ",bits=" + std::to_string(serial.bits) + ",parity=" + parityText(serial.parity) +
      ",stop=" + std::to_string(serial.stopBits) + ",pace=" + paceText(serial.pace) + "\n";
  for (const FlashBank& bank : banks) {
    char line[96];
    std::snprintf(line, sizeof line, "bank=%" PRIX32 ",%u,%u,%u\n", bank.start,
                  static_cast<unsigned>(bank.type->code), static_cast<unsigned>(bank.chips),
                  static_cast<unsigned>(bank.addressUnit));
    text += line;
    // The bytes first: a state line never names a bank file that is not there.
    platform::writeFileWhole(platform::joinPath(folder, bankFileName(bank.start)),
                             std::string(bank.bytes.begin(), bank.bytes.end()));
  }
  // The mark of firmware that an update left incomplete.
  if (!firmwareValid) text += "firmware-valid=no\n";
  for (const auto& [digest, version] : m_firmwareVersions) {
    char line[96];
    std::snprintf(line, sizeof line, "firmware=%016" PRIX64 ",%s\n", digest, version.c_str());
    text += line;
  }
  platform::writeFileWhole(platform::joinPath(folder, kStateFile), text);
}

}  // namespace sim
